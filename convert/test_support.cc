#include "convert/test_support.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "convert/converters.h"
#include "convert/driver.h"
#include "convert/language_text.h"
#include "datafile/db_file.h"
#include "datafile/db_open.h"
#include "datafile/lock_files.h"
#include "recman/backend_config.h"
#include "recman/recman.h"
#include "screen/field_editor.h"
#include "screen/form_dialog.h"
#include "screen/form_tables.h"
#include "startup/form_file.h"
#include "startup/ini_file.h"
#include "startup/session.h"
#include "tools/mkinstall/installer.h"
#include "tools/mkinstall/sample_data.h"
#include "util/installation_settings.h"
#include "util/session_context.h"
#include "tests/support/test_dir.h"

namespace kel::testing {
namespace {

void RecordExit(int code) { OpenFailureExits().push_back(code); }

// One open of a data file outside the data-file layer.
class Raw {
 public:
  explicit Raw(const std::string& path) {
    std::string key = path + '\0';
    char owner[1] = {0};
    std::uint32_t length = 1;
    status_ = BTRCALL(kOpOpen, block_, owner, &length, key.data(),
                      static_cast<std::uint8_t>(std::min<std::size_t>(path.size(), 255)), 0);
  }
  ~Raw() {
    std::uint32_t length = 0;
    if (status_ == kStatusOk) (void)BTRCALL(kOpClose, block_, nullptr, &length, nullptr, 0, 0);
  }
  std::int16_t status() const { return status_; }
  // op on the record in `*record` (resized to what comes back).
  std::int16_t Call(std::int16_t op, std::string* record) {
    std::string data = *record;
    data.resize(1536, ' ');
    std::uint32_t length = static_cast<std::uint32_t>(op == kOpUpdate ? record->size() : 1536);
    std::string key(256, '\0');
    const std::int16_t st = BTRCALL(op, block_, data.data(), &length, key.data(), 255, 0);
    if (st == kStatusOk && op != kOpUpdate && op != kOpDelete) record->assign(data, 0, length);
    return st;
  }

 private:
  std::uint8_t block_[kPositionBlockSize] = {};
  std::int16_t status_ = 0;
};

}  // namespace

std::vector<int>& OpenFailureExits() {
  static std::vector<int> codes;
  return codes;
}

namespace {

// One installation written per test process; each test works on a copy
// (writing it costs a synced commit per file, copying it nothing of the sort).
const std::string& TemplateInstallation() {
  static const std::string* const dir = [] {
    auto* path = new std::string(MakeTestDirectory("kel-install"));
    InstallOptions options;
    options.directory = *path + "/inst";
    InstallReport report;
    std::string error;
    EXPECT_EQ(WriteInstallation(options, &report, &error), InstallStatus::kOk) << error;
    std::atexit([] { std::filesystem::remove_all(*dir); });
    return path;
  }();
  return *dir;
}

}  // namespace

void InstallationTest::SetUp() {
  ScreenTest::SetUp();
  std::error_code error;
  std::filesystem::copy(TemplateInstallation() + "/inst", dir_ + "/inst",
                        std::filesystem::copy_options::recursive, error);
  ASSERT_FALSE(error) << error.message();
  root_ = dir_ + "/inst/";
  terminal_ = dir_ + "/inst/" + kTerminalDirName;
  previous_dir_ = CurrentDirectory();
  ASSERT_TRUE(ChangeDirectory(root_));
  env_.SetVariable("KELROOT", root_);
  env_.SetVariable("KELTMP", terminal_);
  // Through a loaded record manager when the suite runs so (KELBTR): the
  // session set-up finds it as the program does, and tests that do not run
  // the set-up get it too.
  RecordManagerConfig config;
  if (const char* library = std::getenv("KELBTR"); library != nullptr && *library != '\0') {
    env_.SetVariable("KELBTR", library);
    config.library = library;
  }
  ConfigureRecordManager(config);
  scoped_env_ = std::make_unique<ScopedEnv>(&env_);
  OpenFailureExits().clear();
  SetProgramExitHook(&RecordExit);
}

void InstallationTest::TearDown() {
  std::int16_t status = 0;
  DbResetAll(&status);
  SetRecordManagerEntry(nullptr);
  ResetDataFiles();
  ResetRecordManagerConfig();
  ResetLockFiles();
  SetProgramExitHook(nullptr);
  ResetDriver();
  ResetLanguageText();
  ResetTally();
  ClearFormTables();
  ResetFormDialog();
  ResetFieldEditor();
  SetInstallationSettingReader(nullptr);
  EXPECT_TRUE(OpenFailureExits().empty()) << "a data file could not be opened";
  EXPECT_TRUE(ChangeDirectory(previous_dir_));
  scoped_env_.reset();
  ScreenTest::TearDown();
}

bool InstallationTest::StartProgram(const std::string& command_line) {
  SetUpSession();
  Session().CommandLine = command_line;
  Session().ProgramName = "TAVIRENO";
  std::string message;
  const FormFileStatus loaded = LoadFormFile(FormFilePath(), Translate, &message);
  EXPECT_EQ(loaded, FormFileStatus::kOk) << message;
  if (loaded != FormFileStatus::kOk) return false;
  CheckConversionFiles();
  return true;
}

std::string InstallationTest::DataPath(const char* logical_path) const {
  std::string path = root_ + logical_path + ".dat";
  std::replace(path.begin() + static_cast<std::ptrdiff_t>(root_.size()), path.end(), '\\', '/');
  return path;
}

void InstallationTest::SetTerminalLanguage(const std::string& code) {
  ASSERT_EQ(IniWrite(terminal_ + "/NuriTerm.ini", "Sistema", "Idioma", code), IniWriteResult::kOk);
}

const FileLayout& SampleLayout(const std::string& logical_path) {
  static const SampleData* const data = [] {
    auto* loaded = new SampleData;
    std::string error;
    EXPECT_TRUE(LoadSampleData(loaded, &error)) << error;
    return loaded;
  }();
  for (const FileLayout& layout : data->layouts) {
    if (layout.logical_path == logical_path) return layout;
  }
  ADD_FAILURE() << "no sample layout for " << logical_path;
  static const FileLayout none;
  return none;
}

int FieldOffset(const FileLayout& layout, const char* name) {
  const int index = layout.FieldIndex(name);
  return index < 0 ? -1 : layout.fields[static_cast<std::size_t>(index)].offset;
}

std::vector<std::string> ReadRecords(const std::string& native_path) {
  std::vector<std::string> records;
  Raw file(native_path);
  EXPECT_EQ(file.status(), kStatusOk) << native_path;
  std::string record;
  for (std::int16_t st = file.Call(kOpGetGreaterOrEqual, &record); st == kStatusOk;
       st = file.Call(kOpGetNext, &record)) {
    records.push_back(record);
  }
  return records;
}

void RewriteRecords(const std::string& native_path,
                    const std::function<void(std::string* record, int index)>& change) {
  Raw file(native_path);
  ASSERT_EQ(file.status(), kStatusOk) << native_path;
  std::string record;
  int index = 0;
  for (std::int16_t st = file.Call(kOpGetGreaterOrEqual, &record); st == kStatusOk;
       st = file.Call(kOpGetNext, &record)) {
    change(&record, index++);
    ASSERT_EQ(file.Call(kOpUpdate, &record), kStatusOk) << native_path << " record " << index;
  }
}

void EmptyFile(const std::string& native_path) {
  Raw file(native_path);
  ASSERT_EQ(file.status(), kStatusOk) << native_path;
  std::string record;
  while (file.Call(kOpGetGreaterOrEqual, &record) == kStatusOk) {
    ASSERT_EQ(file.Call(kOpDelete, &record), kStatusOk) << native_path;
  }
}

std::string FileBytes(const std::string& native_path) {
  std::string bytes;
  return ReadWholeFile(native_path, &bytes) ? bytes : "";
}

}  // namespace kel::testing
