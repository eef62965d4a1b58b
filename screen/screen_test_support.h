// Test support for screen code (tests only; include from *_test.cc).
//
// ScreenTest gives each test a fresh 25 x 80 memory console, the screen and
// keyboard globals at their start values, the session reset, and a private
// temporary directory as the session's `TempDir` (for "WinPush.tmp"). At the
// end it checks that the window and colour stacks are back where they began
// (set expect_balanced_ = false in a test that leaves them otherwise on
// purpose).
//
//   TEST_F(ScreenTest, Example) {
//     con().QueueKey(keys::kEsc);
//     ... code under test ...
//     EXPECT_EQ(Row(10).substr(38, 3), "ABC");
//   }
#ifndef KEL_SCREEN_SCREEN_TEST_SUPPORT_H_
#define KEL_SCREEN_SCREEN_TEST_SUPPORT_H_

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "gtest/gtest.h"
#include "platform/console_memory.h"
#include "platform/system.h"
#include "screen/keyboard.h"
#include "screen/screen_buffer.h"
#include "screen/window_stack_file.h"
#include "util/session_context.h"
#include "tests/support/test_dir.h"

namespace kel {

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string templ = MakeTestDirectory("kel-screen");
    ASSERT_FALSE(templ.empty());
    dir_ = templ;
    ResetSession();
    Session().TempDir = dir_ + "\\";
    console_ = &UseMemoryConsole();
    ResetKeyboard();
  }

  void TearDown() override {
    if (expect_balanced_) {
      EXPECT_EQ(Screen().WindowDepth, 0) << "a window was left open";
      EXPECT_EQ(Screen().ColourStack, "") << "a colour was left saved";
      EXPECT_FALSE(FileExists(StackFile())) << "the window stack file was left behind";
    }
    {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
    }
    ResetSession();
  }

  MemoryConsole& con() { return *console_; }
  // A fresh console and screen in the middle of a test (con() follows).
  MemoryConsole& NewConsole(int rows = kScreenRows, int cols = kScreenCols) {
    console_ = &UseMemoryConsole(rows, cols);
    return *console_;
  }
  // The session path of the window stack file.
  std::string StackFile() const { return Session().TempDir + kWindowStackFile; }
  std::string NativeStackFile() const { return dir_ + "/" + kWindowStackFile; }

  // A row of the screen model, and what the console was given to draw.
  static std::string Row(int row) { return ScreenRowText(static_cast<std::int16_t>(row)); }
  // Every row of the screen, each ended by '\n'.
  static std::string Screenful() {
    std::string all;
    for (int r = 1; r <= ScreenRows(); ++r) all += Row(r) + "\n";
    return all;
  }
  static std::string Attrs() {
    std::string all;
    for (int r = 1; r <= ScreenRows(); ++r) all += ScreenRowAttrs(static_cast<std::int16_t>(r));
    return all;
  }

  std::string dir_;
  MemoryConsole* console_ = nullptr;
  bool expect_balanced_ = true;
};

}  // namespace kel

#endif  // KEL_SCREEN_SCREEN_TEST_SUPPORT_H_
