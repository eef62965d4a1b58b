#include "startup/session.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "util/dates.h"
#include "util/installation_settings.h"
#include "util/session_context.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/kel-session-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir_ = templ;
    fs::create_directories(dir_ + "/root");
    fs::create_directories(dir_ + "/tmp");
    fs::create_directories(dir_ + "/term");
    fs::create_directories(dir_ + "/cwd");
    old_cwd_ = CurrentDirectory();
    ASSERT_TRUE(ChangeDirectory(dir_ + "/cwd"));
    ResetSession();
    ResetDates();
  }
  void TearDown() override {
    EXPECT_TRUE(ChangeDirectory(old_cwd_));
    SetInstallationSettingReader(nullptr);
    ResetSession();
    ResetDates();
    fs::remove_all(dir_);
  }

  // System paths ("\" separators) of the test's directories, without the
  // trailing "\".
  std::string Sys(const std::string& sub) const { return dir_ + "\\" + sub; }

  void Write(const std::string& native_path, const std::string& text) const {
    File f;
    ASSERT_EQ(OpenFile(native_path, FileAccess::kWriteTruncate, FileShare::kShared, &f),
              FileResult::kOk);
    ASSERT_TRUE(f.WriteAt(0, text.data(), text.size()));
  }

  void SetUpWith(FakeEnv* env) {
    ScopedEnv scoped(env);
    SetUpSession();
  }

  std::string dir_;
  std::string old_cwd_;
};

void ExpectColours(const std::int16_t (&expected)[5][2], const char* what) {
  for (int m = 0; m < 5; ++m) {
    EXPECT_EQ(Session().ColourTable[m][0], expected[m][0]) << what << " mode " << m;
    EXPECT_EQ(Session().ColourTable[m][1], expected[m][1]) << what << " mode " << m;
  }
}

TEST_F(SessionTest, NothingConfiguredGivesTheDefaults) {
  FakeEnv env;
  SetUpWith(&env);
  const SessionContext& s = Session();
  EXPECT_EQ(s.InstallRoot, "");
  EXPECT_EQ(s.ExeDir, "");
  EXPECT_EQ(s.TempDir, "");
  EXPECT_EQ(s.TerminalDir, "");
  EXPECT_EQ(s.SessionTitle, "  ");
  EXPECT_EQ(s.MenuName, "");
  EXPECT_EQ(s.SessionMenu, "");
  EXPECT_EQ(s.ChainMenu, "");
  EXPECT_EQ(s.OperatorCode, "");
  EXPECT_EQ(s.OperatorType, 0);
  ExpectColours({{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}}, "default");
  EXPECT_EQ(s.SessionDate, "");
  EXPECT_EQ(s.OutputDevice, "");
  EXPECT_EQ(s.SessionLanguage, "   ");
  EXPECT_EQ(s.PlatformKind, "DOS");
  EXPECT_TRUE(fs::is_empty(dir_ + "/cwd"));  // nothing written
}

TEST_F(SessionTest, EveryFileAndVariable) {
  Write(dir_ + "/tmp/Sessio.ini",
        "[Menu]\r\nTitol=GESTIO\r\nNomMenu=TAVIRENO\r\nMenu=PRINCIPAL\r\nChnMenu=CADENA\r\n"
        "Operador=OP1\r\nKelTipOper=12abc\r\n[Terminal]\r\nDir=" +
            Sys("term") + "\r\n");
  Write(dir_ + "/tmp/NuriTerm.ini",
        "[Pantalla]\r\nSeleccio=1\r\nCol1=14010200030004000500\r\n"
        "[Sistema]\r\nData=20240405\r\nSortida=LPT1\r\nIdioma=SPA\r\n");
  Write(dir_ + "/root/Nuri.ini", "[Usuari]\r\nIdioma=GLG\r\nDatCaracter=-\r\nDatOrdre=AMD\r\n");
  FakeEnv env;
  env.SetVariable("KELROOT", Sys("root\\"));
  env.SetVariable("KELEXE", "C:\\KEL\\EXE");
  env.SetVariable("KELTMP", Sys("tmp"));
  env.SetVariable("TERM", "xterm-256color");
  ScopedEnv scoped(&env);  // the date settings are read later, from KELROOT
  SetUpSession();
  const SessionContext& s = Session();
  EXPECT_EQ(s.InstallRoot, Sys("root\\"));
  EXPECT_EQ(s.ExeDir, "C:\\KEL\\EXE");  // unchanged, no "\" added
  EXPECT_EQ(s.TempDir, Sys("tmp\\"));
  EXPECT_EQ(s.TerminalDir, Sys("term\\"));
  EXPECT_EQ(s.SessionTitle, " GESTIO ");
  EXPECT_EQ(s.MenuName, "TAVIRENO");
  EXPECT_EQ(s.SessionMenu, "PRINCIPAL");
  EXPECT_EQ(s.ChainMenu, "CADENA");
  EXPECT_EQ(s.OperatorCode, "OP1");
  EXPECT_EQ(s.OperatorType, 12);
  ExpectColours({{14, 1}, {2, 0}, {3, 0}, {4, 0}, {5, 0}}, "Col1");
  EXPECT_EQ(s.SessionDate, PackDigits("20240405"));
  EXPECT_EQ(s.OutputDevice, "LPT1");
  EXPECT_EQ(s.SessionLanguage, "SPA");
  // The date settings now come from the installation file.
  EXPECT_EQ(ReadInstallationSetting("Usuari", "DatOrdre"), "AMD");
  EXPECT_EQ(DateText(PackDigits("20240405"), 0, "DMA"), "2024-4-5  ");
}

TEST_F(SessionTest, TempDirSeparatorRule) {
  struct Case {
    std::string keltmp;
    std::string temp_dir;
  } cases[] = {
      {Sys("tmp"), Sys("tmp\\")},
      {Sys("tmp\\"), Sys("tmp\\")},
      {"C:", "C:"},
      {"X", "X\\"},
  };
  for (const auto& c : cases) {
    ResetSession();
    FakeEnv env;
    env.SetVariable("KELTMP", c.keltmp);
    SetUpWith(&env);
    EXPECT_EQ(Session().TempDir, c.temp_dir) << c.keltmp;
  }
}

TEST_F(SessionTest, WithoutKeltmpTheSessionFileComesFromTheCurrentDirectory) {
  Write(dir_ + "/cwd/Sessio.ini", "[Terminal]\r\nDir=" + Sys("term") + "\r\n[Menu]\r\nTitol=T\r\n");
  Write(dir_ + "/term/NuriTerm.ini", "[Sistema]\r\nIdioma=OCI\r\n");
  FakeEnv env;
  SetUpWith(&env);
  EXPECT_EQ(Session().SessionTitle, " T ");
  EXPECT_EQ(Session().TerminalDir, Sys("term\\"));
  EXPECT_EQ(Session().TempDir, Session().TerminalDir);
  EXPECT_EQ(Session().SessionLanguage, "OCI");  // terminal file read from the final TempDir
}

TEST_F(SessionTest, TerminalDirFallsBackToTerm) {
  Write(dir_ + "/term/NuriTerm.ini", "[Sistema]\r\nSortida=PRN\r\n");
  FakeEnv env;
  env.SetVariable("TERM", Sys("term"));
  SetUpWith(&env);
  EXPECT_EQ(Session().TerminalDir, Sys("term\\"));
  EXPECT_EQ(Session().TempDir, Sys("term\\"));
  EXPECT_EQ(Session().OutputDevice, "PRN");

  // The Unix terminal type in TERM becomes a directory name that does not
  // exist: the defaults follow.
  ResetSession();
  FakeEnv unix_env;
  unix_env.SetVariable("TERM", "xterm");
  SetUpWith(&unix_env);
  EXPECT_EQ(Session().TerminalDir, "xterm\\");
  EXPECT_EQ(Session().TempDir, "xterm\\");
  EXPECT_EQ(Session().OutputDevice, "");
}

TEST_F(SessionTest, ColourTexts) {
  struct Case {
    const char* what;
    std::string pantalla;
    std::int16_t colours[5][2];
  } cases[] = {
      {"Seleccio 2 with Col2",
       "Seleccio=2\r\nCol0=99999999999999999999\r\nCol2=01020304050607080910",
       {{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}}},
      {"8 characters", "Col0=01020304", {{1, 2}, {3, 4}, {0, 0}, {0, 0}, {0, 0}}},
      {"9 characters", "Col0=010203041", {{1, 2}, {3, 4}, {1, 0}, {0, 0}, {0, 0}}},
      {"no Seleccio reads Col0",
       "Col0=11121314151617181920",
       {{11, 12}, {13, 14}, {15, 16}, {17, 18}, {19, 20}}},
      {"selected set missing",
       "Seleccio=3\r\nCol0=01020304050607080910",
       {{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}}},
      {"blanks and letters", "Col0= 1 2xx-1", {{1, 2}, {0, -1}, {0, 0}, {0, 0}, {0, 0}}},
  };
  for (const auto& c : cases) {
    ResetSession();
    Write(dir_ + "/tmp/NuriTerm.ini", "[Pantalla]\r\n" + c.pantalla + "\r\n");
    FakeEnv env;
    env.SetVariable("KELTMP", Sys("tmp"));
    SetUpWith(&env);
    ExpectColours(c.colours, c.what);
  }
}

TEST_F(SessionTest, Languages) {
  struct Case {
    const char* terminal;      // [Sistema] Idioma of NuriTerm.ini, nullptr: no file
    const char* installation;  // [Usuari] Idioma of Nuri.ini, nullptr: no file
    const char* language;
  } cases[] = {
      {"SPA", "GLG", "SPA"},     {"spa", "GLG", "spa"}, {"CATALA", nullptr, "CAT"},
      {"", "GLG", "GLG"},        {"   ", "OCI", "OCI"}, {nullptr, "glg", "glg"},
      {nullptr, nullptr, "   "}, {"X", "GLG", "X  "},   {" ", "", "   "},
  };
  for (const auto& c : cases) {
    ResetSession();
    fs::remove(dir_ + "/tmp/NuriTerm.ini");
    fs::remove(dir_ + "/root/Nuri.ini");
    if (c.terminal)
      Write(dir_ + "/tmp/NuriTerm.ini", std::string("[Sistema]\r\nIdioma=") + c.terminal + "\r\n");
    if (c.installation)
      Write(dir_ + "/root/Nuri.ini", std::string("[Usuari]\r\nIdioma=") + c.installation + "\r\n");
    FakeEnv env;
    env.SetVariable("KELTMP", Sys("tmp"));
    env.SetVariable("KELROOT", Sys("root\\"));
    SetUpWith(&env);
    EXPECT_EQ(Session().SessionLanguage, c.language)
        << (c.terminal ? c.terminal : "-") << " / " << (c.installation ? c.installation : "-");
  }
}

TEST_F(SessionTest, PlatformKind) {
  struct Case {
    const char* variables[4];
    const char* kind;
  } cases[] = {
      {{}, "DOS"},
      {{"WINDIR"}, "WIN"},
      {{"SYSTEMROOT"}, "WIN"},
      {{"HTTP_USER_AGENT"}, "CGI"},
      {{"HTTP_ACCEPT", "WINDIR"}, "CGI"},
      {{"HTTP_USER_AGENT", "SYSTEMROOT", "WINDIR"}, "CGI"},
  };
  for (const auto& c : cases) {
    ResetSession();
    FakeEnv env;
    std::string names;
    for (const char* name : c.variables) {
      if (name == nullptr) break;
      env.SetVariable(name, "x");
      names += std::string(name) + " ";
    }
    SetUpWith(&env);
    EXPECT_EQ(Session().PlatformKind, c.kind) << names;
  }
}

TEST_F(SessionTest, OperatorTypeIsTheLeadingNumber) {
  struct Case {
    const char* text;
    std::int16_t type;
  } cases[] = {{"3", 3}, {" 7x", 7}, {"x7", 0}, {"", 0}, {"-2", -2}, {"99999", 32767}};
  for (const auto& c : cases) {
    ResetSession();
    Write(dir_ + "/tmp/Sessio.ini", std::string("[Menu]\r\nKelTipOper=") + c.text + "\r\n");
    FakeEnv env;
    env.SetVariable("KELTMP", Sys("tmp"));
    SetUpWith(&env);
    EXPECT_EQ(Session().OperatorType, c.type) << c.text;
  }
}

TEST_F(SessionTest, ProgramNameAndCommandLineAreLeftAlone) {
  Session().ProgramName = "TAVIRENO";
  Session().CommandLine = "/AUTO";
  FakeEnv env;
  SetUpWith(&env);
  EXPECT_EQ(Session().ProgramName, "TAVIRENO");
  EXPECT_EQ(Session().CommandLine, "/AUTO");
}

}  // namespace
}  // namespace kel
