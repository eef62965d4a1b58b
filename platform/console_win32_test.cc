// The console on Windows where a test can reach it: the plain backend's
// code page 850 lines ended by CR LF, the refusal of the console backend
// without a console window, and the console control events as termination
// signals with the POSIX numbers (so the exit codes are the same).
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "platform/console.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "platform/win32_internal.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

class PlainConsoleWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTestDirectory("kel-plain");
    ASSERT_FALSE(dir_.empty());
    out_ = ::_open((dir_ + "\\out").c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY,
                   _S_IREAD | _S_IWRITE);
    err_ = ::_open((dir_ + "\\err").c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY,
                   _S_IREAD | _S_IWRITE);
    ASSERT_GE(out_, 0);
    ASSERT_GE(err_, 0);
  }
  void TearDown() override {
    ::_close(out_);
    ::_close(err_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Read(const char* name) {
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(dir_ + "\\" + name, &bytes));
    return bytes;
  }
  std::string dir_;
  int out_ = -1;
  int err_ = -1;
};

TEST_F(PlainConsoleWin32Test, LinesInCodePage850EndedByCrLf) {
  {
    auto c = OpenPlainConsole(out_, err_);
    EXPECT_EQ(c->Kind(), ConsoleKind::kPlain);
    c->WriteOutput("\r\nTAVIRENO versi\xA2 1.01\r\n");
    c->WriteOutput("partial ");
    c->WriteOutput("line");
    c->Transcript("FITXER BLOQUEJAT. ESPEREU UN MOMENT.");
    c->WriteOutput("Instal\xFAlaci\xA2\x07");
    const Cell cell{'X', 0x70};
    c->DrawCells(1, 1, &cell, 1);  // the screen itself never reaches the log
  }
  EXPECT_EQ(Read("out"),
            "\r\nTAVIRENO versi\xA2 1.01\r\npartial line\r\nFITXER BLOQUEJAT. ESPEREU UN "
            "MOMENT.\r\nInstal\xFAlaci\xA2?\r\n");
  EXPECT_EQ(Read("err"), "");
}

TEST_F(PlainConsoleWin32Test, AWaitForAKeyEndsTheRunWithItsExitCode) {
  auto c = OpenPlainConsole(out_, err_);
  EXPECT_EQ(c->WaitInput(10), InputWait::kNever);
  EXPECT_EQ(c->MouseButtons(), 0);
  EXPECT_EXIT(c->OnInputExhausted(), ::testing::ExitedWithCode(kExitNoKeyboard), "");
}

TEST(ConsoleWin32Test, WithoutAConsoleWindowThePlainBackend) {
  DWORD mode = 0;
  if (::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE &&
      ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != FALSE) {
    GTEST_SKIP() << "running in a console window";
  }
  ConsoleStatus status = ConsoleStatus::kOk;
  std::string message;
  EXPECT_EQ(OpenTerminalConsole(&status, &message), nullptr);
  EXPECT_EQ(status, ConsoleStatus::kNotATerminal);
  EXPECT_NE(message.find("console"), std::string::npos);
  EXPECT_EQ(DetectConsoleKind(), ConsoleKind::kPlain);
}

TEST(ConsoleWin32Test, ControlEventsAreTheTerminationSignalsWithTheirExitCodes) {
  InstallTerminationSignals();
  EXPECT_EQ(TerminationSignal(), 0);
  // The names an operator reads in the closing line, by the POSIX numbers
  // that make the exit codes 130, 129 and 143.
  EXPECT_STREQ(TerminationSignalName(2), "Ctrl+Break");
  EXPECT_STREQ(TerminationSignalName(1), "the console window being closed");
  EXPECT_STREQ(TerminationSignalName(15), "log-off or shut-down");
  // A noted event wakes a wait at once.
  SetTerminationSignalForTesting(2);
  EXPECT_EQ(TerminationSignal(), 2);
  EXPECT_EQ(::WaitForSingleObject(TerminationWakeEvent(), 0), WAIT_OBJECT_0);
  SetTerminationSignalForTesting(0);
  EXPECT_EQ(::WaitForSingleObject(TerminationWakeEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

}  // namespace
}  // namespace kel
