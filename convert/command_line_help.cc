#include "convert/command_line_help.h"

#include <cstdio>

#include "convert/language_text.h"
#include "convert/program_texts.h"
#include "startup/session.h"
#include "util/cp850.h"
#include "util/session_context.h"

namespace kel {
namespace {

// A line of the usage: a name that stays as it is (a switch, a variable,
// exit codes), in a column of 16, and the Catalan text that Translate
// turns into the session's language.
struct UsageEntry {
  const char* name;
  const char* text;
};

constexpr char kUsageLabel[] = "\xE9s: ";
constexpr char kUsageSyntax[] = "tavireno [/AUTO] [/TAULES] [/INFORME [/CSV]] [/? | --version]";
constexpr char kWithoutSwitches[] = "Sense opcions, l'operador tria l'idioma al formulari.";
constexpr char kSwitchesTitle[] = "Opcions, en qualsevol lloc i en maj\xA3scules o min\xA3scules:";
constexpr UsageEntry kSwitches[] = {
    {"/AUTO", "torna a aplicar l'idioma configurat, sense formulari"},
    {"/TAULES", "nom\x82s el men\xA3 i les nou taules de codis"},
    {"/INFORME", "cens dels textos, sense escriure res: quants registres"},
    {"", "mostren cada idioma i quants quedarien en blanc"},
    {"/CSV", "amb /INFORME: les mateixes xifres en CSV"},
    {"/?, -h, --help", "aquesta ajuda"},
    {"--version", "la versi\xA2"},
};
constexpr char kVariablesTitle[] = "Variables d'entorn:";
constexpr UsageEntry kVariables[] = {
    {"KELROOT", "directori de la instal\xFAlaci\xA2, acabat en /"},
    {"KELTMP", "directori de treball del terminal"},
    {"KELEXE", "directori dels programes"},
    {"KELDB", "servidor PostgreSQL de les dades (si no, [Dades] de Nuri.ini)"},
    {"KELBTR", "biblioteca del gestor de registres instal\xFAlat ([Dades] Gestor)"},
    {"TERM", "tipus de terminal; sense KELTMP, el directori del terminal"},
    {"WINDIR", "la plataforma \x82s Windows (tamb\x82 SYSTEMROOT)"},
    {"HTTP_USER_AGENT", "la plataforma \x82s CGI (tamb\x82 HTTP_ACCEPT)"},
    {"COMSPEC", "int\x8Arpret d'ordres de les p\x85gines d'ajuda"},
};
constexpr char kExitCodesTitle[] = "Codis de sortida:";
constexpr UsageEntry kExitCodes[] = {
    {"0", "fet (o res a fer)"},
    {"3", "no s'ha pogut obrir un fitxer de dades (el missatge diu quin)"},
    {"65", "el fitxer de formularis falta o \x82s malm\x8As"},
    {"66", "no hi ha terminal per al formulari (feu servir /AUTO)"},
    {"69", "el terminal no pot mostrar la pantalla de 80 x 25"},
    {"74", "dades convertides, per\x95 l'idioma no s'ha pogut desar"},
    {"75", "conversi\xA2 o cens incomplets: la sortida nomena cada fitxer"},
    {"129, 130, 143", "aturat per SIGHUP, SIGINT o SIGTERM"},
};
constexpr char kDocumentsLabel[] = "Documentaci\xA2: ";
constexpr char kDocuments[] = "README.md, docs/operators-guide.md";
constexpr char kBuildLabel[] = "Compilaci\xA2: ";

constexpr std::size_t kNameColumn = 16;

template <std::size_t N>
void AppendEntries(const UsageEntry (&entries)[N], std::vector<std::string>* lines) {
  for (const UsageEntry& e : entries) {
    std::string name = e.name;
    name.resize(kNameColumn, ' ');
    lines->push_back("  " + name + Translate(e.text));
  }
}

}  // namespace

HelpRequest HelpRequestOf(const std::vector<std::string_view>& arguments) {
  HelpRequest request = HelpRequest::kNone;
  for (std::string_view a : arguments) {
    if (a == "/?" || a == "-h" || a == "--help") return HelpRequest::kUsage;
    if (a == "--version") request = HelpRequest::kVersion;
  }
  return request;
}

std::vector<std::string> UsageLines() {
  std::vector<std::string> lines = {Translate(kProgramBanner),
                                    Translate(kProgramSubtitle),
                                    "",
                                    Translate(kUsageLabel) + kUsageSyntax,
                                    Translate(kWithoutSwitches),
                                    "",
                                    Translate(kSwitchesTitle)};
  AppendEntries(kSwitches, &lines);
  lines.push_back("");
  lines.push_back(Translate(kVariablesTitle));
  AppendEntries(kVariables, &lines);
  lines.push_back("");
  lines.push_back(Translate(kExitCodesTitle));
  AppendEntries(kExitCodes, &lines);
  lines.push_back("");
  lines.push_back(Translate(kDocumentsLabel) + kDocuments);
  return lines;
}

std::vector<std::string> VersionLines(std::string_view build_version) {
  return {Translate(kProgramBanner), Translate(kBuildLabel) + std::string(build_version)};
}

int PrintCommandLineHelp(HelpRequest request, std::string_view build_version) {
  // The session only for its language: it reads the environment and the
  // configuration files and writes nothing; the language text file is
  // read, never created.
  LanguageText().CreateMissingFile = false;
  SetUpSession();
  Session().ProgramName = "TAVIRENO";
  const std::vector<std::string> lines =
      request == HelpRequest::kVersion ? VersionLines(build_version) : UsageLines();
  for (const std::string& line : lines) std::printf("%s\n", Cp850ToUtf8(line).c_str());
  std::fflush(stdout);
  return 0;
}

}  // namespace kel
