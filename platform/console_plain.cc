// The plain console: standard output is not a terminal (cron, scripts, CI,
// a scheduled task). The screen stays in the screen model's memory; what the
// program prints as console output, and the text of every message box, goes
// out as text lines (console_plain_io.h says in which characters), so the
// log of an unattended run says what happened. There is no keyboard: a wait
// for a key ends the run with a message and kExitNoKeyboard instead of
// hanging.
#include <cstdlib>
#include <string>

#include "platform/console.h"
#include "platform/console_plain_io.h"

namespace kel {
namespace {

class PlainConsole : public Console {
 public:
  PlainConsole(int out_fd, int err_fd) : out_fd_(out_fd), err_fd_(err_fd) { PreparePlainOutput(); }
  ~PlainConsole() override { EndPartialLine(); }

  ConsoleKind Kind() const override { return ConsoleKind::kPlain; }
  int Rows() const override { return kScreenRows; }
  int Cols() const override { return kScreenCols; }
  void DrawCells(int, int, const Cell*, int) override {}
  void SetCursor(int, int, bool, int) override {}
  void Flush() override {}
  void Beep() override {}

  void WriteOutput(std::string_view cp850) override {
    // Lines go out whole, as soon as they end; "\r\n" and "\n" both end one.
    for (char c : cp850) {
      if (c == '\n') {
        WriteLine(pending_);
        pending_.clear();
      } else {
        pending_.push_back(c);
      }
    }
  }

  void Transcript(std::string_view cp850_line) override {
    EndPartialLine();
    WriteLine(cp850_line);
  }

  bool PollInput(InputEvent*) override { return false; }
  InputWait WaitInput(int) override { return InputWait::kNever; }
  void DiscardInput() override {}
  int MouseButtons() override { return 0; }
  void SetMouseInput(bool) override {}

  bool OnInputExhausted() override {
    EndPartialLine();
    const std::string message =
        "The program waits for a key, but standard output is not a terminal, so no key "
        "can come: stopping with exit code " +
        std::to_string(kExitNoKeyboard) + ".";
    WriteLine(message);
    if (!SamePlainOutput(out_fd_, err_fd_)) WritePlainOutput(err_fd_, PlainOutputLine(message));
    std::exit(kExitNoKeyboard);
  }

  bool SetClipboardText(std::string_view cp850) override {
    clipboard_.assign(cp850);
    return true;
  }
  bool GetClipboardText(std::string* cp850) override {
    *cp850 = clipboard_;
    return true;
  }

 private:
  void EndPartialLine() {
    // Trailing carriage returns alone do not make a line.
    if (pending_.find_first_not_of('\r') == std::string::npos) {
      pending_.clear();
      return;
    }
    WriteLine(pending_);
    pending_.clear();
  }

  void WriteLine(std::string_view cp850) { WritePlainOutput(out_fd_, PlainOutputLine(cp850)); }

  int out_fd_;
  int err_fd_;
  std::string pending_;
  std::string clipboard_;
};

}  // namespace

std::unique_ptr<Console> OpenPlainConsole(int out_fd, int err_fd) {
  return std::make_unique<PlainConsole>(out_fd, err_fd);
}

}  // namespace kel
