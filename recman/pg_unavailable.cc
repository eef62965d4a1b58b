// Built without libpq (the Windows build, for one): a configured server
// cannot be reached. Opening or creating a file there fails with status 2,
// and the refusal shown after the usual message says why.
#include "recman/admin.h"
#include "recman/backend_config.h"
#include "recman/network_fs.h"
#include "recman/pg_store.h"
#include "recman/recman.h"

namespace kel {
namespace {

std::int16_t RefuseServer(const std::string& native_path) {
  NoteOpenRefusal(native_path +
                  ": this build of the program has no support for a PostgreSQL server, but the "
                  "installation names one ([Dades] Servidor in Nuri.ini, or KELDB). Use the "
                  "program built with server support, or remove Servidor to use the SQLite "
                  "files.");
  return kStatusIoError;
}

}  // namespace

std::string ServerIdentity(const RecordManagerConfig& config, const std::string& native_path) {
  return "server\n" + config.server + "\n" + config.schema + "\n" +
         ServerFileName(native_path, config.install_root);
}

std::int16_t OpenServerFile(const RecordManagerConfig&, const std::string& native_path,
                            std::unique_ptr<Store>*) {
  return RefuseServer(native_path);
}

std::unique_ptr<OpenLocks> ServerLocks(Store*) { return nullptr; }

std::int16_t CreateServerFile(const RecordManagerConfig&, const std::string& native_path,
                              const FileSpec&, bool) {
  return RefuseServer(native_path);
}

std::int16_t ListServerDataFiles(std::vector<std::string>* names) {
  names->clear();
  return RecordManagerConfiguration().server.empty() ? kStatusInvalidOperation : kStatusIoError;
}

std::int16_t RepairServerFile(const std::string&, const std::string&, RepairOutcome*) {
  return kStatusIoError;
}

void ForgetServerConnectionsAfterFork() {}

std::uint64_t ServerWaits() { return 0; }

}  // namespace kel
