// Opening and closing data files. DbOpen turns a logical name into the
// record manager's file, creates the file from its dictionary when it does
// not exist yet, and registers the caller's record area in the open-file
// table (db_file.h). An open that cannot be completed is not returned to the
// caller: the program shows why, releases every data file and ends (the open
// failure below).
//
// Names. A logical name ("C:\KEL\DADES\HConcept", "TAULES\UPaisos", "menu")
// is used as given. Its physical path is directory + base name + extension:
// the directory is everything up to and including the last ":", "\" or "/";
// the extension everything from the first "." after the directory, or ".dat"
// when there is none; the base name what lies between. The dictionary of a
// file is always Session().InstallRoot + "ddf\" + base name + ".xdf": a
// 16-bit little-endian count n and n bytes of the record manager's Create
// buffer.
//
// Globals: DataFiles(); reads Session().InstallRoot and SessionLanguage.
#ifndef KEL_DATAFILE_DB_OPEN_H_
#define KEL_DATAFILE_DB_OPEN_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

// The exit code of the program after the open failure.
inline constexpr int kExitOpenFailure = 3;

// How the program ends after the open failure: by default std::exit(code).
// Tests install a hook that records the code and returns; DbOpen then
// returns the failing status with the entry freed. nullptr restores the
// default. Returns the hook that was in force.
using ProgramExitHook = void (*)(int exit_code);
ProgramExitHook SetProgramExitHook(ProgramExitHook hook);

// The pieces of a logical name (see above).
struct PhysicalName {
  std::string directory;  // "" or ends in ":", "\" or "/"
  std::string base;
  std::string extension;  // starts with "."
};
PhysicalName SplitLogicalName(std::string_view logical_name);
// directory + base + extension.
std::string PhysicalPath(std::string_view logical_name);
// Session().InstallRoot + "ddf\" + base + ".xdf".
std::string DictionaryPath(std::string_view logical_name);

// The owner name every Open passes: four characters, the same for every file
// of the installation (files without an owner accept any).
std::string OwnerName();

// Opens `logical_name` as `file_number` with the record area `record_area`
// of `area_size` bytes (owned by the caller, alive until the file is
// closed). *status: 1002 the number is open already, 1003 the table is full
// (in both cases nothing changes and the record manager is not called), or 0.
// Afterwards `KeyNumber` is 0, `KeyValue` as many zero bytes as key 0 is
// long, `LockMode` 0.
//
// While another program holds the file exclusively (85) it tries again every
// 3,000 ms (clock seam), without limit or notice. A missing file (12) is
// created from its dictionary, refusing to replace a file that appeared
// meanwhile, and opened.
//
// Any other outcome is the open failure: the message "NO ES POT ACCEDIR AL
// FITXER " (in the session language) + logical name + " (" + status + ")" in
// a box on row 12 with a beep; every data file is released (DbResetAll)
// before the program waits for the operator's key, so other workstations are
// not held while the message stands; on a console that cannot deliver keys
// (the plain console of unattended runs) the message is logged and there is
// no wait; the box is removed and the program ends with kExitOpenFailure.
// When the record manager said why it refused the file, the reason follows
// the message on the lines under it, in the session language where the
// words are ours: a SQLite file on a network file system (46) names the file
// system and what the installation needs; a server that cannot be reached
// (2) gives the server library's own message (passwords of the connection
// string hidden).
// (The program's own text files are opened and closed within each call, so
// none is open here; the exit closes every descriptor and flushes the
// standard streams.) The status shown is the record manager's (the Create's when the file could
// not be created), or:
//   20  there is no record manager to call: the installation's record
//       manager library cannot be loaded or lacks BTRCALL, or the
//       configuration names a server as well (db_manager.h; nothing was
//       opened or created, RecordManagerProblem() says why);
//   22  the dictionary is damaged: its count is negative, larger than the
//       bytes that follow it or larger than a data buffer (no Create is
//       attempted);
//   28  the file's records are longer than the data buffer (1,536 bytes).
// A missing dictionary is created empty and the Create of an empty buffer
// fails with the record manager's status.
void DbOpen(std::int16_t file_number, std::string_view logical_name, void* record_area,
            std::size_t area_size, std::int16_t* status);

// The text of the last open failure shown ("" when none): the message and,
// after a line feed, the reason when there was one. For a report on the
// standard error after the program has given the terminal back.
const std::string& LastOpenFailure();

// DbOpen without the open failure: any status other than 0, 1002 and 1003
// is returned to the caller, the entry free and nothing shown (for a second
// look at a file whose conversion failed, where a file that cannot be read
// must not end the program).
void DbOpenIfPossible(std::int16_t file_number, std::string_view logical_name, void* record_area,
                      std::size_t area_size, std::int16_t* status);

// An open that changes nothing, for a program that only reads: the file is
// opened read-only (the record manager refuses every write through it with
// 46), a missing file gives 12 and nothing is created (neither the file nor
// an empty dictionary), and any status other than 0, 1002 and 1003 is
// returned with the entry free and nothing shown. A file that another
// program holds exclusively (85) is waited for as DbOpen waits.
void DbOpenExisting(std::int16_t file_number, std::string_view logical_name, void* record_area,
                    std::size_t area_size, std::int16_t* status);

// Closes the file and frees its entry. *status: 3 when the number is not
// open, else the Close status. The record manager closes the open whatever
// it reports, so the entry is freed on every status: a non-zero one (2 or
// 18 from a commit that failed, its work undone) tells the caller that
// rewrites it was told had succeeded are not in the file.
void DbClose(std::int16_t file_number, std::int16_t* status);

// Releases everything the program holds in the record manager (Reset) and
// frees every entry, whatever the status. *status: the Reset status (the
// first failed commit among the files it closed); 0 without a call when no
// record manager could be chosen (none was ever called).
void DbResetAll(std::int16_t* status);

}  // namespace kel

#endif  // KEL_DATAFILE_DB_OPEN_H_
