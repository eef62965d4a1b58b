// Moving an installation between the installed record manager's files
// (played by the stand-in library) and ours, in place.
#include "tools/recutil/manager_move.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "recman/file_spec.h"
#include "recman/recman.h"
#include "tools/recutil/data_file.h"
#include "tests/support/test_dir.h"
#include "tools/recutil/installation.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLength = 12;

std::string Spec(std::uint16_t page_size = 1024) {
  FileSpec spec;
  spec.record_length = kLength;
  spec.page_size = page_size;
  KeySegment s0;
  s0.position = 1;
  s0.length = 4;
  KeyDef k0;
  k0.segments = {s0};
  spec.keys = {k0};
  return BuildCreateBuffer(spec);
}

std::string Record(const std::string& key) {
  std::string r = key;
  r.resize(kLength, '.');
  r[kLength - 1] = '\x85';
  return r;
}

class ManagerMoveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dir = MakeTestDirectory("kel-move");
    ASSERT_FALSE(dir.empty());
    root_ = RootFolder(dir);
    fs::create_directories(root_ + "TAULES");
    fs::create_directories(root_ + "DDF");
    own_.install_root = root_;
    manager_ = own_;
    manager_.library = KEL_STANDIN_LIBRARY;
    files_ = {root_ + "TAULES/UPaisos.dat", root_ + "menu.dat"};
    // The installed record manager's files to start with.
    for (const std::string& path : files_) {
      MakeFile(manager_, path, {Record("A" + path.substr(path.size() - 6, 2)), Record("BBBB")});
    }
  }
  void TearDown() override {
    ResetRecordManagerConfig();
    fs::remove_all(root_);
  }

  static void MakeFile(const RecordManagerConfig& config, const std::string& path,
                       const std::vector<std::string>& records) {
    ConfigureRecordManager(config);
    ASSERT_EQ(CreateDataFile(path, Spec(), false), kStatusOk) << path;
    DataFile f(path);
    ASSERT_EQ(f.Open(kOpenNormal), kStatusOk);
    std::size_t failed = 0;
    ASSERT_EQ(f.InsertRecords(records, &failed), kStatusOk);
    ASSERT_EQ(f.Close(), kStatusOk);
    ResetRecordManagerConfig();
  }
  // The records of `path` read through `config`'s record manager, and its
  // page size; "" records when it does not open.
  static std::vector<std::string> Records(const RecordManagerConfig& config,
                                          const std::string& path, int* page_size = nullptr) {
    ConfigureRecordManager(config);
    std::vector<std::string> out;
    DataFile f(path);
    if (f.Open(kOpenReadOnly) == kStatusOk) {
      std::string r;
      for (std::int16_t st = f.Next(true, 0, &r); st == kStatusOk; st = f.Next(false, 0, &r)) {
        out.push_back(r);
      }
      std::string stat;
      if (page_size != nullptr && f.Stat(&stat) == kStatusOk) {
        *page_size = static_cast<unsigned char>(stat[2]) | static_cast<unsigned char>(stat[3]) << 8;
      }
    }
    ResetRecordManagerConfig();
    return out;
  }
  MoveRequest Request(bool to_manager) const {
    MoveRequest r;
    r.to_manager = to_manager;
    r.files = files_;
    r.manager = manager_;
    r.own_files = own_;
    r.root = root_;
    return r;
  }
  static std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // Every file under the root with its bytes: "nothing changed" is the same
  // listing before and after.
  std::vector<std::string> Listing() const {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      if (e.is_regular_file()) out.push_back(e.path().string() + "=" + Bytes(e.path().string()));
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  std::string root_;
  RecordManagerConfig own_, manager_;
  std::vector<std::string> files_;
};

// Out of the installed record manager and back: every file moves, its
// records byte for byte, the source kept beside it each time; a dictionary
// that describes a file gives its Create buffer.
TEST_F(ManagerMoveTest, OutOfTheInstalledRecordManagerAndBack) {
  std::ofstream(root_ + "DDF/UPaisos.xdf", std::ios::binary)
      << std::string("\x20\x00", 2) + Spec(2048).substr(0, 32);
  std::vector<std::vector<std::string>> original;
  for (const std::string& path : files_) original.push_back(Records(manager_, path));
  ASSERT_EQ(original[0].size(), 2u);

  MoveOutcome outcome;
  ASSERT_EQ(MoveInstallation(Request(false), nullptr, &outcome), kStatusOk);
  ASSERT_TRUE(outcome.swapped);
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const MovedFile& f = outcome.files[i];
    EXPECT_EQ(f.status, kStatusOk) << f.path << ": " << f.what;
    EXPECT_EQ(f.records, 2u);
    EXPECT_EQ(f.backup, files_[i] + ".gestor");
    EXPECT_EQ(Records(own_, files_[i]), original[i]) << "ours now";
    EXPECT_EQ(Records(manager_, files_[i] + ".gestor"), original[i]) << "theirs kept";
    EXPECT_FALSE(fs::exists(files_[i] + kStagingSuffix));
    EXPECT_FALSE(fs::exists(files_[i] + kStagingSuffix + std::string("-locks")));
  }
  int page = 0;
  (void)Records(own_, files_[0], &page);
  EXPECT_EQ(page, 2048) << "made from its dictionary";
  (void)Records(own_, files_[1], &page);
  EXPECT_EQ(page, 1024) << "no dictionary: the layout of the file";

  ASSERT_EQ(MoveInstallation(Request(true), nullptr, &outcome), kStatusOk);
  for (std::size_t i = 0; i < files_.size(); ++i) {
    EXPECT_EQ(outcome.files[i].backup, files_[i] + ".kel");
    EXPECT_EQ(Records(manager_, files_[i]), original[i]) << "theirs again";
    EXPECT_EQ(Records(own_, files_[i] + ".kel"), original[i]) << "ours kept";
  }
}

// One file that cannot be copied (another program holds it): every copy
// made is removed and nothing else changes. A backup in the way refuses the
// move before anything is copied.
TEST_F(ManagerMoveTest, AFailureLeavesEveryFileAsItWas) {
  const std::vector<std::string> before = Listing();
  {
    ConfigureRecordManager(manager_);
    DataFile held(files_[1]);
    ASSERT_EQ(held.Open(kOpenNormal), kStatusOk);
    ResetRecordManagerConfig();
    MoveOutcome outcome;
    EXPECT_EQ(MoveInstallation(Request(false), nullptr, &outcome), kStatusFileInUse);
    EXPECT_FALSE(outcome.swapped);
    EXPECT_TRUE(outcome.files[0].copied);
    EXPECT_EQ(outcome.files[0].status, kStatusOk);
    EXPECT_EQ(outcome.files[1].status, kStatusFileInUse);
  }
  EXPECT_EQ(Listing(), before);

  std::ofstream(files_[0] + ".gestor") << "an earlier move";
  const std::vector<std::string> with_backup = Listing();
  MoveOutcome outcome;
  EXPECT_EQ(MoveInstallation(Request(false), nullptr, &outcome), kStatusFileAlreadyExists);
  EXPECT_NE(outcome.files[0].what.find(".gestor"), std::string::npos) << outcome.files[0].what;
  EXPECT_FALSE(outcome.files[1].copied);
  EXPECT_EQ(Listing(), with_backup);
  MoveRequest replacing = Request(false);
  replacing.replace = true;
  ASSERT_EQ(MoveInstallation(replacing, nullptr, &outcome), kStatusOk);
  EXPECT_EQ(Records(manager_, files_[0] + ".gestor").size(), 2u);
}

// A walk finds every *.dat file: one that the record manager does not take
// for a data file is left out, and the others move.
TEST_F(ManagerMoveTest, AWalkLeavesOutWhatIsNotADataFile) {
  std::ofstream(root_ + "TAULES/Notes.dat") << "not a data file at all";
  MoveRequest request = Request(false);
  request.files = DatFilesUnder(root_);
  request.walked = true;
  ASSERT_EQ(request.files.size(), 3u);
  MoveOutcome outcome;
  ASSERT_EQ(MoveInstallation(request, nullptr, &outcome), kStatusOk);
  int moved = 0, skipped = 0;
  for (const MovedFile& f : outcome.files) (f.skipped ? skipped : moved) += 1;
  EXPECT_EQ(moved, 2);
  EXPECT_EQ(skipped, 1);
  EXPECT_EQ(Bytes(root_ + "TAULES/Notes.dat"), "not a data file at all");
  EXPECT_FALSE(fs::exists(root_ + "TAULES/Notes.dat.gestor"));
}

}  // namespace
}  // namespace kel
