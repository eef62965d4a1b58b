// Which engine holds the data files that this process opens: the SQLite
// files beside the installation (the default), tables of a PostgreSQL
// server shared by every station of an installation, or the record manager
// installed on the workstations, through its own library
// (manager_library.h).
//
// The choice is process-wide and is read at each Open and Create: a file
// keeps the engine it was opened with until it is closed, so a tool may open
// one file on the SQLite files, change the configuration and open another on
// the server (recutil copy does).
#ifndef KEL_RECMAN_BACKEND_CONFIG_H_
#define KEL_RECMAN_BACKEND_CONFIG_H_

#include <string>

namespace kel {

struct RecordManagerConfig {
  // libpq connection string ("host=db1 dbname=kel user=kel"); empty: the
  // SQLite files.
  std::string server;
  // The schema that holds this installation's tables.
  std::string schema = "kel";
  // Native path of the installation root, ending in '/': a file on the
  // server is named by its path relative to it.
  std::string install_root;
  // The SQLite files may lie on a network file system (one computer that
  // mounts its own share); otherwise such files are refused.
  bool allow_network_fs = false;
  // The installed record manager's library (a system text: "WBTRV32.DLL",
  // or a path); empty: this engine. The library, not this engine, is then
  // called for every file (by the data-file layer and recutil, which choose
  // the entry point with SelectRecordManager). Never together with `server`.
  std::string library;
};

// Sets the configuration used by later Opens and Creates. Files already open
// keep theirs.
void ConfigureRecordManager(const RecordManagerConfig& config);
const RecordManagerConfig& RecordManagerConfiguration();
// Back to the defaults (SQLite files); for tests.
void ResetRecordManagerConfig();

// The name of a data file on the server: `native_path` relative to
// `install_root` (compared without regard to letter case), '\' and '/' as
// '/', in lower case, without a final ".dat" ("taules/upaisos"). A path
// outside the root keeps its whole text, lower-cased, without a leading '/'.
// Lower case as the family's file systems fold names: the letters of code
// page 850 ("DADES/ÑANDÚ.dat" is "dades/ñandú"); other characters kept.
std::string ServerFileName(const std::string& native_path, const std::string& install_root);

// The lower case of ServerFileName applied to a whole name. The engine's
// first versions lower-cased only a-z, so a file created then whose name
// has accented capitals ("dades/ÑandÚ") keeps that name in the catalogue;
// Open and Create, finding no file under the new name, look for a name that
// folds to it, so such tables stay reachable under every spelling (and are
// never created a second time).
std::string FoldServerName(const std::string& name);

}  // namespace kel

#endif  // KEL_RECMAN_BACKEND_CONFIG_H_
