#include "tools/recutil/manager_move.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/system.h"
#include "recman/recman.h"
#include "tools/recutil/copy.h"
#include "tools/recutil/installation.h"
#include "tools/recutil/sequential.h"
#include "util/cp850.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

// The side files our engine leaves beside a SQLite file.
constexpr const char* kSideSuffixes[] = {"-locks", "-wal", "-shm", "-journal"};

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

// A write-ahead log with contents: a program has the SQLite file open (or
// ended without closing it), and moving the file alone would lose its
// latest work.
bool HasLiveLog(const std::string& path) {
  std::error_code ec;
  const auto size = fs::file_size(path + "-wal", ec);
  return !ec && size > 0;
}

void RemoveWithSideFiles(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
  for (const char* suffix : kSideSuffixes) fs::remove(path + suffix, ec);
}

std::string BackupOf(const MoveRequest& request, const std::string& path) {
  return path + (request.to_manager ? kOwnBackupSuffix : kManagerBackupSuffix);
}

}  // namespace

std::string DictionaryFor(const std::string& root, const std::string& native_path) {
  const std::string name = fs::path(native_path).filename().string();
  const std::string base = name.substr(0, name.find('.'));
  // MapPath finds "DDF" or "Ddf" as the program does.
  const std::string dictionary = MapPath(Utf8ToCp850(root + "ddf/" + base + ".xdf"));
  std::ifstream in(dictionary, std::ios::binary);
  if (!in) return "";
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string buffer, error;
  return ReadDictionary(bytes, &buffer, &error) ? buffer : "";
}

std::int16_t MoveInstallation(const MoveRequest& request, const MoveProgress& progress,
                              MoveOutcome* outcome) {
  outcome->files.clear();
  outcome->swapped = false;
  std::int16_t first_failure = kStatusOk;
  auto fail = [&](MovedFile* f, std::int16_t status, const std::string& what) {
    f->status = status;
    f->what = what;
    if (first_failure == kStatusOk) first_failure = status;
  };

  // Every backup name must be free before anything is copied.
  for (const std::string& path : request.files) {
    MovedFile f;
    f.path = path;
    const std::string backup = BackupOf(request, path);
    if (Exists(backup) && !request.replace) {
      fail(&f, kStatusFileAlreadyExists,
           "its backup " + backup + " exists already (move it away, or --replace)");
    }
    outcome->files.push_back(f);
  }
  if (first_failure != kStatusOk) return first_failure;

  // Step 1: a copy beside each file, compared with it.
  const RecordManagerConfig& from = request.to_manager ? request.own_files : request.manager;
  const RecordManagerConfig& to = request.to_manager ? request.manager : request.own_files;
  std::vector<std::string> made;
  for (MovedFile& f : outcome->files) {
    const std::string staging = f.path + kStagingSuffix;
    CopyRequest copy;
    copy.native_path = f.path;
    copy.destination_path = staging;
    copy.from = from;
    copy.to = to;
    copy.replace = true;  // a copy left by an earlier, failed move
    copy.owner = request.owner;
    copy.dictionary = DictionaryFor(request.root, f.path);
    std::string what;
    const std::int16_t st = CopyDataFile(
        copy,
        [&](std::uint32_t done, std::uint32_t total) {
          if (progress) progress(f.path, done, total);
        },
        &f.records, &what);
    if (Exists(staging)) made.push_back(staging);
    if (st == kStatusNotADataFile && request.walked) {
      f.skipped = true;
      f.what = "not a data file of the record manager it is read with, left out";
      continue;
    }
    if (st != kStatusOk) {
      fail(&f, st, what);
    } else {
      f.copied = true;
    }
  }
  ConfigureRecordManager(request.own_files);
  // A program that opened a file meanwhile would be left behind by the swap.
  if (first_failure == kStatusOk) {
    for (MovedFile& f : outcome->files) {
      if (f.skipped) continue;
      const std::string& ours = request.to_manager ? f.path : f.path + kStagingSuffix;
      if (HasLiveLog(ours)) {
        fail(&f, kStatusFileInUse, "a program has it open (its write-ahead log is in use)");
      }
    }
  }
  if (first_failure != kStatusOk) {
    for (const std::string& staging : made) RemoveWithSideFiles(staging);
    return first_failure;
  }

  // Step 2: each copy takes its source's place.
  outcome->swapped = true;
  for (MovedFile& f : outcome->files) {
    if (f.skipped) continue;
    const std::string staging = f.path + kStagingSuffix;
    const std::string backup = BackupOf(request, f.path);
    if (request.replace && Exists(backup)) RemoveWithSideFiles(backup);
    std::error_code ec;
    fs::rename(f.path, backup, ec);
    if (ec) {
      fail(&f, kStatusIoError,
           "cannot be renamed to " + backup + "; it is as it was, and its copy is " + staging);
      continue;
    }
    fs::rename(staging, f.path, ec);
    if (ec) {
      fail(&f, kStatusIoError,
           "its copy " + staging + " cannot take its place: the file is now " + backup +
               "; rename one of the two back");
      continue;
    }
    for (const char* suffix : kSideSuffixes) fs::remove(staging + suffix, ec);
    f.backup = backup;
  }
  return first_failure;
}

}  // namespace kel
