// Test support for the data-file layer (tests only).
//
// DataFileTest adds to ScreenTest (memory console, private TempDir): a
// private installation directory as InstallRoot and current directory (so
// "db.log" and "LOCKS" land there), a fake clock (waits take no real time),
// an exit hook that records codes, the record manager of
// TestRecordManagerConfig(), and at the end every file released and the
// layer's globals and the record manager's configuration reset. Data files are made with the real record
// manager.
#ifndef KEL_DATAFILE_TEST_SUPPORT_H_
#define KEL_DATAFILE_TEST_SUPPORT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/system.h"
#include "recman/backend_config.h"
#include "screen/screen_test_support.h"

namespace kel::testing {

// The record manager the layer's tests run on: our engine, or, when the
// variable KELBTR names a record manager's library (CTest runs the suites
// once more with the stand-in, recman/kelbtrv.cc), that library, loaded and
// called exactly as an installation's Gestor is. The files are made and read
// back with our engine either way (the stand-in keeps the same files).
RecordManagerConfig TestRecordManagerConfig();
// True when the tests run through a loaded library: tests of our engine's
// own ways (its commit windows) skip themselves then.
bool ThroughLoadedRecordManager();

// A Create buffer: keys as lists of (position, length, flags) segments (the
// "segment follows" flag is added), and a collating table (256 bytes) when a
// segment carries flag 0x20.
struct TestSegment {
  int position, length, flags;
};
struct TestFileSpec {
  int record_length = 8;
  int page_size = 1024;
  std::vector<std::vector<TestSegment>> keys;
  std::string collating_table;
  std::string Bytes() const;
};

// `text` blank-padded (or cut) to `length` bytes.
std::string Rec(const std::string& text, int length = 8);

// A call of the record manager as the layer made it.
struct RecordedCall {
  std::int16_t operation = 0;
  std::uint32_t data_length_in = 0;
  std::string data_in;  // the first data_length_in bytes of the data buffer
  std::string key_in;   // the key buffer as sent (256 bytes)
  std::uint8_t key_length = 0;
  std::int8_t key_number = 0;
  std::int16_t status = 0;
};

// While it lives, records every record-manager call of the layer and passes
// it on, except a call of the operation named by FailNext (answered with that
// status, buffers untouched) and Stat calls after ReplyStat (answered 0 with
// the given bytes).
class Recorder {
 public:
  Recorder();
  ~Recorder();
  const std::vector<RecordedCall>& calls() const;
  std::vector<int> Operations() const;
  int Count(int operation) const;
  void FailNext(std::int16_t operation, std::int16_t status);
  void ReplyStat(const std::string& data);
};

// One open of a data file outside the layer.
class RawOpen {
 public:
  explicit RawOpen(const std::string& path, std::int8_t mode = 0);
  ~RawOpen() { Close(); }
  std::int16_t status() const { return status_; }
  std::int16_t Close();
  // `op` with `*data` as data buffer (resized to what comes back) and a key
  // buffer holding `key` (zero-padded).
  std::int16_t Call(std::int16_t op, std::string* data, const std::string& key = "");

 private:
  std::uint8_t block_[128] = {};
  std::int16_t status_ = 0;
};

// A second process running `body`, talking with the test a line at a time.
// Fork it before the test opens any data file (a child must not use files
// its parent has open). Killed at the end.
class Peer {
 public:
  explicit Peer(std::function<void(Peer&)> body);
  ~Peer();
  void Send(const std::string& line);
  std::string Receive();
  std::string Ask(const std::string& line) {
    Send(line);
    return Receive();
  }

 private:
  int pid_ = -1, in_ = -1, out_ = -1;
};

std::vector<int>& ExitCodes();

class DataFileTest : public ScreenTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The installation directory as a session path ending in "\".
  const std::string& root() const { return root_; }
  std::int16_t CreateFile(const std::string& path, const TestFileSpec& file_spec);
  void Insert(const std::string& path, const std::vector<std::string>& records);
  // The records of `path` in key-0 order.
  std::vector<std::string> ReadAll(const std::string& path);
  // root + "ddf\" + base + ".xdf" holding `bytes` as they are.
  void WriteDictionary(const std::string& base, const std::string& bytes);
  // Creates root + name + ".dat" (8-byte records, key 0 one byte at 1, key 1
  // four bytes at 2, both with duplicates) holding `records`; returns
  // root + name.
  std::string MakeLetters(const std::string& name, const std::vector<std::string>& records);

  std::string install_, root_, previous_dir_;
  FakeEnv env_;
  ScopedEnv* scoped_env_ = nullptr;
};

}  // namespace kel::testing

#endif  // KEL_DATAFILE_TEST_SUPPORT_H_
