// The console backends' POSIX parts: the plain console's UTF-8 lines on
// descriptors, the clipboard tools, the terminal's refusal without a
// terminal. Left out of the Windows build (console_win32_test.cc there).
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "platform/console.h"
#include "platform/console_clipboard.h"
#include "platform/system.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

TEST(ConsoleClipboardTest, Osc52) { EXPECT_EQ(Osc52Sequence("hi"), "\x1b]52;c;aGk=\x07"); }

class PlainConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string templ = MakeTestDirectory("kel-plain");
    ASSERT_FALSE(templ.empty());
    dir_ = templ;
    out_ = ::open((dir_ + "/out").c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    err_ = ::open((dir_ + "/err").c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ASSERT_GE(out_, 0);
    ASSERT_GE(err_, 0);
  }
  void TearDown() override {
    ::close(out_);
    ::close(err_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Read(const char* name) {
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(dir_ + "/" + name, &bytes));
    return bytes;
  }
  std::string dir_;
  int out_ = -1;
  int err_ = -1;
};

TEST_F(PlainConsoleTest, OutputAndMessagesBecomeTextLines) {
  {
    auto c = OpenPlainConsole(out_, err_);
    EXPECT_EQ(c->Kind(), ConsoleKind::kPlain);
    c->WriteOutput("\r\nTAVIRENO versi\xA2 1.01\r\n");
    c->WriteOutput("partial ");
    c->WriteOutput("line");
    c->Transcript("FITXER BLOQUEJAT. ESPEREU UN MOMENT.");
    c->WriteOutput("tail");
    const Cell cell{'X', 0x70};
    c->DrawCells(1, 1, &cell, 1);  // the screen itself never reaches the log
    c->Beep();
  }
  EXPECT_EQ(Read("out"),
            "\nTAVIRENO versió 1.01\npartial line\nFITXER BLOQUEJAT. ESPEREU UN MOMENT.\ntail\n");
  EXPECT_EQ(Read("err"), "");
}

TEST_F(PlainConsoleTest, AWaitForAKeyEndsTheRunWithItsExitCode) {
  auto c = OpenPlainConsole(out_, err_);
  EXPECT_EQ(c->WaitInput(10), InputWait::kNever);
  InputEvent e;
  EXPECT_FALSE(c->PollInput(&e));
  EXPECT_EQ(c->MouseButtons(), 0);
  EXPECT_EXIT(c->OnInputExhausted(), ::testing::ExitedWithCode(kExitNoKeyboard), "");
  EXPECT_NE(Read("out").find("standard output is not a terminal"), std::string::npos);
  EXPECT_NE(Read("err").find("exit code 66"), std::string::npos);
}

TEST_F(PlainConsoleTest, TheStopMessageIsWrittenOnceWhenBothGoToOneFile) {
  auto c = OpenPlainConsole(out_, out_);
  EXPECT_EXIT(c->OnInputExhausted(), ::testing::ExitedWithCode(kExitNoKeyboard), "");
  std::string out = Read("out");
  EXPECT_EQ(out.find("exit code"), out.rfind("exit code")) << out;
}

ClipboardTools Tools(std::initializer_list<const char*> copy,
                     std::initializer_list<const char*> paste) {
  ClipboardTools t;
  int i = 0;
  for (const char* a : copy) t.copy[i++] = a;
  i = 0;
  for (const char* a : paste) t.paste[i++] = a;
  return t;
}

// A clipboard tool that hangs (a display that does not answer) must not
// hold the program: writing and reading both give up within the limit.
TEST(ExternalClipboardTest, ToolsAreWaitedForWithinALimit) {
  const std::string big(1 << 20, 'x');  // more than a pipe holds
  struct WriteCase {
    const char* what;
    ClipboardTools tools;
    bool ok;
  };
  const WriteCase writes[] = {
      {"a tool that takes the text", Tools({"cat"}, {}), true},
      {"a tool that fails", Tools({"false"}, {}), false},
      {"a tool that never reads", Tools({"sleep", "30"}, {}), false},
      {"a tool that reads, then hangs", Tools({"sh", "-c", "cat >/dev/null; exec sleep 30"}, {}),
       false},
      {"no tool", Tools({"/nonexistent/wl-copy"}, {}), false},
  };
  for (const WriteCase& c : writes) {
    EXPECT_EQ(ExternalClipboardWrite(c.tools, big, 300), c.ok) << c.what;
  }
  struct ReadCase {
    const char* what;
    ClipboardTools tools;
    bool ok;
    std::string text;
  };
  const ReadCase reads[] = {
      {"a tool that answers", Tools({"x"}, {"printf", "ab\xc3\xa7"}), true, "ab\xc3\xa7"},
      {"a tool that fails", Tools({"x"}, {"sh", "-c", "printf ab; exit 1"}), false, ""},
      {"a tool that hangs with its output open",
       Tools({"x"}, {"sh", "-c", "printf ab; exec sleep 30"}), false, ""},
      {"a tool that closes its output and hangs",
       Tools({"x"}, {"sh", "-c", "printf ab; exec sleep 30 >/dev/null"}), false, ""},
  };
  for (const ReadCase& c : reads) {
    std::string text = "unchanged";
    EXPECT_EQ(ExternalClipboardRead(c.tools, &text, 300), c.ok) << c.what;
    EXPECT_EQ(text, c.ok ? c.text : "unchanged") << c.what;
  }
}

TEST(CursesConsoleTest, RefusesWithoutATerminal) {
  // The test runs with its output redirected (ctest), or the check below
  // is meaningless; either way a refusal must say why.
  if (::isatty(0) == 1 && ::isatty(1) == 1) GTEST_SKIP() << "running on a terminal";
  ConsoleStatus status = ConsoleStatus::kOk;
  std::string message;
  EXPECT_EQ(OpenTerminalConsole(&status, &message), nullptr);
  EXPECT_EQ(status, ConsoleStatus::kNotATerminal);
  EXPECT_NE(message.find("terminal"), std::string::npos);
  EXPECT_EQ(DetectConsoleKind(), ConsoleKind::kPlain);
}

}  // namespace
}  // namespace kel
