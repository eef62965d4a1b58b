#include "recman/manager_library.h"

#include <map>

#include "platform/dynamic_library.h"
#include "recman/recman.h"
#include "util/cp850.h"

namespace kel {
namespace {

// The entry points loaded so far, by the library's name as configured.
std::map<std::string, RecordManagerEntry>& Loaded() {
  static auto* loaded = new std::map<std::string, RecordManagerEntry>();
  return *loaded;
}

}  // namespace

std::int16_t LoadRecordManagerLibrary(const std::string& library, RecordManagerEntry* entry,
                                      std::string* problem, ManagerProblem* detail) {
  ManagerProblem ignored;
  if (detail == nullptr) detail = &ignored;
  *detail = ManagerProblem();
  *entry = nullptr;
  if (auto it = Loaded().find(library); it != Loaded().end()) {
    *entry = it->second;
    return kStatusOk;
  }
  // Messages are for the terminal's shell: UTF-8, like the reasons the
  // system gives.
  const std::string shown = Cp850ToUtf8(library);
  DynamicLibrary loaded;
  std::string why;
  if (!LoadDynamicLibrary(library, &loaded, &why)) {
    *problem = "the record manager's library " + shown + " cannot be loaded: " + why;
    *detail = {ManagerProblemKind::kCannotLoad, why};
    return kStatusRecordManagerInactive;
  }
  // The plain name first (entry_point.h); when no spelling is exported, the
  // system's reason is the one it gave for the plain name.
  LibraryFunctionAddress address = nullptr;
  why.clear();
  for (const char* name : kEntryPointNames) {
    std::string why_not;
    address = LibraryFunction(loaded, name, &why_not);
    if (address != nullptr) break;
    if (why.empty()) why = why_not;
  }
  if (address == nullptr) {
    *problem = "the record manager's library " + shown + " has no entry point " + kEntryPointName +
               ": " + why;
    *detail = {ManagerProblemKind::kNoEntryPoint, why};
    return kStatusRecordManagerInactive;
  }
  *entry = reinterpret_cast<RecordManagerEntry>(address);
  Loaded()[library] = *entry;
  return kStatusOk;
}

std::int16_t SelectRecordManager(const RecordManagerConfig& config, RecordManagerEntry* entry,
                                 bool* own_engine, std::string* problem,
                                 ManagerProblem* detail) {
  if (detail != nullptr) *detail = ManagerProblem();
  *entry = nullptr;
  *own_engine = false;
  if (config.library.empty()) {
    *entry = &BTRCALL;
    *own_engine = true;
    return kStatusOk;
  }
  if (!config.server.empty()) {
    *problem =
        "the installation names both a record manager's library (Gestor, or KELBTR: " +
        Cp850ToUtf8(config.library) +
        ") and a server for its data files (Servidor, or KELDB): its data files are kept in one "
        "place only; remove one of the two from Nuri.ini [Dades]";
    if (detail != nullptr) detail->kind = ManagerProblemKind::kAlsoServer;
    return kStatusRecordManagerInactive;
  }
  return LoadRecordManagerLibrary(config.library, entry, problem, detail);
}

}  // namespace kel
