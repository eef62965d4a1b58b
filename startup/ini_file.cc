// Reading and rewriting configuration files on disk.
//
// The rewrite never deletes the old file before the new one is in place: the
// new contents are written to a temporary file beside it, forced to disk,
// and renamed over the old file, which the system does atomically. The
// read-merge-rename runs under a lock on a side file of the directory, so
// that concurrent rewrites by our processes cannot lose each other's keys
// (the lock cannot live on the configuration file itself: the rename
// replaces that file, and a waiter would then hold a lock on a file that is
// no longer there).
#include "startup/ini_file.h"

#include <cmath>

#include "platform/file_lock.h"
#include "platform/system.h"
#include "startup/ini_text.h"
#include "util/fixed_text.h"

namespace kel {
namespace {

constexpr int kLockPollMillis = 20;
constexpr int kLockPolls = 1500;  // 30 s: a holder keeps the lock for milliseconds
constexpr int kAttempts = 10;
constexpr int kRetryPauseMillis = 100;
constexpr int kNameDraws = 1000;
constexpr int kNameDigits = 8;

// The rewrite lock of one directory, held while the object lives (closing
// the side file releases it, also when the process dies).
class DirectoryLock {
 public:
  // false when another process held the lock for the whole wait.
  bool Acquire(const std::string& directory) {
    std::string path = directory + std::string(kIniLockFileName);
    if (OpenFile(path, FileAccess::kReadWriteCreate, FileShare::kShared, &file_) !=
        FileResult::kOk) {
      return true;  // no lock to be had: rewrite without it
    }
    for (int poll = 1;; ++poll) {
      FileResult r = LockRange(file_, 0, 1, LockKind::kExclusive, /*wait=*/false);
      if (r == FileResult::kOk) return true;
      if (r != FileResult::kBusy) return true;  // locks unsupported here
      if (poll >= kLockPolls) return false;
      CurrentEnv().SleepMillis(kLockPollMillis);
    }
  }

 private:
  File file_;
};

enum class ReadOutcome { kOk, kBusy, kFailed };

// The current bytes of the file; a missing file reads as empty. A file that
// exists but cannot be read must never be taken for an empty one: the
// rewrite would wipe it.
ReadOutcome ReadCurrent(std::string_view path, std::string* bytes) {
  bytes->clear();
  File file;
  FileResult r = OpenFile(path, FileAccess::kRead, FileShare::kShared, &file);
  if (r == FileResult::kNotFound) return ReadOutcome::kOk;
  if (r == FileResult::kBusy) return ReadOutcome::kBusy;
  if (r != FileResult::kOk) return ReadOutcome::kFailed;
  char buffer[65536];
  for (std::int64_t offset = 0;;) {
    std::int64_t n = file.ReadAt(offset, buffer, sizeof buffer);
    if (n < 0) return ReadOutcome::kFailed;
    if (n == 0) return ReadOutcome::kOk;
    bytes->append(buffer, static_cast<std::size_t>(n));
    offset += n;
  }
}

// A name of 8 random digits + ".tmp" in `directory` that does not exist yet.
// The generator is seeded once from the clock; on a collision the sequence
// simply continues (seeding again from a clock that has not moved would draw
// the same name forever).
bool DrawTemporaryName(const std::string& directory, std::string* name) {
  Env& env = CurrentEnv();
  double hundredths = std::floor(env.Now().SecondsSinceMidnight() * 100);
  env.SeedRandom(static_cast<std::uint64_t>(hundredths));
  for (int draw = 0; draw < kNameDraws; ++draw) {
    std::string candidate = directory;
    for (int i = 0; i < kNameDigits; ++i) {
      int digit = static_cast<int>(env.Random() * 10);
      candidate += static_cast<char>('0' + (digit > 9 ? 9 : digit));
    }
    candidate += ".tmp";
    if (!FileExists(candidate) && !DirectoryExists(candidate)) {
      *name = candidate;
      return true;
    }
  }
  return false;
}

// Writes the whole temporary file and forces it to disk.
bool WriteTemporary(const std::string& name, std::string_view bytes) {
  File file;
  if (OpenFile(name, FileAccess::kWriteTruncate, FileShare::kNotShared, &file) != FileResult::kOk) {
    return false;
  }
  bool ok = file.WriteAt(0, bytes.data(), bytes.size()) && file.Sync();
  file.Close();
  return ok;
}

}  // namespace

std::string IniDirectoryOf(std::string_view path) {
  std::size_t end = path.size();
  while (end > 0 && path[end - 1] != ':' && path[end - 1] != '\\' && path[end - 1] != '/') --end;
  return std::string(path.substr(0, end));
}

std::string IniRead(std::string_view path, std::string_view section, std::string_view key) {
  std::string bytes;
  if (ReadCurrent(path, &bytes) != ReadOutcome::kOk) return "";
  return FindIniValue(bytes, section, key);
}

IniWriteResult IniWrite(std::string_view path, std::string_view section, std::string_view key,
                        std::string_view value) {
  if (IsBlank(section)) return IniWriteResult::kBadArgument;
  const std::string directory = IniDirectoryOf(path);
  DirectoryLock lock;
  if (!lock.Acquire(directory)) return IniWriteResult::kBusy;

  IniWriteResult result = IniWriteResult::kReplaceFailed;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt > 0) CurrentEnv().SleepMillis(kRetryPauseMillis);
    std::string old_bytes;
    ReadOutcome read = ReadCurrent(path, &old_bytes);
    if (read == ReadOutcome::kFailed) return IniWriteResult::kReadFailed;
    if (read == ReadOutcome::kBusy) {
      result = IniWriteResult::kReadFailed;
      continue;
    }
    std::string new_bytes = MergeIniText(old_bytes, section, key, value);
    std::string temporary;
    if (!DrawTemporaryName(directory, &temporary)) return IniWriteResult::kWriteFailed;
    if (!WriteTemporary(temporary, new_bytes)) {
      DeleteFile(temporary);
      return IniWriteResult::kWriteFailed;
    }
    if (RenameFile(temporary, path)) {
      // The new file is in place; flushing the directory makes the rename
      // itself survive a power cut. Its failure changes nothing visible.
      SyncDirectory(directory);
      return IniWriteResult::kOk;
    }
    DeleteFile(temporary);
    result = IniWriteResult::kReplaceFailed;
  }
  return result;
}

}  // namespace kel
