// Field-by-field input from a text file: the way the installation's form file
// and language text file are read. Both are code page 850 text whose lines
// end in CR LF (a lone LF or CR is accepted as a line end too).
//
// A field is either
//   - text in double quotes, taken without the quotes (it may hold commas;
//     it ends at the closing quote or, when that is missing, at the line
//     end); anything between the closing quote and the next comma or line
//     end is skipped; or
//   - unquoted text up to the next comma or line end.
// Leading blanks are skipped, trailing blanks kept, tab characters dropped.
// The comma or line end that ends a field is consumed with it, so a record
// may span lines or share a line, and an empty line reads as one empty
// field. A number is read the same way but also ends at a blank (blanks after
// it, and then one comma or line end, are consumed too).
//
// The file is read through a window of its bytes, so a file of any size
// costs a bounded amount of memory; a field longer than kMaxFieldBytes is
// cut there (the rest of it is skipped) and the reader says so for that
// field (`overlong()`); a number field that long is not a number. A line
// read whole (ReadLine) is cut the same way, without the flag.
#ifndef KEL_STARTUP_FIELD_READER_H_
#define KEL_STARTUP_FIELD_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/system.h"

namespace kel {

// The longest field kept (the classic string limit).
inline constexpr std::size_t kMaxFieldBytes = 32767;

// What a number field held.
enum class NumberField : std::int8_t {
  kOk,          // an optional sign and digits, or nothing at all (0)
  kNotANumber,  // any other text; the value is 0
  kOutOfRange,  // digits outside -32768..32767; the value is clamped
};

class FieldReader {
 public:
  FieldReader() = default;
  // Reads from `bytes` instead of a file (kept as a copy).
  explicit FieldReader(std::string_view bytes);
  FieldReader(const FieldReader&) = delete;
  FieldReader& operator=(const FieldReader&) = delete;

  // Opens the file at the system path `path` for reading (shared). On
  // failure the reader is at its end and the file result says why.
  [[nodiscard]] FileResult Open(std::string_view path);

  // True when every byte has been read (also when nothing is open).
  bool AtEnd();
  // The size of the input in bytes.
  std::int64_t Size() const { return size_; }

  // One text field (see above); "" at the end of the input.
  std::string ReadText();
  // One number field, converted to 16 bits. `*what` (when given) says what
  // the field held.
  std::int16_t ReadNumber(NumberField* what = nullptr);
  // The rest of the current line, without its line end, which is consumed;
  // tabs are kept; at most kMaxFieldBytes of it are returned. false (and
  // "") at the end of the input.
  bool ReadLine(std::string* line);

  // True when the first character of the line at the read position, blanks
  // and tabs aside, is `c`. The position does not move, and only those
  // leading blanks are looked at, however long the line.
  bool LineStartsWith(char c);

  // The read position, to come back to it (Seek) after looking ahead.
  std::int64_t Tell() const { return pos_; }
  void Seek(std::int64_t position);
  // The 1-based number of the line holding the read position.
  int LineNumber();
  // The last field read (ReadText, ReadNumber) was longer than
  // kMaxFieldBytes and has been cut.
  bool overlong() const { return overlong_; }

 private:
  // The byte at the read position; -1 at the end of the input.
  int Peek();
  void Advance() { ++pos_; }
  // Consumes a line end (CR LF, CR or LF) when one stands at the position.
  bool ConsumeLineEnd();
  // Consumes blanks and tabs.
  void SkipBlanks();
  void Keep(std::string* field, char c);
  bool Fill();

  File file_;
  bool from_file_ = false;
  std::string window_;  // bytes [window_start_, window_start_ + size)
  std::int64_t window_start_ = 0;
  std::int64_t size_ = 0;
  std::int64_t pos_ = 0;
  bool overlong_ = false;
};

}  // namespace kel

#endif  // KEL_STARTUP_FIELD_READER_H_
