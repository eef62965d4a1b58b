#include "datafile/test_support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "datafile/db_file.h"
#include "datafile/db_open.h"
#include "datafile/lock_files.h"
#include "recman/backend_config.h"
#include "recman/recman.h"
#include "tests/support/test_dir.h"
#include "util/save_stack.h"

namespace kel::testing {
namespace {

std::string U16(int v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }

struct RecorderState {
  std::vector<RecordedCall> calls;
  RecordManagerEntry next = nullptr;
  std::int16_t fail_op = -1, fail_status = 0;
  bool stat_reply_set = false;
  std::string stat_reply;
} g_rec;

std::int16_t Recording(std::int16_t op, void* block, void* data, std::uint32_t* length, void* key,
                       std::uint8_t key_length, std::int8_t key_number) {
  RecordedCall c{op, length != nullptr ? *length : 0, "", "", key_length, key_number, 0};
  if (data != nullptr) {
    c.data_in.assign(static_cast<const char*>(data),
                     std::min<std::uint32_t>(c.data_length_in, 1536));
  }
  if (key != nullptr) c.key_in.assign(static_cast<const char*>(key), kKeyBufferSize);
  if (g_rec.fail_op == op) {
    g_rec.fail_op = -1;
    c.status = g_rec.fail_status;
  } else if (op == kOpStat && g_rec.stat_reply_set) {
    const std::size_t n = std::min<std::size_t>(g_rec.stat_reply.size(), *length);
    std::memcpy(data, g_rec.stat_reply.data(), n);
    *length = static_cast<std::uint32_t>(n);
  } else {
    c.status = g_rec.next(op, block, data, length, key, key_length, key_number);
  }
  g_rec.calls.push_back(c);
  return c.status;
}

void RecordExit(int code) { ExitCodes().push_back(code); }

}  // namespace

RecordManagerConfig TestRecordManagerConfig() {
  RecordManagerConfig config;
  const char* library = std::getenv("KELBTR");
  if (library != nullptr) config.library = library;
  return config;
}

bool ThroughLoadedRecordManager() { return !TestRecordManagerConfig().library.empty(); }

std::string TestFileSpec::Bytes() const {
  std::string out = U16(record_length) + U16(page_size) + U16(static_cast<int>(keys.size()));
  out.append(10, '\0');
  for (const auto& key : keys) {
    for (std::size_t i = 0; i < key.size(); ++i) {
      out += U16(key[i].position) + U16(key[i].length) +
             U16(key[i].flags | (i + 1 < key.size() ? 0x10 : 0)) + std::string(10, '\0');
    }
  }
  if (!collating_table.empty())
    out +=
        "\xAC"
        "TESTACS " +
        collating_table;
  return out;
}

std::string Rec(const std::string& text, int length) {
  std::string r = text.substr(0, static_cast<std::size_t>(length));
  r.resize(static_cast<std::size_t>(length), ' ');
  return r;
}

Recorder::Recorder() {
  g_rec = RecorderState();
  g_rec.next = SetRecordManagerEntry(&Recording);
  if (g_rec.next == &Recording) {  // nested: pass on to the chosen one
    (void)SetRecordManagerEntry(nullptr);
    g_rec.next = SetRecordManagerEntry(&Recording);
  }
}
Recorder::~Recorder() { SetRecordManagerEntry(g_rec.next); }
const std::vector<RecordedCall>& Recorder::calls() const { return g_rec.calls; }
std::vector<int> Recorder::Operations() const {
  std::vector<int> ops;
  for (const RecordedCall& c : g_rec.calls) ops.push_back(c.operation);
  return ops;
}
int Recorder::Count(int operation) const {
  const std::vector<int> ops = Operations();
  return static_cast<int>(std::count(ops.begin(), ops.end(), operation));
}
void Recorder::FailNext(std::int16_t operation, std::int16_t status) {
  g_rec.fail_op = operation;
  g_rec.fail_status = status;
}
void Recorder::ReplyStat(const std::string& data) {
  g_rec.stat_reply_set = true;
  g_rec.stat_reply = data;
}

RawOpen::RawOpen(const std::string& path, std::int8_t mode) {
  std::string key = path + '\0';
  char owner[1] = {};
  std::uint32_t len = 1;
  status_ = BTRCALL(kOpOpen, block_, owner, &len, key.data(), 0, mode);
}

std::int16_t RawOpen::Close() {
  char none[1] = {};
  std::uint32_t len = 0;
  return BTRCALL(kOpClose, block_, none, &len, none, 0, 0);
}

std::int16_t RawOpen::Call(std::int16_t op, std::string* data, const std::string& key) {
  std::uint32_t len = static_cast<std::uint32_t>(data->size());
  char buffer[256] = {};
  key.copy(buffer, 255);
  const std::int16_t st = BTRCALL(op, block_, data->data(), &len, buffer, 255, 0);
  data->resize(len);
  return st;
}

std::vector<int>& ExitCodes() {
  static std::vector<int> codes;
  return codes;
}

void DataFileTest::SetUp() {
  ScreenTest::SetUp();
  const std::string templ = MakeTestDirectory("kel-data");
  ASSERT_FALSE(templ.empty());
  install_ = templ;
  root_ = install_ + "\\";
  Session().InstallRoot = root_;
  previous_dir_ = CurrentDirectory();
  ASSERT_TRUE(ChangeDirectory(install_));
  scoped_env_ = new ScopedEnv(&env_);
  ConfigureRecordManager(TestRecordManagerConfig());
  ResetDataFiles();
  ResetLockFiles();
  ResetSaveStack();
  ExitCodes().clear();
  SetProgramExitHook(&RecordExit);
}

void DataFileTest::TearDown() {
  std::int16_t st = 0;
  DbResetAll(&st);
  ResetDataFiles();
  ResetRecordManagerConfig();
  ResetLockFiles();
  SetProgramExitHook(nullptr);
  EXPECT_EQ(SaveStackGlobals().SaveStack, "") << "the save stack was left unbalanced";
  delete scoped_env_;
  (void)ChangeDirectory(previous_dir_);
  {
    std::error_code ignored;
    std::filesystem::remove_all(install_, ignored);
  }
  ScreenTest::TearDown();
}

std::int16_t DataFileTest::CreateFile(const std::string& path, const TestFileSpec& file_spec) {
  std::string buffer = file_spec.Bytes();
  std::string key = path + '\0';
  std::uint32_t len = static_cast<std::uint32_t>(buffer.size());
  std::uint8_t block[kPositionBlockSize] = {};
  return BTRCALL(kOpCreate, block, buffer.data(), &len, key.data(), 0, kCreateNoReplace);
}

void DataFileTest::Insert(const std::string& path, const std::vector<std::string>& records) {
  RawOpen h(path);
  ASSERT_EQ(h.status(), kStatusOk) << path;
  for (std::string r : records) ASSERT_EQ(h.Call(kOpInsert, &r), kStatusOk) << r;
}

std::vector<std::string> DataFileTest::ReadAll(const std::string& path) {
  std::vector<std::string> out;
  RawOpen h(path);
  std::string data(1536, '\0');
  for (std::int16_t op = kOpGetFirst; h.Call(op, &data) == kStatusOk; op = kOpGetNext) {
    out.push_back(data);
    data.assign(1536, '\0');
  }
  return out;
}

void DataFileTest::WriteDictionary(const std::string& base, const std::string& bytes) {
  ASSERT_TRUE(MakeDirectory(root_ + "ddf"));
  File f;
  ASSERT_EQ(
      OpenFile(root_ + "ddf\\" + base + ".xdf", FileAccess::kWriteTruncate, FileShare::kShared, &f),
      FileResult::kOk);
  ASSERT_TRUE(f.WriteAt(0, bytes.data(), bytes.size()));
}

std::string DataFileTest::MakeLetters(const std::string& name,
                                      const std::vector<std::string>& records) {
  TestFileSpec file_spec;
  file_spec.keys = {{{1, 1, 0x3}}, {{2, 4, 0x3}}};
  EXPECT_EQ(CreateFile(root_ + name + ".dat", file_spec), kStatusOk);
  Insert(root_ + name + ".dat", records);
  return root_ + name;
}

}  // namespace kel::testing
