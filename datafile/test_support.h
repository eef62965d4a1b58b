// Test support for the data-file layer (tests only).
//
// DataFileTest gives each test what ScreenTest gives (memory console, a
// private TempDir) plus: a private installation directory as InstallRoot and
// current directory (so "db.log" and "LOCKS" land there), a fake clock
// installed (every wait takes no real time), and at the end every data file
// released and the layer's globals reset. Files are made with the real
// record manager: CreateFile builds a Create buffer from a short
// description, Insert stores records through an open of its own.
#ifndef KEL_DATAFILE_TEST_SUPPORT_H_
#define KEL_DATAFILE_TEST_SUPPORT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/system.h"
#include "screen/screen_test_support.h"

namespace kel::testing {

struct TestSegment {
  int position = 1;  // 1-based
  int length = 1;
  std::uint16_t flags = 0;
};

// A Create buffer: record length, page size, keys as lists of segments (the
// "another segment follows" flag is set between them), and an optional
// collating table (256 bytes) added when a segment carries flag 0x20.
struct TestFileSpec {
  int record_length = 16;
  int page_size = 1024;
  std::vector<std::vector<TestSegment>> keys;
  std::string collating_table;
  std::string Bytes() const;
};

// A 256-byte collating table sorting every byte as itself but the given
// pairs.
std::string CollatingTable(std::vector<std::pair<std::uint8_t, std::uint8_t>> remap);

// A record of `length` bytes: `text`, then blanks.
std::string Rec(const std::string& text, int length);

// Calls of the record manager as the layer made them (see Recorder).
struct RecordedCall {
  std::int16_t operation = 0;
  std::uint32_t data_length_in = 0;
  std::string data_in;  // the data buffer's first data_length_in bytes (max 1536)
  std::string key_in;   // the whole key buffer as sent (256 bytes)
  std::uint8_t key_length = 0;
  std::int8_t key_number = 0;
  std::int16_t status = 0;
};

// Puts a recorder in front of the real record manager for its lifetime:
// every call is recorded, then passed on (unless `fail_next` names a status
// to give the next call of operation `fail_op` instead).
class Recorder {
 public:
  Recorder();
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  std::vector<RecordedCall>& calls();
  // Operation codes in call order.
  std::vector<int> Operations() const;
  int Count(int operation) const;
  void Clear();
  // The next call of `operation` answers `status` without reaching the
  // record manager (its buffers untouched).
  void FailNext(std::int16_t operation, std::int16_t status);
  // Every Stat answers 0 with `data` (cut to the buffer) instead.
  void ReplyStat(const std::string& data);
};

// One open of a data file outside the layer (helpers, second processes).
class RawOpen {
 public:
  explicit RawOpen(const std::string& path, std::int8_t mode = 0);
  ~RawOpen();
  RawOpen(const RawOpen&) = delete;
  RawOpen& operator=(const RawOpen&) = delete;
  std::int16_t status() const { return status_; }
  std::int16_t Close();
  // `op` with the data buffer `*data` (resized to what comes back) and a
  // key buffer holding `key_value` (zero-padded).
  std::int16_t Call(std::int16_t op, std::string* data, const std::string& key_value = "",
                    int key_number = 0);

 private:
  std::uint8_t block_[128] = {};
  std::int16_t status_ = 0;
};

// A second process running `body`, talking with the test through two pipes
// one line at a time. Fork it before the test opens any data file: a child
// must not use files its parent had open. It is killed at the end.
class Peer {
 public:
  explicit Peer(std::function<void(Peer&)> body);
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;
  void Send(const std::string& line);
  std::string Receive();
  std::string Ask(const std::string& line);

 private:
  int pid_ = -1;
  int in_ = -1;
  int out_ = -1;
};

class DataFileTest : public ScreenTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The installation directory as a session path ending in "\".
  const std::string& root() const { return root_; }
  // A native path inside the installation.
  std::string Native(const std::string& relative) const { return install_ + "/" + relative; }

  // Creates the data file at the session path `path` (".dat" included).
  std::int16_t CreateFile(const std::string& path, const TestFileSpec& spec);
  // Stores `records` in the file at `path` through an open of its own.
  void Insert(const std::string& path, const std::vector<std::string>& records);
  // Writes the dictionary of base name `base` (count + bytes, or raw bytes).
  void WriteDictionary(const std::string& base, const std::string& create_buffer);
  void WriteRawDictionary(const std::string& base, const std::string& bytes);
  // The records of `path` in key-0 order, read through an open of its own.
  std::vector<std::string> ReadAll(const std::string& path);

  // A file with a one-byte key 0 (position 1) and a 4-byte key 1 (position
  // 2), records of 8 bytes, holding the given records; returns its logical
  // name (root + name).
  std::string MakeLetters(const std::string& name, const std::vector<std::string>& records);

  std::string install_;
  std::string root_;
  std::string previous_dir_;
  FakeEnv env_;
  ScopedEnv* scoped_env_ = nullptr;
};

// Exit codes seen by the exit hook that DataFileTest installs.
std::vector<int>& ExitCodes();

}  // namespace kel::testing

#endif  // KEL_DATAFILE_TEST_SUPPORT_H_
