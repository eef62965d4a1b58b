// The loader on every system: a library found by path in every spelling,
// relative to the current directory, loaded once, its functions found and
// its symbols its own. Each system's own cases (bare names, the system's
// reasons) are in dynamic_library_posix_test.cc / _win32_test.cc.
#include "platform/dynamic_library.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "platform/system.h"

// The program's own function of the same name as one the probe library
// exports: a loaded library must not replace it, nor it the library's.
extern "C" int KelProbeShadowed() { return 1; }

namespace kel {
namespace {

namespace fs = std::filesystem;

using AnswerFunction = int (*)();

int CallAnswer(const DynamicLibrary& library, const char* symbol) {
  std::string why;
  const LibraryFunctionAddress address = LibraryFunction(library, symbol, &why);
  if (address == nullptr) return -1;
  return reinterpret_cast<AnswerFunction>(address)();
}

TEST(DynamicLibraryTest, LoadsByPathInEverySpellingAndFindsTheFunction) {
  const std::string path = KEL_PROBE_LIBRARY;
  std::string upper_name = fs::path(path).filename().string();
  std::transform(upper_name.begin(), upper_name.end(), upper_name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  std::string windows_style = fs::path(path).parent_path().string() + "/" + upper_name;
  std::replace(windows_style.begin(), windows_style.end(), '/', '\\');
  const std::string spellings[] = {path, windows_style};
  for (const std::string& name : spellings) {
    DynamicLibrary library;
    std::string why;
    ASSERT_TRUE(LoadDynamicLibrary(name, &library, &why)) << name << ": " << why;
    EXPECT_EQ(CallAnswer(library, "KelProbeAnswer"), 42) << name;
  }
}

TEST(DynamicLibraryTest, RelativePathIsTakenFromTheCurrentDirectory) {
  const fs::path path = KEL_PROBE_LIBRARY;
  const std::string before = CurrentDirectory();
  ASSERT_TRUE(ChangeDirectory(path.parent_path().parent_path().string()));
  DynamicLibrary library;
  std::string why;
  const std::string relative =
      path.parent_path().filename().string() + "\\" + path.filename().string();
  const bool loaded = LoadDynamicLibrary(relative, &library, &why);
  ASSERT_TRUE(ChangeDirectory(before));
  ASSERT_TRUE(loaded) << relative << ": " << why;
  EXPECT_EQ(CallAnswer(library, "KelProbeAnswer"), 42);
}

TEST(DynamicLibraryTest, LoadingTwiceGivesTheSameLibrary) {
  DynamicLibrary first, second;
  std::string why;
  ASSERT_TRUE(LoadDynamicLibrary(KEL_PROBE_LIBRARY, &first, &why)) << why;
  ASSERT_TRUE(LoadDynamicLibrary(KEL_PROBE_LIBRARY, &second, &why)) << why;
  EXPECT_EQ(first.handle, second.handle);
}

// The library's symbols are its own: the program keeps its function of the
// same name, and the library its own.
TEST(DynamicLibraryTest, SymbolsStayPrivateBothWays) {
  DynamicLibrary library;
  std::string why;
  ASSERT_TRUE(LoadDynamicLibrary(KEL_PROBE_LIBRARY, &library, &why)) << why;
  EXPECT_EQ(CallAnswer(library, "KelProbeShadowed"), 7);
  EXPECT_EQ(KelProbeShadowed(), 1);
}

TEST(DynamicLibraryTest, AMissingFunctionOrNoLibraryGivesAReason) {
  DynamicLibrary library;
  std::string why;
  ASSERT_TRUE(LoadDynamicLibrary(KEL_PROBE_LIBRARY, &library, &why)) << why;
  why.clear();
  EXPECT_EQ(LibraryFunction(library, "BTRCALL", &why), nullptr);
  EXPECT_NE(why, "");
  why.clear();
  EXPECT_EQ(LibraryFunction(DynamicLibrary{}, "BTRCALL", &why), nullptr);
  EXPECT_NE(why, "");
  DynamicLibrary none;
  EXPECT_FALSE(LoadDynamicLibrary("", &none, &why));
  EXPECT_EQ(none.handle, nullptr);
  EXPECT_NE(why.find("no library"), std::string::npos) << why;
}

}  // namespace
}  // namespace kel
