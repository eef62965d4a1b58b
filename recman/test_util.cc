#include "recman/test_util.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include <unistd.h>

#include "recman/admin.h"
#include "recman/backend_config.h"
#include "recman/file_spec.h"
#include "tests/support/test_dir.h"

#ifdef KEL_HAVE_LIBPQ
#include <libpq-fe.h>
#endif

namespace kel::testing {

TempDir::TempDir() {
  path_ = MakeTestDirectory("kel-recman");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

namespace {

void Put16(std::string* s, std::size_t at, int v) {
  (*s)[at] = static_cast<char>(v & 0xFF);
  (*s)[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

}  // namespace

std::string CreateSpec::Bytes() const {
  std::string out(16, '\0');
  Put16(&out, 0, record_length);
  Put16(&out, 2, page_size);
  Put16(&out, 4, static_cast<int>(keys.size()));
  out[5] = static_cast<char>(version);
  Put16(&out, 10, file_flags);
  for (const auto& key : keys) {
    for (std::size_t i = 0; i < key.size(); ++i) {
      const Segment& s = key[i];
      std::string file_spec(16, '\0');
      std::uint16_t flags = s.flags;
      if (i + 1 < key.size()) flags |= kKeyFlagSegmented;
      if (s.type != 0 || s.extended) flags |= kKeyFlagExtendedType;
      Put16(&file_spec, 0, s.position);
      Put16(&file_spec, 2, s.length);
      Put16(&file_spec, 4, flags);
      file_spec[10] = static_cast<char>(s.type);
      file_spec[11] = static_cast<char>(s.null_byte);
      file_spec[14] = static_cast<char>(s.manual_number);
      file_spec[15] = static_cast<char>(s.acs_number);
      out += file_spec;
    }
  }
  for (const std::string& table : acs) {
    out += static_cast<char>(kCollatingSignature);
    out += "TESTACS ";
    out += table;
  }
  return out;
}

std::string AcsTable(std::initializer_list<std::pair<std::uint8_t, std::uint8_t>> remap) {
  std::string t(256, '\0');
  for (int i = 0; i < 256; ++i) t[i] = static_cast<char>(i);
  for (auto [from, to] : remap) t[from] = static_cast<char>(to);
  return t;
}

std::int16_t CreateFile(const std::string& path, const CreateSpec& file_spec, std::int8_t mode,
                        RecordManagerEntry entry) {
  std::string buffer = file_spec.Bytes();
  buffer.resize(1536, ' ');  // as the data layer passes it: blank-padded
  std::uint32_t len = 1536;
  std::uint8_t block[kPositionBlockSize];
  std::memset(block, ' ', sizeof block);
  std::string key = path;
  key.push_back('\0');
  return entry(kOpCreate, block, buffer.data(), &len, key.data(),
               static_cast<std::uint8_t>(path.size()), mode);
}

Handle::~Handle() { (void)Close(); }

std::int16_t Handle::Open(const std::string& path, std::int8_t mode, const std::string& owner) {
  std::string data = owner;
  data.push_back('\0');
  std::uint32_t len = static_cast<std::uint32_t>(data.size());
  std::string key = path;
  key.push_back('\0');
  std::memset(block_, 0, sizeof block_);
  std::int16_t st = entry_(kOpOpen, block_, data.data(), &len, key.data(),
                           static_cast<std::uint8_t>(path.size()), mode);
  if (st == kStatusOk) {
    std::string stat;
    if (Stat(&stat) == kStatusOk) {
      record_length_ =
          static_cast<unsigned char>(stat[0]) | (static_cast<unsigned char>(stat[1]) << 8);
    }
  }
  return st;
}

std::int16_t Handle::Close() {
  std::uint32_t len = 0;
  return entry_(kOpClose, block_, nullptr, &len, nullptr, 0, 0);
}

std::int16_t Handle::Call(std::int16_t op, std::string* data, std::string* key, int key_number) {
  data->resize(1536, '\0');
  key->resize(256, '\0');
  std::uint32_t len = 1536;
  std::int16_t st = entry_(op, block_, data->data(), &len, key->data(), 255,
                           static_cast<std::int8_t>(key_number));
  data->resize(len);
  return st;
}

std::int16_t Handle::Insert(const std::string& record, int key_number) {
  std::string data = record;
  key_.assign(256, '\0');
  std::uint32_t len = static_cast<std::uint32_t>(data.size());
  std::int16_t st = entry_(kOpInsert, block_, data.data(), &len, key_.data(), 255,
                           static_cast<std::int8_t>(key_number));
  if (st == kStatusOk) record_ = data;
  return st;
}

std::int16_t Handle::Update(const std::string& record, int key_number) {
  std::string data = record;
  key_.assign(256, '\0');
  std::uint32_t len = static_cast<std::uint32_t>(data.size());
  return entry_(kOpUpdate, block_, data.data(), &len, key_.data(), 255,
                static_cast<std::int8_t>(key_number));
}

std::int16_t Handle::Delete() {
  std::uint32_t len = 0;
  key_.assign(256, '\0');
  return entry_(kOpDelete, block_, nullptr, &len, key_.data(), 255, 0);
}

std::int16_t Handle::Get(std::int16_t op, const std::string& search, int key_number) {
  key_ = search;
  key_.resize(256, '\0');
  std::string data;
  std::int16_t st = Call(op, &data, &key_, key_number);
  if (st == kStatusOk) record_ = data;
  return st;
}

std::int16_t Handle::Step(std::int16_t op) {
  std::string data;
  std::int16_t st = Call(op, &data, &key_, 0);
  if (st == kStatusOk) record_ = data;
  return st;
}

std::int16_t Handle::Position(std::uint32_t* pos) {
  std::string data;
  std::string key;
  std::int16_t st = Call(kOpGetPosition, &data, &key, 0);
  if (st == kStatusOk) std::memcpy(pos, data.data(), 4);
  return st;
}

std::int16_t Handle::Direct(std::uint32_t pos, int key_number, std::int16_t bias) {
  std::string data(1536, '\0');
  std::memcpy(data.data(), &pos, 4);
  key_.assign(256, '\0');
  std::uint32_t len = 1536;
  std::int16_t st = entry_(static_cast<std::int16_t>(kOpGetDirect + bias), block_, data.data(),
                           &len, key_.data(), 0, static_cast<std::int8_t>(key_number));
  data.resize(len);
  if (st == kStatusOk) record_ = data;
  return st;
}

std::int16_t Handle::Stat(std::string* out, int key_number) {
  std::string key(255, ' ');
  return Call(kOpStat, out, &key, key_number);
}

std::vector<std::string> ReadAll(Handle& h, int key_number, std::int16_t* status) {
  std::vector<std::string> out;
  std::int16_t st = h.Get(kOpGetFirst, "", key_number);
  while (st == kStatusOk) {
    out.push_back(h.record());
    st = h.Get(kOpGetNext, "", key_number);
  }
  *status = st;
  return out;
}

std::vector<std::string> ReadAllBackwards(Handle& h, int key_number, std::int16_t* status) {
  std::vector<std::string> out;
  std::int16_t st = h.Get(kOpGetLast, "", key_number);
  while (st == kStatusOk) {
    out.push_back(h.record());
    st = h.Get(kOpGetPrevious, "", key_number);
  }
  *status = st;
  return out;
}

CreateSpec ParitySpec() {
  CreateSpec s;
  s.record_length = kParityRecordLength;
  s.keys = {{Segment{1, 3, kKeyFlagModifiable}},
            {Segment{4, 2, kKeyFlagDuplicates | kKeyFlagModifiable | kKeyFlagDescending}},
            {Segment{6, 1, kKeyFlagDuplicates | kKeyFlagModifiable | kKeyFlagNullAll, 0, false,
                     ' '}}};
  return s;
}

std::string Rec(const std::string& text, int length, char fill) {
  std::string r = text.substr(0, static_cast<std::size_t>(length));
  r.resize(static_cast<std::size_t>(length), fill);
  return r;
}

std::string Le(std::int64_t value, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return s;
}

bool WriteSampleFile(const std::string& path, int n) {
  CreateSpec s;
  s.record_length = 200;
  s.keys = {{Segment{1, 4, kKeyFlagModifiable}},
            {Segment{5, 20, kKeyFlagDuplicates | kKeyFlagModifiable}}};
  if (CreateFile(path, s) != kStatusOk) return false;
  Handle h;
  if (h.Open(path) != kStatusOk) return false;
  for (int i = 0; i < n; ++i) {
    char key[8];
    std::snprintf(key, sizeof key, "%04d", (i * 7919) % 10000);
    const std::string text = "text " + std::to_string(i % 37);
    if (h.Insert(Rec(std::string(key) + Rec(text, 20), 200, 'r')) != kStatusOk) return false;
  }
  return h.Close() == kStatusOk;
}

std::vector<int> BTreePages(const std::string& path, const std::string& btree) {
  std::vector<int> pages;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT pageno FROM dbstat WHERE name = ?1", -1, &s, nullptr) ==
        SQLITE_OK) {
      sqlite3_bind_text(s, 1, btree.c_str(), -1, SQLITE_TRANSIENT);
      while (sqlite3_step(s) == SQLITE_ROW) pages.push_back(sqlite3_column_int(s, 0));
    }
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return pages;
}

void FlipBytes(const std::string& path, const std::vector<int>& pages, int count, unsigned seed) {
  if (pages.empty()) return;
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  std::mt19937 rng(seed);
  for (int i = 0; i < count; ++i) {
    const int page = pages[rng() % pages.size()];
    const std::streamoff at = static_cast<std::streamoff>(page - 1) * 4096 + rng() % 4096;
    char byte = 0;
    f.seekg(at);
    f.read(&byte, 1);
    byte = static_cast<char>(byte ^ static_cast<char>(1 + rng() % 255));
    f.seekp(at);
    f.write(&byte, 1);
  }
}

bool FileIsSound(const std::string& path, std::string* report) {
  Handle h;
  std::int16_t st = h.Open(path, kOpenReadOnly);
  if (st != kStatusOk) {
    *report = "open: status " + std::to_string(st);
    return false;
  }
  return CheckDataFile(h.block(), report) == kStatusOk;
}

std::string BackendName(Backend backend) {
  return backend == Backend::kSqlite ? "Sqlite" : "Server";
}

std::string TestServer() {
  const char* s = std::getenv("KEL_TEST_PG");
#ifdef KEL_HAVE_LIBPQ
  return s == nullptr ? "" : s;
#else
  (void)s;
  return "";
#endif
}

bool RunOnTestServer(const std::string& sql, std::string* error) {
#ifdef KEL_HAVE_LIBPQ
  PGconn* conn = PQconnectdb(TestServer().c_str());
  bool ok = PQstatus(conn) == CONNECTION_OK;
  if (ok) {
    PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
    PGresult* r = PQexec(conn, sql.c_str());
    ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    PQclear(r);
  }
  if (!ok && error != nullptr) *error = PQerrorMessage(conn);
  PQfinish(conn);
  return ok;
#else
  (void)sql;
  if (error != nullptr) *error = "built without libpq";
  return false;
#endif
}

BackendScope::BackendScope(Backend backend, const std::string& root) : backend_(backend) {
  if (backend_ != Backend::kServer) return;
  static int counter = 0;
  schema_ = "t" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
  // A run killed earlier may have left a schema of this name behind.
  (void)RunOnTestServer("DROP SCHEMA IF EXISTS \"" + schema_ + "\" CASCADE");
  RecordManagerConfig config;
  config.server = TestServer();
  config.schema = schema_;
  config.install_root = root + "/";
  ConfigureRecordManager(config);
}

BackendScope::~BackendScope() {
  if (backend_ != Backend::kServer) return;
  std::uint8_t block[kPositionBlockSize] = {};
  (void)BTRCALL(kOpReset, block, nullptr, nullptr, nullptr, 0, 0);
  ResetRecordManagerConfig();
  (void)RunOnTestServer("DROP SCHEMA IF EXISTS \"" + schema_ + "\" CASCADE");
}

}  // namespace kel::testing
