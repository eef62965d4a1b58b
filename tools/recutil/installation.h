// Where recutil finds an installation's data files: SQLite files under the
// installation root, the tables of a server schema named by their path
// relative to that root (recman/backend_config.h), or the installed record
// manager's files under the root. A file is always named on
// the command line by its path under the root, so the same argument reaches
// the same file on either engine.
#ifndef KEL_TOOLS_RECUTIL_INSTALLATION_H_
#define KEL_TOOLS_RECUTIL_INSTALLATION_H_

#include <string>
#include <vector>

#include "recman/backend_config.h"

namespace kel {

struct Installation {
  // Absolute native path ending in '/'.
  std::string root;
  // The SQLite files (server empty) and the server (server empty when no
  // server was named), both with `root` as install_root.
  RecordManagerConfig files;
  RecordManagerConfig server;
  // The installed record manager's files (`library` empty when none is
  // named), with `root` as install_root.
  RecordManagerConfig manager;
};

// `root` as an absolute native folder ending in '/' ("\" read as "/";
// relative to the current directory; "" is the current directory).
std::string RootFolder(const std::string& root);

// `path` made absolute (relative to the current directory) and normalised.
std::string AbsolutePath(const std::string& path);

// Whether the absolute `path` lies under `root` (a folder ending in '/'),
// compared without regard to letter case as the server names files.
bool UnderRoot(const std::string& path, const std::string& root);

// Every SQLite data file under `root`, sorted: files that begin with the
// SQLite header, leaving out the engine's side files ("-wal", "-shm",
// "-journal", "-locks"). Paths are absolute.
std::vector<std::string> SqliteFilesUnder(const std::string& root);

// Whether the file begins with the SQLite header (one of our data files, or
// some other program's database).
bool IsSqliteFile(const std::string& path);

// Every file under `root` whose name ends in ".dat" in any letter case (the
// extension the program gives every data file), sorted; paths absolute. The
// installed record manager's files cannot be told by their contents, so this
// is how its data files are found.
std::vector<std::string> DatFilesUnder(const std::string& root);

}  // namespace kel

#endif  // KEL_TOOLS_RECUTIL_INSTALLATION_H_
