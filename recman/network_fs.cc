#include "recman/network_fs.h"

namespace kel {
namespace {

std::string& LastRefusal() {
  static std::string text;
  return text;
}

}  // namespace

std::int16_t CheckFileSystemForSqlite(const std::string& /*native_path*/, std::string* refusal) {
  // Every file system is accepted until the check is written.
  if (refusal != nullptr) refusal->clear();
  return 0;
}

const std::string& LastFileSystemRefusal() { return LastRefusal(); }

}  // namespace kel
