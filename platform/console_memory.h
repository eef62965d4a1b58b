// The in-memory console: the backend of tests and headless runs. Input comes
// from a script of events queued beforehand; what is drawn lands in a cell
// grid that tests read back as text and attributes.
//
// Typical test use, through the screen model (screen/screen.h):
//
//   MemoryConsole& con = UseMemoryConsole();
//   con.QueueKey(0x3B00, kShiftPressed);       // Shift+F1
//   con.QueueText("ABC\r");                    // three letters and Enter
//   ... run the code under test ...
//   EXPECT_EQ(con.RowText(10), "...");         // 80 code page 850 bytes
//   EXPECT_EQ(con.AttrAt(10, 39), 0x70);
//
// Waiting for input when the script is empty calls the exhausted handler (see
// SetExhaustedHandler); without one, the process stops with a message that
// names the unfinished script, because a test that waits for a key nobody
// queued would otherwise hang.
#ifndef KEL_PLATFORM_CONSOLE_MEMORY_H_
#define KEL_PLATFORM_CONSOLE_MEMORY_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console.h"

namespace kel {

class MemoryConsole : public Console {
 public:
  explicit MemoryConsole(int rows = kScreenRows, int cols = kScreenCols);

  // ---- Script of input events.
  // A key by its program code: 1..255 a character, otherwise scan x 256
  // (0x3B00 F1). `control` gives the modifier state (kShiftPressed...).
  void QueueKey(std::int16_t code, std::uint32_t control = 0);
  // Each byte of `cp850` as a typed character ("\r" is Enter, "\x1b" Esc).
  void QueueText(std::string_view cp850);
  // Holding the left Alt key, the keypad digits of `digits`, then releasing
  // Alt: the classic way to type a character by its code ("130").
  void QueueAltKeypad(std::string_view digits);
  // A mouse button (1 left, 2 right) released at a 1-based position.
  void QueueMouseRelease(int row, int col, int button);
  void QueueEvent(const InputEvent& event);
  std::size_t QueuedEvents() const { return input_.size(); }

  // Called when the program waits for input and the script is empty. Return
  // true after queueing more events; false stops the process with a message.
  void SetExhaustedHandler(std::function<bool(MemoryConsole&)> handler) {
    exhausted_handler_ = std::move(handler);
  }
  // How many times a wait found the script empty.
  int exhausted_waits() const { return exhausted_waits_; }

  // ---- What was drawn. Rows and columns are 1-based.
  std::string RowText(int row) const;  // the row's bytes, code page 850
  std::string Text() const;            // all rows, each ended by '\n'
  std::string RowUtf8(int row) const;  // the row as the terminal shows it
  std::uint8_t CharAt(int row, int col) const;
  std::uint8_t AttrAt(int row, int col) const;
  // The row's attributes, one byte per cell.
  std::string RowAttrs(int row) const;

  int cursor_row() const { return cursor_row_; }
  int cursor_col() const { return cursor_col_; }
  bool cursor_visible() const { return cursor_visible_; }
  int cursor_size() const { return cursor_size_; }
  int beeps() const { return beeps_; }
  int flushes() const { return flushes_; }
  bool mouse_input_on() const { return mouse_on_; }
  int discards() const { return discards_; }
  // Plain console output received (as written, code page 850).
  const std::string& output() const { return output_; }
  const std::vector<std::string>& transcript() const { return transcript_; }
  const std::string& clipboard() const { return clipboard_; }
  void set_mouse_buttons(int n) { mouse_buttons_ = n; }

  // ---- Console.
  ConsoleKind Kind() const override { return ConsoleKind::kMemory; }
  int Rows() const override { return rows_; }
  int Cols() const override { return cols_; }
  void DrawCells(int row, int col, const Cell* cells, int count) override;
  void SetCursor(int row, int col, bool visible, int size_percent) override;
  void Flush() override { ++flushes_; }
  void Beep() override { ++beeps_; }
  void WriteOutput(std::string_view cp850) override { output_.append(cp850); }
  void Transcript(std::string_view line) override { transcript_.emplace_back(line); }
  bool PollInput(InputEvent* event) override;
  InputWait WaitInput(int timeout_ms) override;
  void DiscardInput() override;
  int MouseButtons() override { return mouse_buttons_; }
  void SetMouseInput(bool on) override { mouse_on_ = on; }
  bool OnInputExhausted() override;
  bool SetClipboardText(std::string_view cp850) override;
  bool GetClipboardText(std::string* cp850) override;

 private:
  const Cell& At(int row, int col) const;

  int rows_;
  int cols_;
  std::vector<Cell> cells_;
  std::deque<InputEvent> input_;
  std::function<bool(MemoryConsole&)> exhausted_handler_;
  int exhausted_waits_ = 0;
  int cursor_row_ = 1;
  int cursor_col_ = 1;
  bool cursor_visible_ = true;
  int cursor_size_ = 25;
  int beeps_ = 0;
  int flushes_ = 0;
  int discards_ = 0;
  int mouse_buttons_ = 2;
  bool mouse_on_ = false;
  std::string output_;
  std::vector<std::string> transcript_;
  std::string clipboard_;
};

}  // namespace kel

#endif  // KEL_PLATFORM_CONSOLE_MEMORY_H_
