// recutil: the administrator's tool for data files. See Usage() below.
// Exit codes: 0 success, 1 wrong command line, 2 the work failed (the
// message names the file and the status).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "recman/admin.h"
#include "recman/recman.h"
#include "tools/recutil/report.h"
#include "tools/recutil/sequential.h"
#include "util/cp850.h"

namespace kel {
namespace {

constexpr int kExitUsage = 1;
constexpr int kExitFailed = 2;

const char kUsage[] =
    "usage: recutil COMMAND ...\n"
    "\n"
    "  create FILE DICT.xdf [--replace]  create an empty data file from a dictionary\n"
    "                                     (2-byte count + Create buffer); an existing\n"
    "                                     file is kept unless --replace\n"
    "  stat FILE                          record length, page size, records, keys\n"
    "  save FILE OUT [--key N]            write every record to a sequential file\n"
    "                                     (physical order, or the order of key N)\n"
    "  load FILE IN                       insert the records of a sequential file: all\n"
    "                                     of them, or none when one is bad\n"
    "  dump FILE [--key N] [--hex]        show the records as text (or hex)\n"
    "  check FILE                         SQLite's integrity check and the engine's own\n"
    "  --help                             this text\n"
    "\n"
    "Sequential files: per record its length in digits, a comma, the bytes, CR LF;\n"
    "a Ctrl-Z at the end. Exit status: 0 done, 1 wrong command line, 2 failed.\n";

int Fail(const std::string& file, const std::string& what) {
  std::fprintf(stderr, "recutil: %s: %s\n", file.c_str(), what.c_str());
  return kExitFailed;
}

int FailStatus(const std::string& file, const std::string& what, std::int16_t status) {
  return Fail(file, what + " (status " + std::to_string(status) + ": " + StatusText(status) + ")");
}

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// One open data file, closed at the end of the scope.
class DataFile {
 public:
  explicit DataFile(const std::string& native_path) : name_(native_path) {}
  ~DataFile() {
    if (open_) {
      std::uint32_t len = 0;
      (void)BTRCALL(kOpClose, block_, nullptr, &len, nullptr, 0, 0);
    }
  }
  std::int16_t Open(std::int8_t mode) {
    // The engine takes system paths (code page 850); the shell gives UTF-8.
    std::string path = Utf8ToCp850(name_);
    std::string key = path + '\0';
    char owner[1] = {0};
    std::uint32_t len = 1;
    std::int16_t st =
        BTRCALL(kOpOpen, block_, owner, &len, key.data(),
                static_cast<std::uint8_t>(std::min<std::size_t>(path.size(), 255)), mode);
    open_ = st == kStatusOk;
    return st;
  }
  std::int16_t Close() {
    std::uint32_t len = 0;
    open_ = false;
    return BTRCALL(kOpClose, block_, nullptr, &len, nullptr, 0, 0);
  }
  std::int16_t Stat(std::string* out) {
    out->assign(65535, '\0');
    std::uint32_t len = 65535;
    char key[256] = {};
    std::int16_t st = BTRCALL(kOpStat, block_, out->data(), &len, key, 255, 0);
    out->resize(st == kStatusOk ? len : 0);
    return st;
  }
  // Reads the next record: physical order when key < 0, else along key.
  std::int16_t Next(bool first, int key, std::string* record) {
    record->assign(kMaxRecordLength, '\0');
    std::uint32_t len = kMaxRecordLength;
    char keybuf[256] = {};
    std::int16_t op =
        key < 0 ? (first ? kOpStepFirst : kOpStepNext) : (first ? kOpGetFirst : kOpGetNext);
    std::int16_t st = BTRCALL(op, block_, record->data(), &len, keybuf, 255,
                              static_cast<std::int8_t>(key < 0 ? 0 : key));
    record->resize(st == kStatusOk ? len : 0);
    return st;
  }
  void* block() { return block_; }

 private:
  std::string name_;
  std::uint8_t block_[kPositionBlockSize] = {};
  bool open_ = false;
};

std::int16_t RecordLength(DataFile& f, std::size_t* length, std::uint32_t* records) {
  std::string stat;
  std::int16_t st = f.Stat(&stat);
  if (st == kStatusOk) {
    *length = static_cast<unsigned char>(stat[0]) | (static_cast<unsigned char>(stat[1]) << 8);
    std::memcpy(records, stat.data() + 6, 4);
  }
  return st;
}

int Create(const std::string& file, const std::string& dict, bool replace) {
  std::string bytes, buffer, error;
  if (!ReadFile(dict, &bytes)) return Fail(dict, "cannot read the dictionary");
  if (!ReadDictionary(bytes, &buffer, &error)) return Fail(dict, error);
  std::string path = Utf8ToCp850(file);
  std::string key = path + '\0';
  std::uint8_t block[kPositionBlockSize] = {};
  std::uint32_t len = static_cast<std::uint32_t>(buffer.size());
  std::int16_t st = BTRCALL(kOpCreate, block, buffer.data(), &len, key.data(),
                            static_cast<std::uint8_t>(std::min<std::size_t>(path.size(), 255)),
                            replace ? kCreateReplace : kCreateNoReplace);
  if (st != kStatusOk) return FailStatus(file, "cannot create from " + dict, st);
  std::printf("%s: created from %s\n", file.c_str(), dict.c_str());
  return 0;
}

int Stat(const std::string& file) {
  DataFile f(file);
  if (std::int16_t st = f.Open(kOpenReadOnly); st != kStatusOk) {
    return FailStatus(file, "cannot open", st);
  }
  std::string stat;
  if (std::int16_t st = f.Stat(&stat); st != kStatusOk) return FailStatus(file, "cannot stat", st);
  std::string report = StatReport(file, stat);
  if (report.empty()) return Fail(file, "the file's specification cannot be read");
  std::fputs(report.c_str(), stdout);
  return 0;
}

int Save(const std::string& file, const std::string& out_path, int key) {
  DataFile f(file);
  if (std::int16_t st = f.Open(kOpenReadOnly); st != kStatusOk) {
    return FailStatus(file, "cannot open", st);
  }
  std::size_t length = 0;
  std::uint32_t total = 0;
  if (std::int16_t st = RecordLength(f, &length, &total); st != kStatusOk) {
    return FailStatus(file, "cannot stat", st);
  }
  std::string out, record;
  std::uint32_t saved = 0;
  std::int16_t st = f.Next(true, key, &record);
  for (; st == kStatusOk; st = f.Next(false, key, &record)) {
    AppendSequentialRecord(record, &out);
    ++saved;
  }
  if (st != kStatusEndOfFile)
    return FailStatus(file, "cannot read record " + std::to_string(saved + 1), st);
  out += kEndOfFile;
  // Written under another name and renamed: a failed save never leaves a
  // half-written file under the name asked for.
  const std::string tmp = out_path + ".tmp";
  {
    std::ofstream o(tmp, std::ios::binary | std::ios::trunc);
    o.write(out.data(), static_cast<std::streamsize>(out.size()));
    o.flush();
    if (!o) {
      std::remove(tmp.c_str());
      return Fail(out_path, "cannot write");
    }
  }
  if (std::rename(tmp.c_str(), out_path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return Fail(out_path, "cannot write");
  }
  std::printf("%s: %u records saved to %s\n", file.c_str(), saved, out_path.c_str());
  if (saved != total) {
    std::fprintf(stderr, "recutil: %s: %u records are not in key %d and were not saved\n",
                 file.c_str(), total - saved, key);
  }
  return 0;
}

int Load(const std::string& file, const std::string& in_path) {
  std::string bytes;
  if (!ReadFile(in_path, &bytes)) return Fail(in_path, "cannot read");
  DataFile f(file);
  if (std::int16_t st = f.Open(kOpenNormal); st != kStatusOk) {
    return FailStatus(file, "cannot open", st);
  }
  std::size_t length = 0;
  std::uint32_t total = 0;
  if (std::int16_t st = RecordLength(f, &length, &total); st != kStatusOk) {
    return FailStatus(file, "cannot stat", st);
  }
  // Every record is checked before the first is written.
  std::vector<std::string> records;
  std::size_t bad = 0;
  std::string error;
  if (!ParseSequential(bytes, length, &records, &bad, &error)) {
    return Fail(in_path, "record " + std::to_string(bad) + ": " + error + "; nothing loaded");
  }
  std::size_t failed = 0;
  if (std::int16_t st = InsertAll(f.block(), records, &failed); st != kStatusOk) {
    const std::string what = failed < records.size() ? "record " + std::to_string(failed + 1) +
                                                           " of " + in_path + " cannot be inserted"
                                                     : "the load cannot be committed";
    return FailStatus(file, what + "; nothing loaded", st);
  }
  if (std::int16_t st = f.Close(); st != kStatusOk) return FailStatus(file, "cannot close", st);
  std::printf("%s: %zu records loaded from %s\n", file.c_str(), records.size(), in_path.c_str());
  return 0;
}

int Dump(const std::string& file, int key, bool hex) {
  DataFile f(file);
  if (std::int16_t st = f.Open(kOpenReadOnly); st != kStatusOk) {
    return FailStatus(file, "cannot open", st);
  }
  std::string record;
  std::uint32_t n = 0;
  std::int16_t st = f.Next(true, key, &record);
  for (; st == kStatusOk; st = f.Next(false, key, &record)) {
    std::uint8_t pos[4] = {};
    std::uint32_t len = 4;
    char keybuf[256];
    std::uint32_t position = 0;
    if (BTRCALL(kOpGetPosition, f.block(), pos, &len, keybuf, 0, 0) == kStatusOk) {
      std::memcpy(&position, pos, 4);
    }
    ++n;
    if (hex) {
      std::printf("record %u, position %u\n%s", n, position, HexDump(record).c_str());
    } else {
      std::printf("%u\t%s\n", position, ReadableText(record).c_str());
    }
  }
  if (st != kStatusEndOfFile)
    return FailStatus(file, "cannot read record " + std::to_string(n + 1), st);
  return 0;
}

int Check(const std::string& file) {
  DataFile f(file);
  if (std::int16_t st = f.Open(kOpenReadOnly); st != kStatusOk) {
    return FailStatus(file, "cannot open", st);
  }
  std::string report;
  std::int16_t st = CheckDataFile(f.block(), &report);
  if (st == kStatusOk) {
    std::printf("%s: ok\n", file.c_str());
    return 0;
  }
  std::fputs(report.c_str(), stderr);
  return FailStatus(file, "the check found problems", st);
}

int Usage(const char* why) {
  std::fprintf(stderr, "recutil: %s\n\n%s", why, kUsage);
  return kExitUsage;
}

}  // namespace

int RecutilMain(int argc, char** argv) {
  std::vector<std::string> args;
  int key = -1;
  bool hex = false, replace = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--key" && i + 1 < argc) {
      char* end = nullptr;
      long k = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || k < 0 || k > 127) return Usage("--key needs a key number");
      key = static_cast<int>(k);
    } else if (a == "--hex") {
      hex = true;
    } else if (a == "--replace") {
      replace = true;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return Usage(("unknown option " + a).c_str());
    } else {
      args.push_back(a);
    }
  }
  if (args.empty()) return Usage("no command");
  const std::string& cmd = args[0];
  const std::size_t n = args.size() - 1;
  if (cmd == "create" && n == 2) return Create(args[1], args[2], replace);
  if (cmd == "stat" && n == 1) return Stat(args[1]);
  if (cmd == "save" && n == 2) return Save(args[1], args[2], key);
  if (cmd == "load" && n == 2) return Load(args[1], args[2]);
  if (cmd == "dump" && n == 1) return Dump(args[1], key, hex);
  if (cmd == "check" && n == 1) return Check(args[1]);
  return Usage(("wrong command line for " + cmd).c_str());
}

}  // namespace kel

int main(int argc, char** argv) { return kel::RecutilMain(argc, argv); }
