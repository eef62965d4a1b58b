#include "tools/recutil/data_file.h"

#include <algorithm>
#include <cstring>

#include "recman/admin.h"
#include "recman/backend_config.h"
#include "recman/manager_library.h"
#include "util/cp850.h"

namespace kel {
namespace {

// The engine takes system paths (code page 850); the shell gives UTF-8.
struct PathKey {
  explicit PathKey(const std::string& native_path)
      : text(Utf8ToCp850(native_path)), bytes(text + '\0') {}
  std::uint8_t length() const {
    return static_cast<std::uint8_t>(std::min<std::size_t>(text.size(), 255));
  }
  std::string text;
  std::string bytes;
};

// The entry point of the record manager the configuration names now.
std::int16_t ConfiguredEntry(RecordManagerEntry* entry, bool* own_engine) {
  std::string problem;
  return SelectRecordManager(RecordManagerConfiguration(), entry, own_engine, &problem);
}

}  // namespace

DataFile::~DataFile() {
  if (open_) (void)Close();
}

std::int16_t DataFile::Call(std::int16_t op, void* data, std::uint32_t* length, void* key,
                            std::uint8_t key_length, std::int8_t key_number) {
  if (entry_ == nullptr) return kStatusFileNotOpen;
  return entry_(op, block_, data, length, key, key_length, key_number);
}

std::int16_t DataFile::Open(std::int8_t mode, const std::string& owner) {
  if (std::int16_t st = ConfiguredEntry(&entry_, &own_engine_); st != kStatusOk) return st;
  PathKey key(name_);
  std::string data = owner + '\0';
  std::uint32_t len = static_cast<std::uint32_t>(data.size());
  std::int16_t st = Call(kOpOpen, data.data(), &len, key.bytes.data(), key.length(), mode);
  open_ = st == kStatusOk;
  return st;
}

std::int16_t DataFile::Close() {
  std::uint32_t len = 0;
  char none[1] = {};
  open_ = false;
  return Call(kOpClose, none, &len, none, 0, 0);
}

std::int16_t DataFile::Stat(std::string* out) {
  out->assign(65535, '\0');
  std::uint32_t len = 65535;
  char key[256] = {};
  // Key number -1: byte 5 carries the file version, so that the buffer
  // creates a file like this one (a copy keeps it).
  std::int16_t st = Call(kOpStat, out->data(), &len, key, 255, -1);
  out->resize(st == kStatusOk ? std::min<std::uint32_t>(len, 65535) : 0);
  return st;
}

std::int16_t DataFile::Figures(std::size_t* record_length, std::uint32_t* records) {
  std::string stat;
  std::int16_t st = Stat(&stat);
  if (st != kStatusOk) return st;
  if (stat.size() < 10) return kStatusDataBufferTooShort;
  *record_length = static_cast<unsigned char>(stat[0]) | (static_cast<unsigned char>(stat[1]) << 8);
  std::memcpy(records, stat.data() + 6, 4);
  return kStatusOk;
}

std::int16_t DataFile::Next(bool first, int key, std::string* record) {
  record->assign(kMaxRecordLength, '\0');
  std::uint32_t len = kMaxRecordLength;
  char keybuf[256] = {};
  std::int16_t op =
      key < 0 ? (first ? kOpStepFirst : kOpStepNext) : (first ? kOpGetFirst : kOpGetNext);
  std::int16_t st =
      Call(op, record->data(), &len, keybuf, 255, static_cast<std::int8_t>(key < 0 ? 0 : key));
  record->resize(st == kStatusOk ? std::min<std::uint32_t>(len, kMaxRecordLength) : 0);
  return st;
}

std::int16_t DataFile::Position(std::uint32_t* position) {
  std::uint8_t data[4] = {};
  std::uint32_t len = 4;
  char keybuf[256] = {};
  const std::int16_t st = Call(kOpGetPosition, data, &len, keybuf, 0, 0);
  if (st == kStatusOk) std::memcpy(position, data, 4);
  return st;
}

std::int16_t DataFile::SetOwner(const std::string& owner, std::int8_t mode) {
  std::string data = owner + '\0';
  std::string key = data;
  std::uint32_t len = static_cast<std::uint32_t>(data.size());
  return Call(kOpSetOwner, data.data(), &len, key.data(), static_cast<std::uint8_t>(key.size()),
              mode);
}

std::int16_t DataFile::InsertRecords(const std::vector<std::string>& records, std::size_t* failed) {
  if (own_engine_) return InsertAll(block_, records, failed);
  std::vector<std::uint32_t> inserted;
  inserted.reserve(records.size());
  char keybuf[256] = {};
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::string data = records[i];
    std::uint32_t len = static_cast<std::uint32_t>(data.size());
    std::int16_t st = Call(kOpInsert, data.data(), &len, keybuf, 255, 0);
    std::uint32_t position = 0;
    if (st == kStatusOk) st = Position(&position);
    if (st == kStatusOk) {
      inserted.push_back(position);
      continue;
    }
    // A record manager without transactions: the batch is taken back by
    // hand, so that a failed load leaves the file as it was.
    *failed = i;
    for (std::uint32_t p : inserted) {
      std::string direct(kMaxRecordLength, '\0');
      std::memcpy(direct.data(), &p, 4);
      std::uint32_t direct_length = kMaxRecordLength;
      std::int16_t undo = Call(kOpGetDirect, direct.data(), &direct_length, keybuf, 255, 0);
      std::uint32_t none = 0;
      if (undo == kStatusOk) undo = Call(kOpDelete, direct.data(), &none, keybuf, 255, 0);
      if (undo != kStatusOk) *failed = records.size();
    }
    return st;
  }
  return kStatusOk;
}

std::int16_t CreateDataFile(const std::string& native_path, const std::string& create_buffer,
                            bool replace) {
  RecordManagerEntry entry = nullptr;
  bool own_engine = false;
  if (std::int16_t st = ConfiguredEntry(&entry, &own_engine); st != kStatusOk) return st;
  PathKey key(native_path);
  std::string buffer = create_buffer;
  std::uint8_t block[kPositionBlockSize] = {};
  std::uint32_t len = static_cast<std::uint32_t>(buffer.size());
  return entry(kOpCreate, block, buffer.data(), &len, key.bytes.data(), key.length(),
               replace ? kCreateReplace : kCreateNoReplace);
}

}  // namespace kel
