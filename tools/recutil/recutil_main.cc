// recutil: the administrator's tool for data files. See Usage() below.
// Exit codes: 0 success, 1 wrong command line, 2 the work failed (the
// message names the file and the status).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/system.h"
#include "recman/admin.h"
#include "recman/backend_config.h"
#include "recman/file_spec.h"
#include "recman/manager_library.h"
#include "recman/network_fs.h"
#include "recman/recman.h"
#include "startup/data_server.h"
#include "tools/recutil/copy.h"
#include "tools/recutil/data_file.h"
#include "tools/recutil/installation.h"
#include "tools/recutil/manager_move.h"
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
    "  check FILE [--repair]              the engine's integrity check and its own of\n"
    "                                     every record, key and count; names what is\n"
    "                                     damaged. --repair rebuilds a damaged file's\n"
    "                                     keys from its records (the file must be\n"
    "                                     closed everywhere): every record that can be\n"
    "                                     read is kept, those that cannot are named,\n"
    "                                     records the file can no longer hold go to\n"
    "                                     FILE.refused (sequential), the damaged SQLite\n"
    "                                     file stays as FILE.damaged\n"
    "  copy to-server [FILE...]           copy data files from the SQLite files to the\n"
    "                                     server (every data file under the root when\n"
    "                                     none is named), record by record, and compare\n"
    "  copy to-files [FILE...]            copy data files from the server to SQLite files\n"
    "                                     (every data file of the schema when none is\n"
    "                                     named, each to ROOT/NAME.dat)\n"
    "  copy from-manager [FILE...]        move data files from the installed record\n"
    "                                     manager's files to SQLite files, in place\n"
    "                                     (every *.dat file under the root it opens when\n"
    "                                     none is named); its files are kept as NAME.gestor\n"
    "  copy to-manager [FILE...]          move SQLite data files to the installed record\n"
    "                                     manager's files, in place (every SQLite *.dat\n"
    "                                     file under the root when none is named); ours\n"
    "                                     are kept as NAME.kel\n"
    "  --help                             this text\n"
    "\n"
    "Where the files are (every command). With an installation root (--root or\n"
    "KELROOT) recutil reads its Nuri.ini [Dades] as the program does (Servidor,\n"
    "Esquema, XarxaLocal, Gestor; KELDB before Servidor, KELBTR before Gestor), so\n"
    "it sees the files the program converts; these options override it:\n"
    "  --server CONNINFO   a PostgreSQL server (libpq connection string); --server \"\"\n"
    "                      means the SQLite files; without any, SQLite files\n"
    "  --manager LIB       the installed record manager's library (a file name looked\n"
    "                      up the system's way, or a path): every command works on its\n"
    "                      files through its BTRCALL. Default: the variable KELBTR,\n"
    "                      else [Dades] Gestor of the installation's Nuri.ini\n"
    "  --no-manager        our own files even when KELBTR or Gestor names a library\n"
    "  --schema NAME       the installation's schema on the server (default kel)\n"
    "  --root DIR          the installation root (default the variable KELROOT, else\n"
    "                      the current directory, whose Nuri.ini is then not read):\n"
    "                      on the server a FILE is named by its path under the root,\n"
    "                      \"DIR/TAULES/UPaisos.dat\" being the table \"taules/upaisos\"\n"
    "                      whatever the letter case\n"
    "  --owner NAME        the files' owner name (a copy gets it too)\n"
    "  --network-fs        allow SQLite files on a network file system (one computer\n"
    "                      only; XarxaLocal=1 says the same); copy to-server always\n"
    "                      reads them\n"
    "\n"
    "A copy opens each source exclusively (stop the stations first), refuses an\n"
    "existing destination unless --replace, and reads the copy back to compare it\n"
    "record by record. A move to or from the installed record manager copies every\n"
    "file beside itself (NAME.kel-copy) and compares it before any copy takes its\n"
    "source's place; a backup that exists already is refused unless --replace.\n"
    "Sequential files: per record its length in digits, a comma, the bytes, CR LF;\n"
    "a Ctrl-Z at the end. Exit status: 0 done, 1 wrong command line, 2 failed (also a\n"
    "repair that could not keep every record).\n";

// What the command line says beyond the command.
struct Options {
  std::string owner;
  Installation where;
};

Options& Opt() {
  static Options options;
  return options;
}

int Fail(const std::string& file, const std::string& what) {
  std::fprintf(stderr, "recutil: %s: %s\n", file.c_str(), what.c_str());
  return kExitFailed;
}

int FailStatus(const std::string& file, const std::string& what, std::int16_t status) {
  std::string text = what + " (status " + std::to_string(status) + ": " + StatusText(status) + ")";
  if (status == kStatusNetworkFileSystem && !LastFileSystemRefusal().empty() &&
      Opt().where.manager.library.empty()) {
    text += ": " + LastFileSystemRefusal();
  }
  return Fail(file, text);
}

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

int Create(const std::string& file, const std::string& dict, bool replace) {
  std::string bytes, buffer, error;
  if (!ReadFile(dict, &bytes)) return Fail(dict, "cannot read the dictionary");
  if (!ReadDictionary(bytes, &buffer, &error)) return Fail(dict, error);
  std::int16_t st = CreateDataFile(file, buffer, replace);
  if (st != kStatusOk) return FailStatus(file, "cannot create from " + dict, st);
  std::printf("%s: created from %s\n", file.c_str(), dict.c_str());
  return 0;
}

int Stat(const std::string& file) {
  DataFile f(file);
  if (std::int16_t st = f.Open(kOpenReadOnly, Opt().owner); st != kStatusOk) {
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
  if (std::int16_t st = f.Open(kOpenReadOnly, Opt().owner); st != kStatusOk) {
    return FailStatus(file, "cannot open", st);
  }
  std::size_t length = 0;
  std::uint32_t total = 0;
  if (std::int16_t st = f.Figures(&length, &total); st != kStatusOk) {
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
  if (std::int16_t st = f.Open(kOpenNormal, Opt().owner); st != kStatusOk) {
    return FailStatus(file, "cannot open", st);
  }
  std::size_t length = 0;
  std::uint32_t total = 0;
  if (std::int16_t st = f.Figures(&length, &total); st != kStatusOk) {
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
  if (std::int16_t st = f.InsertRecords(records, &failed); st != kStatusOk) {
    if (!f.own_engine() && failed >= records.size()) {
      return FailStatus(file,
                        "the load failed and the records inserted before the failure could not "
                        "all be deleted again: the file holds part of " +
                            in_path,
                        st);
    }
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
  if (std::int16_t st = f.Open(kOpenReadOnly, Opt().owner); st != kStatusOk) {
    return FailStatus(file, "cannot open", st);
  }
  std::string record;
  std::uint32_t n = 0;
  std::int16_t st = f.Next(true, key, &record);
  for (; st == kStatusOk; st = f.Next(false, key, &record)) {
    std::uint32_t position = 0;
    if (f.Position(&position) != kStatusOk) position = 0;
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

// The check of a file that another record manager keeps, as far as its
// entry point shows it: Stat reads; every record reads in physical order and
// along every key; each key holds as many records as the file (fewer for a
// key that leaves records out) and never one that physical order does not.
std::int16_t CheckThroughEntryPoint(DataFile& f, std::string* report) {
  std::string stat;
  FileSpec spec;
  std::size_t length = 0;
  std::uint32_t records = 0;
  std::int16_t st = f.Stat(&stat);
  if (st == kStatusOk) st = f.Figures(&length, &records);
  if (st == kStatusOk) st = ParseCreateBuffer(stat.data(), stat.size(), &spec);
  if (st != kStatusOk) {
    *report +=
        f.name() + ": the file specification cannot be read (status " + std::to_string(st) + ")\n";
    return kStatusIoError;
  }
  const std::size_t problems_before = report->size();
  auto count = [&](int key, std::uint32_t* n) {
    std::string record;
    *n = 0;
    std::int16_t s = f.Next(true, key, &record);
    for (; s == kStatusOk; s = f.Next(false, key, &record)) {
      if (record.size() != length) {
        *report += f.name() + ": a record of " + std::to_string(record.size()) +
                   " bytes (the file's records have " + std::to_string(length) + ")\n";
      }
      ++*n;
    }
    return s;
  };
  std::uint32_t physical = 0;
  if (std::int16_t s = count(-1, &physical); s != kStatusEndOfFile) {
    *report += f.name() + ": reading in physical order stopped with status " + std::to_string(s) +
               " after " + std::to_string(physical) + " records\n";
  } else if (physical != records) {
    *report += f.name() + ": " + std::to_string(physical) + " records in physical order, " +
               std::to_string(records) + " counted by Stat\n";
  }
  for (std::size_t k = 0; k < spec.keys.size(); ++k) {
    const KeyDef& key = spec.keys[k];
    std::uint32_t along = 0;
    const std::string shown = f.name() + ": key " + std::to_string(k);
    if (std::int16_t s = count(key.number, &along); s != kStatusEndOfFile) {
      *report += shown + ": reading stopped with status " + std::to_string(s) + " after " +
                 std::to_string(along) + " records\n";
    } else if (along > physical || (along < physical && !key.null_all && !key.null_any)) {
      *report += shown + " holds " + std::to_string(along) + " records, the file " +
                 std::to_string(physical) + "\n";
    }
  }
  return report->size() == problems_before ? kStatusOk : kStatusIoError;
}

// The check of one file: 0 with an empty report when it is sound; else the
// status, with the problems in `report` (or the open's status, report
// empty).
std::int16_t CheckFile(const std::string& file, std::string* report, bool* opened) {
  DataFile f(file);
  std::int16_t st = f.Open(kOpenReadOnly, Opt().owner);
  *opened = st == kStatusOk;
  if (st == kStatusOk) {
    st = f.own_engine() ? CheckDataFile(f.block(), report) : CheckThroughEntryPoint(f, report);
  }
  return st;
}

// What was damaged, and the way out.
void ReportDamage(const std::string& file, const std::string& report) {
  std::fputs(report.c_str(), stderr);
  const std::string what = DamageSummary(report);
  if (!what.empty()) std::fprintf(stderr, "recutil: %s: damaged: %s\n", file.c_str(), what.c_str());
}

int Repair(const std::string& file);

int Check(const std::string& file, bool repair) {
  std::string report;
  bool opened = false;
  const std::int16_t st = CheckFile(file, &report, &opened);
  if (st == kStatusOk) {
    std::printf("%s: ok%s\n", file.c_str(), repair ? ", nothing to repair" : "");
    return 0;
  }
  if (!opened) {
    // A file whose header or description is damaged does not open; the
    // repair reads what it can all the same.
    if (!repair || st == kStatusFileNotFound || st == kStatusInvalidOwner) {
      return FailStatus(file, "cannot open", st);
    }
    (void)FailStatus(file, "cannot open", st);
  } else {
    ReportDamage(file, report);
    if (!repair) {
      return FailStatus(file,
                        "the check found problems; recutil check --repair rebuilds the keys "
                        "from the records (stop the programs that use the file first)",
                        st);
    }
  }
  return Repair(file);
}

// Rebuilds the file's keys from its records; records that cannot be read
// are named, records that the file can no longer hold are saved beside it.
int Repair(const std::string& file) {
  RepairOutcome out;
  const std::int16_t st = RepairDataFile(AbsolutePath(file), Opt().owner, &out);
  if (st != kStatusOk) {
    std::string why = "cannot be repaired";
    if (st == kStatusFileInUse) why += ": a program has it open; stop it first";
    if (st == kStatusNotADataFile) {
      why += ": its own description cannot be read; create it again from its dictionary "
             "(recutil create --replace) and load a save of its records";
    }
    return FailStatus(file, why, st);
  }
  for (const std::string& line : out.unreadable) {
    std::fprintf(stderr, "recutil: %s: %s\n", file.c_str(), line.c_str());
  }
  for (const std::string& line : out.refused_why) {
    std::fprintf(stderr, "recutil: %s: %s\n", file.c_str(), line.c_str());
  }
  std::string refused_file;
  if (!out.refused.empty()) {
    refused_file = file + ".refused";
    std::string bytes;
    for (const std::string& r : out.refused) AppendSequentialRecord(r, &bytes);
    bytes += kEndOfFile;
    std::ofstream o(refused_file, std::ios::binary | std::ios::trunc);
    o.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!o.flush()) {
      return Fail(refused_file, "cannot write the " + std::to_string(out.refused.size()) +
                                    " records the repaired file could not hold");
    }
  }
  std::printf("%s: repaired: %lld records kept", file.c_str(), static_cast<long long>(out.kept));
  if (!out.unreadable.empty()) {
    std::printf(", %zu places that could not be read", out.unreadable.size());
  }
  if (!out.refused.empty()) {
    std::printf(", %zu records the file cannot hold saved to %s", out.refused.size(),
                refused_file.c_str());
  }
  if (!out.damaged_copy.empty()) std::printf("; the damaged file is kept as %s", out.damaged_copy.c_str());
  std::printf("\n");
  std::fflush(stdout);
  std::string report;
  bool opened = false;
  if (std::int16_t again = CheckFile(file, &report, &opened); again != kStatusOk) {
    if (opened) ReportDamage(file, report);
    return FailStatus(file, "the repaired file does not pass the check", again);
  }
  std::printf("%s: ok\n", file.c_str());
  // Records were lost or set aside: the administrator must look.
  if (!out.unreadable.empty() || !out.refused.empty()) {
    return Fail(file, "repaired, but not every record is in it (see above)");
  }
  return 0;
}

// Where the installation at `root` (a folder ending in '/', or "" for none
// named) keeps its data files: its "Nuri.ini" [Dades] and KELDB, as the
// program reads them; without an installation, KELDB and KELBTR alone.
RecordManagerConfig InstallationDataFiles(const std::string& root) {
  // The reader takes a system path (code page 850), as the program has it.
  if (!root.empty()) return ReadDataServerSetting(Utf8ToCp850(root), CurrentEnv());
  RecordManagerConfig config;
  config.server = CurrentEnv().GetVariable("KELDB");
  config.library = CurrentEnv().GetVariable("KELBTR");
  return config;
}

int Usage(const char* why) {
  std::fprintf(stderr, "recutil: %s\n\n%s", why, kUsage);
  return kExitUsage;
}

// The file's name for messages: its path under the root.
std::string Shown(const std::string& native_path) {
  const std::string& root = Opt().where.root;
  return UnderRoot(native_path, root) ? native_path.substr(root.size()) : native_path;
}

// Whether a catalogue name stays under the root once ".dat" is added: no
// leading '/', no empty, "." or ".." component.
bool NameStaysUnderRoot(const std::string& name) {
  std::size_t start = 0;
  while (true) {
    const std::size_t end = name.find('/', start);
    const std::string part = name.substr(start, end == std::string::npos ? end : end - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

// Every data file of the server schema, as its path under the root:
// root + name + ".dat". A name that would leave the root is reported and
// counted in `*failures`. 0, or the exit code when there is nothing to copy.
int ServerFilesUnderRoot(std::vector<std::string>* files, std::size_t* failures) {
  const Installation& where = Opt().where;
  const std::string schema = "the server (schema " + where.server.schema + ")";
  std::vector<std::string> names;
  ConfigureRecordManager(where.server);
  const std::int16_t st = ListServerDataFiles(&names);
  ConfigureRecordManager(where.files);
  if (st == kStatusFileNotFound) return Fail(schema, "no data files in the schema");
  if (st != kStatusOk) return FailStatus(schema, "cannot list the data files", st);
  if (names.empty()) return Fail(schema, "no data files in the schema");
  for (const std::string& name : names) {
    if (!NameStaysUnderRoot(name)) {
      (void)Fail(name, "not a path under the installation root, left out");
      ++*failures;
      continue;
    }
    files->push_back(where.root + name + ".dat");
  }
  return 0;
}

// Makes the directories between the root and the file `path` that are missing.
void MakeDirectoriesFor(const std::string& path) {
  const std::string& root = Opt().where.root;
  for (std::size_t slash = path.find('/', root.size()); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string dir = path.substr(0, slash);
    if (!DirectoryExists(dir)) (void)MakeDirectory(dir);
  }
}

int Copy(bool to_server, const std::vector<std::string>& named, bool replace) {
  const Installation& where = Opt().where;
  if (where.server.server.empty()) {
    return Usage(
        "copy needs a server: [Dades] Servidor in the installation's Nuri.ini, --server "
        "CONNINFO or the variable KELDB");
  }
  std::vector<std::string> files = named;
  std::size_t unusable = 0;  // catalogue names that leave the root
  if (files.empty() && to_server) {
    files = SqliteFilesUnder(where.root);
    if (files.empty()) return Fail(where.root, "no data files under the installation root");
  } else if (files.empty()) {
    if (int code = ServerFilesUnderRoot(&files, &unusable); code != 0) return code;
  }
  // Moving an installation off a network share is the very reason to read
  // SQLite files there; writing them there still needs --network-fs.
  RecordManagerConfig sqlite = where.files;
  if (to_server) sqlite.allow_network_fs = true;
  const RecordManagerConfig& from = to_server ? sqlite : where.server;
  const RecordManagerConfig& to = to_server ? where.server : sqlite;
  const std::string target =
      to_server ? "the server (schema " + where.server.schema + ")" : "SQLite files";
  std::size_t failures = 0;
  std::size_t skipped = 0;
  std::uint64_t records = 0;
  for (const std::string& path : files) {
    const std::string shown = Shown(path);
    CopyRequest request;
    request.native_path = path;
    request.from = from;
    request.to = to;
    request.replace = replace;
    request.owner = Opt().owner;
    std::uint32_t copied = 0;
    std::string what;
    // The server's names are in lower case: a directory that exists in
    // another letter case is found as it is, a missing one is made.
    if (!to_server && named.empty()) MakeDirectoriesFor(path);
    bool progress_shown = false;
    auto progress = [&](std::uint32_t done, std::uint32_t total) {
      std::fprintf(stderr, "\r%s: %u of %u records", shown.c_str(), done, total);
      progress_shown = true;
    };
    const std::int16_t st = CopyDataFile(request, progress, &copied, &what);
    if (progress_shown) std::fputc('\n', stderr);
    if (st == kStatusNotADataFile && named.empty()) {
      // Found by the walk: some other program's SQLite database.
      std::printf("%s: not a data file, left out\n", shown.c_str());
      ++skipped;
      continue;
    }
    if (st != kStatusOk) {
      (void)FailStatus(shown, what, st);
      ++failures;
      continue;
    }
    records += copied;
    if (to_server) {
      std::printf("%s: %u records copied to %s, table %s\n", shown.c_str(), copied, target.c_str(),
                  ServerFileName(path, where.root).c_str());
    } else {
      std::printf("%s: %u records copied to %s\n", shown.c_str(), copied, target.c_str());
    }
    // In step with the progress lines on stderr.
    std::fflush(stdout);
  }
  std::printf("%zu files, %llu records copied to %s", files.size() - failures - skipped,
              static_cast<unsigned long long>(records), target.c_str());
  failures += unusable;
  if (failures > 0) std::printf("; %zu files failed", failures);
  std::printf("\n");
  return failures == 0 ? 0 : kExitFailed;
}

// copy from-manager / to-manager: the installation's data files between the
// installed record manager's files and our SQLite files, in place
// (manager_move.h).
int ManagerCopy(bool to_manager, const std::vector<std::string>& named, bool replace) {
  const Installation& where = Opt().where;
  const std::string library = Cp850ToUtf8(where.manager.library);
  std::vector<std::string> files = named;
  if (files.empty()) {
    for (const std::string& path : DatFilesUnder(where.root)) {
      // Ours are the SQLite files; any other *.dat file may be the installed
      // record manager's, which says itself whether it is.
      if (!to_manager || IsSqliteFile(path)) files.push_back(path);
    }
    if (files.empty()) return Fail(where.root, "no data files under the installation root");
  }
  MoveRequest request;
  request.to_manager = to_manager;
  request.files = files;
  request.walked = named.empty();
  request.manager = where.manager;
  request.own_files = where.files;
  request.root = where.root;
  request.replace = replace;
  request.owner = Opt().owner;
  bool progress_shown = false;
  MoveOutcome outcome;
  const std::int16_t st = MoveInstallation(
      request,
      [&](const std::string& path, std::uint32_t done, std::uint32_t total) {
        std::fprintf(stderr, "\r%s: %u of %u records", Shown(path).c_str(), done, total);
        progress_shown = true;
      },
      &outcome);
  if (progress_shown) std::fputc('\n', stderr);
  const std::string target =
      to_manager ? "the installed record manager (" + library + ")" : "SQLite files";
  std::size_t moved = 0, failed = 0;
  std::uint64_t records = 0;
  for (const MovedFile& f : outcome.files) {
    const std::string shown = Shown(f.path);
    if (f.skipped) {
      std::printf("%s: %s\n", shown.c_str(), f.what.c_str());
    } else if (f.status != kStatusOk) {
      (void)FailStatus(shown, f.what, f.status);
      ++failed;
    } else if (outcome.swapped) {
      std::printf("%s: %u records moved to %s, the file it was kept as %s\n", shown.c_str(),
                  f.records, target.c_str(), Shown(f.backup).c_str());
      ++moved;
      records += f.records;
    } else {
      std::printf("%s: %s\n", shown.c_str(),
                  f.copied ? "copied and compared, then left as it was" : "left as it was");
    }
  }
  if (!outcome.swapped) {
    const std::string failures = failed > 0 ? "; " + std::to_string(failed) + " files failed" : "";
    std::printf("nothing moved: every file is as it was%s\n", failures.c_str());
    return kExitFailed;
  }
  std::printf("%zu files, %llu records moved to %s", moved,
              static_cast<unsigned long long>(records), target.c_str());
  if (failed > 0) std::printf("; %zu files failed", failed);
  std::printf("\n");
  return st == kStatusOk ? 0 : kExitFailed;
}

}  // namespace

int RecutilMain(int argc, char** argv) {
  std::vector<std::string> args;
  int key = -1;
  bool hex = false, replace = false, network_fs = false, repair_flag = false, no_manager = false;
  std::string manager;  // --manager, as the shell gives it
  // Options that override what the installation says; unset when not given.
  std::optional<std::string> server, schema;
  std::string root = CurrentEnv().GetVariable("KELROOT");
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
    } else if (a == "--server" && i + 1 < argc) {
      server = argv[++i];
    } else if (a == "--schema" && i + 1 < argc) {
      schema = argv[++i];
      if (schema->empty()) return Usage("--schema needs a name");
    } else if (a == "--root" && i + 1 < argc) {
      root = argv[++i];
    } else if (a == "--owner" && i + 1 < argc) {
      Opt().owner = argv[++i];
      if (Opt().owner.empty() || Opt().owner.size() > 8)
        return Usage("--owner needs 1 to 8 characters");
    } else if (a == "--manager" && i + 1 < argc) {
      manager = argv[++i];
      if (manager.empty()) return Usage("--manager needs a library");
    } else if (a == "--no-manager") {
      no_manager = true;
    } else if (a == "--network-fs") {
      network_fs = true;
    } else if (a == "--hex") {
      hex = true;
    } else if (a == "--replace") {
      replace = true;
    } else if (a == "--repair") {
      repair_flag = true;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return Usage(("unknown option " + a).c_str());
    } else {
      args.push_back(a);
    }
  }
  if (args.empty()) return Usage("no command");
  const std::string& cmd = args[0];

  Installation& where = Opt().where;
  where.root = RootFolder(root);
  // An installation named by --root or KELROOT says where its data files
  // are, in "Nuri.ini" [Dades], read as the program reads it (with KELDB and
  // KELBTR); the options override it.
  RecordManagerConfig said = InstallationDataFiles(root.empty() ? "" : where.root);
  where.server = said;
  where.server.library.clear();
  where.server.install_root = where.root;
  where.server.allow_network_fs = said.allow_network_fs || network_fs;
  if (server.has_value()) where.server.server = *server;
  if (schema.has_value()) where.server.schema = *schema;
  where.files = where.server;
  where.files.server.clear();
  const bool on_server = !where.server.server.empty();
  // The installed record manager: --manager, else KELBTR, else the
  // installation's Gestor.
  where.manager = where.files;
  if (!no_manager) where.manager.library = !manager.empty() ? Utf8ToCp850(manager) : said.library;
  const bool manager_copy =
      cmd == "copy" && args.size() > 1 && (args[1] == "from-manager" || args[1] == "to-manager");
  const bool with_manager = !where.manager.library.empty() && (cmd != "copy" || manager_copy);
  if (with_manager && on_server) {
    return Usage(
        "a record manager's library (--manager, KELBTR or Gestor) and a server (--server, "
        "KELDB or Servidor) name two places for the data files: give one (--no-manager for the "
        "server, --server \"\" for neither)");
  }
  if (with_manager && repair_flag) {
    return Usage(
        "--repair works on our own files: the installed record manager's files are repaired "
        "with its own tools");
  }
  if (with_manager) {
    // Loaded before any file is touched: a library that is missing or has no
    // BTRCALL stops here.
    RecordManagerEntry entry = nullptr;
    std::string problem;
    if (LoadRecordManagerLibrary(where.manager.library, &entry, &problem) != kStatusOk) {
      return Fail(Cp850ToUtf8(where.manager.library), problem);
    }
  }
  ConfigureRecordManager(with_manager && !manager_copy ? where.manager
                         : !on_server || cmd == "copy" ? where.files
                                                       : where.server);
  // On the server a file is its path under the root: every FILE must lie
  // there (a copy names both engines' files the same way).
  if (on_server && cmd != "copy" && args.size() > 1) {
    args[1] = AbsolutePath(args[1]);
    if (!UnderRoot(args[1], where.root)) {
      return Fail(args[1],
                  "not under the installation root " + where.root + " (--root or KELROOT)");
    }
  }
  const std::size_t n = args.size() - 1;
  if (cmd == "copy" && n >= 1 && (args[1] == "to-server" || args[1] == "to-files")) {
    // The root names every file on the server and bounds the search for
    // the installation's files: never the current directory by chance.
    if (root.empty()) return Usage("copy needs the installation root: --root DIR or KELROOT");
    std::vector<std::string> files;
    for (std::size_t k = 2; k < args.size(); ++k) {
      files.push_back(AbsolutePath(args[k]));
      if (!UnderRoot(files.back(), where.root)) {
        return Fail(files.back(),
                    "not under the installation root " + where.root + " (--root or KELROOT)");
      }
    }
    return Copy(args[1] == "to-server", files, replace);
  }
  if (manager_copy) {
    if (where.manager.library.empty()) {
      return Usage(("copy " + args[1] +
                    " needs the installed record manager's library: --manager LIB, the variable "
                    "KELBTR or [Dades] Gestor in the root's Nuri.ini")
                       .c_str());
    }
    if (root.empty()) return Usage("copy needs the installation root: --root DIR or KELROOT");
    std::vector<std::string> files;
    for (std::size_t k = 2; k < args.size(); ++k) {
      files.push_back(AbsolutePath(args[k]));
      if (!UnderRoot(files.back(), where.root)) {
        return Fail(files.back(),
                    "not under the installation root " + where.root + " (--root or KELROOT)");
      }
    }
    return ManagerCopy(args[1] == "to-manager", files, replace);
  }
  if (cmd == "create" && n == 2) return Create(args[1], args[2], replace);
  if (cmd == "stat" && n == 1) return Stat(args[1]);
  if (cmd == "save" && n == 2) return Save(args[1], args[2], key);
  if (cmd == "load" && n == 2) return Load(args[1], args[2]);
  if (cmd == "dump" && n == 1) return Dump(args[1], key, hex);
  if (cmd == "check" && n == 1) return Check(args[1], repair_flag);
  return Usage(("wrong command line for " + cmd).c_str());
}

}  // namespace kel

int main(int argc, char** argv) { return kel::RecutilMain(argc, argv); }
