#include "screen/windows.h"

#include <string>
#include <vector>

#include "platform/system.h"
#include "screen/screen_buffer.h"
#include "screen/window_stack_file.h"
#include "util/session_context.h"

namespace kel {
namespace {

// One open window of this process: where its record is. Normally in the
// file; in memory only when the file could not take it.
struct Level {
  bool in_file = true;
  std::string record;  // the record's bytes when !in_file
};

std::vector<Level>& Levels() {
  static std::vector<Level> levels;
  return levels;
}

std::string StackPath() { return Session().TempDir + kWindowStackFile; }

std::int32_t ReadPointer(const File& f) {
  unsigned char b[4] = {};
  if (f.ReadAt(0, b, 4) != 4) return -1;
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
      static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24);
}

bool WritePointer(File& f, std::int32_t pointer) {
  auto u = static_cast<std::uint32_t>(pointer);
  unsigned char b[4] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
                        static_cast<unsigned char>(u >> 16), static_cast<unsigned char>(u >> 24)};
  return f.WriteAt(0, b, 4);
}

void SetWindow(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right) {
  ScreenState& s = Screen();
  s.WindowTop = top;
  s.WindowLeft = left;
  s.WindowBottom = bottom;
  s.WindowRight = right;
}

// The top pointer of a sound stack file, -1 for a damaged one. Sound: the
// pointer lies between the empty stack's 5 and the end of the file, and the
// records below it, followed back through their length fields, end
// exactly at position 5. A calling program of the family may have left
// records there; they stay, and the next window goes after them.
std::int32_t SoundPointer(const File& f) {
  const std::int64_t size = f.Size();
  if (size <= 3) return -1;
  const std::int32_t pointer = ReadPointer(f);
  if (pointer < kEmptyStackPointer || pointer > size + 1) return -1;
  constexpr int kSmallest = kWindowRecordHeader + 2 + kWindowRecordTrailer;
  std::int32_t p = pointer;
  // Each step goes back at least one smallest record, so the walk ends.
  while (p > kEmptyStackPointer) {
    char digits[kWindowRecordTrailer];
    if (p - kEmptyStackPointer < kSmallest ||
        f.ReadAt(p - 1 - kWindowRecordTrailer, digits, sizeof digits) != kWindowRecordTrailer) {
      return -1;
    }
    const int length = ReadRecordLength(std::string_view(digits, sizeof digits));
    if (length < kSmallest || p - length < kEmptyStackPointer) return -1;
    p -= length;
  }
  return pointer;
}

// Deletes the stack file unless it still holds records (of a calling
// program) under a sound pointer.
void DeleteStackIfEmpty() {
  File f;
  if (OpenFile(StackPath(), FileAccess::kRead, FileShare::kShared, &f) != FileResult::kOk) return;
  const std::int32_t pointer = SoundPointer(f);
  f.Close();
  if (pointer < kEmptyStackPointer + 1) DeleteFile(StackPath());
}

// The stack can no longer be trusted: no window is open any more.
void EmptyStack() {
  Screen().WindowDepth = 0;
  SetWindow(0, 0, 0, 0);
  Levels().clear();
  DeleteFile(StackPath());
}

// Writes `record` on top of the file's stack. false when the file cannot
// take it (the caller keeps the record in memory).
bool PushToFile(const std::string& record) {
  File f;
  if (OpenFile(StackPath(), FileAccess::kReadWriteCreate, FileShare::kShared, &f) !=
      FileResult::kOk) {
    return false;
  }
  // A sound stack, ours or a calling program's, grows after its pointer; a
  // damaged one (a pointer or a length that does not add up) is taken as
  // empty.
  std::int32_t pointer = SoundPointer(f);
  if (pointer < kEmptyStackPointer) pointer = kEmptyStackPointer;
  std::int64_t end = static_cast<std::int64_t>(pointer) + static_cast<std::int64_t>(record.size());
  if (end > INT32_MAX) return false;
  return f.WriteAt(pointer - 1, record.data(), record.size()) &&
         WritePointer(f, static_cast<std::int32_t>(end));
}

// Paints a saved record back and makes its previous window current.
void Restore(const WindowRecord& r) {
  std::size_t i = 0;
  std::uint8_t attr = TextAttribute();
  for (int row = r.top; row <= r.bottom; ++row) {
    for (int col = r.left; col <= r.right; ++col, i += 2) {
      attr = static_cast<std::uint8_t>(r.cells[i + 1]);
      PutText(static_cast<std::int16_t>(row), static_cast<std::int16_t>(col),
              std::string_view(&r.cells[i], 1), attr);
    }
  }
  // The console colour is left as the last repainted cell's.
  SetTextAttribute(attr);
  MoveCursor(r.cursor_row, r.cursor_col);
  SetWindow(r.prev_top, r.prev_left, r.prev_bottom, r.prev_right);
}

// The file is deleted only when its pointer falls below 6, never merely
// because this program's last window closed: a calling program's records
// may lie below ours.
void FinishPop() {
  ScreenState& s = Screen();
  if (!Levels().empty()) Levels().pop_back();
  if (s.WindowDepth > 0) --s.WindowDepth;
}

}  // namespace

// Called when the screen is reset: the windows of this process are gone.
void ForgetWindowLevels() { Levels().clear(); }

void WinPush(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right) {
  const int rows = ScreenRows(), cols = ScreenCols();
  if (top < 1 || top > rows || bottom < 1 || bottom > rows || left < 1 || left > cols ||
      right < 1 || right > cols || top > bottom || left > right) {
    return;
  }
  ScreenState& s = Screen();
  WindowRecord r;
  r.cursor_row = CursorRow();
  r.cursor_col = CursorCol();
  r.prev_top = s.WindowTop;
  r.prev_left = s.WindowLeft;
  r.prev_bottom = s.WindowBottom;
  r.prev_right = s.WindowRight;
  r.top = top;
  r.left = left;
  r.bottom = bottom;
  r.right = right;
  for (int row = top; row <= bottom; ++row) {
    for (int col = left; col <= right; ++col) {
      Cell c = ReadCell(static_cast<std::int16_t>(row), static_cast<std::int16_t>(col));
      r.cells.push_back(static_cast<char>(c.ch));
      r.cells.push_back(static_cast<char>(c.attr));
    }
  }
  std::string bytes;
  if (!EncodeWindowRecord(r, &bytes)) return;  // beyond what the file can describe
  if (s.WindowDepth < 0 || static_cast<std::size_t>(s.WindowDepth) != Levels().size()) {
    // Someone else moved the count: trust neither, start afresh.
    s.WindowDepth = 0;
    Levels().clear();
  }
  Level level;
  if (!PushToFile(bytes)) {
    level.in_file = false;
    level.record = std::move(bytes);
  }
  Levels().push_back(std::move(level));
  SetWindow(top, left, bottom, right);
  ++s.WindowDepth;
}

void WinPop() {
  ScreenState& s = Screen();
  if (s.WindowDepth <= 0) {
    // Nothing of ours to pop; a calling program's records stay.
    DeleteStackIfEmpty();
    return;
  }
  const int rows = ScreenRows(), cols = ScreenCols();
  WindowRecord r;
  if (!Levels().empty() && !Levels().back().in_file) {
    if (!DecodeWindowRecord(Levels().back().record, rows, cols, &r)) {
      EmptyStack();
      return;
    }
    Restore(r);
    FinishPop();
    if (s.WindowDepth == 0) DeleteStackIfEmpty();
    return;
  }
  File f;
  if (OpenFile(StackPath(), FileAccess::kReadWrite, FileShare::kShared, &f) != FileResult::kOk) {
    EmptyStack();
    return;
  }
  std::int64_t size = f.Size();
  std::int32_t pointer = size > 3 ? ReadPointer(f) : -1;
  constexpr int kSmallest = kWindowRecordHeader + 2 + kWindowRecordTrailer;
  if (pointer < kEmptyStackPointer + kSmallest || pointer > size + 1) {
    f.Close();
    EmptyStack();
    return;
  }
  char digits[kWindowRecordTrailer];
  if (f.ReadAt(pointer - 1 - kWindowRecordTrailer, digits, sizeof digits) != kWindowRecordTrailer) {
    f.Close();
    EmptyStack();
    return;
  }
  int length = ReadRecordLength(std::string_view(digits, sizeof digits));
  std::int32_t start = pointer - length;
  if (length < kSmallest || start < kEmptyStackPointer) {
    f.Close();
    EmptyStack();
    return;
  }
  std::string bytes(static_cast<std::size_t>(length), '\0');
  if (f.ReadAt(start - 1, bytes.data(), bytes.size()) != length ||
      !DecodeWindowRecord(bytes, rows, cols, &r)) {
    f.Close();
    EmptyStack();
    return;
  }
  Restore(r);
  (void)WritePointer(f, start);  // a failed write shows at the next push, which checks it
  f.Close();
  FinishPop();
  if (start < kEmptyStackPointer + 1) DeleteFile(StackPath());
}

void WinLocate(std::int16_t row, std::int16_t col) {
  const ScreenState& s = Screen();
  if (s.WindowDepth > 0) {
    row = static_cast<std::int16_t>(s.WindowTop + row);
    col = static_cast<std::int16_t>(s.WindowLeft + col);
  }
  MoveCursor(row, col);
}

std::int16_t WinFirstRow() {
  const ScreenState& s = Screen();
  return s.WindowDepth > 0 ? static_cast<std::int16_t>(s.WindowTop + 1) : 1;
}

std::int16_t WinFirstCol() {
  const ScreenState& s = Screen();
  return s.WindowDepth > 0 ? static_cast<std::int16_t>(s.WindowLeft + 1) : 1;
}

std::int16_t WinLastCol() {
  const ScreenState& s = Screen();
  return s.WindowDepth > 0 ? static_cast<std::int16_t>(s.WindowRight - 1) : ScreenCols();
}

void DrawFrame(std::int16_t style) {
  const ScreenState& s = Screen();
  if (s.WindowDepth <= 0) return;
  // Corners top-left, top-right, bottom-left, bottom-right; horizontal;
  // vertical (code page 850).
  static constexpr unsigned char kStyles[3][6] = {
      {' ', ' ', ' ', ' ', ' ', ' '},
      {0xDA, 0xBF, 0xC0, 0xD9, 0xC4, 0xB3},
      {0xC9, 0xBB, 0xC8, 0xBC, 0xCD, 0xBA},
  };
  const unsigned char* k = kStyles[(style == 1 || style == 2) ? style : 0];
  const int w = s.WindowRight - s.WindowLeft - 1;
  const std::size_t inner = w > 0 ? static_cast<std::size_t>(w) : 0;
  const std::uint8_t attr = TextAttribute();
  auto line = [&](std::int16_t row, unsigned char first, unsigned char fill, unsigned char last) {
    std::string text(1, static_cast<char>(first));
    text.append(inner, static_cast<char>(fill));
    text.push_back(static_cast<char>(last));
    PutText(row, s.WindowLeft, text, attr);
  };
  line(s.WindowTop, k[0], k[4], k[1]);
  for (int row = s.WindowTop + 1; row <= s.WindowBottom - 1; ++row) {
    line(static_cast<std::int16_t>(row), k[5], ' ', k[5]);
  }
  line(s.WindowBottom, k[2], k[4], k[3]);
}

void ScrollRect(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right,
                std::int16_t n) {
  ScrollCells(static_cast<std::int16_t>(top + 1), static_cast<std::int16_t>(left + 1),
              static_cast<std::int16_t>(bottom + 1), static_cast<std::int16_t>(right + 1), n,
              TextAttribute());
}

bool IsAllChar(std::string_view text, std::int16_t code) {
  for (char c : text) {
    if (static_cast<std::uint8_t>(c) != code) return false;
  }
  return true;
}

}  // namespace kel
