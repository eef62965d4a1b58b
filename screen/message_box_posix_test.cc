// A message box on the plain console writing to a descriptor (its UTF-8
// log): POSIX only, left out of the Windows build.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "platform/system.h"
#include "screen/message_box.h"
#include "screen/screen_test_support.h"

namespace kel {
namespace {

using MessageBoxPosixTest = ScreenTest;

TEST_F(MessageBoxPosixTest, OnThePlainConsoleTheRunStopsAtTheKeyWaitWithItsLog) {
  expect_balanced_ = false;
  const std::string log = dir_ + "/log.txt";
  int fd = ::open(log.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  UseConsole(OpenPlainConsole(fd, fd));
  ConsolePrintLine("");
  ConsolePrintLine("TAVIRENO versi\xA2 1.01");
  EXPECT_EXIT(AcknowledgeMessage("NO ES POT ACCEDIR AL FITXER TAULES\\UPaisos (12)"),
              ::testing::ExitedWithCode(kExitNoKeyboard), "");
  ::close(fd);
  std::string written;
  ASSERT_TRUE(ReadWholeFile(log, &written));
  EXPECT_EQ(written.substr(0, written.find("The program")),
            "\nTAVIRENO versió 1.01\nNO ES POT ACCEDIR AL FITXER TAULES\\UPaisos (12)\n");
  EXPECT_NE(written.find("exit code 66"), std::string::npos) << written;
  EXPECT_EQ(written.find('\x1b'), std::string::npos);
  NewConsole();
}

}  // namespace
}  // namespace kel
