#include "platform/console_memory.h"

#include <cstdio>
#include <cstdlib>

#include "platform/console_text.h"
#include "util/cp850.h"

namespace kel {
namespace {

// Keypad digit keys as scan codes, "0" to "9": Ins, End, Down, PgDn, Left,
// the centre key, Right, Home, Up, PgUp.
constexpr std::uint8_t kKeypadDigitScan[10] = {0x52, 0x4F, 0x50, 0x51, 0x4B,
                                               0x4C, 0x4D, 0x47, 0x48, 0x49};

}  // namespace

MemoryConsole::MemoryConsole(int rows, int cols)
    : rows_(rows < 1 ? 1 : rows),
      cols_(cols < 1 ? 1 : cols),
      cells_(static_cast<std::size_t>(rows_) * cols_) {}

void MemoryConsole::QueueKey(std::int16_t code, std::uint32_t control) {
  auto value = static_cast<std::uint16_t>(code);
  InputEvent e;
  e.control = control;
  if (value < 256) {
    e.ch = static_cast<std::uint8_t>(value);
  } else {
    e.scan = static_cast<std::uint8_t>(value >> 8);
  }
  input_.push_back(e);
}

void MemoryConsole::QueueText(std::string_view cp850) {
  for (char c : cp850) {
    InputEvent e;
    e.ch = static_cast<std::uint8_t>(c);
    input_.push_back(e);
  }
}

void MemoryConsole::QueueAltKeypad(std::string_view digits) {
  for (char d : digits) {
    if (d < '0' || d > '9') continue;
    InputEvent e;
    e.scan = kKeypadDigitScan[d - '0'];
    e.keypad = true;
    e.control = kLeftAltPressed;
    input_.push_back(e);
  }
  input_.push_back(InputEvent{});  // Alt released: a key event without a key
}

void MemoryConsole::QueueMouseRelease(int row, int col, int button) {
  InputEvent e;
  e.kind = InputEvent::Kind::kMouse;
  e.mouse_type = kMouseButtonReleased;
  e.button = static_cast<std::uint8_t>(button);
  e.row = static_cast<std::int16_t>(row);
  e.col = static_cast<std::int16_t>(col);
  input_.push_back(e);
}

void MemoryConsole::QueueEvent(const InputEvent& event) { input_.push_back(event); }

const Cell& MemoryConsole::At(int row, int col) const {
  static const Cell kOutside{0, 0};
  if (row < 1 || row > rows_ || col < 1 || col > cols_) return kOutside;
  return cells_[static_cast<std::size_t>(row - 1) * cols_ + (col - 1)];
}

std::string MemoryConsole::RowText(int row) const {
  std::string text;
  for (int c = 1; c <= cols_; ++c) text.push_back(static_cast<char>(At(row, c).ch));
  return text;
}

std::string MemoryConsole::Text() const {
  std::string text;
  for (int r = 1; r <= rows_; ++r) {
    text += RowText(r);
    text += '\n';
  }
  return text;
}

std::string MemoryConsole::RowUtf8(int row) const {
  std::string text;
  for (int c = 1; c <= cols_; ++c) AppendUtf8(CellGlyph(At(row, c).ch), &text);
  return text;
}

std::uint8_t MemoryConsole::CharAt(int row, int col) const { return At(row, col).ch; }

std::uint8_t MemoryConsole::AttrAt(int row, int col) const { return At(row, col).attr; }

std::string MemoryConsole::RowAttrs(int row) const {
  std::string attrs;
  for (int c = 1; c <= cols_; ++c) attrs.push_back(static_cast<char>(At(row, c).attr));
  return attrs;
}

void MemoryConsole::DrawCells(int row, int col, const Cell* cells, int count) {
  if (row < 1 || row > rows_) return;
  for (int i = 0; i < count; ++i) {
    int c = col + i;
    if (c < 1 || c > cols_) continue;
    cells_[static_cast<std::size_t>(row - 1) * cols_ + (c - 1)] = cells[i];
  }
}

void MemoryConsole::SetCursor(int row, int col, bool visible, int size_percent) {
  cursor_row_ = row;
  cursor_col_ = col;
  cursor_visible_ = visible;
  cursor_size_ = size_percent;
}

bool MemoryConsole::PollInput(InputEvent* event) {
  while (!input_.empty()) {
    InputEvent e = input_.front();
    input_.pop_front();
    // Mouse events that come while mouse input is off are never reported.
    if (e.kind == InputEvent::Kind::kMouse && !mouse_on_) continue;
    *event = e;
    return true;
  }
  return false;
}

InputWait MemoryConsole::WaitInput(int /*timeout_ms*/) {
  return input_.empty() ? InputWait::kNever : InputWait::kReady;
}

void MemoryConsole::DiscardInput() {
  ++discards_;
  input_.clear();
}

bool MemoryConsole::OnInputExhausted() {
  ++exhausted_waits_;
  if (exhausted_handler_ && exhausted_handler_(*this) && !input_.empty()) return true;
  std::fprintf(stderr,
               "MemoryConsole: the program waits for a key, but the test script has no "
               "more input events (%d waits found it empty). Queue the keys the code "
               "under test reads, or set an exhausted handler.\n",
               exhausted_waits_);
  std::fflush(stderr);
  std::abort();
}

bool MemoryConsole::SetClipboardText(std::string_view cp850) {
  clipboard_.assign(cp850);
  return true;
}

bool MemoryConsole::GetClipboardText(std::string* cp850) {
  *cp850 = clipboard_;
  return true;
}

}  // namespace kel
