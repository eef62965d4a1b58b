// The session set-up: the program's surroundings, read once at start-up from
// environment variables and three configuration files into the session
// context (util/session_context.h), which the rest of the program reads.
// It never writes a file.
//
// Sources, in the order they are read:
//   KELROOT -> InstallRoot (unchanged), KELEXE -> ExeDir,
//   KELTMP  -> TempDir, with "\" appended unless empty or ending in ":", "\"
//     or "/";
//   session file  TempDir + "Sessio.ini" (TempDir as KELTMP gave it; with
//     KELTMP unset that is "Sessio.ini" in the current directory):
//     [Menu] Titol -> SessionTitle (" " + value + " "), NomMenu -> MenuName,
//     Menu -> SessionMenu, ChnMenu -> ChainMenu, Operador -> OperatorCode,
//     KelTipOper -> OperatorType (its leading number, 0 if none);
//     [Terminal] Dir -> TerminalDir, else the variable TERM; "\" appended as
//     for TempDir. An empty TempDir then becomes TerminalDir;
//   terminal file  TempDir + "NuriTerm.ini":
//     [Pantalla] Seleccio = n selects the key "Col" + n, a colour text of
//     five groups "ffbb" (foreground, background, 2 digits each) for the
//     modes 0..4; empty gives "15000700000700070007"; digits missing from a
//     short text read as 0;
//     [Sistema] Data -> SessionDate (PackDigits), Sortida -> OutputDevice,
//     Idioma -> SessionLanguage (first 3 characters, blank-padded, letter
//     case kept);
//   installation file  KELROOT + "Nuri.ini":
//     [Usuari] Idioma -> SessionLanguage when the terminal's is blank;
//   HTTP_USER_AGENT or HTTP_ACCEPT set -> PlatformKind "CGI"; else WINDIR or
//     SYSTEMROOT set -> "WIN"; else "DOS";
//   installation file [Dades] Servidor (or KELDB), Esquema, XarxaLocal -> the
//     record manager's configuration (startup/data_server.h).
// Missing variables, files, sections and keys give these defaults; nothing
// here fails.
//
// TERM: in the family's installations TERM names the terminal's work
// directory. On Linux and other Unix systems TERM is the terminal type
// ("xterm-256color"), so a session file without [Terminal] Dir, read with
// KELTMP unset, makes TerminalDir (and TempDir) "xterm-256color\": a
// directory that does not exist, where the terminal file is not found and
// temporary files cannot be made. Installations on such systems set KELTMP
// and [Terminal] Dir; the behaviour is kept as the family defines it.
#ifndef KEL_STARTUP_SESSION_H_
#define KEL_STARTUP_SESSION_H_

#include <string>
#include <string_view>

namespace kel {

// Fills the session context as described above, reading the environment
// through CurrentEnv(). Writes: every field of Session() but ProgramName and
// CommandLine. Also registers ReadInstallationFileSetting as the utilities'
// installation-setting reader (util/installation_settings.h), so the date
// settings come from "Nuri.ini". Called once, before the current directory
// changes (relative paths in the variables refer to the starting directory).
void SetUpSession();

// One key of the installation file: IniRead of KELROOT + "Nuri.ini" (the
// variable's value read at the time of the call, unchanged).
std::string ReadInstallationFileSetting(std::string_view section, std::string_view key);

// Appends "\" to a non-empty directory that ends neither in ":" nor in "\"
// nor in "/" (a directory written the Unix way, "/srv/kel/TERM01/").
void AppendDirectorySeparator(std::string* directory);

}  // namespace kel

#endif  // KEL_STARTUP_SESSION_H_
