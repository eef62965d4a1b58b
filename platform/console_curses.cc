// The curses console: the real terminal through ncursesw. The only place
// where code page 850 meets Unicode on the screen.
//
// The screen model hands over runs of cells; this backend keeps a copy of
// every cell (so that it can repaint after a resize on its own), turns each
// cell into a glyph and a colour pair, and lets ncurses work out what to
// send. Input is drained from ncurses into a queue of classic console
// events: keys mapped from terminfo names, ESC + key as Alt+key, escape
// sequences ncurses does not know decoded by terminal_keys, mouse releases.
#define NCURSES_WIDECHAR 1

#include <curses.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <bitset>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/console.h"
#include "platform/console_clipboard.h"
#include "platform/console_text.h"
#include "platform/terminal_keys.h"
#include "util/cp850.h"

namespace kel {
namespace {

// How long the rest of an Alt+key or of an escape sequence may lag behind
// its ESC. The 1-second default of ncurses makes Esc feel broken.
constexpr int kEscDelayMillis = 25;
// At most about 30 refreshes a second while the program is busy.
constexpr int kRefreshMillis = 33;

// ncurses keeps one terminal per process here.
bool g_open = false;

bool ValidString(const char* s) { return s != nullptr && s != reinterpret_cast<char*>(-1); }

// The last screen must stay on the terminal when the program ends, so the
// terminal's alternate screen (which endwin leaves, bringing back what was
// there before) is not used. ncurses has already queued the switch to it
// while setting the terminal up: the two strings that switch screens are
// emptied where ncurses keeps them, a pass through endwin sends out what
// was queued, and the terminal is told to leave the alternate screen again
// before ncurses resumes (it then never switches screens).
void KeepToTheNormalScreen() {
  std::string leave;
  if (char* exit_ca = ::tigetstr("rmcup"); ValidString(exit_ca)) {
    leave = exit_ca;
    exit_ca[0] = '\0';
  }
  if (char* enter_ca = ::tigetstr("smcup"); ValidString(enter_ca)) enter_ca[0] = '\0';
  if (leave.empty()) return;
  ::endwin();
  ::putp(leave.c_str());
  std::fflush(stdout);
  ::doupdate();
}

std::string TermName() {
  const char* t = std::getenv("TERM");
  return t == nullptr ? std::string() : std::string(t);
}

class CursesConsole : public Console {
 public:
  CursesConsole() : shadow_(static_cast<std::size_t>(kScreenRows) * kScreenCols) {}
  ~CursesConsole() override;

  // Sets up the terminal; false with status and message on failure.
  bool Start(ConsoleStatus* status, std::string* message);

  ConsoleKind Kind() const override { return ConsoleKind::kTerminal; }
  int Rows() const override { return kScreenRows; }
  int Cols() const override { return kScreenCols; }
  int RefreshIntervalMillis() const override { return kRefreshMillis; }
  void DrawCells(int row, int col, const Cell* cells, int count) override;
  void SetCursor(int row, int col, bool visible, int size_percent) override;
  void Flush() override;
  void Beep() override {
    if (!ended_) ::beep();
  }
  void EndTerminal() override;
  void WriteOutput(std::string_view) override {}
  void Transcript(std::string_view) override {}
  bool PollInput(InputEvent* event) override;
  InputWait WaitInput(int timeout_ms) override;
  void DiscardInput() override;
  int MouseButtons() override { return mouse_ok_ ? 2 : 0; }
  void SetMouseInput(bool on) override { mouse_on_ = on; }
  bool OnInputExhausted() override;
  bool SetClipboardText(std::string_view cp850) override;
  bool GetClipboardText(std::string* cp850) override;

 private:
  void BuildKeyMap();
  void SetUpColours();
  void PaintCell(int row, int col);
  void RepaintAll();
  void ShowTooSmall();
  void CheckSize();
  // Moves everything ncurses has read into queue_.
  void Pump();
  void HandleKeyCode(int code);
  void HandleEscape();
  // ESC and then a key ncurses decoded (KEY_CODE_YES): its Alt form.
  void PushAltKeyCode(int code);
  // ESC and then a character: its Alt form, or Esc and the character.
  void PushAltCharacter(wint_t wch);
  // The next input within `ms` milliseconds: OK with a character,
  // KEY_CODE_YES with a key number, or ERR.
  int NextInput(int ms, wint_t* wch);
  void Push(const InputEvent& event);
  void ApplyCursorShape();

  SCREEN* screen_ = nullptr;
  std::vector<Cell> shadow_;
  std::deque<InputEvent> queue_;
  std::unordered_map<int, InputEvent> key_map_;
  int colours_ = 0;  // 0 monochrome, 8, or 16
  bool linux_console_ = false;
  std::bitset<256> pair_ready_;
  bool too_small_ = false;
  bool hung_up_ = false;
  bool ended_ = false;          // EndTerminal ran: ncurses is not touched again
  bool forced_keypad_ = false;  // application keypad mode set without terminfo
  bool mouse_ok_ = false;
  bool mouse_on_ = false;
  int last_button_ = 0;
  int cursor_row_ = 1;
  int cursor_col_ = 1;
  bool cursor_visible_ = true;
  int cursor_size_ = 25;
  int shown_visibility_ = -1;
  int shown_shape_ = 0;  // 0 terminal default, 1 underline (insert), 2 block
  const char* set_shape_ = nullptr;
  const char* reset_shape_ = nullptr;
  ClipboardTools tools_;
  std::string clipboard_;
};

CursesConsole::~CursesConsole() {
  if (screen_ == nullptr) return;
  EndTerminal();
  ::delscreen(screen_);
  g_open = false;
}

void CursesConsole::EndTerminal() {
  if (screen_ == nullptr || ended_) return;
  ended_ = true;
  if (shown_shape_ != 0 && reset_shape_ != nullptr) {
    ::putp(reset_shape_);
    std::fflush(stdout);
  }
  ::curs_set(1);
  ::mousemask(0, nullptr);
  ::endwin();
  if (forced_keypad_) {
    std::fputs("\x1b>", stdout);
    std::fflush(stdout);
  }
}

bool CursesConsole::Start(ConsoleStatus* status, std::string* message) {
  if (::isatty(0) != 1 || ::isatty(1) != 1) {
    *status = ConsoleStatus::kNotATerminal;
    *message =
        "The screen needs a terminal: standard input and standard output must both be "
        "terminals.";
    return false;
  }
  // Only the character type follows the environment: ncursesw needs it for
  // UTF-8, while numbers must keep formatting the same under any locale.
  ::setlocale(LC_CTYPE, "");
  const char* codeset = ::nl_langinfo(CODESET);
  if (codeset == nullptr ||
      (std::strcmp(codeset, "UTF-8") != 0 && std::strcmp(codeset, "utf8") != 0)) {
    *status = ConsoleStatus::kNoUtf8Locale;
    *message = std::string(
                   "The terminal needs a UTF-8 locale to show the screen's characters "
                   "(the character set now is ") +
               (codeset == nullptr ? "unknown" : codeset) +
               "). Set LANG, for example LANG=C.UTF-8, and start again.";
    return false;
  }
  // Ask the terminal for its size before touching it, so that a refusal
  // leaves the terminal exactly as it was.
  struct winsize ws = {};
  if (::ioctl(1, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0 &&
      (ws.ws_row < kScreenRows || ws.ws_col < kScreenCols)) {
    *status = ConsoleStatus::kTooSmall;
    *message = "The terminal has " + std::to_string(ws.ws_row) + " rows and " +
               std::to_string(ws.ws_col) + " columns; the screen needs at least " +
               std::to_string(kScreenRows) + " rows and " + std::to_string(kScreenCols) +
               " columns. Enlarge the window and start again.";
    return false;
  }
  screen_ = ::newterm(nullptr, stdout, stdin);
  if (screen_ == nullptr) {
    *status = ConsoleStatus::kNoTerminal;
    *message = "The terminal type TERM=" + TermName() +
               " is not known to terminfo, so the screen cannot be shown.";
    return false;
  }
  ::set_term(screen_);
  if (LINES < kScreenRows || COLS < kScreenCols) {
    int rows = LINES, cols = COLS;
    ::endwin();
    ::delscreen(screen_);
    screen_ = nullptr;
    *status = ConsoleStatus::kTooSmall;
    *message = "The terminal has " + std::to_string(rows) + " rows and " + std::to_string(cols) +
               " columns; the screen needs at least " + std::to_string(kScreenRows) + " rows and " +
               std::to_string(kScreenCols) + " columns. Enlarge the window and start again.";
    return false;
  }
  KeepToTheNormalScreen();
  // Raw mode: Ctrl+C, Ctrl+S and Ctrl+Z are keys of the program (copy,
  // for one), not signals.
  ::raw();
  ::noecho();
  ::nonl();
  ::keypad(stdscr, TRUE);
  // The keypad must send its own sequences ("ESC O q" for 1, "ESC O M" for
  // Enter) so that Alt with keypad digits can be told from Alt with the
  // digit keys. keypad() switches application keypad mode on through
  // terminfo's smkx; the Linux console's description has none, though the
  // console (and tmux or screen with TERM=linux) knows the mode: set it
  // directly there, and set it back at the end.
  if (!ValidString(::tigetstr("smkx"))) {
    std::fputs("\x1b=", stdout);
    std::fflush(stdout);
    forced_keypad_ = true;
  }
  ::nodelay(stdscr, TRUE);
  ::intrflush(stdscr, FALSE);
  ::scrollok(stdscr, FALSE);
  ::set_escdelay(kEscDelayMillis);
  linux_console_ = TermName().rfind("linux", 0) == 0;
  SetUpColours();
  mouse_ok_ = ::mousemask(ALL_MOUSE_EVENTS | REPORT_MOUSE_POSITION, nullptr) != 0;
  ::mouseinterval(0);
  BuildKeyMap();
  if (ValidString(::tigetstr("Ss"))) set_shape_ = ::tigetstr("Ss");
  if (ValidString(::tigetstr("Se"))) reset_shape_ = ::tigetstr("Se");
  tools_ = FindClipboardTools();
  RepaintAll();
  *status = ConsoleStatus::kOk;
  return true;
}

void CursesConsole::SetUpColours() {
  if (!::has_colors() || ::start_color() == ERR) return;
  if (COLORS >= 16 && COLOR_PAIRS > 255) {
    colours_ = 16;
  } else if (COLORS >= 8 && COLOR_PAIRS > 63) {
    colours_ = 8;
  }
}

void CursesConsole::BuildKeyMap() {
  // The plain keys have fixed ncurses numbers; modified ones are numbered at
  // run time and must be found by their terminfo names.
  struct Fixed {
    int code;
    InputEvent event;
  };
  InputEvent enter, backspace;
  enter.ch = 13;
  backspace.ch = 8;
  const Fixed fixed[] = {
      {KEY_UP, ExtendedKey(scan::kUp)},
      {KEY_DOWN, ExtendedKey(scan::kDown)},
      {KEY_LEFT, ExtendedKey(scan::kLeft)},
      {KEY_RIGHT, ExtendedKey(scan::kRight)},
      {KEY_HOME, ExtendedKey(scan::kHome)},
      {KEY_END, ExtendedKey(scan::kEnd)},
      {KEY_PPAGE, ExtendedKey(scan::kPgUp)},
      {KEY_NPAGE, ExtendedKey(scan::kPgDn)},
      {KEY_IC, ExtendedKey(scan::kIns)},
      {KEY_DC, ExtendedKey(scan::kDel)},
      {KEY_A1, ExtendedKey(scan::kHome)},
      {KEY_A3, ExtendedKey(scan::kPgUp)},
      {KEY_B2, ExtendedKey(scan::kCentre)},
      {KEY_C1, ExtendedKey(scan::kEnd)},
      {KEY_C3, ExtendedKey(scan::kPgDn)},
      {KEY_FIND, ExtendedKey(scan::kHome)},
      {KEY_SELECT, ExtendedKey(scan::kEnd)},
      {KEY_BTAB, ExtendedKey(scan::kTab, kShiftPressed)},
      {KEY_SLEFT, ExtendedKey(scan::kLeft, kShiftPressed)},
      {KEY_SRIGHT, ExtendedKey(scan::kRight, kShiftPressed)},
      {KEY_SR, ExtendedKey(scan::kUp, kShiftPressed)},
      {KEY_SF, ExtendedKey(scan::kDown, kShiftPressed)},
      {KEY_SHOME, ExtendedKey(scan::kHome, kShiftPressed)},
      {KEY_SEND, ExtendedKey(scan::kEnd, kShiftPressed)},
      {KEY_SIC, ExtendedKey(scan::kIns, kShiftPressed)},
      {KEY_SDC, ExtendedKey(scan::kDel, kShiftPressed)},
      {KEY_SNEXT, ExtendedKey(scan::kPgDn, kShiftPressed)},
      {KEY_SPREVIOUS, ExtendedKey(scan::kPgUp, kShiftPressed)},
      {KEY_ENTER, enter},
      {KEY_BACKSPACE, backspace},
  };
  for (const Fixed& f : fixed) key_map_[f.code] = f.event;
  for (int n = 1; n <= 63; ++n) {
    InputEvent e;
    if (FunctionKeyEvent(n, &e)) key_map_[KEY_F(n)] = e;
  }
  for (const ModifiedKeyName& m : ModifiedKeyCapabilities()) {
    const char* seq = ::tigetstr(m.name.c_str());
    if (!ValidString(seq)) continue;
    int code = ::key_defined(seq);
    if (code > 0) key_map_[code] = ExtendedKey(m.scan, m.control);
  }
  // The keypad keys mean what their strings say: xterm's ka1 ("ESC O w") is
  // keypad 7 in application keypad mode, not Home.
  for (const std::string& name : KeypadCapabilityNames()) {
    const char* seq = ::tigetstr(name.c_str());
    InputEvent e;
    if (!ValidString(seq) || !TerminfoKeyEvent(seq, &e)) continue;
    int code = ::key_defined(seq);
    if (code > 0) key_map_[code] = e;
  }
}

void CursesConsole::PaintCell(int row, int col) {
  Cell cell = shadow_[static_cast<std::size_t>(row - 1) * kScreenCols + (col - 1)];
  std::uint8_t attr = cell.attr;
  attr_t attrs = A_NORMAL;
  short pair = 0;
  wchar_t text[2] = {static_cast<wchar_t>(CellGlyph(cell.ch)), L'\0'};
  if (colours_ > 0) {
    TerminalAttribute t = MapAttribute(attr, colours_, linux_console_);
    int pc_fg = colours_ == 16 ? (attr & 15) : (attr & 7);
    int pc_bg = colours_ == 16 ? (attr >> 4) : ((attr >> 4) & 7);
    int index = pc_fg * colours_ + pc_bg;
    if (index == 0) {
      // Pair 0 is the terminal's own default colours and cannot be set:
      // black on black shows nothing, so it is drawn as a grey-on-black blank.
      index = 7 * colours_;
      text[0] = L' ';
      t = MapAttribute(0x07, colours_, linux_console_);
      t.bold = t.blink = false;
    }
    if (!pair_ready_[static_cast<std::size_t>(index)]) {
      ::init_pair(static_cast<short>(index), static_cast<short>(t.foreground),
                  static_cast<short>(t.background));
      pair_ready_[static_cast<std::size_t>(index)] = true;
    }
    pair = static_cast<short>(index);
    if (t.bold) attrs |= A_BOLD;
    if (t.blink) attrs |= A_BLINK;
  } else {
    // No colours: a light background reads as reverse video.
    if ((attr >> 4) & 7) attrs |= A_REVERSE;
    if (attr & 8) attrs |= A_BOLD;
  }
  cchar_t cc;
  ::setcchar(&cc, text, attrs, pair, nullptr);
  mvwadd_wchnstr(stdscr, row - 1, col - 1, &cc, 1);
}

void CursesConsole::DrawCells(int row, int col, const Cell* cells, int count) {
  if (row < 1 || row > kScreenRows) return;
  for (int i = 0; i < count; ++i) {
    int c = col + i;
    if (c < 1 || c > kScreenCols) continue;
    shadow_[static_cast<std::size_t>(row - 1) * kScreenCols + (c - 1)] = cells[i];
    if (!too_small_ && !ended_) PaintCell(row, c);
  }
}

void CursesConsole::RepaintAll() {
  ::werase(stdscr);
  for (int r = 1; r <= kScreenRows; ++r) {
    for (int c = 1; c <= kScreenCols; ++c) PaintCell(r, c);
  }
  ::clearok(curscr, TRUE);
}

void CursesConsole::ShowTooSmall() {
  ::werase(stdscr);
  wattrset(stdscr, A_NORMAL);
  std::string text = "The terminal is too small: enlarge it to 80 columns and 25 rows.";
  mvwaddnstr(stdscr, 0, 0, text.c_str(), COLS > 0 ? COLS : 0);
  ::wnoutrefresh(stdscr);
  ::doupdate();
}

void CursesConsole::CheckSize() {
  int rows = 0, cols = 0;
  getmaxyx(stdscr, rows, cols);
  bool small = rows < kScreenRows || cols < kScreenCols;
  if (small) {
    too_small_ = true;
    ShowTooSmall();
    return;
  }
  too_small_ = false;
  RepaintAll();
  shown_visibility_ = -1;
  Flush();
}

void CursesConsole::SetCursor(int row, int col, bool visible, int size_percent) {
  cursor_row_ = row;
  cursor_col_ = col;
  cursor_visible_ = visible;
  cursor_size_ = size_percent;
}

void CursesConsole::ApplyCursorShape() {
  // The classic cursor heights as terminal cursor styles: the normal 25%
  // stays the terminal's own, a taller cursor (insert mode's 50%) is an
  // underline, a full one (overwrite mode) a block. The Linux console has
  // its own sequence with real heights.
  int shape = cursor_size_ >= 75 ? 2 : cursor_size_ > 25 ? 1 : 0;
  if (shape == shown_shape_) return;
  if (linux_console_) {
    std::fputs(shape == 2 ? "\x1b[?6c" : shape == 1 ? "\x1b[?4c" : "\x1b[?0c", stdout);
  } else if (shape == 0) {
    if (reset_shape_ != nullptr) ::putp(reset_shape_);
  } else if (set_shape_ != nullptr) {
    ::putp(::tiparm(set_shape_, shape == 2 ? 2 : 4));
  }
  std::fflush(stdout);
  shown_shape_ = shape;
}

void CursesConsole::Flush() {
  if (too_small_ || hung_up_ || ended_) return;
  int visibility = cursor_visible_ ? 1 : 0;
  if (visibility != shown_visibility_) {
    ::curs_set(visibility);
    shown_visibility_ = visibility;
  }
  if (cursor_row_ >= 1 && cursor_row_ <= kScreenRows && cursor_col_ >= 1 &&
      cursor_col_ <= kScreenCols) {
    ::wmove(stdscr, cursor_row_ - 1, cursor_col_ - 1);
  }
  ::wnoutrefresh(stdscr);
  ::doupdate();
  if (cursor_visible_) ApplyCursorShape();
}

void CursesConsole::Push(const InputEvent& event) {
  // Mouse events that arrive while the program is not reading are dropped,
  // as the classic console does not report them then.
  if (event.kind == InputEvent::Kind::kMouse && !mouse_on_) return;
  queue_.push_back(event);
}

int CursesConsole::NextInput(int ms, wint_t* wch) {
  if (ms > 0) ::wtimeout(stdscr, ms);
  int r = ::wget_wch(stdscr, wch);
  if (ms > 0) ::nodelay(stdscr, TRUE);
  return r;
}

void CursesConsole::HandleKeyCode(int code) {
  if (code == KEY_RESIZE) {
    CheckSize();
    return;
  }
  if (code == KEY_MOUSE) {
    MEVENT me;
    while (::getmouse(&me) == OK) {
      InputEvent e;
      e.kind = InputEvent::Kind::kMouse;
      if (!OnScreen(me.y + 1, me.x + 1)) break;  // beyond the program's screen
      e.row = static_cast<std::int16_t>(me.y + 1);
      e.col = static_cast<std::int16_t>(me.x + 1);
      if (me.bstate & BUTTON_SHIFT) e.control |= kShiftPressed;
      if (me.bstate & BUTTON_CTRL) e.control |= kLeftCtrlPressed;
      if (me.bstate & BUTTON_ALT) e.control |= kLeftAltPressed;
      if (me.bstate & BUTTON1_RELEASED) {
        e.mouse_type = kMouseButtonReleased;
        e.button = 1;
      } else if (me.bstate & BUTTON3_RELEASED) {
        e.mouse_type = kMouseButtonReleased;
        e.button = 2;
      } else if (!(me.bstate & (BUTTON1_PRESSED | BUTTON3_PRESSED | REPORT_MOUSE_POSITION))) {
        break;  // wheel, middle button: nothing for the program
      }
      Push(e);
      break;  // ncurses queues one event per KEY_MOUSE
    }
    return;
  }
  auto it = key_map_.find(code);
  if (it != key_map_.end()) Push(it->second);
}

void CursesConsole::HandleEscape() {
  // Terminals send Alt+key as ESC followed at once by the key, and keys that
  // ncurses does not know as ESC and the rest of their sequence; Alt with
  // such a key (Alt with a keypad digit: ESC ESC O q) as ESC and the key's
  // own sequence.
  wint_t wch = 0;
  int r = NextInput(kEscDelayMillis, &wch);
  if (r == ERR) {
    Push(InputEvent{.ch = 27});
    return;
  }
  if (r == KEY_CODE_YES) {
    PushAltKeyCode(static_cast<int>(wch));
    return;
  }
  std::string seq;
  if (wch == 27) {
    r = NextInput(kEscDelayMillis, &wch);
    if (r == KEY_CODE_YES) {
      PushAltKeyCode(static_cast<int>(wch));
      return;
    }
    // Esc pressed twice, or Esc and then Alt+key: the first is a key of
    // its own. Only a sequence after the second ESC makes an Alt key.
    if (r == ERR || (wch != '[' && wch != 'O')) {
      Push(InputEvent{.ch = 27});
      if (r == ERR) {
        Push(InputEvent{.ch = 27});
      } else {
        PushAltCharacter(wch);
      }
      return;
    }
    seq.push_back('\x1b');
  }
  if (wch != '[' && wch != 'O') {
    PushAltCharacter(wch);
    return;
  }
  seq.push_back(static_cast<char>(wch));
  for (;;) {
    InputEvent e;
    SequenceResult result = DecodeEscapeSequence(seq, &e, &last_button_);
    if (result == SequenceResult::kEvent) {
      Push(e);
      return;
    }
    if (result == SequenceResult::kIgnored || result == SequenceResult::kUnknown) return;
    r = NextInput(kEscDelayMillis, &wch);
    if (r != OK || wch > 0xFF) {
      // "ESC [" alone was Alt+[ (or Alt+O); a cut sequence is dropped.
      const std::size_t lone = seq[0] == '\x1b' ? 2 : 1;
      InputEvent alt;
      if (seq.size() == lone &&
          AltEvent(InputEvent{.ch = static_cast<std::uint8_t>(seq.back())}, &alt)) {
        if (lone == 2) Push(InputEvent{.ch = 27});
        Push(alt);
      }
      if (r == KEY_CODE_YES) HandleKeyCode(static_cast<int>(wch));
      return;
    }
    seq.push_back(static_cast<char>(wch));
  }
}

void CursesConsole::PushAltKeyCode(int code) {
  auto it = key_map_.find(code);
  InputEvent alt;
  if (it != key_map_.end() && AltEvent(it->second, &alt)) {
    Push(alt);
  } else if (it != key_map_.end() && it->second.keypad) {
    // A keypad operator has no Alt form: the key itself, not an Esc.
    alt = it->second;
    alt.control |= kLeftAltPressed;
    Push(alt);
  } else if (code == KEY_MOUSE || code == KEY_RESIZE) {
    Push(InputEvent{.ch = 27});  // Esc, then a click or a resize
    HandleKeyCode(code);
  }
  // Otherwise Alt with a key this program does not know: nothing, and
  // certainly not Esc.
}

void CursesConsole::PushAltCharacter(wint_t wch) {
  InputEvent plain, alt;
  if (CharacterEvent(static_cast<char32_t>(wch), &plain)) {
    if (AltEvent(plain, &alt)) {
      Push(alt);
    } else {
      Push(InputEvent{.ch = 27});
      Push(plain);
    }
  } else {
    Push(InputEvent{.ch = 27});
    ::beep();
  }
}

void CursesConsole::Pump() {
  for (;;) {
    wint_t wch = 0;
    int r = ::wget_wch(stdscr, &wch);
    if (r == ERR) return;
    if (r == KEY_CODE_YES) {
      HandleKeyCode(static_cast<int>(wch));
    } else if (wch == 27) {
      HandleEscape();
    } else {
      InputEvent e;
      if (CharacterEvent(static_cast<char32_t>(wch), &e)) {
        Push(e);
      } else {
        // A character code page 850 lacks (the euro sign, say) cannot go
        // into a field: the key is refused audibly rather than altered.
        ::beep();
      }
    }
  }
}

bool CursesConsole::PollInput(InputEvent* event) {
  if (queue_.empty() && !ended_) Pump();
  if (queue_.empty()) return false;
  *event = queue_.front();
  queue_.pop_front();
  return true;
}

InputWait CursesConsole::WaitInput(int timeout_ms) {
  if (!queue_.empty()) return InputWait::kReady;
  if (ended_) return InputWait::kNever;
  Pump();
  if (!queue_.empty()) return InputWait::kReady;
  if (hung_up_) return InputWait::kNever;
  struct pollfd p = {0, POLLIN, 0};
  int r = ::poll(&p, 1, timeout_ms);
  if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (p.revents & POLLIN) == 0) {
    hung_up_ = true;
    return InputWait::kNever;
  }
  // A signal (a resize) also ends the wait: ncurses reports it as a key.
  Pump();
  return queue_.empty() ? InputWait::kTimeout : InputWait::kReady;
}

void CursesConsole::DiscardInput() {
  queue_.clear();
  if (ended_) return;
  Pump();
  queue_.clear();
  ::flushinp();
}

bool CursesConsole::OnInputExhausted() {
  // The terminal has gone away: nobody can answer. Leave as the plain
  // console does, with its exit code.
  EndTerminal();
  std::fprintf(stderr, "The terminal has gone away while the program waited for a key.\n");
  std::exit(kExitNoKeyboard);
}

bool CursesConsole::SetClipboardText(std::string_view cp850) {
  clipboard_.assign(cp850);
  std::string utf8 = Cp850ToUtf8(cp850);
  std::fputs(Osc52Sequence(utf8).c_str(), stdout);
  std::fflush(stdout);
  ExternalClipboardWrite(tools_, utf8);
  return true;
}

bool CursesConsole::GetClipboardText(std::string* cp850) {
  std::string utf8;
  if (ExternalClipboardRead(tools_, &utf8)) {
    *cp850 = Utf8ToCp850(utf8);
  } else {
    *cp850 = clipboard_;
  }
  return true;
}

}  // namespace

std::unique_ptr<Console> OpenTerminalConsole(ConsoleStatus* status, std::string* message) {
  if (g_open) {
    *status = ConsoleStatus::kNoTerminal;
    *message = "The terminal is already in use by this program.";
    return nullptr;
  }
  auto console = std::make_unique<CursesConsole>();
  if (!console->Start(status, message)) return nullptr;
  g_open = true;
  return console;
}

}  // namespace kel
