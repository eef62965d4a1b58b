// The Windows loader's own cases: bare names through the DLL search order
// (with or without ".dll"), the system's messages with their numbers, and a
// library built for the other processor width, which is said to be so.
#include <filesystem>
#include <fstream>
#include <string>

#include "gtest/gtest.h"
#include "platform/dynamic_library.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

TEST(DynamicLibraryWin32Test, BareNameIsLookedUpTheSystemsWay) {
  for (const char* name : {"kernel32.dll", "KERNEL32"}) {
    DynamicLibrary library;
    std::string why;
    ASSERT_TRUE(LoadDynamicLibrary(name, &library, &why)) << name << ": " << why;
    std::string missing;
    EXPECT_NE(LibraryFunction(library, "GetTickCount", &missing), nullptr) << name << missing;
  }
}

TEST(DynamicLibraryWin32Test, FailuresGiveTheSystemsMessageAndItsNumber) {
  const std::string dir = MakeTestDirectory("kel-loader");
  ASSERT_FALSE(dir.empty());
  const std::string text_file = dir + "\\NOTALIB.DLL";
  std::ofstream(text_file) << "not a program file\r\n";
  struct Case {
    const char* what;
    std::string name;
    std::vector<std::string> reason_holds;
  };
  const Case cases[] = {
      {"no such bare name", "kel-no-such-library.dll", {"(error 126)"}},
      {"no such file", dir + "\\KELX.DLL", {"(error 126)"}},
      // "%1 is not a valid Win32 application.": the place gets the file.
      {"not a library", text_file, {"(error 193)", "NOTALIB.DLL"}},
  };
  for (const Case& c : cases) {
    DynamicLibrary library;
    std::string why;
    EXPECT_FALSE(LoadDynamicLibrary(c.name, &library, &why)) << c.what;
    EXPECT_EQ(library.handle, nullptr) << c.what;
    for (const std::string& part : c.reason_holds) {
      EXPECT_NE(why.find(part), std::string::npos) << c.what << ": " << why;
    }
    EXPECT_EQ(why.find("%1"), std::string::npos) << c.what << ": " << why;
    EXPECT_EQ(why.find("-bit library"), std::string::npos) << c.what << ": " << why;
  }
  DynamicLibrary library;
  std::string why;
  ASSERT_TRUE(LoadDynamicLibrary(KEL_PROBE_LIBRARY, &library, &why)) << why;
  EXPECT_EQ(LibraryFunction(library, "BTRCALL", &why), nullptr);
  EXPECT_NE(why.find("(error 127)"), std::string::npos) << why;
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

// A 32-bit library cannot be loaded by a 64-bit program, nor the reverse:
// the reason says which width the library has, since what must change is
// the program's build (the 32-bit one for a 32-bit record manager).
TEST(DynamicLibraryWin32Test, ALibraryOfTheOtherWidthIsSaidToBeSo) {
#if defined(KEL_PROBE_OTHER_WIDTH_LIBRARY)
  DynamicLibrary library;
  std::string why;
  EXPECT_FALSE(LoadDynamicLibrary(KEL_PROBE_OTHER_WIDTH_LIBRARY, &library, &why));
  EXPECT_NE(why.find("(error 193)"), std::string::npos) << why;
  const std::string width = sizeof(void*) == 8 ? "a 32-bit library" : "a 64-bit library";
  EXPECT_NE(why.find(width), std::string::npos) << why;
#else
  GTEST_SKIP() << "no library of the other width was built (its cross compiler is missing)";
#endif
}

}  // namespace
}  // namespace kel
