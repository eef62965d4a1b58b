#include "datafile/browse_source.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "datafile/db_file.h"
#include "datafile/lock_mode.h"
#include "recman/recman.h"
#include "screen/browse_list.h"

namespace kel {
namespace {

class DataFileSource : public BrowseRecordSource {
 public:
  void LockMode(std::int16_t file, std::string_view letters) override {
    std::int16_t status = 0;
    DbLockMode(file, letters, &status);  // a file that is not open has no mode to change
  }

  std::int16_t Find(std::int16_t file, std::int16_t key_number, std::string_view start) override {
    std::int16_t status = 0;
    DbFind(file, key_number, start, 1, &status);
    return status;
  }

  std::int16_t Step(std::int16_t file) override {
    std::int16_t status = 0;
    DbStep(file, 1, &status);
    return status;
  }

  std::int32_t Position(std::int16_t file) override { return DbPosition(file, 0); }

  std::int16_t ReadAt(std::int16_t file, std::int32_t position) override {
    // Position 0 would ask for the current position instead of a record,
    // and DbPosition answers 0 for a file that is not open: neither may
    // look like a record loaded.
    if (position == 0) return -1;
    if (DbSlot(file) <= 0) return kStatusFileNotOpen;
    const std::int32_t status = DbPosition(file, position);
    return static_cast<std::int16_t>(status);
  }

  std::string KeyText(std::int16_t file) override { return DbKeyText(file); }

  std::string SortKey(std::string_view text, std::int16_t file) override {
    return DbSortKey(text, file);
  }
};

}  // namespace

BrowseRecordSource& DataFileBrowseSource() {
  static DataFileSource source;
  return source;
}

void UseDataFileBrowseSource() { RegisterBrowseRecordSource(&DataFileBrowseSource()); }

}  // namespace kel
