#include "startup/session.h"

#include <algorithm>
#include <cstdint>

#include "platform/system.h"
#include "startup/data_server.h"
#include "startup/ini_file.h"
#include "util/dates.h"
#include "util/fixed_text.h"
#include "util/installation_settings.h"
#include "util/session_context.h"

namespace kel {
namespace {

constexpr std::string_view kDefaultColours = "15000700000700070007";

std::int16_t ToInt16(long long value) {
  return static_cast<std::int16_t>(std::clamp<long long>(value, -32768, 32767));
}

// The numeric value of `length` characters at `start` (0-based); characters
// beyond the end of the text are missing, so a short text gives 0.
std::int16_t NumberAt(std::string_view text, std::size_t start, std::size_t length) {
  if (start >= text.size()) return 0;
  return ToInt16(LeadingNumber(text.substr(start, length)));
}

void ReadColours(const std::string& terminal_file, SessionContext* s) {
  long long selection = LeadingNumber(IniRead(terminal_file, "Pantalla", "Seleccio"));
  std::string colours = IniRead(terminal_file, "Pantalla", "Col" + DecimalText(selection));
  if (colours.empty()) colours = kDefaultColours;
  for (std::size_t mode = 0; mode < 5; ++mode) {
    s->ColourTable[mode][0] = NumberAt(colours, mode * 4, 2);
    s->ColourTable[mode][1] = NumberAt(colours, mode * 4 + 2, 2);
  }
}

std::string PlatformKindOf(Env& env) {
  if (!env.GetVariable("HTTP_USER_AGENT").empty() || !env.GetVariable("HTTP_ACCEPT").empty()) {
    return "CGI";
  }
  if (!env.GetVariable("WINDIR").empty() || !env.GetVariable("SYSTEMROOT").empty()) return "WIN";
  return "DOS";
}

}  // namespace

void AppendDirectorySeparator(std::string* directory) {
  // "/" ends a directory as well: on this system it is the separator, and
  // the system's own calls take it everywhere else too.
  if (!directory->empty() && directory->back() != ':' && directory->back() != '\\' &&
      directory->back() != '/') {
    *directory += '\\';
  }
}

std::string ReadInstallationFileSetting(std::string_view section, std::string_view key) {
  return IniRead(CurrentEnv().GetVariable("KELROOT") + "Nuri.ini", section, key);
}

void SetUpSession() {
  SetInstallationSettingReader(&ReadInstallationFileSetting);
  Env& env = CurrentEnv();
  SessionContext& s = Session();
  // Texts stay code page 850 bytes from end to end: no code page to choose.

  s.InstallRoot = env.GetVariable("KELROOT");
  s.ExeDir = env.GetVariable("KELEXE");
  s.TempDir = env.GetVariable("KELTMP");
  AppendDirectorySeparator(&s.TempDir);

  // The session file lives where KELTMP points, before any fallback.
  const std::string session_file = s.TempDir + "Sessio.ini";
  // Built by appending: GCC 12 warns falsely (-Wrestrict) about " " + string.
  s.SessionTitle.assign(1, ' ');
  s.SessionTitle += IniRead(session_file, "Menu", "Titol");
  s.SessionTitle += ' ';
  s.MenuName = IniRead(session_file, "Menu", "NomMenu");
  s.SessionMenu = IniRead(session_file, "Menu", "Menu");
  s.ChainMenu = IniRead(session_file, "Menu", "ChnMenu");
  s.OperatorCode = IniRead(session_file, "Menu", "Operador");
  s.OperatorType = ToInt16(LeadingNumber(IniRead(session_file, "Menu", "KelTipOper")));

  s.TerminalDir = IniRead(session_file, "Terminal", "Dir");
  if (s.TerminalDir.empty()) s.TerminalDir = env.GetVariable("TERM");
  AppendDirectorySeparator(&s.TerminalDir);
  if (s.TempDir.empty()) s.TempDir = s.TerminalDir;

  const std::string terminal_file = s.TempDir + "NuriTerm.ini";
  ReadColours(terminal_file, &s);
  s.SessionDate = PackDigits(IniRead(terminal_file, "Sistema", "Data"));
  s.OutputDevice = IniRead(terminal_file, "Sistema", "Sortida");
  SetSessionLanguage(IniRead(terminal_file, "Sistema", "Idioma"));
  if (IsBlank(s.SessionLanguage)) {
    SetSessionLanguage(IniRead(s.InstallRoot + "Nuri.ini", "Usuari", "Idioma"));
  }
  s.PlatformKind = PlatformKindOf(env);
  // Before the first open: the engine of the data files is the
  // installation's, the same for every station.
  ConfigureDataFiles(s.InstallRoot, env);
}

}  // namespace kel
