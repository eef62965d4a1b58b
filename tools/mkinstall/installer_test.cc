#include "tools/mkinstall/installer.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "recman/admin.h"
#include "recman/recman.h"
#include "tools/mkinstall/sample_data.h"
#include "tools/mkinstall/sample_sources.h"
#include "tools/mkinstall/scale.h"
#include "tests/support/exit_status.h"
#include "tools/mkinstall/text_files.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

class Installation : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("mkinstall-test-" + std::to_string(random()));
    std::string error;
    ASSERT_TRUE(LoadSampleData(&data_, &error)) << error;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  InstallStatus Write(std::int64_t records, bool force, std::string* error,
                      std::uint64_t seed = 1) {
    InstallOptions options;
    options.directory = dir_.string();
    options.records = records;
    options.force = force;
    options.seed = seed;
    report_ = InstallReport();
    return WriteInstallation(options, &report_, error);
  }

  // Every record of a data file in key-0 order, read through the record
  // manager, with the record count that Stat reports.
  std::vector<std::string> ReadAll(const FileLayout& layout, std::uint32_t* stat_count) {
    std::string path = dir_.string() + "/" + layout.logical_path + ".dat";
    std::replace(path.begin(), path.end(), '\\', '/');
    path.push_back('\0');
    char position[kPositionBlockSize] = {};
    char owner[1] = {};
    std::uint32_t length = 0;
    std::vector<std::string> records;
    std::int16_t status = BTRCALL(kOpOpen, position, owner, &length, path.data(), 0, kOpenNormal);
    EXPECT_EQ(status, kStatusOk) << path;
    if (status != kStatusOk) return records;
    std::string problems;
    EXPECT_EQ(CheckDataFile(position, &problems), kStatusOk) << problems;
    std::string stat(4096, '\0');
    length = static_cast<std::uint32_t>(stat.size());
    std::string key(kMaxKeyLength + 1, '\0');
    EXPECT_EQ(BTRCALL(kOpStat, position, stat.data(), &length, key.data(), 255, 0), kStatusOk);
    EXPECT_EQ(stat.substr(0, 16 + 16 * layout.keys.size()).substr(0, 6),
              CreateBuffer(layout).substr(0, 6));
    *stat_count = static_cast<unsigned char>(stat[6]) | static_cast<unsigned char>(stat[7]) << 8 |
                  static_cast<unsigned char>(stat[8]) << 16 |
                  static_cast<std::uint32_t>(static_cast<unsigned char>(stat[9])) << 24;
    std::string record(layout.record_length, '\0');
    std::int16_t op = kOpGetFirst;
    while (true) {
      length = static_cast<std::uint32_t>(record.size());
      status = BTRCALL(op, position, record.data(), &length, key.data(), 255, 0);
      if (status != kStatusOk) break;
      records.push_back(record);
      op = kOpGetNext;
    }
    EXPECT_EQ(status, kStatusEndOfFile);
    length = 0;
    EXPECT_EQ(BTRCALL(kOpClose, position, owner, &length, owner, 0, 0), kStatusOk);
    return records;
  }

  fs::path dir_;
  SampleData data_;
  InstallReport report_;
};

TEST_F(Installation, RealRowsInstallationHoldsEveryFileAndRecord) {
  std::string error;
  ASSERT_EQ(Write(0, false, &error), InstallStatus::kOk) << error;
  EXPECT_EQ(report_.root, dir_.string() + "/");
  EXPECT_EQ(report_.terminal_dir, dir_.string() + "/TERM01");
  EXPECT_EQ(report_.data_files, 19);

  // The text files are the converted sources; @ROOT@ names the directory.
  for (const SampleFile& file : SampleFiles()) {
    if (!file.path.starts_with("tree/")) continue;
    std::string relative(file.path.substr(5)), expected;
    ASSERT_TRUE(ConvertTreeFile(relative, file.bytes, report_.root, &expected, &error));
    EXPECT_EQ(ReadFile(dir_ / relative), expected) << relative;
  }
  EXPECT_NE(ReadFile(dir_ / "TERM01/Sessio.ini").find("Dir=" + report_.root + "TERM01\r\n"),
            std::string::npos);
  EXPECT_TRUE(fs::is_directory(dir_ / "LOCKS"));
  EXPECT_TRUE(fs::exists(dir_ / kMarkerFile));

  std::int64_t total = 0;
  for (std::size_t i = 0; i < data_.layouts.size(); ++i) {
    const FileLayout& layout = data_.layouts[i];
    SCOPED_TRACE(layout.logical_path);
    EXPECT_EQ(ReadFile(dir_ / "ddf" / (layout.name + ".xdf")), DictionaryBytes(layout));
    std::uint32_t count = 0;
    std::vector<std::string> records = ReadAll(layout, &count);
    EXPECT_EQ(count, data_.records[i].size());
    // Key-0 order holds exactly the real records, byte for byte.
    std::vector<std::string> expected = data_.records[i];
    std::stable_sort(expected.begin(), expected.end(), [&](const auto& a, const auto& b) {
      return KeyBytes(layout, 0, a) < KeyBytes(layout, 0, b);
    });
    EXPECT_EQ(records, expected);
    total += static_cast<std::int64_t>(records.size());
  }
  EXPECT_EQ(report_.records, total);
}

TEST_F(Installation, ScaledInstallationHoldsTheCountInEveryFile) {
  std::string error;
  ASSERT_EQ(Write(300, false, &error, 5), InstallStatus::kOk) << error;
  EXPECT_EQ(report_.records, 300 * 19);
  for (std::size_t i = 0; i < data_.layouts.size(); ++i) {
    SCOPED_TRACE(data_.layouts[i].logical_path);
    std::uint32_t count = 0;
    std::vector<std::string> records = ReadAll(data_.layouts[i], &count);
    EXPECT_EQ(records.size(), 300u);
    EXPECT_EQ(count, 300u);
    // The same records as the scaler makes, in whatever order.
    RecordScaler scaler(data_.layouts[i], data_.records[i], 300, 5);
    std::vector<std::string> expected;
    std::string record;
    while (scaler.Next(&record)) expected.push_back(record);
    std::sort(expected.begin(), expected.end());
    std::sort(records.begin(), records.end());
    EXPECT_EQ(records, expected);
  }
}

TEST_F(Installation, NeverWritesOverSomethingElse) {
  std::string error;
  // A non-empty directory without the marker: refused, with or without force.
  fs::create_directories(dir_);
  std::ofstream(dir_ / "Nuri.ini", std::ios::binary) << "[Usuari]\r\nIdioma=SPA\r\n";
  EXPECT_EQ(Write(0, false, &error), InstallStatus::kRefused);
  EXPECT_NE(error.find("--force"), std::string::npos) << error;
  EXPECT_EQ(Write(0, true, &error), InstallStatus::kRefused);
  EXPECT_NE(error.find(kMarkerFile), std::string::npos) << error;
  EXPECT_EQ(ReadFile(dir_ / "Nuri.ini"), "[Usuari]\r\nIdioma=SPA\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

  // A file in the directory's place.
  fs::remove_all(dir_);
  std::ofstream(dir_) << "x";
  EXPECT_EQ(Write(0, true, &error), InstallStatus::kRefused);
  EXPECT_NE(error.find("not a directory"), std::string::npos) << error;
  fs::remove(dir_);

  // A unique key 0 that cannot hold the count: refused before writing.
  EXPECT_EQ(Write(50000, false, &error), InstallStatus::kRefused);
  EXPECT_NE(error.find("at most 46656"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(dir_));
}

TEST_F(Installation, ForceRewritesAnInstallationOfItsOwn) {
  std::string error;
  ASSERT_EQ(Write(40, false, &error), InstallStatus::kOk) << error;
  EXPECT_EQ(Write(0, false, &error), InstallStatus::kRefused);
  std::ofstream(dir_ / "Nuri.ini", std::ios::trunc) << "changed";
  ASSERT_EQ(Write(0, true, &error), InstallStatus::kOk) << error;
  EXPECT_NE(ReadFile(dir_ / "Nuri.ini").find("Idioma=CAT\r\n"), std::string::npos);
  std::uint32_t count = 0;
  EXPECT_EQ(ReadAll(data_.layouts[0], &count).size(), data_.records[0].size());
}

// The command line: exit codes and what it prints.
class Command : public Installation {
 protected:
  int Run(const std::string& arguments, std::string* output) {
    const char* bin = std::getenv("KEL_TEST_BIN_DIR");
    std::string program = bin ? std::string(bin) + "/mkinstall" : "mkinstall";
    fs::path out = dir_.string() + ".out";
    int status = std::system((program + " " + arguments + " >" + out.string() + " 2>&1").c_str());
    *output = ReadFile(out);
    fs::remove(out);
    return ExitCodeOfSystem(status);
  }
};

TEST_F(Command, ExitCodesAndEnvironment) {
  const struct {
    std::string arguments;
    int exit_code;
    std::string output;
  } cases[] = {
      {"", 1, "no directory given"},
      {dir_.string() + " --records 0", 1, "--records takes"},
      {dir_.string() + " --records x", 1, "--records takes"},
      {dir_.string() + " --seed -1", 1, "--seed takes"},
      {dir_.string() + " --records", 1, "needs a value"},
      {dir_.string() + " --bogus", 1, "unknown option"},
      {dir_.string() + " other", 1, "one directory only"},
      {"--help", 0, "usage: mkinstall DIR"},
      // (Lines end in "\n", or "\r\n" on Windows.)
      {dir_.string() + " --records=25 --seed 9", 0, "export KELROOT='" + dir_.string() + "/'"},
      {dir_.string(), 2, "--force"},
      {dir_.string() + " --force", 0, "export KELTMP='" + dir_.string() + "/TERM01'"},
  };
  for (const auto& c : cases) {
    std::string output;
    EXPECT_EQ(Run(c.arguments, &output), c.exit_code) << c.arguments << "\n" << output;
    EXPECT_NE(output.find(c.output), std::string::npos) << c.arguments << "\n" << output;
  }
}

}  // namespace
}  // namespace kel
