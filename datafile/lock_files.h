// Lock files: whole-file and key-range exclusion between the programs of the
// family running on several workstations, kept beside the record manager in
// one shared directory, Session().InstallRoot + "LOCKS". A lock is a 121-byte
// record in the lock file of a name (name + ".lck"), carrying the holder's
// station identity and the minute it was taken; a lock older than 30 minutes
// is treated as left behind by a station that stopped, and freed by the next
// station that scans the file.
//
// The lock file is its own mutual exclusion: it is opened not shared,
// examined, changed and closed in one step; a station that finds it busy
// waits 1 to 3,000 ms and tries again. Waiting for another station's lock
// always happens with the file closed.
//
// Lock record (text fields left-aligned and blank-padded, numbers as decimal
// digits without a leading blank):
//
//   offset  size  field
//   0       15    station name of the holder
//   15      11    station number of the holder (signed)
//   26      8     time taken, in LockClock minutes
//   34      1     type: "F" whole file, "K" key range, blank: free record
//   35      2     length of the range start, 0..40
//   37      40    range start
//   77      2     length of the range end, 0..40
//   79      40    range end
//   119     2     CR LF
//
// A record is free when its type is blank (or, damaged, when its station
// number is blank); live when its station number is not blank; stale when
// live and its time is more than 30 minutes before now, or not a number at
// all, or more than a day ahead (damaged). Range lengths outside 0..40 are
// taken as the nearest bound. The file never shrinks; a partial record at
// its end is overwritten by the next record written.
//
// The station identity lives in Session().TempDir + "LOCKS.TMP", 19 bytes:
// offset 0, int32 little-endian station number (never 0); offset 4, 15 bytes
// station name. A file shorter than that is rewritten with a new identity.
//
// All waits and the clock go through the clock seam (platform/system.h).
// Globals: LockFiles(); reads Session().InstallRoot, TempDir, SessionLanguage.
#ifndef KEL_DATAFILE_LOCK_FILES_H_
#define KEL_DATAFILE_LOCK_FILES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/system.h"

namespace kel {

inline constexpr std::size_t kLockRecordSize = 121;
inline constexpr std::size_t kStationFileSize = 19;
inline constexpr char kStationFileName[] = "LOCKS.TMP";
inline constexpr char kLockDirectoryName[] = "LOCKS";
inline constexpr std::int32_t kStaleLockMinutes = 30;

struct LockFileState {
  // This station's identity, loaded by StationIdentity (0: not yet).
  std::int32_t StationNumber = 0;
  std::string StationName;  // 15 characters
  // What a conflict does: 'S' (either case) gives up at once; 'P' waits and
  // lets the operator give up with Esc; anything else waits. Starts as a
  // zero byte.
  char LockWaitMode = '\0';
  // Why the last LockRequest or UnlockFile could not use its lock file:
  // the file's name under the installation ("LOCKS\RConcept.lck") and the
  // system's reason; empty after one that could.
  std::string LastProblem;
};

LockFileState& LockFiles();
// Back to the state at start (tests).
void ResetLockFiles();

// For callers of the library: sets `LockWaitMode`.
void SetLockWaitMode(char mode);

// Loads the station identity from "LOCKS.TMP" or creates it (random number
// seeded from the time of day, name from ComputerName) and stores it there.
// Does nothing when `StationNumber` is already set. When the station file
// cannot be opened at all, the identity is made for this run only.
void StationIdentity();

// The computer name from the system (at most 16 characters), "" when unknown.
std::string ComputerName();

// Local time in whole minutes since 1970-01-01 00:00 (seconds rounded to
// whole seconds before the division), from the clock seam.
std::int32_t LockClock();
// The same for a given moment.
std::int32_t LockClockAt(const LocalTime& t);

// Opens directory + "\" + file_name for reading and writing, not shared,
// created empty when missing. A missing directory is created (one level)
// and the open tried again at once; a busy file (another station has it
// open) is tried again after a pause of 1 to 3,000 ms, without limit. false
// when the file cannot be opened for any other reason (no permission, a
// directory that cannot be created).
[[nodiscard]] bool OpenLockFile(std::string_view directory, std::string_view file_name, File* file);
// The same; on false `*why` says why in the system's words ("permission
// denied", "a directory stands in its place", ...).
[[nodiscard]] bool OpenLockFile(std::string_view directory, std::string_view file_name, File* file,
                                std::string* why);

// Takes a lock of `type` ("F" whole file, "K" key range; either case) on
// `name` (trailing blanks ignored) for this station, with the range `start`
// .. `end` for "K" (each cut to 40 bytes). A station that asks again for a
// lock it holds rewrites its record with a fresh time. A conflict with
// another station's live lock is waited for (the notice on row 24 shown
// once, pauses of 1 to 1,001 ms), unless `LockWaitMode` says otherwise.
// Returns 0 granted, -1 not granted: mode "S" with a conflict, Esc in mode
// "P", a type other than F or K, a lock file that cannot be opened or
// written (`LastProblem` names it and the reason), or a termination signal
// (platform/signals.h) while waiting.
std::int16_t LockRequest(std::string_view name, std::string_view type, std::string_view start,
                         std::string_view end);

// LockRequest(name, "F", "", "").
std::int16_t LockFile(std::string_view name);

// Frees this station's newest lock on `name` (blanks trimmed; whatever its
// type): 0 when one was freed, -1 when there was none (nothing written).
std::int16_t UnlockFile(std::string_view name);

// Looks, without taking anything, for a whole-file lock ("F") on `name`
// that a station holds now: a live record of type F that is not stale. The
// lock file is opened for reading, shared, and closed at once; nothing is
// written (a stale record is not freed), and a missing lock directory or
// lock file is not created: it means that nobody holds a lock. While a
// station has the lock file open to change it, the look waits as a station
// does (1 to 3,000 ms, tried again) and gives up with false after a
// termination signal. true when such a lock is held; `*holder` is then the
// holder's station name without its trailing blanks, or its station number
// when the name is blank. Any station counts, this one included (a run of
// this station in another window, or one that was killed).
[[nodiscard]] bool WholeFileLockHolder(std::string_view name, std::string* holder);

}  // namespace kel

#endif  // KEL_DATAFILE_LOCK_FILES_H_
