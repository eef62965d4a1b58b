// Test support for the conversion (tests only).
//
// InstallationTest gives each test what ScreenTest gives (a memory console,
// balanced stacks checked at the end) plus a fresh sample installation
// written by mkinstall's library into a private directory, the environment
// pointing at it (KELROOT, KELTMP) through a fake clock, and the installation
// root as the current directory. StartProgram then runs the program's start:
// the session set-up, the form file and the check of the data files.
#ifndef KEL_CONVERT_TEST_SUPPORT_H_
#define KEL_CONVERT_TEST_SUPPORT_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"
#include "screen/screen_test_support.h"
#include "tools/mkinstall/layout.h"

namespace kel::testing {

class InstallationTest : public ScreenTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Session set-up from the environment, ProgramName, the form file and the
  // data-file check, as the program entry runs them. false (with a test
  // failure) when the form file was refused.
  bool StartProgram(const std::string& command_line = "");
  // A native path in the installation ("DADES/HConcept.dat").
  std::string Native(const std::string& relative) const { return root_ + relative; }
  // The native path of a converter's data file.
  std::string DataPath(const char* logical_path) const;
  // Sets [Sistema] Idioma of the terminal file (the session's language).
  void SetTerminalLanguage(const std::string& code);

  std::string root_;      // native, ends in "/"
  std::string terminal_;  // native, no final "/"
  std::string previous_dir_;
  FakeEnv env_;
  std::unique_ptr<ScopedEnv> scoped_env_;
};

// Exit codes that the open failure asked for during the test.
std::vector<int>& OpenFailureExits();

// The sample layout of a logical path ("TAULES\UCae"); fails the test and
// returns an empty layout when there is none.
const FileLayout& SampleLayout(const std::string& logical_path);
// The offset of a named field of a layout, -1 when it has none.
int FieldOffset(const FileLayout& layout, const char* name);

// The records of a data file in key-0 order, through an open of their own.
std::vector<std::string> ReadRecords(const std::string& native_path);
// Passes every record (in key-0 order, with its index) through `change` and
// writes it back.
void RewriteRecords(const std::string& native_path,
                    const std::function<void(std::string* record, int index)>& change);
// Deletes every record.
void EmptyFile(const std::string& native_path);

// A whole file's bytes ("" when missing).
std::string FileBytes(const std::string& native_path);

}  // namespace kel::testing

#endif  // KEL_CONVERT_TEST_SUPPORT_H_
