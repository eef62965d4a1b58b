// Writing a complete sample installation into a directory: configuration,
// form, language and help files, dictionaries, and the data files filled
// through the record manager.
#ifndef KEL_TOOLS_MKINSTALL_INSTALLER_H_
#define KEL_TOOLS_MKINSTALL_INSTALLER_H_

#include <cstdint>
#include <string>

namespace kel {

struct InstallOptions {
  std::string directory;     // native path as the user gave it; created when missing
  std::int64_t records = 0;  // records per data file; 0 = the real rows only
  std::uint64_t seed = 1;    // picks the copies and keys of a scaled installation
  bool force = false;        // overwrite an installation this tool wrote earlier
};

struct InstallReport {
  std::string root;          // absolute native path, ending in "/"
  std::string terminal_dir;  // absolute native path of the terminal directory, no final "/"
  int data_files = 0;
  std::int64_t records = 0;  // records written over all data files
};

enum class InstallStatus {
  kOk = 0,
  kRefused = 2,  // the directory holds something else: nothing was written
  kFailed = 3,   // a source, a file or the record manager failed midway
};

// The name of the file that marks a directory as an installation written by
// this tool (a short text saying how it was made). --force overwrites only
// such directories, so that a real installation is never clobbered.
inline constexpr char kMarkerFile[] = "MKINSTALL.TXT";

// The terminal directory's name inside the installation.
inline constexpr char kTerminalDirName[] = "TERM01";

// Writes the installation described by `options`:
//   <root>/MKINSTALL.TXT, Nuri.ini, FORMS/TAVIRENO.JPN, LOCALE/TAVIRENO.LNG,
//   AJUDA/*.HLP, TERM01/Sessio.ini, TERM01/NuriTerm.ini, ddf/<Name>.xdf for
//   the 19 files, the data files <logical path>.dat (menu.dat,
//   TAULES/UPaisos.dat, DADES/HConcept.dat, HOperaci.dat...) and an empty
//   LOCKS directory.
// Refuses (kRefused, nothing written) a directory that is a file, or that is
// not empty unless `force` is set and it carries the marker file. Every
// source is checked, and the scaling too, before the first byte is written.
// On kFailed the directory may hold part of the installation; the marker is
// written first, so a rerun with `force` replaces it. `*error` says what
// went wrong, naming the file (and record) concerned.
// Globals: the record manager's table of opens (each data file is created,
// opened, filled and closed here).
[[nodiscard]] InstallStatus WriteInstallation(const InstallOptions& options, InstallReport* report,
                                              std::string* error);

}  // namespace kel

#endif  // KEL_TOOLS_MKINSTALL_INSTALLER_H_
