// The real recutil binary on good and bad input.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "gtest/gtest.h"
#include "recman/file_spec.h"
#include "tools/recutil/report.h"
#include "tools/recutil/sequential.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

struct Result {
  int code = -1;
  std::string output;  // stdout and stderr together
};

std::string BinDir() {
  if (const char* dir = std::getenv("KEL_TEST_BIN_DIR")) return dir;
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

// `env`: assignments for the command's environment ("A=1 B= "), or "".
Result Recutil(const std::string& args, const std::string& env = "") {
  Result r;
  FILE* p = ::popen((env + BinDir() + "/recutil " + args + " 2>&1").c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  int status = ::pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Record length 20; key 0 bytes 1-4 unique; key 1 bytes 5-6 with duplicates.
// `version`: byte 5 of the Create buffer, as dictionaries of the interface's
// later versions carry it.
std::string Dictionary(std::uint8_t version = 0) {
  FileSpec file_spec;
  file_spec.version = version;
  file_spec.record_length = 20;
  file_spec.page_size = 1024;
  KeyDef k0, k1;
  KeySegment s0, s1;
  s0.position = 1;
  s0.length = 4;
  s1.position = 5;
  s1.length = 2;
  s1.flags = kKeyFlagDuplicates;
  k0.segments = {s0};
  k1.segments = {s1};
  file_spec.keys = {k0, k1};
  std::string buffer = BuildCreateBuffer(file_spec);
  std::string dict(2, '\0');
  dict[0] = static_cast<char>(buffer.size() & 0xFF);
  dict[1] = static_cast<char>(buffer.size() >> 8);
  return dict + buffer;
}

std::string Sequential(const std::vector<std::string>& records, bool end = true) {
  std::string out;
  for (const std::string& r : records) AppendSequentialRecord(r, &out);
  if (end) out += kEndOfFile;
  return out;
}

class RecutilTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string templ = MakeTestDirectory("kel-recutil");
    ASSERT_FALSE(templ.empty());
    dir_ = templ;
    Write(P("d.xdf"), Dictionary());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string P(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
};

// A dictionary written for the installed record manager carries the file
// version in byte 5: the file is created, and stat shows that version.
TEST_F(RecutilTest, ADictionaryWithAFileVersionCreatesItsFile) {
  Write(P("v.xdf"), Dictionary(0x60));
  Result r = Recutil("create " + P("v.dat") + " " + P("v.xdf"));
  ASSERT_EQ(r.code, 0) << r.output;
  r = Recutil("stat " + P("v.dat"));
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("File version       = 6.0"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Keys               = 2"), std::string::npos) << r.output;
  Write(P("w.xdf"), Dictionary(0x95));
  ASSERT_EQ(Recutil("create " + P("w.dat") + " " + P("w.xdf")).code, 0);
  r = Recutil("stat " + P("w.dat"));
  EXPECT_NE(r.output.find("File version       = 9.5"), std::string::npos) << r.output;
}

TEST_F(RecutilTest, CreateLoadSaveRoundTripEveryByte) {
  const std::vector<std::string> records = {
      std::string("B001Y1\r\n\x1a\0,99 bytes", 20),
      std::string("A001X1\x98\x80 plain text", 20),
      std::string("C001X1", 6) + std::string(14, '\0'),
  };
  Write(P("in.seq"), Sequential(records));
  Result r = Recutil("create " + P("f.dat") + " " + P("d.xdf"));
  ASSERT_EQ(r.code, 0) << r.output;
  r = Recutil("load " + P("f.dat") + " " + P("in.seq"));
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("3 records loaded"), std::string::npos) << r.output;
  r = Recutil("save " + P("f.dat") + " " + P("out.seq"));
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(Read(P("out.seq")), Read(P("in.seq")));  // physical order = load order
  r = Recutil("save " + P("f.dat") + " " + P("k1.seq") + " --key 1");
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(Read(P("k1.seq")), Sequential({records[1], records[2], records[0]}));
  r = Recutil("stat " + P("f.dat"));
  ASSERT_EQ(r.code, 0) << r.output;
  for (const char* part : {"Record length      = 20", "Page size          = 1024",
                           "Total records      = 3", "Keys               = 2"}) {
    EXPECT_NE(r.output.find(part), std::string::npos) << part << "\n" << r.output;
  }
  EXPECT_NE(r.output.find("1    1    5        2      String           0001  Yes  No"),
            std::string::npos)
      << r.output;
  r = Recutil("dump " + P("f.dat") + " --key 0");
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("A001X1ÿÇ plain text"), std::string::npos) << r.output;
  EXPECT_LT(r.output.find("A001"), r.output.find("B001"));
  r = Recutil("check " + P("f.dat"));
  EXPECT_EQ(r.code, 0) << r.output;
  // Loading the same records again: a duplicate key, nothing loaded.
  r = Recutil("load " + P("f.dat") + " " + P("in.seq"));
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.output.find("record 1 of"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("status 5"), std::string::npos) << r.output;
}

TEST_F(RecutilTest, BadInputGivesAClearMessageAndChangesNothing) {
  ASSERT_EQ(Recutil("create " + P("f.dat") + " " + P("d.xdf")).code, 0);
  const std::string good(20, 'g');
  std::string truncated_dict = Dictionary().substr(0, 20);
  std::string bad_page = Dictionary();
  bad_page[2 + 2] = 0x11;  // page size 0x411
  Write(P("trunc.xdf"), truncated_dict);
  Write(P("page.xdf"), bad_page);
  Write(P("wrong.seq"),
        Sequential({"A001" + good.substr(4), "A002" + good.substr(4), "A003" + good.substr(5)}));
  Write(P("dup.seq"), Sequential({"A001" + good.substr(4), "A001" + good.substr(4)}));
  Write(P("cut.seq"), Sequential({"A001" + good.substr(4)}).substr(0, 12));
  Write(P("text.dat"), "not a data file at all\r\n");
  struct Case {
    const char* name;
    std::string args;
    int code;
    std::vector<std::string> parts;
  } cases[] = {
      {"truncated dictionary",
       "create " + P("new.dat") + " " + P("trunc.xdf"),
       2,
       {"trunc.xdf", "truncated dictionary"}},
      {"bad page size",
       "create " + P("new.dat") + " " + P("page.xdf"),
       2,
       {"new.dat", "status 24"}},
      {"existing file", "create " + P("f.dat") + " " + P("d.xdf"), 2, {"f.dat", "status 59"}},
      {"wrong record length",
       "load " + P("f.dat") + " " + P("wrong.seq"),
       2,
       {"wrong.seq", "record 3", "length 19", "nothing loaded"}},
      {"duplicate inside the load",
       "load " + P("f.dat") + " " + P("dup.seq"),
       2,
       {"record 2", "status 5", "nothing loaded"}},
      {"cut load file", "load " + P("f.dat") + " " + P("cut.seq"), 2, {"record 1", "ends inside"}},
      {"not a data file", "stat " + P("text.dat"), 2, {"text.dat", "status 30", "not a data file"}},
      {"missing file", "save " + P("none.dat") + " " + P("o.seq"), 2, {"none.dat", "status 12"}},
      {"missing load file", "load " + P("f.dat") + " " + P("none.seq"), 2, {"none.seq"}},
      {"no command", "", 1, {"usage"}},
      {"unknown command", "frobnicate x", 1, {"usage"}},
      {"bad key number", "save a b --key x", 1, {"--key"}},
      {"help", "--help", 0, {"usage: recutil", "load FILE IN", "--server CONNINFO"}},
      {"copy without a server",
       "copy to-server --server '' --root " + dir_,
       1,
       {"needs a server", "KELDB"}},
      {"copy without a root",
       "copy to-server --server dbname=x --root ''",
       1,
       {"needs the installation root"}},
      // Without names the schema's catalogue lists the files: the server
      // must answer.
      {"copy of every file from an unreachable server",
       "copy to-files --server 'host=" + dir_ + " port=1 connect_timeout=2' --root " + dir_,
       2,
       {"the server (schema kel)", "cannot list the data files", "status 2"}},
      // Before any connection: the server would name this file wrongly.
      {"file outside the root on the server",
       "stat /elsewhere/f.dat --server dbname=x --root " + dir_,
       2,
       {"/elsewhere/f.dat", "not under the installation root " + dir_ + "/"}},
      {"copy of a file outside the root",
       "copy to-server /elsewhere/f.dat --server dbname=x --root " + dir_,
       2,
       {"not under the installation root"}},
      {"owner name too long", "stat f.dat --owner NINECHARS", 1, {"--owner"}},
  };
  for (const Case& c : cases) {
    Result r = Recutil(c.args);
    EXPECT_EQ(r.code, c.code) << c.name << "\n" << r.output;
    for (const std::string& part : c.parts) {
      EXPECT_NE(r.output.find(part), std::string::npos) << c.name << ": " << part << "\n"
                                                        << r.output;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(P("new.dat")));
  EXPECT_FALSE(std::filesystem::exists(P("o.seq")));
  EXPECT_EQ(Read(P("text.dat")), "not a data file at all\r\n");
  Result r = Recutil("stat " + P("f.dat"));
  EXPECT_NE(r.output.find("Total records      = 0"), std::string::npos) << r.output;
}

// The installed record manager's files, played by the stand-in behind the
// counting library: every command goes through the library that --manager,
// KELBTR or the installation's Gestor names; --no-manager goes back to ours.
TEST_F(RecutilTest, EveryCommandThroughTheInstalledRecordManagersLibrary) {
  const std::string calls = P("calls.txt");
  const std::string env = "KELBTR= KELDB= KELBTR_NEXT=" + std::string(KEL_STANDIN_LIBRARY) +
                          " KELBTR_COUNT=" + calls + " ";
  auto counted = [&]() {
    std::ifstream in(calls);
    return static_cast<int>(
        std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
  };
  const std::string manager = " --manager " + std::string(KEL_COUNTING_LIBRARY) + " ";
  const std::vector<std::string> records = {std::string("B001Y1 two", 10) + std::string(10, '\0'),
                                            std::string("A001X1 one", 10) + std::string(10, 'x')};
  Write(P("in.seq"), Sequential(records));
  struct Step {
    const char* what;
    std::string args;
    int code;
    std::vector<std::string> parts;
  };
  const Step steps[] = {
      {"create", "create " + P("f.dat") + " " + P("d.xdf"), 0, {"created"}},
      {"load", "load " + P("f.dat") + " " + P("in.seq"), 0, {"2 records loaded"}},
      {"load again: nothing",
       "load " + P("f.dat") + " " + P("in.seq"),
       2,
       {"record 1", "status 5", "nothing loaded"}},
      {"save", "save " + P("f.dat") + " " + P("out.seq") + " --key 0", 0, {"2 records saved"}},
      {"stat", "stat " + P("f.dat"), 0, {"Total records      = 2"}},
      {"dump", "dump " + P("f.dat") + " --key 0", 0, {"A001X1 one"}},
      {"check", "check " + P("f.dat"), 0, {"ok"}},
  };
  for (const Step& step : steps) {
    const int before = counted();
    Result r = Recutil(step.args + manager, env);
    EXPECT_EQ(r.code, step.code) << step.what << "\n" << r.output;
    for (const std::string& part : step.parts) {
      EXPECT_NE(r.output.find(part), std::string::npos) << step.what << ": " << part << "\n"
                                                        << r.output;
    }
    EXPECT_GT(counted(), before) << step.what << ": no call reached the library";
  }
  EXPECT_EQ(Read(P("out.seq")), Sequential({records[1], records[0]}));

  // The installation's Gestor, and KELBTR over it; --no-manager: ours.
  Write(P("Nuri.ini"), "[Dades]\r\nGestor=" + std::string(KEL_COUNTING_LIBRARY) + "\r\n");
  int before = counted();
  Result r = Recutil("stat " + P("f.dat") + " --root " + dir_, env);
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_GT(counted(), before) << "Gestor";
  before = counted();
  r = Recutil("stat " + P("f.dat") + " --no-manager --root " + dir_, env);
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(counted(), before) << "--no-manager";
  Write(P("Nuri.ini"), "[Dades]\r\nGestor=/nonexistent/WBTRV32.DLL\r\n");
  r = Recutil("stat " + P("f.dat") + " --root " + dir_, env);
  EXPECT_EQ(r.code, 2) << r.output;
  EXPECT_NE(r.output.find("/nonexistent/WBTRV32.DLL cannot be loaded"), std::string::npos)
      << r.output;
  r = Recutil("stat " + P("f.dat") + " --root " + dir_,
              env + "KELBTR=" + std::string(KEL_COUNTING_LIBRARY) + " ");
  EXPECT_EQ(r.code, 0) << "KELBTR over Gestor\n" << r.output;
}

TEST_F(RecutilTest, ARecordManagerThatCannotServeIsRefusedBeforeAnythingIsTouched) {
  Write(P("lib.so"), "not a library");
  struct Case {
    const char* name;
    std::string args;
    int code;
    std::vector<std::string> parts;
  } cases[] = {
      {"missing library",
       "create " + P("new.dat") + " " + P("d.xdf") + " --manager /no/libx.so",
       2,
       {"/no/libx.so", "cannot be loaded"}},
      {"not a library",
       "create " + P("new.dat") + " " + P("d.xdf") + " --manager " + P("lib.so"),
       2,
       {"lib.so", "cannot be loaded"}},
      {"library without BTRCALL",
       "create " + P("new.dat") + " " + P("d.xdf") + " --manager libm.so.6",
       2,
       {"libm.so.6", "no entry point BTRCALL"}},
      {"a library and a server",
       "stat " + P("f.dat") + " --manager " + std::string(KEL_STANDIN_LIBRARY) +
           " --server dbname=x",
       1,
       {"two places", "--no-manager"}},
      {"a move without a library",
       "copy from-manager --no-manager --root " + dir_,
       1,
       {"copy from-manager needs the installed record manager's library", "--manager"}},
      {"a move without a root",
       "copy to-manager --root '' --manager " + std::string(KEL_STANDIN_LIBRARY),
       1,
       {"needs the installation root"}},
      {"a move of a file outside the root",
       "copy to-manager /elsewhere/f.dat --root " + dir_ + " --manager " +
           std::string(KEL_STANDIN_LIBRARY),
       2,
       {"not under the installation root"}},
      {"help", "--help", 0, {"copy from-manager", "copy to-manager", "--manager LIB"}},
  };
  for (const Case& c : cases) {
    Result r = Recutil(c.args, "KELBTR= KELDB= ");
    EXPECT_EQ(r.code, c.code) << c.name << "\n" << r.output;
    for (const std::string& part : c.parts) {
      EXPECT_NE(r.output.find(part), std::string::npos) << c.name << ": " << part << "\n"
                                                        << r.output;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(P("new.dat")));
}

// A whole installation out of the installed record manager's files into
// ours and back, with the real tool: every record byte for byte, each
// side's files kept.
TEST_F(RecutilTest, AWholeInstallationOutOfTheInstalledRecordManagerAndBack) {
  std::filesystem::create_directories(P("TAULES"));
  std::filesystem::create_directories(P("ddf"));
  Write(P("ddf/UPaisos.xdf"), Dictionary());
  const std::string manager = " --manager " + std::string(KEL_STANDIN_LIBRARY) + " --root " + dir_;
  const std::string env = "KELBTR= KELDB= ";
  std::vector<std::string> records;
  for (int i = 0; i < 40; ++i) {
    std::string r = "K" + std::to_string(100 + i) + "Y1 record " + std::to_string(i);
    r.resize(20, '\x87');
    records.push_back(r);
  }
  Write(P("in.seq"), Sequential(records));
  for (const char* file : {"TAULES/UPaisos.dat", "menu.dat"}) {
    ASSERT_EQ(Recutil("create " + P(file) + " " + P("d.xdf") + manager, env).code, 0);
    ASSERT_EQ(Recutil("load " + P(file) + " " + P("in.seq") + manager, env).code, 0);
  }
  Result r = Recutil("copy from-manager" + manager, env);
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("TAULES/UPaisos.dat: 40 records moved to SQLite files, the file it was "
                          "kept as TAULES/UPaisos.dat.gestor"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("2 files, 80 records moved to SQLite files"), std::string::npos)
      << r.output;
  for (const char* file : {"TAULES/UPaisos.dat", "menu.dat"}) {
    ASSERT_EQ(Recutil("save " + P(file) + " " + P("ours.seq") + " --no-manager", env).code, 0);
    EXPECT_EQ(Read(P("ours.seq")), Read(P("in.seq"))) << file;
  }
  r = Recutil("copy to-manager" + manager, env);
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("2 files, 80 records moved to the installed record manager"),
            std::string::npos)
      << r.output;
  for (const char* file : {"TAULES/UPaisos.dat", "menu.dat"}) {
    ASSERT_EQ(Recutil("save " + P(file) + " " + P("theirs.seq") + manager, env).code, 0);
    EXPECT_EQ(Read(P("theirs.seq")), Read(P("in.seq"))) << file;
    EXPECT_TRUE(std::filesystem::exists(P(std::string(file) + ".gestor")));
    EXPECT_TRUE(std::filesystem::exists(P(std::string(file) + ".kel")));
  }
  // Again: the backups are in the way.
  r = Recutil("copy to-manager" + manager, env);
  EXPECT_EQ(r.code, 2) << r.output;
  EXPECT_NE(r.output.find("nothing moved"), std::string::npos) << r.output;
}

// The same commands on a server, the file named by its path under the
// installation root whatever its letter case; copies there and back keep
// every byte.
TEST_F(RecutilTest, ServerFilesByTheirPathUnderTheRoot) {
  const char* pg = std::getenv("KEL_TEST_PG");
  if (pg == nullptr || *pg == '\0') GTEST_SKIP() << "no test server (KEL_TEST_PG)";
  const std::string schema = "recutil_" + std::to_string(::getpid());
  const std::string server = "--server '" + std::string(pg) + "' --schema " + schema;
  const std::string inst = P("inst"), back = P("back");
  std::filesystem::create_directories(inst + "/TAULES");
  std::filesystem::create_directories(back + "/TAULES");
  const std::string file = inst + "/TAULES/UPaisos.dat";
  const std::vector<std::string> records = {
      std::string("B001Y1\r\n\x1a\0,99 bytes", 20),
      std::string("A001X1\x98\x80 plain text", 20),
  };
  Write(P("in.seq"), Sequential(records));
  ASSERT_EQ(Recutil("create " + file + " " + P("d.xdf")).code, 0);
  ASSERT_EQ(Recutil("load " + file + " " + P("in.seq")).code, 0);
  ASSERT_EQ(Recutil("save " + file + " " + P("sqlite.seq")).code, 0);

  Result r = Recutil(server + " --root " + inst + " copy to-server");
  ASSERT_EQ(r.code, 0) << r.output;
  for (const char* part : {"TAULES/UPaisos.dat: 2 records copied", "table taules/upaisos",
                           "1 files, 2 records copied to the server (schema "}) {
    EXPECT_NE(r.output.find(part), std::string::npos) << part << "\n" << r.output;
  }
  r = Recutil(server + " --root " + inst + " copy to-server");
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.output.find("exists already"), std::string::npos) << r.output;

  // KELDB and KELROOT instead of the options; another spelling of the name.
  ::setenv("KELDB", pg, 1);
  ::setenv("KELROOT", (inst + "/").c_str(), 1);
  const std::string other = inst + "/taules/UPAISOS.DAT";
  const std::string on = "--schema " + schema + " ";
  r = Recutil(on + "stat " + other);
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("Total records      = 2"), std::string::npos) << r.output;
  r = Recutil(on + "check " + other);
  EXPECT_EQ(r.code, 0) << r.output;
  ASSERT_EQ(Recutil(on + "save " + other + " " + P("server.seq")).code, 0);
  EXPECT_EQ(Read(P("server.seq")), Read(P("sqlite.seq")));
  r = Recutil(on + "dump " + other + " --key 0");
  EXPECT_LT(r.output.find("A001"), r.output.find("B001")) << r.output;
  // The same statuses as on the SQLite file.
  r = Recutil(on + "load " + other + " " + P("in.seq"));
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.output.find("status 5"), std::string::npos) << r.output;
  r = Recutil(on + "stat " + inst + "/TAULES/None.dat");
  EXPECT_NE(r.output.find("status 12"), std::string::npos) << r.output;
  ::unsetenv("KELDB");
  ::unsetenv("KELROOT");

  // Back into SQLite files under another root: the same table.
  const std::string copy = back + "/TAULES/UPaisos.dat";
  r = Recutil(server + " --root " + back + " copy to-files " + copy);
  ASSERT_EQ(r.code, 0) << r.output;
  ASSERT_EQ(Recutil("save " + copy + " " + P("back.seq")).code, 0);
  EXPECT_EQ(Read(P("back.seq")), Read(P("sqlite.seq")));
  r = Recutil("stat " + copy);
  EXPECT_EQ(r.output.substr(r.output.find('\n')),
            Recutil("stat " + file).output.substr(Recutil("stat " + file).output.find('\n')));
}

// Pointed at an installation (--root or KELROOT), recutil reads its
// "Nuri.ini" [Dades] as the program does, so it reaches the very files the
// program converts; its options override it.
TEST_F(RecutilTest, AnInstallationsNuriIniSaysWhereItsFilesAre) {
  const std::string inst = P("inst");
  std::filesystem::create_directories(inst);
  const std::string file = inst + "/f.dat";
  ASSERT_EQ(Recutil("create " + file + " " + P("d.xdf")).code, 0);
  // A server that cannot be reached (no such socket directory): recutil
  // goes there, and says so, instead of quietly reading the SQLite file.
  Write(inst + "/Nuri.ini",
        "[Usuari]\r\nIdioma=CAT\r\n[Dades]\r\nServidor=host=" + dir_ +
            "/no-server dbname=kel connect_timeout=2\r\nEsquema=office\r\n");
  ::unsetenv("KELDB");
  Result r = Recutil("--root " + inst + " stat " + file);
  EXPECT_EQ(r.code, 2) << r.output;
  EXPECT_NE(r.output.find("status 2"), std::string::npos) << r.output;
  ::setenv("KELROOT", (inst + "/").c_str(), 1);
  r = Recutil("stat " + file);
  EXPECT_EQ(r.code, 2) << r.output;
  // The options win: --server "" is the SQLite files.
  r = Recutil("--server '' stat " + file);
  EXPECT_EQ(r.code, 0) << r.output;
  ::unsetenv("KELROOT");
  // Without an installation named, the current directory's Nuri.ini is not
  // read.
  r = Recutil("stat " + file);
  EXPECT_EQ(r.code, 0) << r.output;

  const char* pg = std::getenv("KEL_TEST_PG");
  if (pg == nullptr || *pg == '\0') return;
  // Servidor and Esquema of Nuri.ini name the server and the schema of a copy.
  const std::string schema = "recutil_ini_" + std::to_string(::getpid());
  Write(inst + "/Nuri.ini",
        "[Dades]\r\nServidor=" + std::string(pg) + "\r\nEsquema=" + schema + "\r\n");
  r = Recutil("--root " + inst + " copy to-server");
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("(schema " + schema + ")"), std::string::npos) << r.output;
  r = Recutil("--root " + inst + " stat " + file);
  EXPECT_EQ(r.code, 0) << r.output;
  r = Recutil("--root " + inst + " --schema elsewhere_" + schema + " stat " + file);
  EXPECT_NE(r.output.find("status 12"), std::string::npos) << r.output;
}

// A whole installation to the server and back without naming a file: every
// table of the schema comes back as ROOT/NAME.dat with every byte, in a
// directory found whatever its letter case or made when missing.
TEST_F(RecutilTest, AWholeInstallationToTheServerAndBack) {
  const char* pg = std::getenv("KEL_TEST_PG");
  if (pg == nullptr || *pg == '\0') GTEST_SKIP() << "no test server (KEL_TEST_PG)";
  const std::string schema = "recutil_all_" + std::to_string(::getpid());
  const std::string server = "--server '" + std::string(pg) + "' --schema " + schema;
  const std::string inst = P("inst"), back = P("back"), again = P("again");
  std::filesystem::create_directories(inst + "/TAULES/Sub");
  std::filesystem::create_directories(back);
  std::filesystem::create_directories(again + "/TAULES");
  const std::vector<std::string> sources = {"Config.dat", "TAULES/Sub/Rutes.dat",
                                            "TAULES/UPaisos.dat"};
  const std::vector<std::vector<std::string>> records = {
      {},
      {std::string("R001Z9", 6) + std::string(14, '\0')},
      {std::string("B001Y1\r\n\x1a\0,99 bytes", 20), std::string("A001X1\x98\x80 plain text", 20)},
  };
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const std::string file = inst + "/" + sources[i];
    ASSERT_EQ(Recutil("create " + file + " " + P("d.xdf")).code, 0) << file;
    Write(P("in.seq"), Sequential(records[i]));
    ASSERT_EQ(Recutil("load " + file + " " + P("in.seq")).code, 0) << file;
  }
  // Nothing on the server yet: no schema, nothing to copy.
  Result r = Recutil(server + " --root " + back + " copy to-files");
  EXPECT_EQ(r.code, 2) << r.output;
  EXPECT_NE(r.output.find("no data files in the schema"), std::string::npos) << r.output;
  EXPECT_TRUE(std::filesystem::is_empty(back));

  r = Recutil(server + " --root " + inst + " copy to-server");
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("3 files, 3 records copied to the server"), std::string::npos)
      << r.output;

  // Into an empty root: the directories are made, in the server's spelling.
  r = Recutil(server + " --root " + back + " copy to-files");
  ASSERT_EQ(r.code, 0) << r.output;
  const std::vector<std::string> lines = {
      "config.dat: 0 records copied to SQLite files",
      "taules/sub/rutes.dat: 1 of 1 records\ntaules/sub/rutes.dat: 1 records copied to SQLite "
      "files",
      "taules/upaisos.dat: 2 of 2 records\ntaules/upaisos.dat: 2 records copied to SQLite files",
      "3 files, 3 records copied to SQLite files\n"};
  std::size_t at = 0;
  for (const std::string& line : lines) {
    const std::size_t found = r.output.find(line, at);
    EXPECT_NE(found, std::string::npos) << line << "\n" << r.output;
    if (found != std::string::npos) at = found + line.size();
  }
  // Into a root whose directory exists in another letter case: found as it is.
  r = Recutil(server + " --root " + again + " copy to-files");
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_FALSE(std::filesystem::exists(again + "/taules"));
  const std::vector<std::string> copies = {"config.dat", "taules/sub/rutes.dat",
                                           "taules/upaisos.dat"};
  const std::vector<std::string> spelled = {"config.dat", "TAULES/sub/rutes.dat",
                                            "TAULES/upaisos.dat"};
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const std::string source = inst + "/" + sources[i];
    ASSERT_EQ(Recutil("save " + source + " " + P("source.seq")).code, 0) << source;
    for (const std::string& copy : {back + "/" + copies[i], again + "/" + spelled[i]}) {
      ASSERT_TRUE(std::filesystem::exists(copy)) << copy;
      ASSERT_EQ(Recutil("save " + copy + " " + P("copy.seq")).code, 0) << copy;
      EXPECT_EQ(Read(P("copy.seq")), Read(P("source.seq"))) << copy;
      r = Recutil("stat " + copy);
      const Result want = Recutil("stat " + source);
      EXPECT_EQ(r.output.substr(r.output.find('\n')), want.output.substr(want.output.find('\n')))
          << copy;
    }
  }
  // A second copy finds every file there already; --replace overwrites them.
  r = Recutil(server + " --root " + back + " copy to-files");
  EXPECT_EQ(r.code, 2) << r.output;
  EXPECT_NE(r.output.find("0 files, 0 records copied to SQLite files; 3 files failed"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("exists already"), std::string::npos) << r.output;
  r = Recutil(server + " --root " + back + " copy to-files --replace");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("3 files, 3 records copied to SQLite files"), std::string::npos)
      << r.output;
}

}  // namespace
}  // namespace kel

namespace kel {
namespace {

// What recutil check says is damaged, from the check's lines.
TEST(DamageSummaryTest, NamesEachKindOfDamageOnce) {
  struct Case {
    const char* report;
    const char* summary;
  } cases[] = {
      {"", ""},
      {"sqlite: row 2 missing from index kel_key1\nsqlite: row 9 missing from index kel_key1\n",
       "the index of key 1"},
      {"sqlite: non-unique entry in index kel_key0\nsqlite: row 3 missing from index kel_key12\n",
       "the index of key 0, the index of key 12"},
      {"record 2: key 1 does not match its bytes\nrecord 2: key 0 does not match its bytes\n"
       "record 7: key 1 does not match its bytes\n",
       "the keys of 2 records"},
      {"record 5: key 0 does not match its bytes\n", "the keys of 1 record"},
      {"record 4: length 12\n", "1 record of the wrong length"},
      {"sqlite: *** in database main ***\nMultiple uses for byte 3131 of page 5\n"
       "key 1: count of unique values 16, found 21\ncount of records 200, found 199\n",
       "pages of the file, the counts"},
      {"records: not readable\n", "the records (they cannot be read to the end)"},
  };
  for (const Case& c : cases) EXPECT_EQ(DamageSummary(c.report), c.summary) << c.report;
}

}  // namespace
}  // namespace kel
