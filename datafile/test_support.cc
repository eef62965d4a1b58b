#include "datafile/test_support.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "datafile/db_file.h"
#include "datafile/db_open.h"
#include "datafile/lock_files.h"
#include "recman/recman.h"
#include "util/save_stack.h"

namespace kel::testing {
namespace {

void PutU16(std::string* out, int v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>((v >> 8) & 0xFF));
}

struct RecorderState {
  std::vector<RecordedCall> calls;
  RecordManagerEntry next = nullptr;
  std::int16_t fail_op = -1;
  std::int16_t fail_status = 0;
  bool stat_reply_set = false;
  std::string stat_reply;
};

RecorderState& Rec() {
  static RecorderState s;
  return s;
}

std::int16_t Recording(std::int16_t operation, void* block, void* data, std::uint32_t* length,
                       void* key, std::uint8_t key_length, std::int8_t key_number) {
  RecordedCall c;
  c.operation = operation;
  c.data_length_in = length != nullptr ? *length : 0;
  if (data != nullptr) {
    c.data_in.assign(static_cast<const char*>(data),
                     std::min<std::uint32_t>(c.data_length_in, 1536));
  }
  if (key != nullptr) c.key_in.assign(static_cast<const char*>(key), kKeyBufferSize);
  c.key_length = key_length;
  c.key_number = key_number;
  RecorderState& s = Rec();
  if (s.fail_op == operation) {
    s.fail_op = -1;
    c.status = s.fail_status;
  } else if (operation == kOpStat && s.stat_reply_set) {
    const std::size_t n = std::min<std::size_t>(s.stat_reply.size(), *length);
    std::memcpy(data, s.stat_reply.data(), n);
    *length = static_cast<std::uint32_t>(n);
    c.status = kStatusOk;
  } else {
    c.status = s.next(operation, block, data, length, key, key_length, key_number);
  }
  s.calls.push_back(c);
  return c.status;
}

void RecordExit(int code) { ExitCodes().push_back(code); }

}  // namespace

RawOpen::RawOpen(const std::string& path, std::int8_t mode) {
  std::string key = path;
  key.push_back('\0');
  char owner[1] = {};
  std::uint32_t len = 1;
  status_ = BTRCALL(kOpOpen, block_, owner, &len, key.data(), 0, mode);
}

RawOpen::~RawOpen() { Close(); }

std::int16_t RawOpen::Close() {
  char none[1] = {};
  std::uint32_t len = 0;
  return BTRCALL(kOpClose, block_, none, &len, none, 0, 0);
}

std::int16_t RawOpen::Call(std::int16_t op, std::string* data, const std::string& key_value,
                           int key_number) {
  std::uint32_t len = static_cast<std::uint32_t>(data->size());
  char key[256] = {};
  key_value.copy(key, 255);
  std::int16_t st =
      BTRCALL(op, block_, data->data(), &len, key, 255, static_cast<std::int8_t>(key_number));
  data->resize(len);
  return st;
}

Peer::Peer(std::function<void(Peer&)> body) {
  int to[2], from[2];
  if (::pipe(to) != 0 || ::pipe(from) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::close(to[1]);
    ::close(from[0]);
    in_ = to[0];
    out_ = from[1];
    body(*this);
    ::_exit(0);
  }
  ::close(to[0]);
  ::close(from[1]);
  out_ = to[1];
  in_ = from[0];
}

Peer::~Peer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status;
    ::waitpid(pid_, &status, 0);
  }
  ::close(out_);
  ::close(in_);
}

void Peer::Send(const std::string& line) {
  const std::string l = line + "\n";
  (void)!::write(out_, l.data(), l.size());
}

std::string Peer::Receive() {
  std::string line;
  char c;
  while (::read(in_, &c, 1) == 1 && c != '\n') line.push_back(c);
  return line;
}

std::string Peer::Ask(const std::string& line) {
  Send(line);
  return Receive();
}

std::string TestFileSpec::Bytes() const {
  std::string out;
  PutU16(&out, record_length);
  PutU16(&out, page_size);
  PutU16(&out, static_cast<int>(keys.size()));
  out.append(10, '\0');
  for (const auto& key : keys) {
    for (std::size_t i = 0; i < key.size(); ++i) {
      const TestSegment& seg = key[i];
      PutU16(&out, seg.position);
      PutU16(&out, seg.length);
      PutU16(&out, seg.flags | (i + 1 < key.size() ? 0x10 : 0));
      out.append(10, '\0');
    }
  }
  if (!collating_table.empty()) {
    out.push_back('\xAC');
    out.append("TESTACS ", 8);
    out.append(collating_table);
  }
  return out;
}

std::string CollatingTable(std::vector<std::pair<std::uint8_t, std::uint8_t>> remap) {
  std::string table(256, '\0');
  for (int b = 0; b < 256; ++b) table[static_cast<std::size_t>(b)] = static_cast<char>(b);
  for (auto [from, to] : remap) table[from] = static_cast<char>(to);
  return table;
}

std::string Rec(const std::string& text, int length) {
  std::string r = text.substr(0, static_cast<std::size_t>(length));
  r.resize(static_cast<std::size_t>(length), ' ');
  return r;
}

Recorder::Recorder() {
  Rec() = RecorderState();
  Rec().next = SetRecordManagerEntry(&Recording);
}

Recorder::~Recorder() { SetRecordManagerEntry(Rec().next); }

std::vector<RecordedCall>& Recorder::calls() { return Rec().calls; }

std::vector<int> Recorder::Operations() const {
  std::vector<int> ops;
  for (const RecordedCall& c : Rec().calls) ops.push_back(c.operation);
  return ops;
}

int Recorder::Count(int operation) const {
  return static_cast<int>(
      std::count_if(Rec().calls.begin(), Rec().calls.end(),
                    [&](const RecordedCall& c) { return c.operation == operation; }));
}

void Recorder::Clear() { Rec().calls.clear(); }

void Recorder::FailNext(std::int16_t operation, std::int16_t status) {
  Rec().fail_op = operation;
  Rec().fail_status = status;
}

void Recorder::ReplyStat(const std::string& data) {
  Rec().stat_reply_set = true;
  Rec().stat_reply = data;
}

std::vector<int>& ExitCodes() {
  static std::vector<int> codes;
  return codes;
}

void DataFileTest::SetUp() {
  ScreenTest::SetUp();
  char templ[] = "/tmp/kel-data-XXXXXX";
  ASSERT_NE(::mkdtemp(templ), nullptr);
  install_ = templ;
  root_ = install_ + "\\";
  Session().InstallRoot = root_;
  Session().TempDir = dir_ + "\\";
  previous_dir_ = CurrentDirectory();
  ASSERT_TRUE(ChangeDirectory(install_));
  scoped_env_ = new ScopedEnv(&env_);
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
  ResetLockFiles();
  SetProgramExitHook(nullptr);
  EXPECT_EQ(SaveStackGlobals().SaveStack, "") << "the save stack was left unbalanced";
  delete scoped_env_;
  scoped_env_ = nullptr;
  (void)ChangeDirectory(previous_dir_);
  std::system(("rm -rf '" + install_ + "'").c_str());
  ScreenTest::TearDown();
}

std::int16_t DataFileTest::CreateFile(const std::string& path, const TestFileSpec& spec) {
  std::string buffer = spec.Bytes();
  std::string key = path;
  key.push_back('\0');
  std::uint32_t len = static_cast<std::uint32_t>(buffer.size());
  std::uint8_t block[kPositionBlockSize] = {};
  return BTRCALL(kOpCreate, block, buffer.data(), &len, key.data(), 0, kCreateNoReplace);
}

void DataFileTest::Insert(const std::string& path, const std::vector<std::string>& records) {
  RawOpen h(path);
  ASSERT_EQ(h.status(), kStatusOk) << path;
  for (const std::string& r : records) {
    std::string data = r;
    ASSERT_EQ(h.Call(kOpInsert, &data), kStatusOk) << r;
  }
}

std::vector<std::string> DataFileTest::ReadAll(const std::string& path) {
  std::vector<std::string> out;
  RawOpen h(path);
  if (h.status() != kStatusOk) return out;
  std::string data(1536, '\0');
  std::int16_t st = h.Call(kOpGetFirst, &data);
  while (st == kStatusOk) {
    out.push_back(data);
    data.assign(1536, '\0');
    st = h.Call(kOpGetNext, &data);
  }
  return out;
}

void DataFileTest::WriteDictionary(const std::string& base, const std::string& create_buffer) {
  std::string bytes;
  PutU16(&bytes, static_cast<int>(create_buffer.size()));
  WriteRawDictionary(base, bytes + create_buffer);
}

void DataFileTest::WriteRawDictionary(const std::string& base, const std::string& bytes) {
  ASSERT_TRUE(MakeDirectory(root_ + "ddf"));
  File f;
  ASSERT_EQ(
      OpenFile(root_ + "ddf\\" + base + ".xdf", FileAccess::kWriteTruncate, FileShare::kShared, &f),
      FileResult::kOk);
  ASSERT_TRUE(f.WriteAt(0, bytes.data(), bytes.size()));
}

std::string DataFileTest::MakeLetters(const std::string& name,
                                      const std::vector<std::string>& records) {
  TestFileSpec spec;
  spec.record_length = 8;
  spec.keys = {{{1, 1, 0x2 | 0x1}}, {{2, 4, 0x2 | 0x1}}};
  EXPECT_EQ(CreateFile(root_ + name + ".dat", spec), kStatusOk);
  Insert(root_ + name + ".dat", records);
  return root_ + name;
}

}  // namespace kel::testing
