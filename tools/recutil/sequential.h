// The file formats the administrator's tool reads and writes around data
// files: dictionaries (Create buffers) and sequential record files.
//
// Dictionary ("ddf\NAME.xdf"), little-endian:
// | Offset | Size | Content                                     |
// |      0 |    2 | n, signed: the count of the bytes that follow |
// |      2 |    n | a Create buffer                             |
//
// Sequential record file: for each record its byte count in decimal digits,
// one comma (a blank is accepted when reading), the record's bytes unchanged,
// CR LF (a lone LF is accepted when reading); after the last record one
// Ctrl-Z (0x1A), which readers do not require.
#ifndef KEL_TOOLS_RECUTIL_SEQUENTIAL_H_
#define KEL_TOOLS_RECUTIL_SEQUENTIAL_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kel {

// The Create buffer of a dictionary. false, with a reason, when the file is
// too short for its count or the count is not positive.
bool ReadDictionary(std::string_view bytes, std::string* create_buffer, std::string* error);

// One record in the sequential format.
void AppendSequentialRecord(std::string_view record, std::string* out);
inline constexpr char kEndOfFile = 0x1A;

// Reads a whole sequential file whose records must be `record_length` bytes.
// On the first bad record returns false with its 1-based number in
// `*bad_record` and the reason; `records` then holds nothing.
bool ParseSequential(std::string_view bytes, std::size_t record_length,
                     std::vector<std::string>* records, std::size_t* bad_record,
                     std::string* error);

// A record as one line of readable text: code page 850 shown as UTF-8,
// control bytes and a backslash as \xNN escapes.
std::string ReadableText(std::string_view record);

// A hex dump, 16 bytes a line, with offsets and the printable bytes.
std::string HexDump(std::string_view record);

}  // namespace kel

#endif  // KEL_TOOLS_RECUTIL_SEQUENTIAL_H_
