// Scratch folders for tests, on every system: a fresh, empty folder under
// the system's temporary folder (TMPDIR or /tmp on POSIX, %TEMP% on
// Windows).
#ifndef KEL_TESTS_SUPPORT_TEST_DIR_H_
#define KEL_TESTS_SUPPORT_TEST_DIR_H_

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace kel {

// Makes the folder `prefix`-XXXXXXXX (eight random hexadecimal digits) and
// returns its native path, without a final separator; "" when no folder
// could be made.
inline std::string MakeTestDirectory(std::string_view prefix) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = fs::path("/tmp");
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%08x", static_cast<unsigned>(random()));
    const fs::path dir = base / (std::string(prefix) + suffix);
    if (fs::create_directory(dir, ec) && !ec) return dir.string();
  }
  return "";
}

}  // namespace kel

#endif  // KEL_TESTS_SUPPORT_TEST_DIR_H_
