// The unattended conversion of a whole installation, measured beside the
// record manager's own conversion-shaped loop and its bulk bound over the
// same files, in one run.
//
//   program  tavireno /AUTO as a process, start to end: session, form file,
//            the check of every file, the nineteen conversions (screen,
//            progress line, lock files, operation log), the configuration
//   census   tavireno /INFORME /CSV as a process, start to end: every record
//            of the nineteen files read and counted, nothing written
//   loop     per record what the data-file layer asks of the record manager
//            for a converter, straight through BTRCALL: Stat twice (the key
//            text), Get Position, Update of CurrentText, one line appended to
//            a log file, Get Direct, Get Next
//   bound    one SQL UPDATE rewriting CurrentText of every record, for the
//            files where that text is no key segment (RewriteEveryRecord
//            refuses the others)
// Each repetition converts to another language than the one before, so
// every pass changes the bytes. The medians of the repetitions are printed.
//
// With --server a second, identical installation is written and its data
// files copied to a PostgreSQL server (schema kel_bench, replaced; the copy
// is timed: recutil copy to-server's path) and removed; the program finds
// the server through "Nuri.ini" [Dades], the loop and the bound through the
// record manager's configuration. Each repetition then runs the program on
// the SQLite files and on the server, one after the other, and the loop and
// the bound on the server; the goal is the program on the server within
// twice its cost on the SQLite files. Without a connection string the
// benchmark starts a server of its own (bench_server.h).
//
// usage: tavireno_bench [--records N] [--reps N] [--dir DIR] [--bin TAVIRENO]
//                       [--server [CONNINFO]] [--smoke]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_server.h"
#include "convert/converters.h"
#include "platform/system.h"
#include "recman/admin.h"
#include "recman/backend_config.h"
#include "recman/recman.h"
#include "startup/ini_file.h"
#include "tools/mkinstall/installer.h"
#include "tools/recutil/copy.h"
#include "util/fixed_text.h"

#ifndef KEL_TAVIRENO_BIN
#define KEL_TAVIRENO_BIN "tavireno"
#endif

namespace kel {
namespace {

using Clock = std::chrono::steady_clock;

const char* const kLanguages[] = {"SPA", "GLG", "OCI"};

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string NativePath(const std::string& root, const ConverterRow& row) {
  std::string path = root + row.path + ".dat";
  std::replace(path.begin() + static_cast<std::ptrdiff_t>(root.size()), path.end(), '\\', '/');
  return path;
}

class Opened {
 public:
  explicit Opened(const std::string& path) {
    std::string key = path + '\0';
    char owner[5] = {'K', 'E', 'L', '1', 0};
    std::uint32_t length = 5;
    status_ = BTRCALL(kOpOpen, block_, owner, &length, key.data(),
                      static_cast<std::uint8_t>(std::min<std::size_t>(path.size(), 255)), 0);
  }
  ~Opened() {
    std::uint32_t length = 0;
    if (status_ == kStatusOk) (void)BTRCALL(kOpClose, block_, nullptr, &length, nullptr, 0, 0);
  }
  bool ok() const { return status_ == kStatusOk; }
  void* block() { return block_; }

 private:
  std::uint8_t block_[kPositionBlockSize] = {};
  std::int16_t status_ = 0;
};

// The conversion-shaped loop over one file; returns the records done, -1
// on a failure.
long Loop(const std::string& path, const ConverterRow& row, const std::string& language,
          const std::string& log) {
  Opened file(path);
  if (!file.ok()) return -1;
  const int source = SourceColumn(row, language);
  std::string data(1536, ' '), key(256, '\0'), stat(1536, ' '), stat_key(256, ' ');
  std::string area(1536, ' '), position(1536, '\0'), no_key(256, '\0');
  auto call = [&](std::int16_t op, std::string* buffer, std::uint32_t length, std::string* k,
                  std::uint32_t* out = nullptr) {
    std::uint32_t len = length;
    const std::int16_t st = BTRCALL(op, file.block(), buffer->data(), &len, k->data(), 255, 0);
    if (out != nullptr) *out = len;
    return st;
  };
  long done = 0;
  std::uint32_t record_length = 0;
  std::int16_t st = call(kOpGetGreaterOrEqual, &data, 1536, &key, &record_length);
  while (st == kStatusOk) {
    std::memcpy(area.data(), data.data(), record_length);
    for (int i = 0; i < 2; ++i) {
      std::fill(stat.begin(), stat.end(), ' ');
      if (call(kOpStat, &stat, 1536, &stat_key) != kStatusOk) return -1;
    }
    std::memmove(area.data() + row.current, area.data() + source,
                 static_cast<std::size_t>(row.width));
    if (call(kOpGetPosition, &position, 1536, &no_key) != kStatusOk) return -1;
    std::memcpy(data.data(), area.data(), record_length);
    if (call(kOpUpdate, &data, record_length, &key) != kStatusOk) return -1;
    File f;
    if (OpenFile(log, FileAccess::kAppend, FileShare::kShared, &f) == FileResult::kOk) {
      (void)f.Append("  142           3             0\r\n");
    }
    std::memcpy(data.data(), position.data(), 4);
    if (call(kOpGetDirect, &data, 1536, &no_key) != kStatusOk) return -1;
    ++done;
    st = call(kOpGetNext, &data, 1536, &key, &record_length);
  }
  return st == kStatusEndOfFile ? done : -1;
}

// The bound for one file: records rewritten, or 0 when the engine refuses
// (the text is part of a key), -1 on a failure.
long Bound(const std::string& path, const ConverterRow& row, const std::string& language,
           long records) {
  Opened file(path);
  if (!file.ok()) return -1;
  // One text for every record: the bound of rewriting the column.
  const std::string text = FixedText("TEXT " + language, static_cast<std::size_t>(row.width));
  const std::int16_t st = RewriteEveryRecord(file.block(), row.current, text);
  if (st == kStatusInvalidKeyPosition) return 0;
  return st == kStatusOk ? records : -1;
}

// Moves the installation's data files to the server's schema `schema` and
// points its Nuri.ini there; from then on this process opens them there too.
bool MoveToServer(const std::string& root, const std::string& server, const std::string& schema) {
  RecordManagerConfig files;
  files.install_root = root;
  RecordManagerConfig on_server = files;
  on_server.server = server;
  on_server.schema = schema;
  std::vector<std::string> paths = {root + "menu.dat"};
  for (const ConverterRow& row : ConverterTable()) {
    const std::string path = NativePath(root, row);
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
  }
  for (const std::string& path : paths) {
    CopyRequest request;
    request.native_path = path;
    request.from = files;
    request.to = on_server;
    request.replace = true;
    std::uint32_t copied = 0;
    std::string what;
    if (std::int16_t st = CopyDataFile(request, nullptr, &copied, &what); st != kStatusOk) {
      std::fprintf(stderr, "tavireno_bench: %s: %s (status %d)\n", path.c_str(), what.c_str(), st);
      return false;
    }
    std::filesystem::remove(path);
  }
  if (IniWrite(root + "Nuri.ini", "Dades", "Servidor", server) != IniWriteResult::kOk ||
      IniWrite(root + "Nuri.ini", "Dades", "Esquema", schema) != IniWriteResult::kOk) {
    std::fprintf(stderr, "tavireno_bench: cannot write [Dades] in Nuri.ini\n");
    return false;
  }
  ConfigureRecordManager(on_server);
  return true;
}

// Runs the program once over the installation, converting to `language`.
// Seconds, or -1 when it failed.
double Program(const std::string& bin, const InstallReport& report, const std::string& language) {
  if (IniWrite(report.terminal_dir + "/NuriTerm.ini", "Sistema", "Idioma", language) !=
      IniWriteResult::kOk) {
    std::fprintf(stderr, "tavireno_bench: cannot set the terminal's language\n");
    return -1;
  }
  const std::string command = "KELDB='' KELROOT='" + report.root + "' KELTMP='" +
                              report.terminal_dir + "' '" + bin +
                              "' /AUTO >/dev/null 2>&1 </dev/null";
  auto start = Clock::now();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "tavireno_bench: %s failed\n", command.c_str());
    return -1;
  }
  const double seconds = Seconds(start);
  std::filesystem::remove(report.root + "db.log");
  return seconds;
}

int Run(int argc, char** argv) {
  long records_per_file = 20000;
  int reps = 3;
  std::string dir = "/tmp/kel-tavireno-bench";
  std::string bin = KEL_TAVIRENO_BIN;
  BenchServer server;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (server.Parse(argc, argv, &i)) continue;
    if (a == "--smoke") {
      records_per_file = 40;
      reps = 1;
    } else if (a == "--records" && more) {
      records_per_file = std::atol(argv[++i]);
    } else if (a == "--reps" && more) {
      reps = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--dir" && more) {
      dir = argv[++i];
    } else if (a == "--bin" && more) {
      bin = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: tavireno_bench [--records N] [--reps N] [--dir DIR] [--bin TAVIRENO] "
                   "[--server [CONNINFO]] [--smoke]\n");
      return 2;
    }
  }
  const bool on_server = server.wanted();
  if (on_server) {
    if (int st = server.Start(); st != 0) return st;
  }

  std::filesystem::remove_all(dir);
  // The installation the loop and the bound run on (moved to the server
  // with --server), and with --server its twin that stays on SQLite files.
  InstallReport report, files_report;
  for (InstallReport* r : {&report, &files_report}) {
    if (r == &files_report && !on_server) break;
    InstallOptions options;
    options.directory = dir + (r == &report ? "/inst" : "/files");
    options.records = records_per_file;
    std::string error;
    if (WriteInstallation(options, r, &error) != InstallStatus::kOk) {
      std::fprintf(stderr, "tavireno_bench: %s\n", error.c_str());
      return 2;
    }
  }
  const std::string root = report.root;
  const std::string log = dir + "/loop.log";
  const double total = static_cast<double>(report.records);
  double move_us = 0;
  if (on_server) {
    const auto start = Clock::now();
    if (!MoveToServer(root, server.conninfo(), "kel_bench")) return 2;
    move_us = Seconds(start) * 1e6 / total;
  }
  std::printf("installation: %lld records in %d files (--records %ld), %d repetitions, on %s\n",
              static_cast<long long>(report.records), report.data_files, records_per_file, reps,
              on_server ? "SQLite files and, a copy of it, on the server" : "SQLite files");
  if (on_server) {
    std::printf("server: %s, schema kel_bench\n", server.Description().c_str());
    std::printf("copied to the server (recutil copy to-server, compared after): %.2f us/record\n",
                move_us);
  }

  std::vector<double> program_s, files_program_s, census_s, loop_s, bound_s, loop_subset_s, waits;
  long bound_records = 0;
  int bound_files = 0;
  for (int rep = 0; rep < reps; ++rep) {
    // The program, to one language, on the SQLite files and on the server...
    const std::string program_language = kLanguages[(2 * rep) % 3];
    if (on_server) {
      const double files_seconds = Program(bin, files_report, program_language);
      if (files_seconds < 0) return 2;
      files_program_s.push_back(files_seconds);
    }
    const double seconds = Program(bin, report, program_language);
    if (seconds < 0) return 2;
    program_s.push_back(seconds);

    // The census of the same files, as they now stand.
    const std::string census = "KELDB='' KELROOT='" + root + "' KELTMP='" + report.terminal_dir +
                               "' '" + bin + "' /INFORME /CSV >/dev/null 2>&1 </dev/null";
    const auto census_start = Clock::now();
    if (std::system(census.c_str()) != 0) {
      std::fprintf(stderr, "tavireno_bench: %s failed\n", census.c_str());
      return 2;
    }
    census_s.push_back(Seconds(census_start));

    // ...then the loop to the next one, file by file, timing the files the
    // bound accepts apart.
    const std::string loop_language = kLanguages[(2 * rep + 1) % 3];
    double loop_all = 0, loop_subset = 0, bound = 0;
    long looped = 0;
    bound_records = 0;
    bound_files = 0;
    const std::uint64_t waits_before = ServerWaits();
    for (const ConverterRow& row : ConverterTable()) {
      const std::string path = NativePath(root, row);
      auto start = Clock::now();
      const long done = Loop(path, row, loop_language, log);
      const double loop_seconds = Seconds(start);
      if (done < 0) {
        std::fprintf(stderr, "tavireno_bench: the loop failed on %s\n", path.c_str());
        return 2;
      }
      looped += done;
      loop_all += loop_seconds;
      std::filesystem::remove(log);
      start = Clock::now();
      const long bounded = Bound(path, row, kLanguages[(2 * rep + 2) % 3], done);
      const double bound_seconds = Seconds(start);
      if (bounded < 0) {
        std::fprintf(stderr, "tavireno_bench: the bound failed on %s\n", path.c_str());
        return 2;
      }
      if (bounded > 0) {
        bound += bound_seconds;
        loop_subset += loop_seconds;
        bound_records += bounded;
        ++bound_files;
      }
    }
    if (looped != report.records) {
      std::fprintf(stderr, "tavireno_bench: the loop saw %ld records\n", looped);
      return 2;
    }
    loop_s.push_back(loop_all);
    bound_s.push_back(bound);
    loop_subset_s.push_back(loop_subset);
    waits.push_back(static_cast<double>(ServerWaits() - waits_before) / total);
  }

  const double program_us = Median(program_s) * 1e6 / total;
  const double loop_us = Median(loop_s) * 1e6 / total;
  const double census_us = Median(census_s) * 1e6 / total;
  std::printf("%-44s %10s %12s %8s\n", "", "us/record", "records/s", "x loop");
  if (on_server) {
    const double files_us = Median(files_program_s) * 1e6 / total;
    std::printf("%-44s %10.2f %12.0f\n", "tavireno /AUTO on the SQLite files", files_us,
                1e6 / files_us);
    std::printf("%-44s %10.2f %12.0f %8.2f   (%.2f x on the SQLite files)\n",
                "tavireno /AUTO on the server", program_us, 1e6 / program_us, program_us / loop_us,
                program_us / files_us);
  } else {
    std::printf("%-44s %10.2f %12.0f %8.2f\n", "tavireno /AUTO (whole process)", program_us,
                1e6 / program_us, program_us / loop_us);
  }
  std::printf("%-44s %10.2f %12.0f %8.2f   (%.2f x /AUTO)\n",
              on_server ? "tavireno /INFORME on the server" : "tavireno /INFORME (whole process)",
              census_us, 1e6 / census_us, census_us / loop_us, census_us / program_us);
  if (on_server) {
    std::printf("%-44s %10.2f %12.0f %8.2f   (%.3f waits for the server a record)\n",
                "record-manager loop on the server", loop_us, 1e6 / loop_us, 1.0, Median(waits));
  } else {
    std::printf("%-44s %10.2f %12.0f %8.2f\n", "record-manager loop", loop_us, 1e6 / loop_us, 1.0);
  }
  if (bound_records > 0) {
    const double bound_us = Median(bound_s) * 1e6 / static_cast<double>(bound_records);
    const double subset_us = Median(loop_subset_s) * 1e6 / static_cast<double>(bound_records);
    char label[64];
    std::snprintf(label, sizeof label, "bulk bound (%d files, %ld records)", bound_files,
                  bound_records);
    std::printf("%-44s %10.2f %12.0f %8.2f   (loop on those files: %.2f us/record)\n", label,
                bound_us, 1e6 / bound_us, bound_us / loop_us, subset_us);
  }
  std::printf("goal: the program costs at most 1.5 x the loop per record: %s\n",
              program_us <= 1.5 * loop_us ? "met" : "MISSED");
  std::printf("goal: the census takes at most a quarter of the time of /AUTO: %s\n",
              census_us <= 0.25 * program_us ? "met" : "MISSED");
  if (on_server) {
    const double ratio = program_us / (Median(files_program_s) * 1e6 / total);
    std::printf(
        "goal: the program on the server costs at most 2 x the program on SQLite files: "
        "%.2f x, %s\n",
        ratio, ratio <= 2.0 ? "met" : "MISSED");
  }
  std::filesystem::remove_all(dir);
  return 0;
}

}  // namespace
}  // namespace kel

int main(int argc, char** argv) { return kel::Run(argc, argv); }
