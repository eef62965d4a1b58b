// The browse list: a framed window listing records of a data file, one line
// per record in key order, from which the operator picks one. Forms open it
// with F3 on a field that names a list (form_dialog.h). The chosen record is
// left loaded in the data file's record area, from which the caller takes
// what it needs.
//
// List n is entry n of the lookup-list tables (form_tables.h):
//   MenuEntry[0]  file number of the data file; 0: the lines come from the
//                 line formatter alone (no file)
//   MenuEntry[1]  key number the file is read by
//   MenuEntry[2..5] window top, left, bottom, right (absolute, frame
//                 included): bottom - top - 1 lines of right - left - 1
//                 columns
//   MenuEntry[6]  a form run before the list (0: none)
//   MenuEntry[7]  a second list that F3 opens from this one (0: none)
//   MenuText      the title over the top frame line: a blank shows the frame
//                 line, "_" a blank, other characters themselves
//
// The screen layer does not read data files itself: it reads records through
// a BrowseRecordSource that the data-file layer registers
// (datafile/browse_source.h). The lines come from application procedures
// (BrowseProcedures); this program's do nothing, so its lists are empty.
//
// Lines read so far go to the cache file `TempDir` + "Browse.tmp" (emptied
// when a list opens, deleted when it closes), so that scrolling back does not
// read the data file again. One entry per line, in reading order:
//
//   offset  size  content
//   0       4     position of the previous entry, 0 for the first
//   4       4     the record's position in the data file (0 list without
//                 file: the line's number instead)
//   8       2     length L of the line's text
//   10      L     the text
//
// All numbers little-endian. Positions in the cache count bytes from 1 (an
// entry at the file's first byte has position 1), so that 0 means "none".
//
// Globals: BrowseGlobals(); reads the lookup-list tables, `TempDir`,
// FormDialogGlobals() (the form and field the list was opened from, put
// back after the form run before the list, which clears them); uses
// the window, colour and exit-key stacks, the file's lock mode and one
// 32-bit entry of the save stack, each back where it was when BrowseList
// returns.
#ifndef KEL_SCREEN_BROWSE_LIST_H_
#define KEL_SCREEN_BROWSE_LIST_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kel {

inline constexpr char kBrowseCacheFile[] = "Browse.tmp";

// ---------------------------------------------------------------------------
// Cache entries (pure byte code, no files)

struct BrowseEntry {
  std::uint32_t previous = 0;  // position of the previous entry; 0: none
  std::int32_t record = 0;     // the record's position (or line number)
  std::string text;
};

// The fixed part of an entry before its text.
inline constexpr std::size_t kBrowseEntryHeader = 10;
// The longest text an entry holds (its length travels in 16 bits); longer
// lines are cut.
inline constexpr std::size_t kMaxBrowseLine = 65535;

// Decoding statuses.
inline constexpr std::int16_t kBrowseEntryOk = 0;
inline constexpr std::int16_t kBrowseEntryShortHeader = 1;  // fewer than 10 bytes
inline constexpr std::int16_t kBrowseEntryShortText = 2;    // fewer than L text bytes

// The bytes of one entry (a text beyond kMaxBrowseLine is cut).
std::string EncodeBrowseEntry(const BrowseEntry& entry);

// Decodes the entry at the start of `bytes` (which may hold more after it).
// On kBrowseEntryOk `*entry` holds it and `*size` (when given) its length in
// bytes; on the other statuses `*entry` and `*size` are left alone.
[[nodiscard]] std::int16_t DecodeBrowseEntry(std::string_view bytes, BrowseEntry* entry,
                                             std::size_t* size = nullptr);

// ---------------------------------------------------------------------------
// Where the records come from

// The data-file operations a list needs, by file number. The data-file
// layer supplies the real one; until one is registered a list with a file
// shows no lines and Enter loads nothing.
class BrowseRecordSource {
 public:
  virtual ~BrowseRecordSource() = default;
  // Changes the file's record-lock mode ("+d": save it, read without
  // locks; "-": restore the saved mode).
  virtual void LockMode(std::int16_t file, std::string_view letters) = 0;
  // Reads the first record whose key `key_number` is >= `start`; status.
  virtual std::int16_t Find(std::int16_t file, std::int16_t key_number, std::string_view start) = 0;
  // Reads the next record along that key; status.
  virtual std::int16_t Step(std::int16_t file) = 0;
  // The current record's physical position (0: none).
  virtual std::int32_t Position(std::int16_t file) = 0;
  // Reads the record at `position` into the file's record area; status.
  virtual std::int16_t ReadAt(std::int16_t file, std::int32_t position) = 0;
  // The current record's key in collating form, and a text in that form;
  // both by the key the file is on (the list's own once Find has read by
  // it).
  virtual std::string KeyText(std::int16_t file) = 0;
  virtual std::string SortKey(std::string_view text, std::int16_t file) = 0;
};

// Installs the record source (not owned; nullptr: none).
void RegisterBrowseRecordSource(BrowseRecordSource* source);

// ---------------------------------------------------------------------------
// The application procedures

struct BrowseProcedures {
  // Before anything is read: may refuse the list (a non-zero result is the
  // list's result); sets the key to start from (*start, "" = the first
  // record) and the prefix every listed key must begin with (*prefix, "" =
  // all records), both as key bytes of the list's key. The list compares
  // the prefix in that key's collating form (binary segments by value,
  // alternate-collating ones through the file's table). Both arrive empty.
  std::function<std::int16_t(std::int16_t list, std::string* start, std::string* prefix)> prepare;
  // The text of the line for the record just read (in the file's record
  // area); "" leaves the record out. For a list without file it is asked
  // for line BrowseGlobals().LineNumber, and "" ends the list.
  std::function<std::string(std::int16_t list)> format_line;
  // After a row was chosen in the second list that F3 opened from `list`,
  // with the form and field the first list was opened from.
  std::function<void(std::int16_t list, std::int16_t form, std::int16_t field)> follow_up;
};

// This program's procedures: prepare returns 0 with both texts empty,
// format_line returns "", follow_up does nothing.
BrowseProcedures DefaultBrowseProcedures();
// Members left empty fall back to the defaults.
void SetBrowseProcedures(BrowseProcedures procedures);

struct BrowseListState {
  // For a list without file: the number (1..) and text of the line chosen
  // with Enter. Left alone by file lists.
  std::int32_t ChosenPosition = 0;
  std::string ChosenText;
  // The line number a list without file asks its formatter for.
  std::int32_t LineNumber = 0;
  // The record position (line number without file) under the bar when the
  // list's keys ended. A list saves the value it found on the save stack and
  // puts it back when it returns, so the follow-up hook sees the bar of the
  // first list, not that of the second one.
  std::int32_t BarPosition = 0;
};

BrowseListState& BrowseGlobals();

// Back to the state at start (tests): globals cleared, default procedures,
// no record source.
void ResetBrowseList();

// Runs list `list` (see above) and sets *result:
//   0   a line was chosen with Enter and its record loaded by its position
//       (a list without file: ChosenPosition and ChosenText set);
//   -1  the operator left without choosing (Esc, any key but the list's
//       own, Enter on an empty list), the form run first ended with Esc, or
//       `list` is not in the tables;
//   other: the preparation's refusal, or the status of loading the record.
// Keys: Up / Down move the bar (the page scrolls at its ends, further
// records are read when needed); PgUp / PgDn page by the window's height
// (PgUp not before the first line, the bar moving up by what was missing;
// PgDn keeping the bar's row); Left / Right move the view 8 columns (not
// left of column 1); Enter chooses; F3 (3E00 as form files name it, or
// 3D00 as the terminal's F3 key arrives), when a second list is defined,
// leaves (-1) and runs that list after this one's cache is gone, calling
// the follow-up hook when it returns 0.
void BrowseList(std::int16_t list, std::int16_t* result);

}  // namespace kel

#endif  // KEL_SCREEN_BROWSE_LIST_H_
