// Pieces shared by the files of the data-file layer (not for its callers).
#ifndef KEL_DATAFILE_DB_INTERNAL_H_
#define KEL_DATAFILE_DB_INTERNAL_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "datafile/db_file.h"

namespace kel {

// The transfer buffers of one call. The program is single-threaded and no
// call of the layer runs inside another, so one set serves every call and no
// call allocates its own. The key buffer has one spare byte beyond
// kKeyBufferSize so that a 255-byte path still ends with its zero byte.
struct TransferBuffers {
  std::uint8_t data[kDataBufferSize];
  std::uint8_t key[kKeyBufferSize + 1];
};
TransferBuffers& Transfer();

// The 16-bit little-endian value at `offset` of `bytes`, 0 when it does not
// lie within the first `valid` bytes (so damaged Stat data is never read
// past what the record manager returned).
inline std::uint16_t ReadU16(const std::uint8_t* bytes, std::size_t valid, std::size_t offset) {
  if (offset + 2 > valid) return 0;
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

// Copies what a read returned (`length` bytes of the data buffer, at most the
// record length) into the entry's record area, never past its capacity; the
// part beyond a short area goes to `RecordTail`.
void CopyToRecordArea(OpenFileEntry* entry, const std::uint8_t* data, std::size_t length);

// `KeyValue` becomes the key the record manager returned up to its first zero
// byte, cut to the length `KeyValue` had.
void TakeZeroEndedKey(OpenFileEntry* entry, const std::uint8_t* key);

// Tells the choice of record manager (db_manager.cc) that the chosen one has
// answered a call: a loaded library's exit handlers exist from then on, and
// the layer's own Reset at the end of the process is registered after them.
void NoteRecordManagerAnswered();

}  // namespace kel

#endif  // KEL_DATAFILE_DB_INTERNAL_H_
