// Helpers for the record manager's tests: temporary directories, Create
// buffers built field by field, and an open file driven through BTRCALL.
#ifndef KEL_RECMAN_TEST_UTIL_H_
#define KEL_RECMAN_TEST_UTIL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "recman/recman.h"

namespace kel::testing {

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct Segment {
  int position = 1;  // 1-based
  int length = 1;
  std::uint16_t flags = 0;
  std::uint8_t type = 0;  // extended type (sets the flag when non-zero or `extended`)
  bool extended = false;
  std::uint8_t null_byte = 0;
  std::uint8_t manual_number = 0;
  std::uint8_t acs_number = 0;
};

// A Create buffer: keys are lists of segments (the "segmented" flag is set
// between them automatically).
struct CreateSpec {
  int record_length = 16;
  int page_size = 1024;
  std::uint16_t file_flags = 0;
  std::uint8_t version = 0;  // byte 5: the file version of later interfaces (0x60...)
  std::vector<std::vector<Segment>> keys;
  std::vector<std::string> acs;  // 256-byte tables; name and signature added

  std::string Bytes() const;
};

// A collating table that sorts every byte as itself except the given pairs.
std::string AcsTable(std::initializer_list<std::pair<std::uint8_t, std::uint8_t>> remap);

// Creates a file (through `entry`, our engine unless another record manager
// is named). Returns the status.
std::int16_t CreateFile(const std::string& path, const CreateSpec& file_spec,
                        std::int8_t mode = kCreateNoReplace, RecordManagerEntry entry = &BTRCALL);

// One open of a data file, through `entry` (our engine unless another record
// manager's entry point is named).
class Handle {
 public:
  explicit Handle(RecordManagerEntry entry = &BTRCALL) : entry_(entry) {}
  ~Handle();
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  std::int16_t Open(const std::string& path, std::int8_t mode = kOpenNormal,
                    const std::string& owner = "");
  std::int16_t Close();

  // Runs `op` with the record buffer `data` (resized to what comes back) and
  // the key buffer `key` (256 bytes; the key comes back in its first
  // key-length bytes).
  std::int16_t Call(std::int16_t op, std::string* data, std::string* key, int key_number);

  std::int16_t Insert(const std::string& record, int key_number = 0);
  std::int16_t Update(const std::string& record, int key_number = 0);
  std::int16_t Delete();
  // A Get with a search value (padded with zero bytes to 255).
  std::int16_t Get(std::int16_t op, const std::string& search, int key_number = 0);
  std::int16_t Step(std::int16_t op);
  std::int16_t Position(std::uint32_t* pos);
  std::int16_t Direct(std::uint32_t pos, int key_number = 0, std::int16_t bias = 0);
  std::int16_t Stat(std::string* out, int key_number = 0);

  // What the last Get / Step / Direct / Insert returned.
  const std::string& record() const { return record_; }
  std::string key(std::size_t length) const { return key_.substr(0, length); }
  void* block() { return block_; }

 private:
  RecordManagerEntry entry_;
  std::uint8_t block_[kPositionBlockSize] = {};
  std::string record_;
  std::string key_;
  int record_length_ = 0;
};

// Reads every record along `key_number` (Get First, then Get Next), returning
// the records and the final status in `*status` (9 when all went well).
std::vector<std::string> ReadAll(Handle& h, int key_number, std::int16_t* status);
std::vector<std::string> ReadAllBackwards(Handle& h, int key_number, std::int16_t* status);

// A record of `length` bytes: `text` at offset 0, then `fill`.
std::string Rec(const std::string& text, int length, char fill = ' ');

// The file that the tests comparing both engines use: records of
// kParityRecordLength bytes. Key 0: bytes 1-3, unique, modifiable. Key 1:
// bytes 4-5, duplicates, modifiable, descending. Key 2: byte 6, null key
// (blank), duplicates.
inline constexpr int kParityRecordLength = 20;
CreateSpec ParitySpec();

// Little-endian bytes of an integer.
std::string Le(std::int64_t value, int bytes);

// A SQLite file of `n` records of 200 bytes (a unique key of four digits at
// 1-4, a key with duplicates over a 20-byte text at 5-24), written and
// closed. false when anything failed.
bool WriteSampleFile(const std::string& path, int n);
// The pages (1-based, 4,096 bytes) of one b-tree of a closed SQLite file:
// "kel_records", "kel_key0"...
std::vector<int> BTreePages(const std::string& path, const std::string& btree);
// Flips `count` bytes chosen by `seed` inside the given pages: a file
// damaged on the disk.
void FlipBytes(const std::string& path, const std::vector<int>& pages, int count, unsigned seed);

// Whether the file passes SQLite's integrity check and the engine's own.
bool FileIsSound(const std::string& path, std::string* report);

// The engines a contract test runs on.
enum class Backend { kSqlite, kServer };
std::string BackendName(Backend backend);
// The tests' PostgreSQL server (KEL_TEST_PG); "" when there is none, and
// then the server's instances of the tests skip.
std::string TestServer();

// Points the record manager at one engine while it lives: the SQLite files,
// or a schema of its own on the tests' server with `root` as installation
// root (files named by their paths under it). On the way out every open is
// reset, the configuration put back and the schema dropped.
class BackendScope {
 public:
  BackendScope(Backend backend, const std::string& root);
  ~BackendScope();
  BackendScope(const BackendScope&) = delete;
  BackendScope& operator=(const BackendScope&) = delete;
  const std::string& schema() const { return schema_; }

 private:
  Backend backend_;
  std::string schema_;
};

// Runs SQL on the tests' server on a connection of its own; false on
// failure. For tests that play the administrator (drop a table, stop a
// session).
bool RunOnTestServer(const std::string& sql, std::string* error = nullptr);

}  // namespace kel::testing

#endif  // KEL_RECMAN_TEST_UTIL_H_
