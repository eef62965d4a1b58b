#include "startup/session.h"

#include <filesystem>
#include <map>
#include <string>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "util/dates.h"
#include "util/installation_settings.h"
#include "util/session_context.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;      // path under the test dir -> bytes
using Variables = std::map<std::string, std::string>;  // "@" in a value: the test dir

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string templ = MakeTestDirectory("kel-session");
    ASSERT_FALSE(templ.empty());
    dir_ = templ;
    old_cwd_ = CurrentDirectory();
  }
  void TearDown() override {
    EXPECT_TRUE(ChangeDirectory(old_cwd_));
    SetInstallationSettingReader(nullptr);
    ResetSession();
    ResetDates();
    fs::remove_all(dir_);
  }

  // A system path in the test directory: "@" stands for the directory.
  std::string Sys(std::string text) const {
    for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, dir_);
    return text;
  }

  // Fresh directories and files, the current directory "cwd", then the set-up.
  void Run(const Variables& variables, const Files& files) {
    ASSERT_TRUE(ChangeDirectory(old_cwd_));
    fs::remove_all(dir_);
    for (const char* sub : {"root", "tmp", "term", "cwd"}) fs::create_directories(dir_ + "/" + sub);
    for (const auto& [path, bytes] : files) {
      File f;
      ASSERT_EQ(OpenFile(dir_ + "/" + path, FileAccess::kWriteTruncate, FileShare::kShared, &f),
                FileResult::kOk);
      ASSERT_TRUE(f.WriteAt(0, Sys(bytes).data(), Sys(bytes).size()));
    }
    ASSERT_TRUE(ChangeDirectory(dir_ + "/cwd"));
    for (const auto& [name, value] : variables) env_.SetVariable(name, Sys(value));
    ResetDates();  // the session is not reset: the set-up must set every field
    ScopedEnv scoped(&env_);
    SetUpSession();
  }

  void ExpectColours(const std::int16_t (&expected)[5][2], const std::string& what) {
    for (int m = 0; m < 5; ++m) {
      EXPECT_EQ(Session().ColourTable[m][0], expected[m][0]) << what << " mode " << m;
      EXPECT_EQ(Session().ColourTable[m][1], expected[m][1]) << what << " mode " << m;
    }
  }

  std::string dir_, old_cwd_;
  FakeEnv env_;
};

TEST_F(SessionTest, NothingConfiguredGivesTheDefaults) {
  Run({}, {});
  const SessionContext& s = Session();
  for (const std::string* text :
       {&s.InstallRoot, &s.ExeDir, &s.TempDir, &s.TerminalDir, &s.MenuName, &s.SessionMenu,
        &s.ChainMenu, &s.OperatorCode, &s.SessionDate, &s.OutputDevice}) {
    EXPECT_EQ(*text, "");
  }
  EXPECT_EQ(s.SessionTitle, "  ");
  EXPECT_EQ(s.OperatorType, 0);
  ExpectColours({{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}}, "default");
  EXPECT_EQ(s.SessionLanguage, "   ");
  EXPECT_EQ(s.PlatformKind, "DOS");
  EXPECT_TRUE(fs::is_empty(dir_ + "/cwd"));  // nothing written
}

TEST_F(SessionTest, EveryFileAndVariable) {
  Session().ProgramName = "TAVIRENO";  // not the set-up's to change
  Run({{"KELROOT", "@\\root\\"}, {"KELEXE", "C:\\KEL"}, {"KELTMP", "@\\tmp"}, {"TERM", "xterm"}},
      {{"tmp/Sessio.ini",
        "[Menu]\r\nTitol=GESTIO\r\nNomMenu=TAVIRENO\r\nMenu=PRINCIPAL\r\nChnMenu=CADENA\r\n"
        "Operador=OP1\r\nKelTipOper=12abc\r\n[Terminal]\r\nDir=@\\term\r\n"},
       {"tmp/NuriTerm.ini",
        "[Pantalla]\r\nSeleccio=1\r\nCol1=14010200030004000500\r\n"
        "[Sistema]\r\nData=20240405\r\nSortida=LPT1\r\nIdioma=SPA\r\n"},
       {"root/Nuri.ini", "[Usuari]\r\nIdioma=GLG\r\nDatCaracter=-\r\nDatOrdre=AMD\r\n"}});
  const SessionContext& s = Session();
  EXPECT_EQ(s.InstallRoot, Sys("@\\root\\"));
  EXPECT_EQ(s.ExeDir, "C:\\KEL");  // as given
  EXPECT_EQ(s.TempDir, Sys("@\\tmp\\"));
  EXPECT_EQ(s.TerminalDir, Sys("@\\term\\"));
  EXPECT_EQ(s.SessionTitle, " GESTIO ");
  EXPECT_EQ(s.MenuName + s.SessionMenu + s.ChainMenu + s.OperatorCode,
            "TAVIRENOPRINCIPALCADENAOP1");
  EXPECT_EQ(s.OperatorType, 12);
  ExpectColours({{14, 1}, {2, 0}, {3, 0}, {4, 0}, {5, 0}}, "Col1");
  EXPECT_EQ(s.SessionDate, PackDigits("20240405"));
  EXPECT_EQ(s.OutputDevice, "LPT1");
  EXPECT_EQ(s.SessionLanguage, "SPA");
  EXPECT_EQ(s.ProgramName, "TAVIRENO");
  // The date settings now come from the installation file under KELROOT.
  ScopedEnv scoped(&env_);
  EXPECT_EQ(DateText(PackDigits("20240405"), 0, "DMA"), "2024-4-5  ");
}

TEST_F(SessionTest, Directories) {
  struct Case {
    const char* what;
    Variables variables;
    Files files;
    std::string temp_dir, terminal_dir, title;
  } cases[] = {
      {"KELTMP gets a backslash", {{"KELTMP", "@\\tmp"}}, {}, "@\\tmp\\", "", "  "},
      {"KELTMP with one keeps it", {{"KELTMP", "@\\tmp\\"}}, {}, "@\\tmp\\", "", "  "},
      {"KELTMP ending in a colon", {{"KELTMP", "C:"}}, {}, "C:", "", "  "},
      // A "/" ends a directory too: "/srv/kel/TERM01/" once became
      // "/srv/kel/TERM01/\", and its files "/srv/kel/TERM01/\NuriTerm.ini".
      {"KELTMP ending in a slash keeps it", {{"KELTMP", "@/tmp/"}}, {}, "@/tmp/", "", "  "},
      {"[Terminal] Dir ending in a slash keeps it",
       {},
       {{"cwd/Sessio.ini", "[Terminal]\r\nDir=@/term/\r\n[Menu]\r\nTitol=T\r\n"}},
       "@/term/",
       "@/term/",
       " T "},
      {"no KELTMP: session file of the current directory, TempDir = TerminalDir",
       {},
       {{"cwd/Sessio.ini", "[Terminal]\r\nDir=@\\term\r\n[Menu]\r\nTitol=T\r\n"},
        {"term/NuriTerm.ini", "[Sistema]\r\nSortida=PRN\r\n"}},
       "@\\term\\",
       "@\\term\\",
       " T "},
      {"no [Terminal] Dir: TERM", {{"TERM", "@\\term"}}, {}, "@\\term\\", "@\\term\\", "  "},
      {"a Unix TERM becomes a directory name", {{"TERM", "xterm"}}, {}, "xterm\\", "xterm\\", "  "},
  };
  for (const auto& c : cases) {
    env_ = FakeEnv();
    Run(c.variables, c.files);
    EXPECT_EQ(Session().TempDir, Sys(c.temp_dir)) << c.what;
    EXPECT_EQ(Session().TerminalDir, Sys(c.terminal_dir)) << c.what;
    EXPECT_EQ(Session().SessionTitle, c.title) << c.what;
  }
  EXPECT_EQ(Session().OutputDevice, "");
}

TEST_F(SessionTest, ColoursAndOperatorType) {
  struct Case {
    std::string pantalla, operator_type;
    std::int16_t colours[5][2];
    std::int16_t type;
  } cases[] = {
      {"Seleccio=2\r\nCol0=99999999999999999999\r\nCol2=01020304050607080910",
       "3",
       {{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}},
       3},
      {"Col0=01020304", " 7x", {{1, 2}, {3, 4}, {0, 0}, {0, 0}, {0, 0}}, 7},
      {"Col0=010203041", "x7", {{1, 2}, {3, 4}, {1, 0}, {0, 0}, {0, 0}}, 0},
      {"Seleccio=3\r\nCol0=01020304050607080910",
       "-2",
       {{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}},
       -2},
      {"Col0= 1 2xx-1", "99999", {{1, 2}, {0, -1}, {0, 0}, {0, 0}, {0, 0}}, 32767},
  };
  for (const auto& c : cases) {
    Run({{"KELTMP", "@\\tmp"}}, {{"tmp/NuriTerm.ini", "[Pantalla]\r\n" + c.pantalla + "\r\n"},
                                 {"tmp/Sessio.ini", "[Menu]\r\nKelTipOper=" + c.operator_type}});
    ExpectColours(c.colours, c.pantalla);
    EXPECT_EQ(Session().OperatorType, c.type) << c.operator_type;
  }
}

TEST_F(SessionTest, LanguageAndPlatformKind) {
  struct Case {
    const char* terminal;      // [Sistema] Idioma; nullptr: no terminal file
    const char* installation;  // [Usuari] Idioma; nullptr: no installation file
    const char* language;
    Variables variables;
    const char* kind;
  } cases[] = {
      {"SPA", "GLG", "SPA", {}, "DOS"},
      {"spa", "GLG", "spa", {{"WINDIR", "x"}}, "WIN"},
      {"CATALA", nullptr, "CAT", {{"SYSTEMROOT", "x"}}, "WIN"},
      {"", "GLG", "GLG", {{"HTTP_USER_AGENT", "x"}}, "CGI"},
      {"   ", "OCI", "OCI", {{"HTTP_ACCEPT", "x"}, {"WINDIR", "x"}}, "CGI"},
      {nullptr, "glg", "glg", {}, "DOS"},
      {nullptr, nullptr, "   ", {}, "DOS"},
      {"X", "GLG", "X  ", {}, "DOS"},
  };
  for (const auto& c : cases) {
    Files files;
    if (c.terminal) files["tmp/NuriTerm.ini"] = std::string("[Sistema]\r\nIdioma=") + c.terminal;
    if (c.installation)
      files["root/Nuri.ini"] = std::string("[Usuari]\r\nIdioma=") + c.installation;
    Variables variables = c.variables;
    variables["KELTMP"] = "@\\tmp";
    variables["KELROOT"] = "@\\root\\";
    env_ = FakeEnv();
    Run(variables, files);
    EXPECT_EQ(Session().SessionLanguage, c.language) << (c.terminal ? c.terminal : "-");
    EXPECT_EQ(Session().PlatformKind, c.kind) << c.language;
  }
}

}  // namespace
}  // namespace kel
