// The plain console: standard output is not a terminal (cron, scripts, CI).
// The screen stays in the screen model's memory; what the program prints as
// console output, and the text of every message box, goes out as UTF-8 text
// lines, so the log of an unattended run says what happened. There is no
// keyboard: a wait for a key ends the run with a message and
// kExitNoKeyboard instead of hanging.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

#include "platform/console.h"
#include "platform/console_text.h"

namespace kel {
namespace {

class PlainConsole : public Console {
 public:
  PlainConsole(int out_fd, int err_fd) : out_fd_(out_fd), err_fd_(err_fd) {
    // A reader that goes away (`... | head`) must not kill a conversion half
    // way through: writes to it fail quietly instead.
    ::signal(SIGPIPE, SIG_IGN);
  }
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
    if (!SameFile(out_fd_, err_fd_)) WriteAll(err_fd_, message + "\n");
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

  void WriteLine(std::string_view cp850) { WriteAll(out_fd_, PlainTextLine(cp850) + "\n"); }

  static void WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // a closed log must not stop the work
      done += static_cast<std::size_t>(n);
    }
  }

  static bool SameFile(int a, int b) {
    struct stat sa, sb;
    if (::fstat(a, &sa) != 0 || ::fstat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }

  int out_fd_;
  int err_fd_;
  std::string pending_;
  std::string clipboard_;
};

}  // namespace

std::unique_ptr<Console> OpenPlainConsole(int out_fd, int err_fd) {
  return std::make_unique<PlainConsole>(out_fd, err_fd);
}

ConsoleKind DetectConsoleKind() {
  return ::isatty(0) == 1 && ::isatty(1) == 1 ? ConsoleKind::kCurses : ConsoleKind::kPlain;
}

}  // namespace kel
