#include "screen/screen_buffer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/system.h"
#include "platform/wait_hooks.h"
#include "util/session_context.h"

namespace kel {

// Window-stack bookkeeping lives in windows.cc; a fresh screen forgets it.
void ForgetWindowLevels();

namespace {

constexpr Cell kBlank{' ', 0x07};

// The cells and the cursor: the console state that has no shared name of its own.
struct Buffer {
  std::unique_ptr<Console> console;
  int rows = 0;
  int cols = 0;
  std::vector<Cell> cells;
  // Per row, the first and last changed column not yet drawn (first > last:
  // nothing).
  std::vector<int> dirty_first;
  std::vector<int> dirty_last;
  int cursor_row = 1;
  int cursor_col = 1;
  bool cursor_visible = true;
  int cursor_size = 25;
  bool cursor_dirty = true;
  std::uint8_t attr = 0x07;
  std::int64_t last_present_ms = 0;
  bool present_pending = false;
};

void PresentHook() { RefreshScreen(); }

// Draws every pending change and flushes the backend.
void Present(Buffer& b);

// Restores the terminal at exit (the curses backend leaves raw mode and the
// alternate screen) after showing the last state of the screen.
void ShutDownConsole();

void Attach(Buffer& b, std::unique_ptr<Console> console) {
  static const bool registered = [] { return std::atexit(&ShutDownConsole) == 0; }();
  (void)registered;
  b.console = std::move(console);
  b.rows = std::max(1, b.console->Rows());
  b.cols = std::max(1, b.console->Cols());
  b.cells.assign(static_cast<std::size_t>(b.rows) * b.cols, kBlank);
  b.dirty_first.assign(static_cast<std::size_t>(b.rows) + 1, 1);
  b.dirty_last.assign(static_cast<std::size_t>(b.rows) + 1, b.cols);
  b.cursor_row = b.cursor_col = 1;
  b.cursor_dirty = true;
  b.present_pending = true;
  // Whatever blocks (a key wait, a sleep while a file is locked) shows the
  // screen first.
  RegisterWaitHook(&PresentHook);
}

// Never destroyed, so that code running at exit can still write; the console
// itself is closed by ShutDownConsole.
Buffer& Buf() {
  static Buffer* const buffer = new Buffer;
  if (buffer->console == nullptr) Attach(*buffer, std::make_unique<MemoryConsole>());
  return *buffer;
}

void ShutDownConsole() {
  // Other statics (the clock among them) may be gone by now: draw without
  // asking them.
  Present(Buf());
  Buf().console.reset();
}

bool Inside(const Buffer& b, int row, int col) {
  return row >= 1 && row <= b.rows && col >= 1 && col <= b.cols;
}

Cell& CellAt(Buffer& b, int row, int col) {
  return b.cells[static_cast<std::size_t>(row - 1) * b.cols + (col - 1)];
}

void MarkDirty(Buffer& b, int row, int first, int last) {
  b.dirty_first[row] = std::min(b.dirty_first[row], first);
  b.dirty_last[row] = std::max(b.dirty_last[row], last);
  b.present_pending = true;
}

// Draws now, or later within the backend's refresh interval.
void Changed() {
  Buffer& b = Buf();
  int interval = b.console->RefreshIntervalMillis();
  if (interval <= 0) {
    RefreshScreen();
    return;
  }
  std::int64_t now = CurrentEnv().MonotonicMillis();
  if (now - b.last_present_ms >= interval) RefreshScreen();
}

void SetCell(Buffer& b, int row, int col, Cell cell) {
  Cell& c = CellAt(b, row, col);
  if (c == cell) return;
  c = cell;
  MarkDirty(b, row, col, col);
}

void MoveCursorTo(Buffer& b, int row, int col) {
  if (b.cursor_row == row && b.cursor_col == col) return;
  b.cursor_row = row;
  b.cursor_col = col;
  b.cursor_dirty = true;
  b.present_pending = true;
}

// Moves the cursor to the next row's column 1, scrolling the screen up when
// it is on the last row (plain console output).
void NewLine(Buffer& b) {
  if (b.cursor_row < b.rows) {
    MoveCursorTo(b, b.cursor_row + 1, 1);
    return;
  }
  ScrollCells(1, 1, static_cast<std::int16_t>(b.rows), static_cast<std::int16_t>(b.cols), 1,
              b.attr);
  MoveCursorTo(b, b.rows, 1);
}

}  // namespace

ScreenState& Screen() {
  static ScreenState state;
  return state;
}

void ResetScreen() {
  Screen() = ScreenState{};
  ForgetWindowLevels();
  Buffer& b = Buf();
  b.attr = 0x07;
  for (int r = 1; r <= b.rows; ++r) {
    for (int c = 1; c <= b.cols; ++c) SetCell(b, r, c, kBlank);
  }
  MoveCursorTo(b, 1, 1);
  b.cursor_visible = true;
  b.cursor_size = 25;
  b.cursor_dirty = true;
  b.console->SetInsertToggle(false);
  Changed();
}

// ---------------------------------------------------------------------------
// The console

ConsoleStatus SelectConsole(ConsoleKind kind, std::string* message) {
  std::string why;
  ConsoleStatus status = ConsoleStatus::kOk;
  std::unique_ptr<Console> console;
  switch (kind) {
    case ConsoleKind::kMemory:
      console = std::make_unique<MemoryConsole>();
      break;
    case ConsoleKind::kPlain:
      console = OpenPlainConsole();
      break;
    case ConsoleKind::kTerminal:
      if (Buf().console->Kind() == ConsoleKind::kTerminal) return ConsoleStatus::kOk;
      console = OpenTerminalConsole(&status, &why);
      break;
  }
  if (console == nullptr) {
    if (message != nullptr) *message = why;
    return status;
  }
  Attach(Buf(), std::move(console));
  return ConsoleStatus::kOk;
}

void SelectConsoleOrExit(ConsoleKind kind) {
  std::string message;
  if (SelectConsole(kind, &message) == ConsoleStatus::kOk) return;
  std::fprintf(stderr, "%s\n", message.c_str());
  std::exit(kExitTerminalUnusable);
}

void UseConsole(std::unique_ptr<Console> console) { Attach(Buf(), std::move(console)); }

MemoryConsole& UseMemoryConsole(int rows, int cols) {
  auto console = std::make_unique<MemoryConsole>(rows, cols);
  MemoryConsole& ref = *console;
  Attach(Buf(), std::move(console));
  ResetScreen();
  return ref;
}

Console& ScreenConsole() { return *Buf().console; }

std::int16_t ScreenRows() { return static_cast<std::int16_t>(Buf().rows); }
std::int16_t ScreenCols() { return static_cast<std::int16_t>(Buf().cols); }

void RefreshScreen() {
  Buffer& b = Buf();
  if (!b.present_pending) return;
  Present(b);
  if (b.console->RefreshIntervalMillis() > 0) b.last_present_ms = CurrentEnv().MonotonicMillis();
}

namespace {

void Present(Buffer& b) {
  for (int r = 1; r <= b.rows; ++r) {
    int first = b.dirty_first[r];
    int last = b.dirty_last[r];
    if (first > last) continue;
    b.console->DrawCells(r, first, &CellAt(b, r, first), last - first + 1);
    b.dirty_first[r] = b.cols + 1;
    b.dirty_last[r] = 0;
  }
  if (b.cursor_dirty) {
    b.console->SetCursor(b.cursor_row, b.cursor_col, b.cursor_visible, b.cursor_size);
    b.cursor_dirty = false;
  }
  b.console->Flush();
  b.present_pending = false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Colour

void SetColour(std::string_view code) {
  bool blank = true;
  bool plus = false, minus = false, u = false, r = false, n = false;
  for (char c : code) {
    if (c != ' ') blank = false;
    char up = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    plus |= up == '+';
    minus |= up == '-';
    u |= up == 'U';
    r |= up == 'R';
    n |= up == 'N';
  }
  if (blank) return;
  ScreenState& s = Screen();
  if (plus) s.ColourStack.push_back(static_cast<char>(s.ColourMode));
  std::int16_t mode;
  if (minus) {
    if (s.ColourStack.empty()) {
      mode = 0;
    } else {
      mode = static_cast<std::uint8_t>(s.ColourStack.back());
      s.ColourStack.pop_back();
    }
  } else if (u) {
    mode = 4;
  } else {
    mode = static_cast<std::int16_t>((r ? 2 : 0) + (n ? 1 : 0));
  }
  // A stack byte from elsewhere could hold anything: stay inside the table.
  if (mode < 0 || mode > 4) mode = 0;
  const auto& table = Session().ColourTable;
  SetTextColour(table[mode][0], table[mode][1]);
  s.ColourMode = mode;
}

void SetTextColour(std::int16_t foreground, std::int16_t background) {
  SetTextAttribute(static_cast<std::uint8_t>((foreground & 15) | ((background & 15) << 4)));
}

void SetTextAttribute(std::uint8_t attr) { Buf().attr = attr; }

std::uint8_t TextAttribute() { return Buf().attr; }

// ---------------------------------------------------------------------------
// Cells and the cursor

void MoveCursor(std::int16_t row, std::int16_t col) {
  Buffer& b = Buf();
  if (!Inside(b, row, col)) return;
  MoveCursorTo(b, row, col);
  Changed();
}

std::int16_t CursorRow() { return static_cast<std::int16_t>(Buf().cursor_row); }
std::int16_t CursorCol() { return static_cast<std::int16_t>(Buf().cursor_col); }

void SetCursorVisible(bool visible) {
  Buffer& b = Buf();
  if (b.cursor_visible == visible) return;
  b.cursor_visible = visible;
  b.cursor_dirty = b.present_pending = true;
  Changed();
}

bool CursorVisible() { return Buf().cursor_visible; }

void SetCursorSize(std::int16_t percent) {
  Buffer& b = Buf();
  int size = std::clamp<int>(percent, 1, 100);
  if (b.cursor_size == size) return;
  b.cursor_size = size;
  b.cursor_dirty = b.present_pending = true;
  Changed();
}

std::int16_t CursorSize() { return static_cast<std::int16_t>(Buf().cursor_size); }

void WriteText(std::string_view cp850) {
  Buffer& b = Buf();
  if (cp850.empty()) return;
  int row = b.cursor_row, col = b.cursor_col;
  for (char c : cp850) {
    SetCell(b, row, col, Cell{static_cast<std::uint8_t>(c), b.attr});
    if (col < b.cols) {
      ++col;
    } else if (row < b.rows) {
      ++row;
      col = 1;
    } else {
      break;  // the end of the screen: the rest has no room
    }
  }
  MoveCursorTo(b, row, col);
  Changed();
}

void PutText(std::int16_t row, std::int16_t col, std::string_view cp850, std::uint8_t attr) {
  Buffer& b = Buf();
  if (row < 1 || row > b.rows) return;
  for (std::size_t i = 0; i < cp850.size(); ++i) {
    int c = col + static_cast<int>(i);
    if (c > b.cols) break;
    if (c < 1) continue;
    SetCell(b, row, c, Cell{static_cast<std::uint8_t>(cp850[i]), attr});
  }
  Changed();
}

Cell ReadCell(std::int16_t row, std::int16_t col) {
  Buffer& b = Buf();
  if (!Inside(b, row, col)) return Cell{0, 0};
  return CellAt(b, row, col);
}

std::string ScreenRowText(std::int16_t row) {
  Buffer& b = Buf();
  std::string text;
  if (row < 1 || row > b.rows) return text;
  for (int c = 1; c <= b.cols; ++c) text.push_back(static_cast<char>(CellAt(b, row, c).ch));
  return text;
}

std::string ScreenRowAttrs(std::int16_t row) {
  Buffer& b = Buf();
  std::string attrs;
  if (row < 1 || row > b.rows) return attrs;
  for (int c = 1; c <= b.cols; ++c) attrs.push_back(static_cast<char>(CellAt(b, row, c).attr));
  return attrs;
}

void ClearScreen() {
  Buffer& b = Buf();
  FillRect(1, 1, static_cast<std::int16_t>(b.rows), static_cast<std::int16_t>(b.cols), ' ', b.attr);
  MoveCursorTo(b, 1, 1);
  Changed();
}

void FillRect(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right,
              std::uint8_t ch, std::uint8_t attr) {
  Buffer& b = Buf();
  int t = std::max<int>(top, 1), l = std::max<int>(left, 1);
  int bo = std::min<int>(bottom, b.rows), r = std::min<int>(right, b.cols);
  for (int row = t; row <= bo; ++row) {
    for (int col = l; col <= r; ++col) SetCell(b, row, col, Cell{ch, attr});
  }
  Changed();
}

void ScrollCells(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right,
                 std::int16_t n, std::uint8_t fill_attr) {
  Buffer& b = Buf();
  int t = std::max<int>(top, 1), l = std::max<int>(left, 1);
  int bo = std::min<int>(bottom, b.rows), r = std::min<int>(right, b.cols);
  if (t > bo || l > r || n == 0) return;
  int height = bo - t + 1;
  int shift = std::min<int>(std::abs(static_cast<int>(n)), height);
  const Cell blank{' ', fill_attr};
  if (n > 0) {
    for (int row = t; row <= bo; ++row) {
      int from = row + shift;
      for (int col = l; col <= r; ++col) {
        SetCell(b, row, col, from <= bo ? CellAt(b, from, col) : blank);
      }
    }
  } else {
    for (int row = bo; row >= t; --row) {
      int from = row - shift;
      for (int col = l; col <= r; ++col) {
        SetCell(b, row, col, from >= t ? CellAt(b, from, col) : blank);
      }
    }
  }
  Changed();
}

// ---------------------------------------------------------------------------
// Plain console output, sound, clipboard

void ConsolePrint(std::string_view cp850) {
  Buffer& b = Buf();
  b.console->WriteOutput(cp850);
  for (char ch : cp850) {
    switch (ch) {
      case '\r':
        MoveCursorTo(b, b.cursor_row, 1);
        break;
      case '\n':
        NewLine(b);
        break;
      case '\b':
        if (b.cursor_col > 1) MoveCursorTo(b, b.cursor_row, b.cursor_col - 1);
        break;
      case '\a':
        b.console->Beep();
        break;
      case '\t': {
        int next = std::min(((b.cursor_col - 1) / 8 + 1) * 8 + 1, b.cols);
        MoveCursorTo(b, b.cursor_row, next);
        break;
      }
      default:
        SetCell(b, b.cursor_row, b.cursor_col, Cell{static_cast<std::uint8_t>(ch), b.attr});
        if (b.cursor_col < b.cols) {
          MoveCursorTo(b, b.cursor_row, b.cursor_col + 1);
        } else {
          NewLine(b);
        }
    }
  }
  Changed();
}

void ConsolePrintLine(std::string_view cp850) {
  std::string line(cp850);
  line += "\r\n";
  ConsolePrint(line);
}

void TranscriptLine(std::string_view cp850) { Buf().console->Transcript(cp850); }

void Beep() {
  RefreshScreen();  // the sound belongs to what is on the screen now
  Buf().console->Beep();
}

bool SetClipboard(std::string_view cp850) { return Buf().console->SetClipboardText(cp850); }

bool GetClipboard(std::string* cp850) { return Buf().console->GetClipboardText(cp850); }

bool InsertToggle() { return Buf().console->InsertToggle(); }

void SetInsertToggle(bool on) { Buf().console->SetInsertToggle(on); }

}  // namespace kel
