#include "recman/network_fs.h"

#include <utility>

#include "platform/file_system_kind.h"
#include "recman/backend_config.h"
#include "recman/open_refusal.h"

namespace kel {
namespace {

std::string& LastRefusal() {
  static std::string text;
  return text;
}

}  // namespace

std::int16_t CheckFileSystemForSqlite(const std::string& native_path, std::string* refusal) {
  if (refusal != nullptr) refusal->clear();
  if (RecordManagerConfiguration().allow_network_fs) return 0;
  FileSystemKind kind;
  if (!FileSystemKindOf(native_path, &kind) || !kind.network) return 0;
  std::string text = native_path + " lies on a network file system (" + kind.name +
                     "), where SQLite files are not safe for several computers (their locks do "
                     "not hold across the network). Keep the installation on a PostgreSQL "
                     "server: [Dades] Servidor in Nuri.ini. Only when this computer alone uses "
                     "the share: [Dades] XarxaLocal=1.";
  LastRefusal() = text;
  NoteOpenRefusal(OpenRefusalKind::kNetworkFileSystem, kind.name);
  if (refusal != nullptr) *refusal = std::move(text);
  return kStatusNetworkFileSystem;
}

const std::string& LastFileSystemRefusal() { return LastRefusal(); }

void NoteOpenRefusal(std::string text) { LastRefusal() = std::move(text); }

}  // namespace kel
