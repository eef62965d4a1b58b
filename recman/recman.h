// The record manager: keyed files of fixed-length records, reached through
// one entry point with the classic operation codes, position blocks, data and
// key buffers and 16-bit statuses. Each data file is one SQLite database, or
// one table of a PostgreSQL server when the installation is configured so
// (backend_config.h); docs/record-files.md describes both schemas, their
// locks and what a crash can lose.
//
// Buffers (all integers little-endian):
// - position block: 128 bytes owned by the caller, one per open of a file.
//   Open fills it with a handle to the engine's cursor; every later call on
//   that open passes the same block. A block that does not hold a live handle
//   of this process (never opened, closed, cleared, garbage) gives status 3.
// - data buffer and *data_length: input length in, output length out. Record
//   operations move exactly the file's record length.
// - key buffer: for operations that RETURN a key (every Get that finds a
//   record, Insert, Update, Get Direct; not the Steps) the engine writes the
//   whole key of the key number given (the concatenated segments, at most 255
//   bytes) at the start of the key buffer whatever `key_length` says, so the
//   buffer must have room for the key. Operations that READ a search key take
//   the key's whole length from the buffer. key_length is only used for the
//   path of Open and Create (the path ends at the first zero byte or after
//   key_length bytes, whichever comes first; key_length 0 means "up to the
//   zero byte").
// - key_number: signed; a key number, or an open/create/unlock mode.
//
// Currency. Each open (position block) has:
// - a physical current record, set by every operation that reads or writes
//   a record; Get Position, Update and Delete need one (else 8);
// - a logical position on one key (the key path), set by the Get operations,
//   Insert, Update and Get Direct and destroyed by the Step operations. Get
//   Next / Previous move along it; with another key number they give 7, with
//   no key path (after a Step) they give 8. Right after Open nothing is
//   positioned yet: Get Next then reads the first record of the key given and
//   Get Previous the last. A Get that finds nothing (4 or 9) leaves the
//   position where the key would be, so Get Next / Previous continue from
//   there; reading past either end leaves it beyond that end (Get Previous
//   after 9 from Get Next gives the last record again). The published
//   descriptions of Get Next and Get Previous say what a successful read
//   establishes and that 9 comes at either end; they do not say where a
//   read that finds nothing leaves the position, and this choice is kept on
//   purpose: a caller that reads on after 4 or 9 goes on from where the key
//   it asked for stands, never from whatever record an earlier success had
//   left current, and the data-file layer of the program never reads on
//   after a status other than 0 (its scans and ranges end there), so nothing
//   of the program depends on it. Physical currency is the same: a Step past
//   either end leaves it beyond that end.
// - Duplicates of a key come in insertion order. Get Equal / Greater /
//   Greater or Equal / First find the first of a run of equal keys, Get Less
//   / Less or Equal / Last the last of it.
// - Scans always move. A record that a Get Next / Get Previous returns lies
//   strictly beyond the logical position in the direction of the move (the
//   position as above: after an Update, the record's new key value), and one
//   that a Step Next / Previous returns strictly beyond the physical current
//   record; every record read along a key is filed under the key its bytes
//   hold. On a sound file this always holds. On a file damaged from outside
//   (index or record pages changed on the disk) a read that would break it
//   answers 2 (I/O error) and changes no currency, so no loop of Gets or
//   Steps over a damaged file can run for ever, whatever the caller does
//   between the reads. `recutil check` names the damage.
//
// Locks (biases added to the codes of the Get and Step operations and of Get
// Direct; Get Position accepts and ignores them): +100 single-record wait, +200 single-record
// no-wait, +300 multiple-record wait, +400 multiple-record no-wait. A lock belongs to the position
// block: another block, in this process or another, gets 84 when it tries to lock, update or delete
// the record (or waits, with a wait bias); plain reads are never refused. A single-record lock
// lasts until the block updates or deletes that record, reads another record with a single-record
// lock, Unlocks, Closes or Resets; multiple-record locks until Unlock, Delete
// of the record, Close or Reset. Locks die with their process. A no-wait
// lock answers at once; a wait lock first commits this process's pending work
// (so no one waits on it) and then blocks until the record is free. A wait
// for a record that another open of this same process holds gives 84 at
// once, on both engines: nothing could let it go while the process waits.
//
// Durability. Consecutive operations of the process on a file share one
// SQLite transaction that commits after at most about 20 ms (or 4,096
// writes), before Close and Reset, before any wait of the program (the engine
// registers its flush with RegisterWaitHook) and at normal process exit. A
// killed process loses at most the operations of its last commit window; the
// file stays whole. In the commit-each-call mode (SetCommitEachCall) every
// call commits its own work before it returns instead. If a commit fails, the operations of that window are
// undone together and the file refuses further work in this process with the
// failure's status (2 or 18) until it is closed (Close reports it too).
//
// Threads: one thread at a time (the program is single-threaded).
// Fork: a child of fork() must not use the record manager while the parent
// has files open at the moment of the fork (SQLite's per-process lock
// bookkeeping of those files is inherited and would make the child's writes
// wait forever). Fork before opening, or exec. Files open in the parent are
// forgotten, not closed, by the child's first Open, Create or Reset, and the
// child's exit does not touch them.
#ifndef KEL_RECMAN_RECMAN_H_
#define KEL_RECMAN_RECMAN_H_

#include <cstddef>
#include <cstdint>

#include "recman/entry_point.h"

namespace kel {

// ---------------------------------------------------------------------------
// Sizes

inline constexpr std::size_t kPositionBlockSize = 128;
inline constexpr std::size_t kMaxKeyLength = 255;
// The largest fixed record length a file may have.
inline constexpr int kMaxRecordLength = 4096;

// ---------------------------------------------------------------------------
// Operations. Each line says what the operation reads and writes and its
// statuses beyond 0, 2 (I/O error), 3 (block not open) and 18 (disk full).

// Open (0). key: path; data: owner name (zero-ended, up to 8 characters; may
// be empty when the file has no owner); key_number: open mode (kOpen...).
// Fills the position block. 11 bad path, 12 no such file, 30 not a data file,
// 46 no permission, 51 wrong owner, 85 held exclusively by another open (or
// an exclusive open while others have it open), 86 too many opens, 88 bad
// mode.
inline constexpr std::int16_t kOpOpen = 0;
// Close (1). Commits, releases the block's locks, invalidates the block.
// Returns the status of a failed commit (the file is closed all the same).
inline constexpr std::int16_t kOpClose = 1;
// Insert (2). data: the record (data_length >= record length, else 22).
// Stores it at a new position; returns the record's key of key_number in
// the key buffer and makes it current on that key (a negative key number:
// no key path). Autoincrement values it assigns are written back into the
// data buffer. 5 duplicate in a unique key, 6 bad key number (nothing
// stored), 46 read-only open.
inline constexpr std::int16_t kOpInsert = 2;
// Update (3). data: the new record (data_length >= record length, else 22).
// Rewrites the current record in place (its position stays); the logical
// position moves to the record's new key value on key_number, so Get Next
// continues after it. Releases this block's single-record lock on it.
// Without a key path (after a Step) the position goes to key_number's key
// (a negative key_number: no key path), and a key_number that names no key
// of the file gives 6 with nothing written, as Insert and Get Direct do.
// 5 duplicate, 7 key_number is not the key path, 8 no current record,
// 10 a non-modifiable key changed, 46 read-only, 84 locked by another block,
// 80 another block changed or deleted the record since this one read it.
inline constexpr std::int16_t kOpUpdate = 3;
// Delete (4). Removes the current record; Get Next / Previous continue from
// where it was. 8 no current record, 46 read-only, 84 locked by another,
// 80 changed or deleted by another block since this one read it.
inline constexpr std::int16_t kOpDelete = 4;
// Get Equal (5), Greater (8), Greater or Equal (9), Less (10), Less or Equal
// (11): key buffer holds the search value (the key's whole length); the
// record found goes to the data buffer (22 when data_length is shorter than
// the record: position taken, no data returned) and its key to the key
// buffer. 4 Get Equal found nothing, 9 nothing qualifies, 6 bad key number.
inline constexpr std::int16_t kOpGetEqual = 5;
inline constexpr std::int16_t kOpGetNext = 6;      // 7, 8, 9 at the end
inline constexpr std::int16_t kOpGetPrevious = 7;  // 7, 8, 9 at the start
inline constexpr std::int16_t kOpGetGreater = 8;
inline constexpr std::int16_t kOpGetGreaterOrEqual = 9;
inline constexpr std::int16_t kOpGetLess = 10;
inline constexpr std::int16_t kOpGetLessOrEqual = 11;
inline constexpr std::int16_t kOpGetFirst = 12;  // 9 on an empty key
inline constexpr std::int16_t kOpGetLast = 13;
// Create (14). data: the Create buffer (file_spec.h: byte 4 the number of
// keys, byte 5 the file version of the interface's later versions, kept
// and reported by Stat); key: path;
// key_number: kCreateReplace (0) replaces an existing file that nobody has
// open, kCreateNoReplace (-1) refuses an existing one with 59. The position
// block is not used. Statuses of an invalid buffer: 22 shorter than its
// contents, 24 page size, 26 number of keys, 27 key position, 28 record
// length or unsupported file flags (variable length, compression, key-only),
// 29 key length, 45 key flags, 48 collating sequence, 49 key type; 11 bad
// path, 12 missing directory, 46 no permission, 85 file open somewhere.
inline constexpr std::int16_t kOpCreate = 14;
// Stat (15). Fills the data buffer with the Create layout of the file, with
// the number of records and each key's number of unique values; byte 5 is
// 0, and with key_number -1 it is the file version that Create received
// (0x60 when that was 0).
// 22 when data_length is too short. The key buffer is not used.
inline constexpr std::int16_t kOpStat = 15;
// Get Position (22). data: the current record's 4-byte position (data_length
// becomes 4; 22 when shorter). 8 no current record. Moves nothing.
inline constexpr std::int16_t kOpGetPosition = 22;
// Get Direct (23). data: 4-byte position in, the record out; key: the
// record's key of key_number. Sets physical currency and the logical position
// on key_number (a negative key number: no key path, no key returned).
// 43 no record at that position, 6 bad key number, 22.
inline constexpr std::int16_t kOpGetDirect = 23;
// Step Next (24), First (33), Last (34), Previous (35): physical order (by
// position); destroy the logical position. 9 at either end.
inline constexpr std::int16_t kOpStepNext = 24;
// Unlock (27). key_number >= 0: releases the single-record lock; -1: the
// multiple-record lock on the record whose position is in the data buffer
// (4 bytes); -2: every multiple-record lock. 1 other key numbers.
inline constexpr std::int16_t kOpUnlock = 27;
// Reset (28). Commits and closes every open of this process, releasing all
// its locks. The position block is not used. Returns the first failure.
inline constexpr std::int16_t kOpReset = 28;
// Set Owner (29). data and key: the owner name (zero-ended, 1 to 8
// characters); key_number 0: the name is needed for any access, 1: opens
// without it are read-only. 51 the file has an owner already, 1 other modes
// (encryption is not offered), 46 read-only open. Takes effect at later
// opens.
inline constexpr std::int16_t kOpSetOwner = 29;
// Clear Owner (30). Removes the owner name. 46 read-only open.
inline constexpr std::int16_t kOpClearOwner = 30;
inline constexpr std::int16_t kOpStepFirst = 33;
inline constexpr std::int16_t kOpStepLast = 34;
inline constexpr std::int16_t kOpStepPrevious = 35;

// Lock biases, added to a Get, Step or Get Direct code (Get Position accepts
// them and ignores them; other operations give 1).
inline constexpr std::int16_t kLockSingleWait = 100;
inline constexpr std::int16_t kLockSingleNoWait = 200;
inline constexpr std::int16_t kLockMultipleWait = 300;
inline constexpr std::int16_t kLockMultipleNoWait = 400;

// Open modes (key_number of Open).
inline constexpr std::int8_t kOpenNormal = 0;
inline constexpr std::int8_t kOpenAccelerated = -1;  // same as normal
inline constexpr std::int8_t kOpenReadOnly = -2;
inline constexpr std::int8_t kOpenVerify = -3;  // same as normal
inline constexpr std::int8_t kOpenExclusive = -4;

// Create modes (key_number of Create).
inline constexpr std::int8_t kCreateReplace = 0;
inline constexpr std::int8_t kCreateNoReplace = -1;

// Unlock modes (key_number of Unlock, besides key numbers >= 0).
inline constexpr std::int8_t kUnlockOneMultiple = -1;
inline constexpr std::int8_t kUnlockAllMultiple = -2;

// ---------------------------------------------------------------------------
// Statuses

inline constexpr std::int16_t kStatusOk = 0;
inline constexpr std::int16_t kStatusInvalidOperation = 1;
inline constexpr std::int16_t kStatusIoError = 2;
inline constexpr std::int16_t kStatusFileNotOpen = 3;
inline constexpr std::int16_t kStatusKeyNotFound = 4;
inline constexpr std::int16_t kStatusDuplicateKey = 5;
inline constexpr std::int16_t kStatusInvalidKeyNumber = 6;
inline constexpr std::int16_t kStatusDifferentKeyNumber = 7;
inline constexpr std::int16_t kStatusInvalidPositioning = 8;
inline constexpr std::int16_t kStatusEndOfFile = 9;
inline constexpr std::int16_t kStatusKeyNotModifiable = 10;
inline constexpr std::int16_t kStatusInvalidFileName = 11;
inline constexpr std::int16_t kStatusFileNotFound = 12;
inline constexpr std::int16_t kStatusDiskFull = 18;
// Not this engine's: the classic code for a record manager that is not
// there. The data-file layer gives it when the installation's own record
// manager cannot be loaded (manager_library.h).
inline constexpr std::int16_t kStatusRecordManagerInactive = 20;
inline constexpr std::int16_t kStatusDataBufferTooShort = 22;
inline constexpr std::int16_t kStatusPageSize = 24;
inline constexpr std::int16_t kStatusNumberOfKeys = 26;
inline constexpr std::int16_t kStatusInvalidKeyPosition = 27;
inline constexpr std::int16_t kStatusInvalidRecordLength = 28;
inline constexpr std::int16_t kStatusInvalidKeyLength = 29;
inline constexpr std::int16_t kStatusNotADataFile = 30;
inline constexpr std::int16_t kStatusInvalidRecordAddress = 43;
inline constexpr std::int16_t kStatusInconsistentKeyFlags = 45;
inline constexpr std::int16_t kStatusAccessDenied = 46;
inline constexpr std::int16_t kStatusInvalidCollatingSequence = 48;
inline constexpr std::int16_t kStatusKeyTypeError = 49;
inline constexpr std::int16_t kStatusInvalidOwner = 51;
inline constexpr std::int16_t kStatusFileAlreadyExists = 59;
inline constexpr std::int16_t kStatusConflict = 80;
inline constexpr std::int16_t kStatusRecordLocked = 84;
inline constexpr std::int16_t kStatusFileInUse = 85;
inline constexpr std::int16_t kStatusFileTableFull = 86;
inline constexpr std::int16_t kStatusIncompatibleMode = 88;

// A short English description of a status ("record locked"), for tools and
// logs; "unknown status" for codes the engine never returns.
const char* StatusText(std::int16_t status);

// ---------------------------------------------------------------------------
// The entry point.
//
// Performs `operation` (a code above, plus a lock bias where allowed) and
// returns its status. Unknown operations give 1. Reads and writes only the
// buffers described above; `data_length` and `position_block` must not be
// null for operations that use them (a null position block gives 3; a null
// data buffer or data length where data is moved gives 22). Globals: the
// process's table of opens (see Reset). Its type is RecordManagerEntry
// (entry_point.h), the type of every record manager's entry point.
[[nodiscard]] std::int16_t KEL_BTRCALL_CONVENTION BTRCALL(std::int16_t operation,
                                                          void* position_block, void* data_buffer,
                                                          std::uint32_t* data_length,
                                                          void* key_buffer, std::uint8_t key_length,
                                                          std::int8_t key_number);

// Commits the pending work of every open of this process (what the wait hook
// and process exit do). A commit that fails leaves its file refusing work
// (see Durability). Returns the first failure's status, 0 when all is well.
std::int16_t FlushRecordManager();

// The commit-each-call mode, for the engine packaged as a record manager of
// its own (a library that other programs load, kelbtrv.cc): such a library
// never sees its caller's waits nor its exit, so instead of sharing one
// transaction between consecutive operations, every call commits its work
// before it returns. Each operation is then visible to other processes and
// safe from a kill as soon as it is answered, and no lock of the file is
// held between calls. Those commits are not synced (Store::SetSyncEachCommit):
// a power cut can take the last of them back, the file staying whole. A
// commit that fails is that call's status (the call's
// work is undone, and the file refuses further work as in Durability); a
// call that failed by itself keeps its own status. Process-wide; set it
// before the first call.
void SetCommitEachCall(bool on);

}  // namespace kel

#endif  // KEL_RECMAN_RECMAN_H_
