// Where the installation keeps its data files, read from the installation
// file "Nuri.ini" (the same for every station) and handed to the record
// manager before the program opens its first file:
//
//   [Dades]
//   Servidor=host=db1 dbname=kel user=kel   a libpq connection string: the
//                                           data files are tables of that
//                                           PostgreSQL server; absent or
//                                           empty: SQLite files beside the
//                                           installation, as always
//   Esquema=kel                             the server schema of this
//                                           installation (default "kel"), so
//                                           one server can hold several
//   XarxaLocal=1                            SQLite files on a network share
//                                           that only this computer uses
//                                           (otherwise they are refused)
//   Gestor=WBTRV32.DLL                      the record manager installed on
//                                           the workstations: its library (a
//                                           file name looked up the system's
//                                           way, or a path), whose BTRCALL
//                                           then keeps every data file
//                                           (recman/manager_library.h);
//                                           never together with Servidor
//
// The environment variables KELDB and KELBTR, when set and not empty,
// replace Servidor and Gestor (for tests and administrators). Blanks around the values are
// dropped. A file on the server is named by its path relative to the
// installation root (recman/backend_config.h).
#ifndef KEL_STARTUP_DATA_SERVER_H_
#define KEL_STARTUP_DATA_SERVER_H_

#include <string>

#include "platform/system.h"
#include "recman/backend_config.h"

namespace kel {

// The configuration for the installation whose root is the system path
// `install_root` (KELROOT as given: "Nuri.ini" is appended to it unchanged),
// with the environment's KELDB. install_root of the result is the native
// form of `install_root`.
RecordManagerConfig ReadDataServerSetting(const std::string& install_root, Env& env);

// Reads the setting as above and hands it to the record manager. Called by
// the session set-up, before any data file is opened.
void ConfigureDataFiles(const std::string& install_root, Env& env);

}  // namespace kel

#endif  // KEL_STARTUP_DATA_SERVER_H_
