// The Windows console: the program's own platform. The console's model is
// the program's: cells of a character and a text-screen attribute, written
// with WriteConsoleOutput; key events with their scan
// code and control-key state (win32_keys.h turns them into the program's
// events); mouse events; a cursor with a height in percent.
//
// The program draws on the 80 x 25 cells at the top left of the console's
// visible window as it was when the program started. While it runs the
// input and output code pages are 850, Ctrl+C is a key (copy) and not a
// signal, and quick-edit mode is off so that the mouse reaches the
// program; the code pages, the console modes, the cursor and the text
// colour are given back at the end, also when the run ends on an error, a
// console control event, or a crash.
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/console_text.h"
#include "platform/win32_internal.h"
#include "platform/win32_keys.h"

namespace kel {
namespace {

// At most about 30 refreshes a second while the program is busy.
constexpr int kRefreshMillis = 33;
constexpr UINT kCodePage = 850;

class Win32Console;
Win32Console* g_open = nullptr;

class Win32Console : public Console {
 public:
  Win32Console() : shadow_(static_cast<std::size_t>(kScreenRows) * kScreenCols) {
    for (CHAR_INFO& c : shadow_) {
      c.Char.UnicodeChar = L' ';
      c.Attributes = 0x07;
    }
  }
  ~Win32Console() override {
    EndTerminal();
    if (g_open == this) g_open = nullptr;
  }

  bool Start(ConsoleStatus* status, std::string* message);

  ConsoleKind Kind() const override { return ConsoleKind::kTerminal; }
  int Rows() const override { return kScreenRows; }
  int Cols() const override { return kScreenCols; }
  int RefreshIntervalMillis() const override { return kRefreshMillis; }
  void DrawCells(int row, int col, const Cell* cells, int count) override;
  void SetCursor(int row, int col, bool visible, int size_percent) override;
  void Flush() override;
  void Beep() override;
  void WriteOutput(std::string_view) override {}
  void Transcript(std::string_view) override {}
  void EndTerminal() override;
  bool PollInput(InputEvent* event) override;
  InputWait WaitInput(int timeout_ms) override;
  void DiscardInput() override;
  int MouseButtons() override;
  void SetMouseInput(bool on) override { mouse_on_ = on; }
  bool OnInputExhausted() override;
  bool SetClipboardText(std::string_view cp850) override;
  bool GetClipboardText(std::string* cp850) override;
  bool InsertToggle() const override;
  void SetInsertToggle(bool on) override;

 private:
  // Moves every waiting console record into queue_.
  void Pump();
  void Handle(const INPUT_RECORD& record);
  // The window moved or changed size: draw everything again at its origin.
  void FollowWindow();
  void MarkAllDirty() {
    dirty_first_ = 1;
    dirty_last_ = kScreenRows;
  }

  HANDLE in_ = INVALID_HANDLE_VALUE;
  HANDLE out_ = INVALID_HANDLE_VALUE;
  // What was there before, given back at the end.
  DWORD saved_in_mode_ = 0;
  DWORD saved_out_mode_ = 0;
  UINT saved_in_cp_ = 0;
  UINT saved_out_cp_ = 0;
  CONSOLE_CURSOR_INFO saved_cursor_ = {25, TRUE};
  WORD saved_attributes_ = 0x07;
  bool started_ = false;
  bool ended_ = false;
  bool gone_ = false;  // the console can no longer be read (closed)

  SHORT left_ = 0;  // the window's origin in the screen buffer
  SHORT top_ = 0;
  std::vector<CHAR_INFO> shadow_;
  int dirty_first_ = 1;  // rows to write on the next Flush
  int dirty_last_ = kScreenRows;

  int cursor_row_ = 1;
  int cursor_col_ = 1;
  bool cursor_visible_ = true;
  int cursor_size_ = 25;
  int shown_row_ = 0;
  int shown_col_ = 0;
  int shown_visible_ = -1;
  int shown_size_ = -1;

  std::deque<InputEvent> queue_;
  std::uint32_t held_buttons_ = 0;
  bool mouse_on_ = false;
  std::string clipboard_;
};

// A crash must not leave the operator's console in code page 850 with
// Ctrl+C switched off.
LONG WINAPI RestoreOnCrash(EXCEPTION_POINTERS*) {
  if (g_open != nullptr) g_open->EndTerminal();
  return EXCEPTION_CONTINUE_SEARCH;
}

void RestoreAtExit() {
  if (g_open != nullptr) g_open->EndTerminal();
}

std::string SizeMessage(int rows, int cols) {
  return "The console window has " + std::to_string(rows) + " rows and " + std::to_string(cols) +
         " columns; the screen needs at least " + std::to_string(kScreenRows) + " rows and " +
         std::to_string(kScreenCols) +
         " columns. Enlarge the window (Properties, Layout) and start again.";
}

bool Win32Console::Start(ConsoleStatus* status, std::string* message) {
  in_ = ::GetStdHandle(STD_INPUT_HANDLE);
  out_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (::GetConsoleMode(in_, &saved_in_mode_) == FALSE ||
      ::GetConsoleMode(out_, &saved_out_mode_) == FALSE) {
    *status = ConsoleStatus::kNotATerminal;
    *message =
        "The screen needs a console: standard input and standard output must both be the "
        "console window.";
    return false;
  }
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (::GetConsoleScreenBufferInfo(out_, &info) == FALSE) {
    *status = ConsoleStatus::kNoTerminal;
    *message = "The console window cannot be asked for its size, so the screen cannot be shown.";
    return false;
  }
  const int cols = info.srWindow.Right - info.srWindow.Left + 1;
  const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  if (rows < kScreenRows || cols < kScreenCols) {
    *status = ConsoleStatus::kTooSmall;
    *message = SizeMessage(rows, cols);
    return false;
  }
  saved_in_cp_ = ::GetConsoleCP();
  saved_out_cp_ = ::GetConsoleOutputCP();
  (void)::GetConsoleCursorInfo(out_, &saved_cursor_);
  saved_attributes_ = info.wAttributes;
  if (::SetConsoleCP(kCodePage) == FALSE || ::SetConsoleOutputCP(kCodePage) == FALSE) {
    (void)::SetConsoleCP(saved_in_cp_);
    (void)::SetConsoleOutputCP(saved_out_cp_);
    *status = ConsoleStatus::kNoTerminal;
    *message = "The console cannot use code page 850, so the screen's characters cannot be shown.";
    return false;
  }
  started_ = true;
  g_open = this;
  static const bool registered = [] {
    (void)::SetUnhandledExceptionFilter(&RestoreOnCrash);
    return std::atexit(&RestoreAtExit) == 0;
  }();
  (void)registered;
  // Keys as the program reads them: no line editing, no echo, Ctrl+C a
  // key; mouse and window events; quick edit off (it would take the mouse).
  (void)::SetConsoleMode(in_, ENABLE_EXTENDED_FLAGS | ENABLE_MOUSE_INPUT | ENABLE_WINDOW_INPUT);
  left_ = info.srWindow.Left;
  top_ = info.srWindow.Top;
  (void)::FlushConsoleInputBuffer(in_);
  MarkAllDirty();
  Flush();
  *status = ConsoleStatus::kOk;
  return true;
}

void Win32Console::EndTerminal() {
  if (!started_ || ended_) return;
  ended_ = true;
  (void)::SetConsoleCursorInfo(out_, &saved_cursor_);
  // With ENABLE_EXTENDED_FLAGS the saved quick-edit bit counts again.
  (void)::SetConsoleMode(in_, saved_in_mode_ | ENABLE_EXTENDED_FLAGS);
  (void)::SetConsoleMode(out_, saved_out_mode_);
  (void)::SetConsoleCP(saved_in_cp_);
  (void)::SetConsoleOutputCP(saved_out_cp_);
  (void)::SetConsoleTextAttribute(out_, saved_attributes_);
}

void Win32Console::DrawCells(int row, int col, const Cell* cells, int count) {
  if (row < 1 || row > kScreenRows) return;
  bool changed = false;
  for (int i = 0; i < count; ++i) {
    const int c = col + i;
    if (c < 1 || c > kScreenCols) continue;
    CHAR_INFO& ci = shadow_[static_cast<std::size_t>(row - 1) * kScreenCols + (c - 1)];
    // Each byte as the text screen shows it: the bytes below 0x20 are
    // glyphs too (the selector's triangles are 0x10 and 0x11). Written as
    // code page 850 bytes, the console would take those for control
    // characters and show nothing (wine does; so do consoles with TrueType
    // fonts), so the cell carries the glyph's Unicode character.
    ci.Char.UnicodeChar = static_cast<WCHAR>(CellGlyph(cells[i].ch));
    // The console's attribute bits are the text screen's: blue 1, green 2,
    // red 4, bright 8, and the same four for the background.
    ci.Attributes = cells[i].attr;
    changed = true;
  }
  if (!changed) return;
  if (row < dirty_first_) dirty_first_ = row;
  if (row > dirty_last_) dirty_last_ = row;
}

void Win32Console::SetCursor(int row, int col, bool visible, int size_percent) {
  cursor_row_ = row;
  cursor_col_ = col;
  cursor_visible_ = visible;
  cursor_size_ = size_percent < 1 ? 1 : size_percent > 100 ? 100 : size_percent;
}

void Win32Console::Flush() {
  if (ended_ || gone_) return;
  if (dirty_first_ <= dirty_last_) {
    const COORD size = {static_cast<SHORT>(kScreenCols),
                        static_cast<SHORT>(dirty_last_ - dirty_first_ + 1)};
    const COORD from = {0, 0};
    SMALL_RECT rect;
    rect.Left = left_;
    rect.Top = static_cast<SHORT>(top_ + dirty_first_ - 1);
    rect.Right = static_cast<SHORT>(left_ + kScreenCols - 1);
    rect.Bottom = static_cast<SHORT>(top_ + dirty_last_ - 1);
    (void)::WriteConsoleOutputW(out_,
                                &shadow_[static_cast<std::size_t>(dirty_first_ - 1) * kScreenCols],
                                size, from, &rect);
    dirty_first_ = kScreenRows + 1;
    dirty_last_ = 0;
  }
  const int visible = cursor_visible_ ? 1 : 0;
  if (visible != shown_visible_ || cursor_size_ != shown_size_) {
    CONSOLE_CURSOR_INFO ci;
    ci.dwSize = static_cast<DWORD>(cursor_size_);
    ci.bVisible = cursor_visible_ ? TRUE : FALSE;
    (void)::SetConsoleCursorInfo(out_, &ci);
    shown_visible_ = visible;
    shown_size_ = cursor_size_;
  }
  if ((cursor_row_ != shown_row_ || cursor_col_ != shown_col_) && cursor_row_ >= 1 &&
      cursor_row_ <= kScreenRows && cursor_col_ >= 1 && cursor_col_ <= kScreenCols) {
    const COORD at = {static_cast<SHORT>(left_ + cursor_col_ - 1),
                      static_cast<SHORT>(top_ + cursor_row_ - 1)};
    (void)::SetConsoleCursorPosition(out_, at);
    shown_row_ = cursor_row_;
    shown_col_ = cursor_col_;
  }
}

void Win32Console::Beep() {
  if (ended_ || gone_) return;
  // The console's own bell, as a console program rings it.
  DWORD put = 0;
  (void)::WriteConsoleA(out_, "\a", 1, &put, nullptr);
}

void Win32Console::FollowWindow() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (::GetConsoleScreenBufferInfo(out_, &info) == FALSE) return;
  left_ = info.srWindow.Left;
  top_ = info.srWindow.Top;
  MarkAllDirty();
  shown_row_ = shown_col_ = 0;
}

void Win32Console::Handle(const INPUT_RECORD& record) {
  switch (record.EventType) {
    case KEY_EVENT: {
      const KEY_EVENT_RECORD& k = record.Event.KeyEvent;
      Win32KeyRecord r;
      r.key_down = k.bKeyDown != FALSE;
      r.virtual_key = k.wVirtualKeyCode;
      r.scan_code = k.wVirtualScanCode;
      r.ch = static_cast<std::uint8_t>(k.uChar.AsciiChar);
      r.control = k.dwControlKeyState;
      InputEvent e;
      if (!TranslateWin32Key(r, &e)) return;
      const int repeat = k.wRepeatCount > 0 ? k.wRepeatCount : 1;
      for (int i = 0; i < repeat; ++i) queue_.push_back(e);
      return;
    }
    case MOUSE_EVENT: {
      const MOUSE_EVENT_RECORD& m = record.Event.MouseEvent;
      Win32MouseRecord r;
      r.x = m.dwMousePosition.X - left_;
      r.y = m.dwMousePosition.Y - top_;
      r.buttons = m.dwButtonState;
      r.control = m.dwControlKeyState;
      r.flags = m.dwEventFlags;
      InputEvent e;
      // Mouse events that arrive while the program is not reading are
      // dropped (but the buttons are followed, to see the next release).
      if (TranslateWin32Mouse(r, &held_buttons_, &e) && mouse_on_) queue_.push_back(e);
      return;
    }
    case WINDOW_BUFFER_SIZE_EVENT:
      FollowWindow();
      return;
    default:
      return;  // focus and menu events
  }
}

void Win32Console::Pump() {
  if (ended_ || gone_) return;
  for (;;) {
    DWORD waiting = 0;
    if (::GetNumberOfConsoleInputEvents(in_, &waiting) == FALSE) {
      gone_ = true;
      return;
    }
    if (waiting == 0) return;
    INPUT_RECORD records[64];
    DWORD got = 0;
    const DWORD want = waiting < 64 ? waiting : 64;
    if (::ReadConsoleInputA(in_, records, want, &got) == FALSE) {
      gone_ = true;
      return;
    }
    for (DWORD i = 0; i < got; ++i) Handle(records[i]);
  }
}

bool Win32Console::PollInput(InputEvent* event) {
  if (queue_.empty()) Pump();
  if (queue_.empty()) return false;
  *event = queue_.front();
  queue_.pop_front();
  return true;
}

InputWait Win32Console::WaitInput(int timeout_ms) {
  if (!queue_.empty()) return InputWait::kReady;
  if (ended_) return InputWait::kNever;
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
  for (;;) {
    Pump();
    if (!queue_.empty()) return InputWait::kReady;
    if (gone_) return InputWait::kNever;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return InputWait::kTimeout;
    // The input handle is signalled while records wait (some carry nothing,
    // key releases: they were drained above); a console control event ends
    // the wait at once, so that the program can end in order.
    HANDLE handles[2] = {in_, TerminationWakeEvent()};
    const DWORD r = ::WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(deadline - now));
    if (r == WAIT_OBJECT_0 + 1) return InputWait::kTimeout;
    if (r == WAIT_FAILED) {
      gone_ = true;
      return InputWait::kNever;
    }
  }
}

void Win32Console::DiscardInput() {
  queue_.clear();
  if (ended_ || gone_) return;
  (void)::FlushConsoleInputBuffer(in_);
}

int Win32Console::MouseButtons() {
  DWORD buttons = 0;
  if (::GetNumberOfConsoleMouseButtons(&buttons) == FALSE) return 0;
  return buttons >= 2 ? 2 : static_cast<int>(buttons);
}

bool Win32Console::OnInputExhausted() {
  // The console has gone away: nobody can answer.
  EndTerminal();
  std::fprintf(stderr, "The console has gone away while the program waited for a key.\n");
  std::exit(kExitNoKeyboard);
}

// The clipboard holds the text as CF_OEMTEXT: code page 850 bytes as they
// are (Windows gives other programs the text in their own forms). Another
// program may hold the clipboard for a moment: a few tries, then the
// program's own copy.
bool OpenClipboardSoon() {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (::OpenClipboard(nullptr) != FALSE) return true;
    ::Sleep(10);
  }
  return false;
}

bool Win32Console::SetClipboardText(std::string_view cp850) {
  clipboard_.assign(cp850);
  if (!OpenClipboardSoon()) return true;
  (void)::EmptyClipboard();
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, cp850.size() + 1);
  if (memory != nullptr) {
    if (char* p = static_cast<char*>(::GlobalLock(memory)); p != nullptr) {
      cp850.copy(p, cp850.size());
      p[cp850.size()] = '\0';
      ::GlobalUnlock(memory);
      if (::SetClipboardData(CF_OEMTEXT, memory) == nullptr) ::GlobalFree(memory);
    } else {
      ::GlobalFree(memory);
    }
  }
  ::CloseClipboard();
  return true;
}

bool Win32Console::GetClipboardText(std::string* cp850) {
  *cp850 = clipboard_;
  if (!OpenClipboardSoon()) return true;
  if (HANDLE memory = ::GetClipboardData(CF_OEMTEXT); memory != nullptr) {
    if (const char* p = static_cast<const char*>(::GlobalLock(memory)); p != nullptr) {
      const SIZE_T size = ::GlobalSize(memory);
      std::size_t n = 0;
      while (n < size && p[n] != '\0') ++n;
      cp850->assign(p, n);
      ::GlobalUnlock(memory);
    }
  }
  ::CloseClipboard();
  return true;
}

bool Win32Console::InsertToggle() const {
  // Bit 0 of the Insert key's state is its toggle.
  return (::GetKeyState(VK_INSERT) & 1) != 0;
}

void Win32Console::SetInsertToggle(bool on) {
  BYTE keys[256];
  if (::GetKeyboardState(keys) == FALSE) return;
  keys[VK_INSERT] = static_cast<BYTE>(on ? (keys[VK_INSERT] | 1) : (keys[VK_INSERT] & ~1));
  (void)::SetKeyboardState(keys);
}

}  // namespace

std::unique_ptr<Console> OpenTerminalConsole(ConsoleStatus* status, std::string* message) {
  if (g_open != nullptr) {
    *status = ConsoleStatus::kNoTerminal;
    *message = "The console is already in use by this program.";
    return nullptr;
  }
  auto console = std::make_unique<Win32Console>();
  if (!console->Start(status, message)) return nullptr;
  return console;
}

}  // namespace kel
