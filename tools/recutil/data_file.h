// One data file opened through the record manager for recutil: open, Stat,
// the records in physical or key order, closed at the end of the scope.
// Whichever record manager the configuration names when Open is called holds
// the file (recman/backend_config.h): our engine on SQLite files or a
// server, or the installed record manager's library
// (recman/manager_library.h), whose BTRCALL then gets every call of this
// open.
#ifndef KEL_TOOLS_RECUTIL_DATA_FILE_H_
#define KEL_TOOLS_RECUTIL_DATA_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "recman/entry_point.h"
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
  // owner name `owner` ("" for none), through the record manager that the
  // configuration names now. 20 when that is a library that cannot be
  // loaded (SelectRecordManager says why).
  [[nodiscard]] std::int16_t Open(std::int8_t mode, const std::string& owner = "");
  [[nodiscard]] std::int16_t Close();
  // The Stat buffer (the Create layout with the counts and, in byte 5, the
  // file version: Stat with key number -1).
  [[nodiscard]] std::int16_t Stat(std::string* out);
  // The record length and the number of records, from Stat.
  [[nodiscard]] std::int16_t Figures(std::size_t* record_length, std::uint32_t* records);
  // Reads the next record: physical order when key < 0, else along key.
  [[nodiscard]] std::int16_t Next(bool first, int key, std::string* record);
  // The physical position of the record read last (Get Position).
  [[nodiscard]] std::int16_t Position(std::uint32_t* position);
  // Set Owner (29) with `mode` 0 (the name needed for any access) or 1 (opens
  // without it are read-only).
  [[nodiscard]] std::int16_t SetOwner(const std::string& owner, std::int8_t mode);
  // Inserts every record (each exactly the record length): all of them or
  // none. Our engine does it in one transaction (recman/admin.h InsertAll);
  // another record manager gets one Insert per record, and after a failure
  // the records inserted so far are deleted again. On failure `*failed` is
  // the index of the record that failed (records.size() when undoing the
  // inserted ones failed as well, and the file then holds them).
  [[nodiscard]] std::int16_t InsertRecords(const std::vector<std::string>& records,
                                           std::size_t* failed);
  // Whether our engine holds the file (after a successful Open): its own
  // administration (recman/admin.h) applies to block().
  bool own_engine() const { return own_engine_; }
  void* block() { return block_; }
  const std::string& name() const { return name_; }

 private:
  std::int16_t Call(std::int16_t op, void* data, std::uint32_t* length, void* key,
                    std::uint8_t key_length, std::int8_t key_number);

  std::string name_;
  RecordManagerEntry entry_ = nullptr;
  bool own_engine_ = false;
  std::uint8_t block_[kPositionBlockSize] = {};
  bool open_ = false;
};

// Create (14) of `native_path` from `create_buffer`, through the record
// manager that the configuration names now; `replace` overwrites a closed
// existing file, otherwise one gives 59.
[[nodiscard]] std::int16_t CreateDataFile(const std::string& native_path,
                                          const std::string& create_buffer, bool replace);

}  // namespace kel

#endif  // KEL_TOOLS_RECUTIL_DATA_FILE_H_
