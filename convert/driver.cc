#include "convert/driver.h"

#include <cstring>
#include <string>
#include <vector>

#include "convert/converters.h"
#include "convert/language_text.h"
#include "convert/program_texts.h"
#include "convert/run_messages.h"
#include "datafile/db_file.h"
#include "datafile/db_open.h"
#include "platform/signals.h"
#include "recman/recman.h"
#include "screen/form_dialog.h"
#include "screen/keyboard.h"
#include "screen/message_box.h"
#include "screen/screen_buffer.h"
#include "screen/windows.h"
#include "startup/form_file.h"
#include "startup/ini_file.h"
#include "util/fixed_text.h"
#include "util/session_context.h"

namespace kel {
namespace {

// The program's own texts, in Catalan (code page 850); Translate gives the
// session language's version.
// (The banner and the installation line: program_texts.h, shared with the
// census and the version.)
constexpr char kLanguageNotice[] = "Idioma que s'aplica: ";
constexpr char kChangedMessage[] = "S'HA CANVIAT L'IDIOMA PER DEFECTE A ";
// A file whose records do not all hold the new text, and what to do.
constexpr char kIncompleteNotice[] = "NO S'HA CONVERTIT DEL TOT: ";
constexpr char kOfNotice[] = " de ";
constexpr char kRecordsNotice[] = " registres";
constexpr char kRunAgainNotice[] = "UNA NOVA EXECUCI\xE0 ACABA LA FEINA.";
// Files that look damaged: a new run cannot finish them.
constexpr char kDamagedNotice[] =
    "FITXERS MALMESOS: COMPROVEU-LOS AMB recutil check I REPAREU-LOS AMB recutil check --repair.";

// The menu file's record: the program's entry name and the title in the
// current language.
constexpr int kMenuProgramOffset = 62;
constexpr std::size_t kMenuProgramWidth = 8;
constexpr int kMenuTitleOffset = 20;
constexpr std::size_t kMenuTitleWidth = 40;

constexpr std::int16_t kProgressTop = 23;
constexpr std::int16_t kProgressBottom = 25;
constexpr std::int16_t kProgressLeft = 1;
constexpr std::int16_t kProgressRight = 80;

void OpenConverted(const ConverterRow& row) {
  std::int16_t status = 0;
  DbOpen(row.file_number, Session().InstallRoot + row.path, RecordArea(row), kRecordAreaSize,
         &status);
}

void ConvertFile(const ConverterRow& row, const std::string& language) {
  OpenConverted(row);
  ConverterOf(row)(language);
  // Close commits what is still pending: its status is the last word on
  // whether the rewrites are in the file.
  std::int16_t status = 0;
  DbClose(row.file_number, &status);
  NoteLostWork(status);
  SettleConverterRun(language, false);
}

// The menu file stays open for the whole run; after lost work, or a scan
// that stopped early, it is closed and opened again to be counted.
void ConvertMenuFile(const std::string& language) {
  ConvertMenu(language);
  if (LastConverterRun().NeedsCount()) {
    std::int16_t status = 0;
    DbClose(kMenuFileNumber, &status);
  }
  SettleConverterRun(language, true);
}

// What to do about the files not converted completely: run again (files
// that other programs held, failed commits), and check and repair the
// files that look damaged; one notice, or both.
std::vector<std::string> WhatToDoNotices() {
  bool damaged = false, others = false;
  for (const ConversionTally::FileProblem& f : Tally().files) {
    (f.damaged ? damaged : others) = true;
  }
  std::vector<std::string> notices;
  if (others) notices.push_back(Translate(kRunAgainNotice));
  if (damaged) notices.push_back(Translate(kDamagedNotice));
  return notices;
}

// The files that were not converted completely, one line each
// ("TAULES\UPaisos (298 de 298 registres)"), in the session language.
std::vector<std::string> IncompleteFiles() {
  std::vector<std::string> lines;
  for (const ConversionTally::FileProblem& f : Tally().files) {
    lines.push_back(f.path + " (" + std::to_string(f.not_converted) + Translate(kOfNotice) +
                    std::to_string(f.records) + Translate(kRecordsNotice) + ")");
  }
  return lines;
}

// The first configuration file that could not be written.
struct NotRecorded {
  std::string path;
  int error = 0;
};

void WriteLanguage(const std::string& path, const char* section, const std::string& value,
                   NotRecorded* first) {
  const IniWriteResult result = IniWrite(path, section, "Idioma", value);
  if (result != IniWriteResult::kOk && first->path.empty()) {
    *first = NotRecorded{path, static_cast<int>(result)};
  }
}

// The title of the program's entry in the menu file.
void RefreshTitle() {
  const std::uint8_t* area = RecordArea(MenuConverter());
  const std::string menu_name = FixedText(Session().MenuName, kMenuProgramWidth);
  std::int16_t status = 0;
  DbSetRange(kMenuFileNumber, 0, "", "", &status);
  while (DbRangeNext(kMenuFileNumber) == 0 &&
         std::memcmp(area + kMenuProgramOffset, menu_name.data(), kMenuProgramWidth) != 0) {
  }
  // Taken from whatever record the area holds now, matched or not.
  const std::string title(reinterpret_cast<const char*>(area + kMenuTitleOffset), kMenuTitleWidth);
  // Built by appending: GCC 12 warns falsely (-Wrestrict) about " " + string.
  std::string session_title(1, ' ');
  session_title.append(TrimRight(title));
  session_title.push_back(' ');
  Session().SessionTitle = session_title;
}

}  // namespace

DriverState& Driver() {
  static DriverState state;
  return state;
}

void ResetDriver() { Driver() = DriverState(); }

void ReadSwitches(std::string_view command_line) {
  const std::string upper = AsciiUpper(command_line);
  Driver().AutoMode = upper.find("/AUTO") != std::string::npos;
  Driver().TablesOnly = upper.find("/TAULES") != std::string::npos;
}

void CheckConversionFiles() {
  OpenConverted(MenuConverter());  // stays open for the whole run
  std::int16_t status = 0;
  for (const ConverterRow& row : ConversionFileList()) {
    OpenConverted(row);
    DbClose(row.file_number, &status);
  }
}

void RunConversion() {
  const bool automatic = Driver().AutoMode;
  const std::string language = LanguageFieldValue();

  const std::int16_t depth_before = Screen().WindowDepth;
  if (automatic) {
    ConsolePrintLine("");
    ConsolePrintLine(Translate(kProgramBanner));
    ConsolePrintLine(Translate(kProgramSubtitle));
    ConsolePrintLine(Translate(kProgramInstallationNotice) + Session().InstallRoot);
    ConsolePrintLine(Translate(kLanguageNotice) + language);
    ConsolePrintLine("");
    const std::int16_t row = CursorRow();
    // On the last row the window would reach below the screen: WinPush
    // refuses it and the progress goes to row 1 of the screen.
    WinPush(static_cast<std::int16_t>(row - 1), kProgressLeft, static_cast<std::int16_t>(row + 1),
            kProgressRight);
    DrawFrame(0);
  } else {
    WinPush(kProgressTop, kProgressLeft, kProgressBottom, kProgressRight);
    SetColour("+r");
    DrawFrame(1);
    SetColour("n");
  }
  const bool window_open = Screen().WindowDepth > depth_before;

  ConvertMenuFile(language);
  for (const ConverterRow& row : ConversionFileList()) {
    // A termination signal: no further file is begun.
    if (TerminationSignal() != 0) break;
    if (row.code_table || !Driver().TablesOnly) ConvertFile(row, language);
  }

  if (!automatic) SetColour("-");
  // Only a window that was opened is closed: a refused one must not take
  // another window with it.
  if (window_open) WinPop();
  // Interrupted: the language is not recorded, the program ends (main.cc).
  if (TerminationSignal() != 0) return;

  if (automatic && !Tally().files.empty()) {
    for (const std::string& line : IncompleteFiles()) {
      ConsolePrintLine(Translate(kIncompleteNotice) + line);
    }
    for (const std::string& notice : WhatToDoNotices()) ConsolePrintLine(notice);
  }

  NotRecorded not_recorded;
  WriteLanguage(Session().InstallRoot + "Nuri.ini", "Usuari", language, &not_recorded);
  WriteLanguage(Session().TempDir + "NuriTerm.ini", "Sistema", language, &not_recorded);
  SetSessionLanguage(language);
  // Told at the end of the run, in the language the session has then.
  if (!not_recorded.path.empty() && Driver().ConfigurationProblem.empty()) {
    Driver().ConfigurationProblem =
        LanguageNotRecordedMessage(not_recorded.path, not_recorded.error);
  }
}

DriverOutcome RunDriver() {
  ReadSwitches(Session().CommandLine);
  if (Driver().AutoMode) {
    RunConversion();
    return DriverOutcome::kConverted;
  }

  SetColour("n");
  ClearScreen();
  std::int16_t key = 0;
  FormDialog(kLanguageForm, 0, 0, &key);
  if (key == keys::kEsc) return DriverOutcome::kNothingChanged;
  if (LanguageFieldValue() == Session().SessionLanguage) return DriverOutcome::kNothingChanged;

  RunConversion();
  if (TerminationSignal() != 0) return DriverOutcome::kInterrupted;
  RefreshTitle();
  ClearScreen();
  PaintFormNow(kLanguageForm);
  // Built after the session took the new language, so it reads in it.
  std::string message = Translate(kChangedMessage) + LanguageFieldValue();
  const std::vector<std::string> incomplete = IncompleteFiles();
  if (!incomplete.empty()) {
    message += ". " + Translate(kIncompleteNotice);
    for (std::size_t i = 0; i < incomplete.size(); ++i) {
      if (i > 0) message += ", ";
      message += incomplete[i];
    }
    message += ".";
    for (const std::string& notice : WhatToDoNotices()) message += " " + notice;
  }
  (void)AcknowledgeMessage(message);
  return DriverOutcome::kConfirmed;
}

}  // namespace kel
