// The conversion driver: the program's one piece of work. It decides from
// the command line whether to run unattended or with the operator, obtains
// the target language (the value of the language field, form 1 field 9),
// runs the converters in their fixed order with the menu file first,
// records the new default language in the installation's and the
// terminal's configuration files and in the session, and, after an
// interactive change, confirms it with "S'HA CANVIAT L'IDIOMA PER DEFECTE A "
// and the code.
//
// Switches, anywhere in the command line and in any letter case (plain
// substring tests, so they may stand inside longer words):
//   "/AUTO"    unattended: no dialog and no closing message; the target is
//              the language field as loaded, i.e. the session language
//   "/TAULES"  only the menu file and the nine code tables are converted
//
// Globals: Driver() (`AutoMode`, `TablesOnly`); reads and writes the
// language field, Session().SessionLanguage and SessionTitle; reads
// InstallRoot, TempDir, MenuName and CommandLine.
#ifndef KEL_CONVERT_DRIVER_H_
#define KEL_CONVERT_DRIVER_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

struct DriverState {
  bool AutoMode = false;
  bool TablesOnly = false;
  // A configuration file that could not be written (the conversion went on
  // and the session took the new language all the same), as the message for
  // the administrator in the new session language (run_messages.h); empty
  // when both were written. Read at the end of the run.
  std::string ConfigurationProblem;
};

DriverState& Driver();
// Back to the state at start (tests).
void ResetDriver();

// Sets `AutoMode` and `TablesOnly` from a command line.
void ReadSwitches(std::string_view command_line);

// The start-up check of the data files: opens the menu file (file 33,
// InstallRoot + "menu", with its record area), which stays open, and opens
// and closes every file of ConversionFileList once, in order, so that
// missing files are created from their dictionaries before any conversion.
// A file that cannot be opened ends the program inside DbOpen
// (datafile/db_open.h).
void CheckConversionFiles();

enum class DriverOutcome : std::int8_t {
  kNothingChanged,  // Esc, or the language already in force
  kConverted,       // unattended run
  kConfirmed,       // interactive run: converted, recorded and confirmed
  kInterrupted,     // a termination signal stopped the conversion
};

// Runs the driver once (after the form file is loaded and
// CheckConversionFiles has run):
//   1. `AutoMode` and `TablesOnly` from Session().CommandLine;
//   2. unattended: RunConversion, and that is all;
//   3. otherwise colour "n", a cleared screen and FormDialog on form 1;
//      Esc, or a language field equal to `SessionLanguage` (the whole value
//      against the 3-character code), ends it with nothing changed;
//   4. RunConversion; then `SessionTitle` from the menu file: the records of
//      key 0 are read until one's program field (8 bytes at offset 62)
//      equals `MenuName` (blank-padded to 8), and the title is the 40-byte
//      text at offset 20 of the record last read, trailing blanks removed,
//      with one blank before and after;
//   5. a cleared screen, form 1 painted again, and the closing message at
//      row 12 (a beep, typed-ahead keys discarded, one key awaited). When
//      files were not converted completely the message names each one with
//      its counts ("NO S'HA CONVERTIT DEL TOT: TAULES\UPaisos (298 de 298
//      registres)") and says that a new run finishes the job.
// A termination signal during the conversion ends it with kInterrupted
// after step 4's RunConversion, with nothing recorded and no message.
DriverOutcome RunDriver();

// The conversion itself, with `AutoMode`, `TablesOnly` and the language
// field's value:
//   - progress area: unattended, a blank line, the banner "TAVIRENO versió
//     1.01" and "Localització aplicacions KEL", the installation and the
//     language applied, and a blank line as console output, then a
//     borderless window over the rows around the cursor (refused, and the
//     progress shown relative to the whole screen, when the cursor is on the
//     last row); interactive, a framed window over rows 23 to 25 in reverse
//     video;
//   - ConvertMenu on the open menu file, then each code table and (unless
//     `TablesOnly`) each data file of ConversionFileList: opened, converted,
//     closed;
//   - each file's Close is checked, and a file whose commit failed is
//     opened again and counted (converters.h, SettleConverterRun);
//   - the window closed; unattended, a line "NO S'HA CONVERTIT DEL TOT: "
//     + path + counts for each file not converted completely, then "UNA
//     NOVA EXECUCIÓ ACABA LA FEINA."; `Idioma` written to InstallRoot +
//     "Nuri.ini" [Usuari] and then to TempDir + "NuriTerm.ini" [Sistema]
//     (the whole value of the language field, also after an incomplete
//     conversion, so that /AUTO applies it again), and `SessionLanguage`
//     set to it;
//   - a termination signal (platform/signals.h) stops the scan at a record
//     boundary; no further file is begun and nothing is recorded.
void RunConversion();

}  // namespace kel

#endif  // KEL_CONVERT_DRIVER_H_
