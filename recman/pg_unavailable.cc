// Built without libpq: a configured server cannot be reached (status 2).
#include "recman/admin.h"
#include "recman/backend_config.h"
#include "recman/pg_store.h"
#include "recman/recman.h"

namespace kel {

std::string ServerIdentity(const RecordManagerConfig& config, const std::string& native_path) {
  return "server\n" + config.server + "\n" + config.schema + "\n" +
         ServerFileName(native_path, config.install_root);
}

std::int16_t OpenServerFile(const RecordManagerConfig&, const std::string&,
                            std::unique_ptr<Store>*) {
  return kStatusIoError;
}

std::unique_ptr<OpenLocks> ServerLocks(Store*) { return nullptr; }

std::int16_t CreateServerFile(const RecordManagerConfig&, const std::string&, const FileSpec&,
                              bool) {
  return kStatusIoError;
}

std::int16_t ListServerDataFiles(std::vector<std::string>* names) {
  names->clear();
  return RecordManagerConfiguration().server.empty() ? kStatusInvalidOperation : kStatusIoError;
}

void ForgetServerConnectionsAfterFork() {}

std::uint64_t ServerWaits() { return 0; }

}  // namespace kel
