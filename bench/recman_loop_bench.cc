// The conversion-shaped loop against the physical bound, measured in one run
// on the same files.
//
// Per record, the loop does what the data-file layer does for a converter:
// Stat twice (the key text for the progress line), Get Position, Update of
// one text field, one line appended to a log file (open, append, close), Get
// Direct, Get Next. The bound is one SQL UPDATE rewriting the same field of
// every record in one transaction. Both change the field's bytes on every
// repetition (SQLite skips pages rewritten with identical bytes).
//
// The loop runs a second time with a rewrite that also changes a key (the
// description, key 1, as converters do where the rewritten text is part of
// a key), against the same bound.
//
// Before the loops the file is loaded as recutil load and copy do (InsertAll
// in batches of kInsertAllBatchBytes), and that is timed too; on a server
// beside the server's own COPY of the same rows into a table like the
// file's (server_copy_reference.h), the floor under any loading there.
//
// With --server, the files are tables of a PostgreSQL server (a schema of
// their own, dropped by the next run's Create replacing each file): the one
// named, or without a connection string one of the benchmark's own with
// fsync and full_page_writes on (bench_server.h). The report then also
// gives how often each loop waited for the server's answers (round trips
// per record) and checks the goals for a server: the loop within 2.5 times
// the bound on 1,400-byte records and 3 times on 200-byte ones; the loop
// that moves a key without a round trip per record (at most one wait per
// ten records); loading 1,400-byte records at 20 us a record or less.
//
// usage: recman_loop_bench [--smoke] [--dir DIR] [--reps N (3; 5 with --server)]
//                          [--server [CONNINFO] [--schema NAME]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_server.h"
#ifdef KEL_HAVE_LIBPQ
#include "bench/server_copy_reference.h"
#endif
#include "platform/system.h"
#include "recman/admin.h"
#include "recman/backend_config.h"
#include "recman/file_spec.h"
#include "recman/recman.h"

namespace kel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKeyLength = 8;    // key 0: the record's code
constexpr int kDescOffset = 8;   // key 1: a 30-byte description, duplicates
constexpr int kTextOffset = 40;  // the text the conversion rewrites
constexpr int kTextLength = 40;
constexpr int kLanguages = 3;  // language columns after the text

struct Shape {
  int records;
  int length;
  double target;       // the loop may cost at most this many times the bound
  double load_target;  // loading may cost at most this many us a record (0: no goal)
};

// The loop that moves a key waits for the server's answers at most this
// often per record.
constexpr double kMaxWaitsPerRecord = 0.1;

std::string Record(int i, int length) {
  std::string r(static_cast<std::size_t>(length), ' ');
  char code[16];
  std::snprintf(code, sizeof code, "%08d", i);
  r.replace(0, kKeyLength, code);
  std::string desc = "DESCRIPTION " + std::to_string(i % 97);
  r.replace(kDescOffset, desc.size(), desc);
  for (int l = 0; l < kLanguages; ++l) {
    std::string text = "TEXT " + std::string(1, static_cast<char>('A' + l)) + " " + code;
    r.replace(kTextOffset + kTextLength * (l + 1), text.size(), text);
  }
  return r;
}

std::int16_t Call(std::int16_t op, void* block, std::string* data, std::uint32_t length,
                  std::string* key, int key_number, std::uint32_t* out_length = nullptr) {
  std::uint32_t len = length;
  std::int16_t st = BTRCALL(op, block, data->data(), &len, key->data(), 255,
                            static_cast<std::int8_t>(key_number));
  if (out_length != nullptr) *out_length = len;
  return st;
}

bool Build(const std::string& path, const Shape& shape) {
  FileSpec file_spec;
  file_spec.record_length = static_cast<std::uint16_t>(shape.length);
  file_spec.page_size = 4096;
  KeyDef k0, k1;
  KeySegment s0, s1;
  s0.position = 1;
  s0.length = kKeyLength;
  s1.position = kDescOffset + 1;
  s1.length = 30;
  s1.flags = kKeyFlagDuplicates | kKeyFlagModifiable;
  k0.segments = {s0};
  k1.segments = {s1};
  file_spec.keys = {k0, k1};
  std::string buffer = BuildCreateBuffer(file_spec);
  std::string key = path + '\0';
  std::uint8_t block[kPositionBlockSize] = {};
  std::uint32_t len = static_cast<std::uint32_t>(buffer.size());
  if (BTRCALL(kOpCreate, block, buffer.data(), &len, key.data(),
              static_cast<std::uint8_t>(path.size()), kCreateReplace) != kStatusOk) {
    return false;
  }
  char owner[1] = {0};
  len = 1;
  if (BTRCALL(kOpOpen, block, owner, &len, key.data(), static_cast<std::uint8_t>(path.size()), 0) !=
      kStatusOk) {
    return false;
  }
  // As recutil load and copy: batches of kInsertAllBatchBytes, each all or
  // nothing.
  std::vector<std::string> batch;
  std::size_t bytes = 0;
  for (int i = 0; i < shape.records; ++i) {
    batch.push_back(Record(i, shape.length));
    bytes += static_cast<std::size_t>(shape.length);
    if (bytes >= kInsertAllBatchBytes || i + 1 == shape.records) {
      std::size_t failed = 0;
      if (InsertAll(block, batch, &failed) != kStatusOk) return false;
      batch.clear();
      bytes = 0;
    }
  }
  return BTRCALL(kOpClose, block, nullptr, &len, nullptr, 0, 0) == kStatusOk;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Microseconds per record of the single-statement rewrite.
double Bound(const std::string& path, const Shape& shape, int rep) {
  std::uint8_t block[kPositionBlockSize] = {};
  std::string key = path + '\0';
  char owner[1] = {0};
  std::uint32_t len = 1;
  if (BTRCALL(kOpOpen, block, owner, &len, key.data(), static_cast<std::uint8_t>(path.size()), 0) !=
      kStatusOk) {
    return -1;
  }
  // The text of language (rep % kLanguages), as the loop writes it, but one
  // value for every record.
  std::string text = Record(rep, shape.length)
                         .substr(kTextOffset + kTextLength * (1 + rep % kLanguages), kTextLength);
  auto start = Clock::now();
  std::int16_t st = RewriteEveryRecord(block, kTextOffset, text);
  double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  (void)BTRCALL(kOpClose, block, nullptr, &len, nullptr, 0, 0);
  return st == kStatusOk ? us / shape.records : -1;
}

// Microseconds per record of the conversion-shaped loop; `log_us` gets the
// share of the log line alone. `move_key`: each rewrite changes key 1 too.
double Loop(const std::string& path, const std::string& log, const Shape& shape, int rep,
            bool move_key, double* log_us, double* waits) {
  std::uint8_t block[kPositionBlockSize] = {};
  std::string path_key = path + '\0';
  char owner[5] = {'K', 'E', 'L', '1', 0};
  std::uint32_t len = 5;
  if (BTRCALL(kOpOpen, block, owner, &len, path_key.data(), static_cast<std::uint8_t>(path.size()),
              0) != kStatusOk) {
    return -1;
  }
  const int lang = rep % kLanguages;
  std::string data(1536, ' '), key(256, '\0'), stat(1536, ' '), stat_key(256, ' ');
  std::string area(static_cast<std::size_t>(shape.length), ' ');
  std::string pos(1536, '\0'), nokey(256, '\0');
  std::chrono::duration<double, std::micro> in_log{0};
  int done = 0;
  const std::uint64_t waits_before = ServerWaits();
  auto start = Clock::now();
  // DbFind with an empty key: Get Greater or Equal on zero bytes.
  key.assign(256, '\0');
  std::int16_t st = Call(kOpGetGreaterOrEqual, block, &data, 1536, &key, 0);
  while (st == kStatusOk) {
    std::memcpy(area.data(), data.data(), area.size());
    // DbKeyText: two Stats.
    for (int i = 0; i < 2; ++i) {
      std::fill(stat.begin(), stat.end(), ' ');
      if (Call(kOpStat, block, &stat, 1536, &stat_key, 0) != kStatusOk) return -1;
    }
    // The converter copies the chosen language over the text.
    std::memcpy(area.data() + kTextOffset, area.data() + kTextOffset + kTextLength * (1 + lang),
                kTextLength);
    if (move_key) {
      char desc[31];
      std::snprintf(desc, sizeof desc, "%-30s",
                    ("MOVED " + std::to_string(rep) + " " + std::to_string(done % 89)).c_str());
      std::memcpy(area.data() + kDescOffset, desc, 30);
    }
    // DbUpdate: Get Position, Update, the log line, Get Direct.
    if (Call(kOpGetPosition, block, &pos, 1536, &nokey, 0) != kStatusOk) return -1;
    std::memcpy(data.data(), area.data(), area.size());
    if (Call(kOpUpdate, block, &data, static_cast<std::uint32_t>(area.size()), &key, 0) !=
        kStatusOk) {
      return -1;
    }
    auto log_start = Clock::now();
    File f;
    if (OpenFile(log, FileAccess::kAppend, FileShare::kShared, &f) == FileResult::kOk) {
      (void)f.Append("  142           3             0\r\n");
      f.Close();
    }
    in_log += Clock::now() - log_start;
    std::memcpy(data.data(), pos.data(), 4);
    if (Call(kOpGetDirect, block, &data, 1536, &nokey, 0) != kStatusOk) return -1;
    ++done;
    // DbStep: Get Next.
    st = Call(kOpGetNext, block, &data, 1536, &key, 0);
  }
  double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  *waits = static_cast<double>(ServerWaits() - waits_before) / std::max(done, 1);
  std::int16_t closed = BTRCALL(kOpClose, block, nullptr, &len, nullptr, 0, 0);
  if (st != kStatusEndOfFile || closed != kStatusOk || done != shape.records) return -1;
  *log_us = in_log.count() / done;
  return us / done;
}

int Run(int argc, char** argv) {
  bool smoke = false;
  int reps = 0;  // given, or 3 (5 on a server, whose commits vary more)
  std::string dir = "/tmp/kel-recman-bench";
  std::string schema = "kelbench";
  BenchServer server;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (server.Parse(argc, argv, &i)) continue;
    if (a == "--smoke") smoke = true;
    if (a == "--dir" && i + 1 < argc) dir = argv[++i];
    if (a == "--reps" && i + 1 < argc) reps = std::max(1, std::atoi(argv[++i]));
    if (a == "--schema" && i + 1 < argc) schema = argv[++i];
  }
  const bool on_server = server.wanted();
  std::vector<Shape> shapes = {{20000, 1400, 2.5, 0}, {200000, 200, 8.0, 0}};
  if (on_server) shapes = {{20000, 1400, 2.5, 20.0}, {50000, 200, 3.0, 0}};
  if (reps == 0) reps = on_server ? 5 : 3;
  if (smoke) {
    for (Shape& s : shapes) s.records = s.length > 1000 ? 300 : 500;
    reps = 1;
  }
  if (on_server) {
    if (int st = server.Start(); st != 0) return st;
  }
  std::filesystem::create_directories(dir);
  if (on_server) {
    RecordManagerConfig config;
    config.server = server.conninfo();
    config.schema = schema;
    config.install_root = dir + "/";
    ConfigureRecordManager(config);
    std::printf("on the server: %s, schema %s\n", server.Description().c_str(), schema.c_str());
  }
  std::printf("%-22s %12s %12s %12s %8s %8s\n", "file", "bound us/rec", "loop us/rec", "(log line)",
              "ratio", "target");
  std::vector<std::string> goals;
  bool all_ok = true;
  auto goal = [&](const std::string& what, bool met) {
    goals.push_back(what + ": " + (met ? "met" : "MISSED"));
    all_ok = all_ok && met;
  };
  for (const Shape& shape : shapes) {
    const std::string path = dir + "/bench" + std::to_string(shape.length) + ".dat";
    const std::string log = dir + "/db.log";
    const auto build_start = Clock::now();
    if (!Build(path, shape)) {
      std::fprintf(stderr, "cannot build %s\n", path.c_str());
      return 2;
    }
    const double load_us =
        std::chrono::duration<double, std::micro>(Clock::now() - build_start).count() /
        shape.records;
    std::vector<double> bound, loop, logs, moving, loop_waits, moving_waits;
    // The bound and the loop alternate; the loop that moves keys comes after
    // both, since the index pages it splits and the dead rows it leaves (and
    // the server's clean-up of them) would weigh on the next repetition.
    for (int rep = 0; rep < reps; ++rep) {
      bound.push_back(Bound(path, shape, rep));
      double log_us = 0, waits = 0;
      loop.push_back(Loop(path, log, shape, rep + 1, false, &log_us, &waits));
      logs.push_back(log_us);
      loop_waits.push_back(waits);
      std::filesystem::remove(log);
    }
    for (int rep = 0; rep < reps; ++rep) {
      double log_us = 0, waits = 0;
      moving.push_back(Loop(path, log, shape, rep + 1, true, &log_us, &waits));
      moving_waits.push_back(waits);
      std::filesystem::remove(log);
    }
    const double b = Median(bound), l = Median(loop), m = Median(moving);
    if (b <= 0 || l <= 0 || m <= 0) {
      std::fprintf(stderr, "a run failed on %s\n", path.c_str());
      return 2;
    }
    char name[64];
    std::snprintf(name, sizeof name, "%d x %d bytes", shape.records, shape.length);
    std::printf("%-22s %12.2f %12.2f %12.2f %8.2f %7.1fx %s", name, b, l, Median(logs), l / b,
                shape.target, l / b <= shape.target ? "met" : "MISSED");
    if (on_server) std::printf("  (%.3f waits/rec)", Median(loop_waits));
    std::printf("\n%-22s %12s %12.2f %12s %8.2f          (key 1 changes too", "", "", m, "", m / b);
    if (on_server) std::printf("; %.3f waits/rec", Median(moving_waits));
    std::printf(")\n%-22s loading (InsertAll batches): %.2f us/rec", "", load_us);
#ifdef KEL_HAVE_LIBPQ
    if (on_server) {
      // The floor under loading on this server at this hour: its own COPY of
      // the rows just loaded, with nothing of the engine around it.
      std::string why;
      const double floor_us = ServerCopyMicrosPerRow(
          server.conninfo(), schema, "bench" + std::to_string(shape.length), &why);
      if (floor_us > 0) {
        std::printf("; the server's own COPY of the same rows: %.2f us/rec (%.2f x)", floor_us,
                    load_us / floor_us);
      } else {
        std::printf("; (the server's own COPY not measured: %s)", why.c_str());
      }
    }
#endif
    std::printf("\n");
    char what[160];
    std::snprintf(what, sizeof what, "%d-byte records: the loop within %.1f x the bound",
                  shape.length, shape.target);
    goal(what, l / b <= shape.target);
    if (on_server) {
      std::snprintf(what, sizeof what,
                    "%d-byte records: the loop moving a key waits at most %.1f times a record",
                    shape.length, kMaxWaitsPerRecord);
      goal(what, Median(moving_waits) <= kMaxWaitsPerRecord);
    }
    if (on_server && shape.load_target > 0) {
      std::snprintf(what, sizeof what, "%d-byte records: loading at %.0f us a record or less",
                    shape.length, shape.load_target);
      goal(what, load_us <= shape.load_target);
    }
    std::filesystem::remove(path);
    std::filesystem::remove(path + "-locks");
  }
  if (!smoke) {
    for (const std::string& g : goals) std::printf("goal: %s\n", g.c_str());
    std::printf("%s\n", all_ok ? "all targets met" : "a target was missed");
  }
  return 0;
}

}  // namespace
}  // namespace kel

int main(int argc, char** argv) { return kel::Run(argc, argv); }
