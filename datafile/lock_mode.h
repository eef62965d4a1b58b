// Record-lock modes per open file, the wait for a record or file that
// another program holds, and the operation log.
//
// Lock modes (`LockMode` of an entry, 0 after DbOpen):
//   0 "D"  reads take no lock;                84 / 85 go to the caller
//   1 "A"  reads take a no-wait record lock;  84 / 85 are waited out
//   2 "B"  reads take a no-wait record lock;  84 / 85 go to the caller
// "Take a lock" means the lockable operations (Get and Step codes 5..13, 19,
// 22..24, 33..35) are sent with 200 added.
//
// The wait (mode 1, inside DbCall): a random pause of 1 to 10,001 ms through
// the clock seam, the waiting notice on row 24 shown once per call, another
// attempt; no limit and no key that ends it; the notice goes when the
// operation stops failing with 84 / 85.
//
// The operation log "db.log" in the current directory: one CR LF line per
// Update, appended by opening and closing the file each time, so several
// programs can share it.
//
// Globals: DataFiles() (`LockMode` of the entries, `LockModeStack`);
// Session().SessionLanguage for the notice.
#ifndef KEL_DATAFILE_LOCK_MODE_H_
#define KEL_DATAFILE_LOCK_MODE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

inline constexpr std::int16_t kLockBias = 200;
inline constexpr char kOperationLogFile[] = "db.log";

// Applies the letters of `letters` in order, case-insensitively, to the
// file's lock mode: D 0, A 1, B 2; "+" saves (entry index, mode) on
// `LockModeStack`; "-" restores and removes the newest pair of this entry
// index (nothing when there is none); other letters are ignored. *status
// becomes 3 when the file is not open (nothing changes), else is left as
// passed.
void DbLockMode(std::int16_t file_number, std::string_view letters, std::int16_t* status);

// True for the operations that receive the lock bias.
bool IsLockableOperation(std::int16_t operation);

// The pause before another attempt on a locked record: round(r x 10000 + 1)
// ms with r from the clock seam's random generator (1..10,001).
std::int64_t LockedRecordPauseMillis();

// One operation log line: each number as a blank or "-" and its digits, the
// first two followed by blanks up to the next multiple of 14 characters (14
// when already there), then CR LF. (142, 3, 0) gives 30 characters and CR LF.
std::string OperationLogLine(std::int16_t file_number, std::int16_t operation, std::int16_t status);

// Appends OperationLogLine to "db.log" in the current directory (created when
// missing). A log that cannot be written is passed over silently: it never
// changes the outcome of the operation it records.
void AppendOperationLog(std::int16_t file_number, std::int16_t operation, std::int16_t status);

}  // namespace kel

#endif  // KEL_DATAFILE_LOCK_MODE_H_
