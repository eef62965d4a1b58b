#include "startup/data_server.h"

#include <filesystem>
#include <fstream>
#include <string>

#include "gtest/gtest.h"
#include "startup/session.h"
#include "util/installation_settings.h"
#include "util/session_context.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

class DataServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string templ = MakeTestDirectory("kel-dataserver");
    ASSERT_FALSE(templ.empty());
    dir_ = templ;
    root_ = dir_ + "/";
  }
  void TearDown() override {
    ResetRecordManagerConfig();
    SetInstallationSettingReader(nullptr);
    ResetSession();
    fs::remove_all(dir_);
  }
  void WriteNuri(const std::string& text) { std::ofstream(root_ + "Nuri.ini", std::ios::binary) << text; }

  std::string dir_, root_;
  FakeEnv env_;
};

TEST_F(DataServerTest, SettingFromTheInstallationFileAndTheEnvironment) {
  struct Case {
    const char* what;
    const char* nuri;  // nullptr: no file
    const char* keldb;
    const char* server;
    const char* schema;
    bool allow_network_fs;
  };
  const Case cases[] = {
      {"no file: SQLite files", nullptr, "", "", "kel", false},
      {"no [Dades]", "[Usuari]\r\nIdioma=SPA\r\n", "", "", "kel", false},
      {"server and schema", "[Dades]\r\nServidor=host=db1 dbname=kel user=kel\r\nEsquema=of2\r\n",
       "", "host=db1 dbname=kel user=kel", "of2", false},
      {"blanks around the values", "[ dades ]\r\nservidor =  host=db1  \r\nESQUEMA= of3 \r\n", "",
       "host=db1", "of3", false},
      {"empty schema keeps the default", "[Dades]\r\nServidor=host=x\r\nEsquema=\r\n", "", "host=x",
       "kel", false},
      {"KELDB replaces Servidor", "[Dades]\r\nServidor=host=db1\r\n", "host=/tmp/pg dbname=t",
       "host=/tmp/pg dbname=t", "kel", false},
      {"KELDB alone", nullptr, "dbname=t", "dbname=t", "kel", false},
      {"blank KELDB leaves Servidor", "[Dades]\r\nServidor=host=db1\r\n", "  ", "host=db1", "kel",
       false},
      {"a comment cuts the value", "[Dades]\r\nServidor=host=db1 ; the office server\r\n", "",
       "host=db1", "kel", false},
      {"XarxaLocal=1", "[Dades]\r\nXarxaLocal=1\r\n", "", "", "kel", true},
      {"XarxaLocal=-1", "[Dades]\r\nXarxaLocal=-1\r\n", "", "", "kel", true},
      {"XarxaLocal=0", "[Dades]\r\nXarxaLocal=0\r\n", "", "", "kel", false},
      {"XarxaLocal not a number", "[Dades]\r\nXarxaLocal=si\r\n", "", "", "kel", false},
      {"keys of another section", "[Usuari]\r\nServidor=host=db1\r\nXarxaLocal=1\r\n", "", "",
       "kel", false},
  };
  for (const Case& c : cases) {
    fs::remove(root_ + "Nuri.ini");
    if (c.nuri != nullptr) WriteNuri(c.nuri);
    env_.SetVariable("KELDB", c.keldb);
    const RecordManagerConfig config = ReadDataServerSetting(root_, env_);
    EXPECT_EQ(config.server, c.server) << c.what;
    EXPECT_EQ(config.schema, c.schema) << c.what;
    EXPECT_EQ(config.allow_network_fs, c.allow_network_fs) << c.what;
    EXPECT_EQ(config.install_root, root_) << c.what;
  }
}

TEST_F(DataServerTest, RootInTheSystemsSpellingBecomesNativeWithASlash) {
  fs::create_directories(dir_ + "/Inst");
  // Backslashes, another letter case, and no final separator (KELROOT as an
  // installation copied from Windows may spell it).
  EXPECT_EQ(ReadDataServerSetting(dir_ + "\\INST\\", env_).install_root, dir_ + "/Inst/");
  EXPECT_EQ(ReadDataServerSetting("", env_).install_root, "");
}

// The session set-up hands the installation's setting to the record manager,
// so the first open already uses it.
TEST_F(DataServerTest, SessionSetUpConfiguresTheRecordManager) {
  WriteNuri("[Dades]\r\nServidor=host=db1\r\nEsquema=oficina\r\n");
  env_.SetVariable("KELROOT", root_);
  env_.SetVariable("KELTMP", dir_);
  {
    ScopedEnv scoped(&env_);
    SetUpSession();
  }
  EXPECT_EQ(RecordManagerConfiguration().server, "host=db1");
  EXPECT_EQ(RecordManagerConfiguration().schema, "oficina");
  EXPECT_EQ(RecordManagerConfiguration().install_root, root_);

  // An installation without [Dades] goes back to the SQLite files.
  WriteNuri("[Usuari]\r\nIdioma=CAT\r\n");
  {
    ScopedEnv scoped(&env_);
    SetUpSession();
  }
  EXPECT_EQ(RecordManagerConfiguration().server, "");
  EXPECT_EQ(RecordManagerConfiguration().schema, "kel");
}

// Gestor names the installed record manager's library as written (a bare
// name or a path, in the system's spelling), KELBTR replaces it; both
// Gestor and Servidor are handed on as they are, for the data-file layer to
// refuse.
TEST_F(DataServerTest, GestorNamesTheRecordManagersLibraryAndKelbtrReplacesIt) {
  struct Case {
    const char* what;
    const char* nuri;  // nullptr: no file
    const char* kelbtr;
    const char* library;
    const char* server;
  };
  const Case cases[] = {
      {"no file: our engine", nullptr, "", "", ""},
      {"a bare name", "[Dades]\r\nGestor=WBTRV32.DLL\r\n", "", "WBTRV32.DLL", ""},
      {"a Windows path, blanks around it", "[DADES]\r\ngestor =  C:\\PVSW\\BIN\\W3BTRV7.DLL \r\n",
       "", "C:\\PVSW\\BIN\\W3BTRV7.DLL", ""},
      {"KELBTR replaces Gestor", "[Dades]\r\nGestor=WBTRV32.DLL\r\n", "/opt/kel/libkelbtrv.so",
       "/opt/kel/libkelbtrv.so", ""},
      {"KELBTR alone", nullptr, "libkelbtrv.so", "libkelbtrv.so", ""},
      {"blank KELBTR leaves Gestor", "[Dades]\r\nGestor=WBTRV32.DLL\r\n", " ", "WBTRV32.DLL", ""},
      {"Gestor and Servidor both handed on",
       "[Dades]\r\nGestor=WBTRV32.DLL\r\nServidor=host=db1\r\n", "", "WBTRV32.DLL", "host=db1"},
      {"Gestor of another section", "[Usuari]\r\nGestor=WBTRV32.DLL\r\n", "", "", ""},
  };
  for (const Case& c : cases) {
    fs::remove(root_ + "Nuri.ini");
    if (c.nuri != nullptr) WriteNuri(c.nuri);
    env_.SetVariable("KELBTR", c.kelbtr);
    const RecordManagerConfig config = ReadDataServerSetting(root_, env_);
    EXPECT_EQ(config.library, c.library) << c.what;
    EXPECT_EQ(config.server, c.server) << c.what;
  }
}

}  // namespace
}  // namespace kel
