// One data file opened through the record manager for recutil: open, Stat,
// the records in physical or key order, closed at the end of the scope.
// Whichever engine the record manager's configuration names when Open is
// called holds the file (recman/backend_config.h).
#ifndef KEL_TOOLS_RECUTIL_DATA_FILE_H_
#define KEL_TOOLS_RECUTIL_DATA_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "recman/recman.h"

namespace kel {

class DataFile {
 public:
  // `native_path` as the shell gives it (UTF-8).
  explicit DataFile(std::string native_path) : name_(std::move(native_path)) {}
  ~DataFile();
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;

  // Opens in `mode` (kOpenNormal, kOpenReadOnly, kOpenExclusive) with the
  // owner name `owner` ("" for none).
  [[nodiscard]] std::int16_t Open(std::int8_t mode, const std::string& owner = "");
  [[nodiscard]] std::int16_t Close();
  // The Stat buffer (the Create layout with the counts and, in byte 5, the
  // file version: Stat with key number -1).
  [[nodiscard]] std::int16_t Stat(std::string* out);
  // The record length and the number of records, from Stat.
  [[nodiscard]] std::int16_t Figures(std::size_t* record_length, std::uint32_t* records);
  // Reads the next record: physical order when key < 0, else along key.
  [[nodiscard]] std::int16_t Next(bool first, int key, std::string* record);
  // Set Owner (29) with `mode` 0 (the name needed for any access) or 1 (opens
  // without it are read-only).
  [[nodiscard]] std::int16_t SetOwner(const std::string& owner, std::int8_t mode);
  void* block() { return block_; }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  std::uint8_t block_[kPositionBlockSize] = {};
  bool open_ = false;
};

// Create (14) of `native_path` from `create_buffer`; `replace` overwrites a
// closed existing file, otherwise one gives 59.
[[nodiscard]] std::int16_t CreateDataFile(const std::string& native_path,
                                          const std::string& create_buffer, bool replace);

}  // namespace kel

#endif  // KEL_TOOLS_RECUTIL_DATA_FILE_H_
