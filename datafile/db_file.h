// Data-file access: every record operation of the program goes through this
// layer, which is the only code that calls the record manager (recman.h).
// Callers name a file by a 16-bit file number of their own choosing, register
// their record area when they open it (db_open.h), and then find, step,
// update, read ranges and ask for the current key as text. Position blocks,
// key buffers and data lengths stay inside the layer.
//
// Statuses (int16): 0 success; 3 the file number is not open; 9 end of file
// (also the end of a range); 1002 the file number is open already (DbOpen);
// 1003 all 40 entries are in use (DbOpen); 1004 no such key number; any other
// value is the record manager's status, passed through. Status 22 (record
// longer than the buffer) counts as success where noted: the record area
// then holds as much of the record as fits.
//
// Calling order: DbOpen; then DbFind followed by DbStep / DbUpdate, or
// DbSetRange followed by DbRangeNext until it returns non-zero; DbClose (or
// DbResetAll). The conversion loop is:
//   DbFind(f, 0, "", 1, &st);
//   while (st == 0) { DbKeyText(f); ...change the area...; DbUpdate(f, &st);
//                     DbStep(f, 1, &st); }
//
// Globals: DataFiles() (`OpenFileTable`, `LockModeStack`). Single-threaded.
#ifndef KEL_DATAFILE_DB_FILE_H_
#define KEL_DATAFILE_DB_FILE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "recman/entry_point.h"

namespace kel {

// The layer's own statuses.
inline constexpr std::int16_t kStatusAlreadyOpen = 1002;
inline constexpr std::int16_t kStatusTableFull = 1003;
inline constexpr std::int16_t kStatusNoSuchKey = 1004;

// Entries of the open-file table: 0 is the scratch entry (its position block
// serves Create and Reset), 1..kMaxOpenFiles describe open files.
inline constexpr int kMaxOpenFiles = 40;
// Transfer buffers: every call sends a data buffer of this size (blank-filled
// past the record) and a key buffer of kKeyBufferSize bytes.
inline constexpr std::size_t kDataBufferSize = 1536;
inline constexpr std::size_t kKeyBufferSize = 256;

// One entry of `OpenFileTable`.
struct OpenFileEntry {
  // The caller's file number; 0 marks a free entry.
  std::int16_t FileNumber = 0;
  // The record manager's position block; never interpreted here.
  std::uint8_t PositionBlock[128] = {};
  // The caller's record area (owned by the caller, alive while the file is
  // open) and its size in bytes. Copies into the area never exceed
  // `RecordCapacity`, whatever the record length.
  std::uint8_t* RecordAddress = nullptr;
  std::size_t RecordCapacity = 0;
  // The file's fixed record length, from Stat at open (at most
  // kDataBufferSize).
  std::int32_t RecordLength = 0;
  // The key used by keyed operations; -(k + 1) while a range on key k is set
  // and not yet started.
  std::int16_t KeyNumber = 0;
  // The search key before an operation, the current record's key after it
  // (at most 255 bytes).
  std::string KeyValue;
  // Record-lock mode 0, 1 or 2 (lock_mode.h).
  std::int16_t LockMode = 0;
  // Bounds of the range being read; empty when there is none.
  std::string RangeStart;
  std::string RangeEnd;
  // When the area is shorter than the record: the record's bytes beyond the
  // area as last read (blanks before the first read), sent back unchanged by
  // an Update so that a short area never blanks the end of a record.
  std::string RecordTail;
};

struct DataFileState {
  std::array<OpenFileEntry, kMaxOpenFiles + 1> OpenFileTable;
  // Pairs of bytes (entry index, saved lock mode), newest last.
  std::string LockModeStack;
};

DataFileState& DataFiles();
// Forgets every entry, the lock-mode stack and the choice of record manager
// (db_manager.h) without calling the record manager (tests; call DbResetAll
// first to release the files).
void ResetDataFiles();

// Frees one entry: every field back to zero or empty.
void FreeEntry(OpenFileEntry* entry);

// The record manager's entry point as this layer calls it (type in
// recman/entry_point.h): the one chosen at the layer's first use
// (db_manager.h), our engine's BTRCALL or an installed record manager's.
// Tests may put a recording stand-in in front of it; nullptr (or the chosen
// entry itself) takes the stand-in away. Returns the entry that was in force.
RecordManagerEntry SetRecordManagerEntry(RecordManagerEntry entry);
// The entry in force: a test's stand-in, else the chosen one (choosing it
// first when the layer has not chosen yet; when no record manager could be
// chosen, an entry that answers 20 to every call).
RecordManagerEntry RecordManager();

// Commits what the record manager holds pending for this process, so that
// other programs see it and a crash cannot take it back: our engine bundles
// consecutive operations into transactions (recman/recman.h, Durability),
// which this commits; an installed record manager commits every operation
// itself, so there is nothing to do. 0, or the status of the first commit
// that failed (its file's work since its last commit is undone; the file
// reports the status until it is closed).
[[nodiscard]] std::int16_t DbFlush();

// The index (1..40) of the entry holding `file_number`; if none does, minus
// the index of the highest-numbered free entry; if none is free, 0. (File
// number 0 matches a free entry, so it can never be opened.)
std::int16_t DbSlot(std::int16_t file_number);

// One record-manager operation on open entry `entry` (1..40) with its
// `KeyValue`, `KeyNumber` and record area: the lock bias is added to
// *operation (lock_mode.h) and stays in it; the area is sent (blank-padded to
// the buffer), the key buffer holds `KeyValue` followed by zero bytes for
// operations 8/9 (+bias), bytes 255 for 10/11, blanks otherwise, with the
// length of `KeyValue`. Afterwards at most `RecordLength` (and the area's
// size) bytes are copied back to the area and `KeyValue` takes the returned
// key at its own length. In lock mode 1, statuses 84 and 85 are waited out
// (lock_mode.h). *status receives the record manager's status.
void DbCall(std::int16_t entry, std::int16_t* operation, std::int16_t* status);

// Positions on a record by key and reads it: direction < 0 Get Less or Equal,
// > 0 Get Greater or Equal, 0 Get Equal. `key` is padded with zero bytes and
// cut to the key's length. *status: 3, 1004 (nothing sent), 0 (also for 22),
// or the record manager's status (9 when nothing qualifies).
void DbFind(std::int16_t file_number, std::int16_t key_number, std::string_view key,
            std::int16_t direction, std::int16_t* status);

// Moves |count| records along the current key (forward for count >= 0) and
// reads the record reached into the area; the records passed over are not
// copied. Count 0 moves nothing and gives 0. The skipping calls get no lock
// bias and no locked retry. *status: 3, 0 (also for 22), or the record
// manager's.
void DbStep(std::int16_t file_number, std::int16_t count, std::int16_t* status);

// Rewrites the current record from the record area, appends the operation
// log line (lock_mode.h) whatever the outcome, and reads the record again by
// its position so that DbStep continues from its new key position. A failed
// Update zeroes `KeyValue` before the re-read and leaves the area holding the
// record as stored. *status: 3, 0 (also for 22), or the record manager's.
// Uses the save stack (balanced on return).
void DbUpdate(std::int16_t file_number, std::int16_t* status);

// position 0: the physical position of the current record, 0 when there is
// none or the file is not open. position != 0: reads the record at that
// position into the area (sets `KeyValue` from it) and returns the status
// (22 counts as 0); 0 as well when the file is not open. No lock bias, no
// locked retry.
std::int32_t DbPosition(std::int16_t file_number, std::int32_t position);

// Prepares a read through the records whose key `key_number` lies between
// `from` (zero-padded) and `to` (padded with bytes 255); reads nothing. A
// range whose start lies above its end is read in descending order.
// *status: 3 or 1004; otherwise left as the caller passed it.
void DbSetRange(std::int16_t file_number, std::int16_t key_number, std::string_view from,
                std::string_view to, std::int16_t* status);

// Reads the next record of the prepared range. Returns 0, 3, 9 (the key went
// past the end bound, or the file ended) or the record manager's status; any
// non-zero status ends the range (`KeyNumber` 0, bounds empty).
[[nodiscard]] std::int16_t DbRangeNext(std::int16_t file_number);

// The length of key `key_number` (the sum of its segment lengths) and the
// file's record length, from two Stat calls. Both 0 when the file is not open
// or Stat fails; key length 0 when the key does not exist.
void DbKeyInfo(std::int16_t file_number, std::int16_t key_number, std::int16_t* key_length,
               std::int32_t* record_length);

// Reading without the keys (db_physical.cc), for checks that must not trust
// an index:
//
// The number of records of the file, from one Stat; 0 with *status 3 when
// the file is not open, or the record manager's status when Stat fails.
std::int64_t DbRecordCount(std::int16_t file_number, std::int16_t* status);
// Reads the first record in physical order (Step First) or the one after
// the current one (Step Next) into the area. The key path is lost: DbStep
// afterwards gives 8 until DbFind. *status: 3, 0 (also for 22), 9 after the
// last record, or the record manager's status.
void DbStepPhysical(std::int16_t file_number, bool first, std::int16_t* status);

// The current key value in collating form (DbSortKey of `KeyValue`); empty
// when the file is not open.
std::string DbKeyText(std::int16_t file_number);

// `text` rearranged so that plain byte comparison orders it as the file's
// current key orders records: binary segments (flag 0x4) byte-reversed (the
// text is zero-extended to cover them), segments with the alternate collating
// flag (0x20) mapped through the file's first collating table; other segments
// unchanged. `text` unchanged when the file is not open. Two Stat calls.
std::string DbSortKey(std::string_view text, std::int16_t file_number);

}  // namespace kel

#endif  // KEL_DATAFILE_DB_FILE_H_
