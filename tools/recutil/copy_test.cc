// Copies between two SQLite files: the same code path as a copy to or from a
// server, with the destination's engine chosen by its configuration.
#include "tools/recutil/copy.h"


#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "recman/admin.h"
#include "recman/file_spec.h"
#include "recman/recman.h"
#include "tools/recutil/data_file.h"
#include "tools/recutil/installation.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLength = 24;

// Key 0 bytes 1-4 unique; key 1 bytes 5-6 with duplicates, descending;
// key 2 bytes 7-10 a 4-byte integer through a collating table of its own.
std::string CreateBuffer() {
  FileSpec spec;
  spec.record_length = kLength;
  spec.page_size = 2048;
  KeySegment s0, s1, s2;
  s0.position = 1;
  s0.length = 4;
  s1.position = 5;
  s1.length = 2;
  s1.flags = kKeyFlagDuplicates | kKeyFlagDescending;
  s2.position = 7;
  s2.length = 4;
  s2.flags = kKeyFlagDuplicates | kKeyFlagModifiable | kKeyFlagAlternateCollating;
  KeyDef k0, k1, k2;
  k0.segments = {s0};
  k1.segments = {s1};
  k2.segments = {s2};
  spec.keys = {k0, k1, k2};
  std::string acs(265, '\0');
  acs[0] = static_cast<char>(0xAC);
  acs.replace(1, 8, "UPPER   ");
  for (int b = 0; b < 256; ++b) acs[9 + b] = static_cast<char>(b >= 'a' && b <= 'z' ? b - 32 : b);
  spec.acs = {acs};
  return BuildCreateBuffer(spec);
}

std::string Record(int n) {
  std::string r(kLength, '\0');
  const std::string id = std::to_string(1000 + n);
  r.replace(0, 4, id);
  r[4] = static_cast<char>('a' + n % 3);  // duplicates in key 1
  r[5] = '\r';
  r[6] = static_cast<char>(n & 0xFF);
  r[10] = '\x1a';
  r[11] = static_cast<char>(0x80 + n % 0x7F);
  return r;
}

class CopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string templ = MakeTestDirectory("kel-copy");
    ASSERT_FALSE(templ.empty());
    dir_ = templ;
    src_ = dir_ + "/SRC.dat";
    dst_ = dir_ + "/dst.dat";
  }
  void TearDown() override {
    std::uint32_t len = 0;
    (void)BTRCALL(kOpReset, nullptr, nullptr, &len, nullptr, 0, 0);
    ResetRecordManagerConfig();
    fs::remove_all(dir_);
  }

  void MakeSource(int records) {
    ASSERT_EQ(CreateDataFile(src_, CreateBuffer(), false), kStatusOk);
    DataFile f(src_);
    ASSERT_EQ(f.Open(kOpenNormal), kStatusOk);
    std::vector<std::string> all;
    for (int n = 0; n < records; ++n) all.push_back(Record(n));
    std::size_t failed = 0;
    ASSERT_EQ(InsertAll(f.block(), all, &failed), kStatusOk);
    ASSERT_EQ(f.Close(), kStatusOk);
  }

  // Every record in physical order and the Stat buffer.
  static void Contents(const std::string& path, std::vector<std::string>* records,
                       std::string* stat, const std::string& owner = "") {
    DataFile f(path);
    ASSERT_EQ(f.Open(kOpenReadOnly, owner), kStatusOk) << path;
    ASSERT_EQ(f.Stat(stat), kStatusOk);
    std::string r;
    std::int16_t st = f.Next(true, -1, &r);
    for (; st == kStatusOk; st = f.Next(false, -1, &r)) records->push_back(r);
    EXPECT_EQ(st, kStatusEndOfFile);
  }

  std::int16_t Copy(bool replace, const std::string& owner, std::uint32_t* copied,
                    std::string* what, std::vector<std::uint32_t>* progress = nullptr) {
    CopyRequest request;
    request.native_path = src_;
    request.destination_path = dst_;
    request.replace = replace;
    request.owner = owner;
    request.batch_bytes = 500 * kLength;
    return CopyDataFile(
        request,
        [progress](std::uint32_t done, std::uint32_t) {
          if (progress != nullptr) progress->push_back(done);
        },
        copied, what);
  }

  std::string dir_, src_, dst_;
};

// Sizes around the batch of inserts (500 records here), so a batch boundary
// cannot drop or repeat a record.
TEST_F(CopyTest, CopyHasTheSourcesSpecificationAndEveryRecordInOrder) {
  for (int records : {0, 1, 499, 500, 501, 1234}) {
    fs::remove(src_);
    fs::remove(dst_);
    MakeSource(records);
    std::uint32_t copied = 0;
    std::string what;
    std::vector<std::uint32_t> progress;
    ASSERT_EQ(Copy(false, "", &copied, &what, &progress), kStatusOk) << records << ": " << what;
    EXPECT_EQ(copied, static_cast<std::uint32_t>(records));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), static_cast<std::uint32_t>(records));
    std::vector<std::string> a, b;
    std::string stat_a, stat_b;
    Contents(src_, &a, &stat_a);
    Contents(dst_, &b, &stat_b);
    EXPECT_EQ(a, b) << records;
    EXPECT_EQ(stat_a, stat_b) << records << ": keys, collating table and counts";
  }
}

TEST_F(CopyTest, ExistingDestinationIsKeptUnlessReplaced) {
  MakeSource(3);
  ASSERT_EQ(CreateDataFile(dst_, CreateBuffer(), false), kStatusOk);
  std::uint32_t copied = 0;
  std::string what;
  EXPECT_EQ(Copy(false, "", &copied, &what), kStatusFileAlreadyExists);
  EXPECT_NE(what.find("--replace"), std::string::npos) << what;
  ASSERT_EQ(Copy(true, "", &copied, &what), kStatusOk) << what;
  EXPECT_EQ(copied, 3u);
  // Copying over a copy again gives the same file, not twice the records.
  ASSERT_EQ(Copy(true, "", &copied, &what), kStatusOk) << what;
  std::vector<std::string> b;
  std::string stat;
  Contents(dst_, &b, &stat);
  EXPECT_EQ(b.size(), 3u);
}

TEST_F(CopyTest, OwnerNameIsNeededAndCarriedOver) {
  MakeSource(2);
  {
    DataFile f(src_);
    ASSERT_EQ(f.Open(kOpenNormal), kStatusOk);
    ASSERT_EQ(f.SetOwner("NURI", 0), kStatusOk);
  }
  std::uint32_t copied = 0;
  std::string what;
  EXPECT_EQ(Copy(false, "", &copied, &what), kStatusInvalidOwner);
  EXPECT_NE(what.find("--owner"), std::string::npos) << what;
  EXPECT_FALSE(fs::exists(dst_));
  ASSERT_EQ(Copy(false, "NURI", &copied, &what), kStatusOk) << what;
  DataFile without(dst_);
  EXPECT_EQ(without.Open(kOpenReadOnly), kStatusInvalidOwner);
  std::vector<std::string> b;
  std::string stat;
  Contents(dst_, &b, &stat, "NURI");
  EXPECT_EQ(b.size(), 2u);
}

TEST_F(CopyTest, MissingSourceCreatesNothing) {
  std::uint32_t copied = 0;
  std::string what;
  EXPECT_EQ(Copy(false, "", &copied, &what), kStatusFileNotFound);
  EXPECT_NE(what.find("source"), std::string::npos);
  EXPECT_FALSE(fs::exists(dst_));
}

// A dictionary serves as the copy's Create buffer only when it describes the
// file: the same record length and keys, whatever its page size or flags.
TEST(DictionaryTest, DescribesTheFileOnlyWithItsRecordLengthAndKeys) {
  FileSpec base;
  ASSERT_EQ(ParseCreateBuffer(CreateBuffer().data(), CreateBuffer().size(), &base), kStatusOk);
  auto changed = [&](auto change) {
    FileSpec spec = base;
    change(&spec);
    return BuildCreateBuffer(spec);
  };
  struct Case {
    const char* what;
    std::string dictionary;
    bool describes;
  };
  const Case cases[] = {
      {"the same", CreateBuffer(), true},
      {"another page size", changed([](FileSpec* s) { s->page_size = 4096; }), true},
      {"another record length", changed([](FileSpec* s) { s->record_length = 30; }), false},
      {"a key segment elsewhere",
       changed([](FileSpec* s) { s->keys[1].segments[0].position = 15; }), false},
      {"a key segment longer", changed([](FileSpec* s) { s->keys[0].segments[0].length = 5; }),
       false},
      {"a key without duplicates",
       changed([](FileSpec* s) { s->keys[1].segments[0].flags &= ~kKeyFlagDuplicates; }), false},
      {"a key fewer", changed([](FileSpec* s) { s->keys.pop_back(); }), false},
      {"not a Create buffer", "garbage", false},
      {"empty", "", false},
  };
  const std::string stat = CreateBuffer();
  for (const Case& c : cases) {
    EXPECT_EQ(DictionaryDescribes(c.dictionary, stat), c.describes) << c.what;
  }
}

// (Where the stand-in library is built.)
#ifdef KEL_STANDIN_LIBRARY
// The installed record manager's side, played by the stand-in library: a
// copy from its file to ours and back gives the same records, byte for byte,
// the destination made from the dictionary when it describes the file.
TEST_F(CopyTest, BetweenTheInstalledRecordManagersFilesAndOursAndBack) {
  RecordManagerConfig manager;
  manager.library = KEL_STANDIN_LIBRARY;
  MakeSource(777);
  FileSpec spec;
  ASSERT_EQ(ParseCreateBuffer(CreateBuffer().data(), CreateBuffer().size(), &spec), kStatusOk);
  spec.page_size = 4096;
  const std::string dictionary = BuildCreateBuffer(spec);
  const std::string back = dir_ + "/back.dat";
  for (const bool with_dictionary : {false, true}) {
    fs::remove(dst_);
    fs::remove(back);
    CopyRequest out;
    out.native_path = src_;
    out.destination_path = dst_;
    out.to = manager;
    if (with_dictionary) out.dictionary = dictionary;
    std::uint32_t copied = 0;
    std::string what;
    ASSERT_EQ(CopyDataFile(out, nullptr, &copied, &what), kStatusOk) << what;
    EXPECT_EQ(copied, 777u);
    CopyRequest in;
    in.native_path = dst_;
    in.destination_path = back;
    in.from = manager;
    ASSERT_EQ(CopyDataFile(in, nullptr, &copied, &what), kStatusOk) << what;
    ResetRecordManagerConfig();
    std::vector<std::string> a, b, c;
    std::string stat_a, stat_b, stat_c;
    Contents(src_, &a, &stat_a);
    Contents(back, &c, &stat_c);
    ConfigureRecordManager(manager);
    Contents(dst_, &b, &stat_b);
    ResetRecordManagerConfig();
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, c);
    // The page size (bytes 2-3 of Stat) tells which Create buffer was used.
    EXPECT_EQ(static_cast<unsigned char>(stat_b[3]), with_dictionary ? 0x10 : 0x08);
  }
}

// Through a record manager without transactions a batch is all or nothing
// all the same: a record that fails takes the ones before it away again.
TEST_F(CopyTest, ABatchThroughAnotherRecordManagerIsAllOrNothing) {
  MakeSource(3);
  RecordManagerConfig manager;
  manager.library = KEL_STANDIN_LIBRARY;
  ConfigureRecordManager(manager);
  DataFile f(src_);
  ASSERT_EQ(f.Open(kOpenNormal), kStatusOk);
  EXPECT_FALSE(f.own_engine());
  std::size_t failed = 99;
  EXPECT_EQ(f.InsertRecords({Record(10), Record(11), Record(1), Record(12)}, &failed),
            kStatusDuplicateKey);
  EXPECT_EQ(failed, 2u);
  ASSERT_EQ(f.InsertRecords({Record(20), Record(21)}, &failed), kStatusOk);
  ASSERT_EQ(f.Close(), kStatusOk);
  ResetRecordManagerConfig();
  std::vector<std::string> records;
  std::string stat;
  Contents(src_, &records, &stat);
  EXPECT_EQ(records,
            (std::vector<std::string>{Record(0), Record(1), Record(2), Record(20), Record(21)}));
}
#endif  // KEL_STANDIN_LIBRARY

TEST(InstallationTest, DataFilesUnderTheRoot) {
  const std::string templ = MakeTestDirectory("kel-inst");
  ASSERT_FALSE(templ.empty());
  const std::string root = RootFolder(templ);
  ASSERT_EQ(root.back(), '/');
  fs::create_directories(root + "TAULES");
  fs::create_directories(root + "LOCKS");
  ASSERT_EQ(CreateDataFile(root + "TAULES/UPaisos.dat", CreateBuffer(), false), kStatusOk);
  ASSERT_EQ(CreateDataFile(root + "menu.dat", CreateBuffer(), false), kStatusOk);
  {
    DataFile f(root + "menu.dat");  // leaves the engine's side files behind while open
    ASSERT_EQ(f.Open(kOpenNormal), kStatusOk);
    for (const char* other : {"Nuri.ini", "LOCKS/UPaisos.lck", "TAULES/x.dat-wal"}) {
      std::FILE* out = std::fopen((root + other).c_str(), "w");
      ASSERT_NE(out, nullptr);
      std::fputs("SQLite format 3", out);  // no final zero: not a database
      std::fclose(out);
    }
    std::vector<std::string> expected = {root + "TAULES/UPaisos.dat", root + "menu.dat"};
    EXPECT_EQ(SqliteFilesUnder(root), expected);
  }
  EXPECT_TRUE(UnderRoot(root + "taules/upaisos.dat", root));
  EXPECT_TRUE(UnderRoot(AbsolutePath(root + "TAULES/../menu.dat"), root));
  EXPECT_FALSE(UnderRoot(root, root));
  EXPECT_FALSE(UnderRoot(root.substr(0, root.size() - 1) + "x/menu.dat", root));
  EXPECT_EQ(RootFolder(std::string(templ) + "\\TAULES\\"), root + "TAULES/");
  // Files named *.dat in any letter case, whatever their contents; not the
  // backups and copies of a move, nor the engine's side files.
  for (const char* other :
       {"TAULES/UVies.DAT", "notes.txt", "menu.dat.gestor", "menu.dat.kel-copy"}) {
    std::FILE* out = std::fopen((root + other).c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fclose(out);
  }
  const std::vector<std::string> dat = {root + "TAULES/UPaisos.dat", root + "TAULES/UVies.DAT",
                                        root + "menu.dat"};
  EXPECT_EQ(DatFilesUnder(root), dat);
  EXPECT_TRUE(IsSqliteFile(root + "menu.dat"));
  EXPECT_FALSE(IsSqliteFile(root + "TAULES/UVies.DAT"));
  fs::remove_all(templ);
}

}  // namespace
}  // namespace kel
