#include "datafile/lock_files.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "datafile/notices.h"
#include "platform/signals.h"
#include "screen/keyboard.h"
#include "screen/message_box.h"
#include "screen/windows.h"
#include "util/fixed_text.h"
#include "util/session_context.h"

namespace kel {
namespace {

constexpr std::size_t kNameSize = 15;
constexpr std::size_t kNumberOffset = 15;
constexpr std::size_t kNumberSize = 11;
constexpr std::size_t kTimeOffset = 26;
constexpr std::size_t kTimeSize = 8;
constexpr std::size_t kTypeOffset = 34;
constexpr std::size_t kStartLengthOffset = 35;
constexpr std::size_t kStartOffset = 37;
constexpr std::size_t kEndLengthOffset = 77;
constexpr std::size_t kEndOffset = 79;
constexpr std::size_t kLengthSize = 2;
constexpr std::size_t kRangeSize = 40;
constexpr std::int32_t kFutureLimitMinutes = 1440;
constexpr std::int32_t kDayNumberOf1970 = 2440588;

// One record as read from or written to a lock file.
struct LockRecord {
  char bytes[kLockRecordSize];

  std::string_view Field(std::size_t offset, std::size_t size) const {
    return std::string_view(bytes + offset, size);
  }
  std::string_view Name() const { return Field(0, kNameSize); }
  char Type() const { return bytes[kTypeOffset]; }
  bool Live() const { return !IsBlank(Field(kNumberOffset, kNumberSize)); }
  bool Free() const { return Type() == ' ' || !Live(); }
  long long Number() const { return LeadingNumber(Field(kNumberOffset, kNumberSize)); }
  long long Time() const { return LeadingNumber(Field(kTimeOffset, kTimeSize)); }
  bool TimeIsNumber() const {
    std::string_view t = Trim(Field(kTimeOffset, kTimeSize));
    if (!t.empty() && t[0] == '-') t.remove_prefix(1);
    return !t.empty() &&
           std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
  }
  // A range bound: its length field, kept within the 40-byte text.
  std::string_view Bound(std::size_t length_offset, std::size_t text_offset) const {
    const long long n = LeadingNumber(Field(length_offset, kLengthSize));
    return Field(text_offset, static_cast<std::size_t>(std::clamp<long long>(n, 0, kRangeSize)));
  }
  std::string_view Start() const { return Bound(kStartLengthOffset, kStartOffset); }
  std::string_view End() const { return Bound(kEndLengthOffset, kEndOffset); }
  bool Stale(std::int32_t now) const {
    if (!Live()) return false;
    if (!TimeIsNumber()) return true;
    const long long t = Time();
    return now - t > kStaleLockMinutes || t - now > kFutureLimitMinutes;
  }
  bool HeldBy(const LockFileState& s) const {
    return Live() && Name() == s.StationName && Number() == s.StationNumber;
  }
  // Blank holder and type: a free record (time and range stay as they were).
  void MakeFree() {
    std::memset(bytes, ' ', kTimeOffset);
    bytes[kTypeOffset] = ' ';
  }
  void Store(std::size_t offset, std::size_t size, std::string_view text) {
    StoreFixed(text, bytes + offset, size);
  }
};

bool ReadRecord(const File& f, std::size_t index, LockRecord* r) {
  return f.ReadAt(static_cast<std::int64_t>(index * kLockRecordSize), r->bytes, kLockRecordSize) ==
         static_cast<std::int64_t>(kLockRecordSize);
}

bool WriteRecord(File* f, std::size_t index, const LockRecord& r) {
  return f->WriteAt(static_cast<std::int64_t>(index * kLockRecordSize), r.bytes, kLockRecordSize);
}

// The pause before trying a busy lock file again: 1 to 3,000 ms.
std::int64_t BusyFilePause() {
  return static_cast<std::int64_t>(std::floor(CurrentEnv().Random() * 3000.0 + 1.0));
}

// The pause before asking again for a lock another station holds: 1 to
// 1,001 ms.
std::int64_t ConflictPause() {
  return static_cast<std::int64_t>(std::llround(CurrentEnv().Random() * 1000.0 + 1.0));
}

LockRecord NewRecord(const LockFileState& s, char type, std::string_view start,
                     std::string_view end) {
  LockRecord r;
  std::memset(r.bytes, ' ', kLockRecordSize);
  r.Store(0, kNameSize, s.StationName);
  r.Store(kNumberOffset, kNumberSize, DecimalText(s.StationNumber));
  r.Store(kTimeOffset, kTimeSize, DecimalText(LockClock()));
  r.bytes[kTypeOffset] = type;
  if (type == 'K') {
    start = start.substr(0, kRangeSize);
    end = end.substr(0, kRangeSize);
    r.Store(kStartLengthOffset, kLengthSize, DecimalText(static_cast<long long>(start.size())));
    r.Store(kStartOffset, kRangeSize, start);
    r.Store(kEndLengthOffset, kLengthSize, DecimalText(static_cast<long long>(end.size())));
    r.Store(kEndOffset, kRangeSize, end);
  } else {
    r.Store(kStartLengthOffset, kLengthSize, "0");
    r.Store(kEndLengthOffset, kLengthSize, "0");
  }
  r.bytes[kLockRecordSize - 2] = '\r';
  r.bytes[kLockRecordSize - 1] = '\n';
  return r;
}

bool RangesOverlap(const LockRecord& r, std::string_view start, std::string_view end) {
  const std::string_view r_start = r.Start();
  const std::string_view r_end = r.End();
  const std::size_t s = std::min(r_start.size(), start.size());
  const std::size_t e = std::min(r_end.size(), end.size());
  // The start's prefix is set against the other's end and the end's against
  // the other's start: each compared at the length both texts have.
  if (start.substr(0, s) > r_end.substr(0, s)) return false;
  if (end.substr(0, e) < r_start.substr(0, e)) return false;
  return true;
}

enum class Attempt { kGranted, kConflict, kNoFile };

// The lock file's name as the operator finds it under the installation.
std::string LockFileLabel(std::string_view file_name) {
  return std::string(kLockDirectoryName) + "\\" + std::string(file_name);
}

void NoteLockProblem(std::string_view file_name, const std::string& why) {
  LockFiles().LastProblem = LockFileLabel(file_name) + ": " + why;
}

// One opening of the lock file: scan, free stale records, decide, write.
Attempt TryLock(std::string_view file_name, char type, std::string_view start,
                std::string_view end) {
  const LockFileState& s = LockFiles();
  File f;
  std::string why;
  if (!OpenLockFile(Session().InstallRoot + kLockDirectoryName, file_name, &f, &why)) {
    NoteLockProblem(file_name, why);
    return Attempt::kNoFile;
  }
  const std::int64_t size = f.Size();
  const std::size_t count = size > 0 ? static_cast<std::size_t>(size) / kLockRecordSize : 0;
  const std::int32_t now = LockClock();
  std::size_t w = count;
  bool conflict = false;
  for (std::size_t p = 0; p < count; ++p) {
    LockRecord r;
    if (!ReadRecord(f, p, &r)) break;
    if (r.Stale(now)) {
      r.MakeFree();
      (void)WriteRecord(&f, p, r);
    }
    if (r.Free()) {
      w = p;
      continue;
    }
    if (r.Type() == 'F' || type == 'F') {
      if (r.HeldBy(s)) {
        if (r.Type() == type) w = p;
      } else {
        conflict = true;
      }
      break;
    }
    if (r.Type() == 'K' && type == 'K' && RangesOverlap(r, start, end)) {
      if (r.Number() == s.StationNumber) {
        w = p;
      } else {
        conflict = true;
      }
      break;
    }
  }
  if (conflict) return Attempt::kConflict;
  if (!WriteRecord(&f, w, NewRecord(s, type, start, end))) {
    NoteLockProblem(file_name, "the lock record could not be written (disk full or I/O error)");
    return Attempt::kNoFile;
  }
  return Attempt::kGranted;
}

}  // namespace

LockFileState& LockFiles() {
  static LockFileState state;
  return state;
}

void ResetLockFiles() { LockFiles() = LockFileState(); }

void SetLockWaitMode(char mode) { LockFiles().LockWaitMode = mode; }

std::string ComputerName() {
  std::string name = CurrentEnv().ComputerName();
  if (name.size() > 16) name.resize(16);
  return name;
}

std::int32_t LockClockAt(const LocalTime& t) {
  long long year = t.year;
  long long month = t.month;
  if (month <= 2) {
    year -= 1;
    month += 12;
  }
  month -= 3;
  const long long century = year / 100;
  const long long in_century = year % 100;
  const long long day_number =
      (146097 * century) / 4 + (1461 * in_century) / 4 + (153 * month + 2) / 5 + t.day + 1721119;
  const long long seconds = std::llround(t.SecondsSinceMidnight());
  return static_cast<std::int32_t>((day_number - kDayNumberOf1970) * 1440 + seconds / 60);
}

std::int32_t LockClock() { return LockClockAt(CurrentEnv().Now()); }

void StationIdentity() {
  LockFileState& s = LockFiles();
  if (s.StationNumber != 0) return;
  const std::string path = Session().TempDir + kStationFileName;
  File f;
  for (;;) {
    const FileResult r = OpenFile(path, FileAccess::kReadWriteCreate, FileShare::kNotShared, &f);
    if (r != FileResult::kBusy) break;
    // Another program of this terminal is reading it this very moment.
    CurrentEnv().SleepMillis(BusyFilePause());
  }
  std::uint8_t stored[kStationFileSize];
  if (f.IsOpen() &&
      f.ReadAt(0, stored, kStationFileSize) == static_cast<std::int64_t>(kStationFileSize)) {
    s.StationNumber = static_cast<std::int32_t>(static_cast<std::uint32_t>(stored[0]) |
                                                (static_cast<std::uint32_t>(stored[1]) << 8) |
                                                (static_cast<std::uint32_t>(stored[2]) << 16) |
                                                (static_cast<std::uint32_t>(stored[3]) << 24));
    s.StationName.assign(reinterpret_cast<const char*>(stored) + 4, kNameSize);
    if (s.StationNumber != 0) return;
  }
  Env& env = CurrentEnv();
  // Seeded from the time of day in hundredths of a second, as the family
  // does, and the process id: two stations of one computer that start in the
  // same hundredth would otherwise draw the same number and stop excluding
  // each other.
  env.SeedRandom(static_cast<std::uint64_t>(std::llround(env.Now().SecondsSinceMidnight() * 100)) ^
                 (env.ProcessId() << 32));
  do {
    s.StationNumber =
        static_cast<std::int32_t>(std::floor(env.Random() * 4294967295.0 - 2147483648.0));
  } while (s.StationNumber == 0);
  s.StationName = FixedText(ComputerName(), kNameSize);
  const auto number = static_cast<std::uint32_t>(s.StationNumber);
  for (int i = 0; i < 4; ++i) stored[i] = static_cast<std::uint8_t>(number >> (8 * i));
  std::memcpy(stored + 4, s.StationName.data(), kNameSize);
  if (f.IsOpen()) (void)f.WriteAt(0, stored, kStationFileSize);
}

bool OpenLockFile(std::string_view directory, std::string_view file_name, File* file) {
  std::string why;
  return OpenLockFile(directory, file_name, file, &why);
}

bool OpenLockFile(std::string_view directory, std::string_view file_name, File* file,
                  std::string* why) {
  const std::string dir(directory);
  const std::string path = dir + "\\" + std::string(file_name);
  bool made_directory = false;
  for (;;) {
    const FileResult r = OpenFile(path, FileAccess::kReadWriteCreate, FileShare::kNotShared, file);
    if (r == FileResult::kOk) return true;
    if (r == FileResult::kNotFound && !made_directory) {
      made_directory = true;
      if (MakeDirectory(dir)) continue;
      *why = "its directory does not exist and cannot be created";
      return false;
    }
    switch (r) {
      case FileResult::kBusy:
        break;
      case FileResult::kDenied:
        // Both come back as "denied": a directory of that name, or a file
        // that another station created without write permission for this
        // one.
        *why = DirectoryExists(path) ? "a directory stands in its place"
                                     : "permission denied (this station may not write it)";
        return false;
      case FileResult::kNotFound:
        *why = "its directory cannot be reached";
        return false;
      default:
        *why = "input/output error";
        return false;
    }
    // A termination signal ends the wait: the caller gives up in order.
    if (TerminationSignal() != 0) {
      *why = "the wait for it was interrupted by a termination signal";
      return false;
    }
    CurrentEnv().SleepMillis(BusyFilePause());
  }
}

std::int16_t LockRequest(std::string_view name, std::string_view type, std::string_view start,
                         std::string_view end) {
  const char kind = type.empty() ? ' ' : AsciiUpper(type.substr(0, 1))[0];
  if (kind != 'F' && kind != 'K') return -1;
  StationIdentity();
  const std::string file_name = std::string(TrimRight(name)) + ".lck";
  const char mode = AsciiUpper(std::string_view(&LockFiles().LockWaitMode, 1))[0];
  int shown = 0;
  Attempt outcome;
  LockFiles().LastProblem.clear();
  for (;;) {
    outcome = TryLock(file_name, kind, start, end);
    if (outcome != Attempt::kConflict || mode == 'S') break;
    if (TerminationSignal() != 0) {
      NoteLockProblem(file_name, "the wait for another station's lock was interrupted");
      break;
    }
    if (shown < 2) ++shown;
    if (shown == 1) {
      std::string notice = LockFileNotice();
      if (mode == 'P') notice += LockFileEscText();
      notice += ".";
      MessageBox(24, &notice);
      if (mode == 'P') FlushKeys();
    }
    CurrentEnv().SleepMillis(ConflictPause());
    if (mode == 'P') {
      std::int16_t key = 0, button = 0, row = 0, col = 0;
      ReadKey(&key, &button, &row, &col);
      if (key == keys::kEsc) break;
    }
  }
  if (shown != 0) WinPop();
  return outcome == Attempt::kGranted ? 0 : -1;
}

std::int16_t LockFile(std::string_view name) { return LockRequest(name, "F", "", ""); }

bool WholeFileLockHolder(std::string_view name, std::string* holder) {
  holder->clear();
  const std::string path =
      Session().InstallRoot + kLockDirectoryName + "\\" + std::string(TrimRight(name)) + ".lck";
  File f;
  for (;;) {
    const FileResult r = OpenFile(path, FileAccess::kRead, FileShare::kShared, &f);
    if (r == FileResult::kOk) break;
    // Missing (no station ever locked it, or no lock directory), or
    // unreadable: no lock that this look can see.
    if (r != FileResult::kBusy || TerminationSignal() != 0) return false;
    CurrentEnv().SleepMillis(BusyFilePause());
  }
  const std::int64_t size = f.Size();
  const std::size_t count = size > 0 ? static_cast<std::size_t>(size) / kLockRecordSize : 0;
  const std::int32_t now = LockClock();
  for (std::size_t p = 0; p < count; ++p) {
    LockRecord r;
    if (!ReadRecord(f, p, &r)) break;
    if (r.Free() || r.Stale(now) || r.Type() != 'F') continue;
    const std::string_view holder_name = TrimRight(r.Name());
    *holder = holder_name.empty() ? DecimalText(r.Number()) : std::string(holder_name);
    return true;
  }
  return false;
}

std::int16_t UnlockFile(std::string_view name) {
  const std::string file_name = AsciiUpper(Trim(name)) + ".lck";
  StationIdentity();
  const LockFileState& s = LockFiles();
  File f;
  std::string why;
  LockFiles().LastProblem.clear();
  if (!OpenLockFile(Session().InstallRoot + kLockDirectoryName, file_name, &f, &why)) {
    NoteLockProblem(file_name, why);
    return -1;
  }
  const std::int64_t size = f.Size();
  const std::size_t count = size > 0 ? static_cast<std::size_t>(size) / kLockRecordSize : 0;
  bool found = false;
  std::size_t newest = 0;
  LockRecord newest_record;
  long long newest_time = 0;
  for (std::size_t p = 0; p < count; ++p) {
    LockRecord r;
    if (!ReadRecord(f, p, &r)) break;
    if (!r.HeldBy(s)) continue;
    if (!found || r.Time() >= newest_time) {
      found = true;
      newest = p;
      newest_record = r;
      newest_time = r.Time();
    }
  }
  if (!found) return -1;
  newest_record.MakeFree();
  return WriteRecord(&f, newest, newest_record) ? 0 : -1;
}

}  // namespace kel
