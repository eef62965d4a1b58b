// The POSIX loader's own cases: bare names through the loader's search, the
// library's symbols out of the process's global scope, and dlerror's
// reasons, which name what is missing.
#include <dlfcn.h>

#include <string>

#include "gtest/gtest.h"
#include "platform/dynamic_library.h"

namespace kel {
namespace {

// Nothing else in the process sees the library's symbols (RTLD_LOCAL).
TEST(DynamicLibraryPosixTest, TheLibrarysSymbolsStayOutOfTheGlobalScope) {
  DynamicLibrary library;
  std::string why;
  ASSERT_TRUE(LoadDynamicLibrary(KEL_PROBE_LIBRARY, &library, &why)) << why;
  EXPECT_EQ(::dlsym(RTLD_DEFAULT, "KelProbeAnswer"), nullptr);
}

// A bare name goes to the system's search (here the C library's math part,
// always installed).
TEST(DynamicLibraryPosixTest, BareNameIsLookedUpTheSystemsWay) {
  DynamicLibrary library;
  std::string why;
  ASSERT_TRUE(LoadDynamicLibrary("libm.so.6", &library, &why)) << why;
  std::string missing;
  EXPECT_NE(LibraryFunction(library, "cos", &missing), nullptr) << missing;
}

TEST(DynamicLibraryPosixTest, FailuresGiveTheSystemsReasonNamingWhatIsMissing) {
  struct Case {
    const char* what;
    std::string name;
    const char* reason_holds;
  };
  const Case cases[] = {
      {"no such bare name", "libkel-no-such-library.so", "libkel-no-such-library.so"},
      {"no such path", "/nonexistent/dir/libkel-x.so", "/nonexistent/dir/libkel-x.so"},
      {"not a library", "/etc/hostname", "/etc/hostname"},
  };
  for (const Case& c : cases) {
    DynamicLibrary library;
    std::string why;
    EXPECT_FALSE(LoadDynamicLibrary(c.name, &library, &why)) << c.what;
    EXPECT_EQ(library.handle, nullptr) << c.what;
    EXPECT_NE(why.find(c.reason_holds), std::string::npos) << c.what << ": " << why;
  }
  DynamicLibrary library;
  std::string why;
  ASSERT_TRUE(LoadDynamicLibrary(KEL_PROBE_LIBRARY, &library, &why)) << why;
  EXPECT_EQ(LibraryFunction(library, "BTRCALL", &why), nullptr);
  EXPECT_NE(why.find("BTRCALL"), std::string::npos) << why;
}

}  // namespace
}  // namespace kel
