#include "tools/recutil/data_file.h"

#include <algorithm>
#include <cstring>

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

}  // namespace

DataFile::~DataFile() {
  if (open_) (void)Close();
}

std::int16_t DataFile::Open(std::int8_t mode, const std::string& owner) {
  PathKey key(name_);
  std::string data = owner + '\0';
  std::uint32_t len = static_cast<std::uint32_t>(data.size());
  std::int16_t st =
      BTRCALL(kOpOpen, block_, data.data(), &len, key.bytes.data(), key.length(), mode);
  open_ = st == kStatusOk;
  return st;
}

std::int16_t DataFile::Close() {
  std::uint32_t len = 0;
  open_ = false;
  return BTRCALL(kOpClose, block_, nullptr, &len, nullptr, 0, 0);
}

std::int16_t DataFile::Stat(std::string* out) {
  out->assign(65535, '\0');
  std::uint32_t len = 65535;
  char key[256] = {};
  // Key number -1: byte 5 carries the file version, so that the buffer
  // creates a file like this one (a copy keeps it).
  std::int16_t st = BTRCALL(kOpStat, block_, out->data(), &len, key, 255, -1);
  out->resize(st == kStatusOk ? len : 0);
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
  std::int16_t st = BTRCALL(op, block_, record->data(), &len, keybuf, 255,
                            static_cast<std::int8_t>(key < 0 ? 0 : key));
  record->resize(st == kStatusOk ? len : 0);
  return st;
}

std::int16_t DataFile::SetOwner(const std::string& owner, std::int8_t mode) {
  std::string data = owner + '\0';
  std::string key = data;
  std::uint32_t len = static_cast<std::uint32_t>(data.size());
  return BTRCALL(kOpSetOwner, block_, data.data(), &len, key.data(),
                 static_cast<std::uint8_t>(key.size()), mode);
}

std::int16_t CreateDataFile(const std::string& native_path, const std::string& create_buffer,
                            bool replace) {
  PathKey key(native_path);
  std::string buffer = create_buffer;
  std::uint8_t block[kPositionBlockSize] = {};
  std::uint32_t len = static_cast<std::uint32_t>(buffer.size());
  return BTRCALL(kOpCreate, block, buffer.data(), &len, key.bytes.data(), key.length(),
                 replace ? kCreateReplace : kCreateNoReplace);
}

}  // namespace kel
