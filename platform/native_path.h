// Native paths (UTF-8 text, as MapPath gives them) as the C++ library's
// file-system paths and back. A path built straight from a std::string is
// read in the system's narrow code page, which on Windows is not UTF-8: a
// folder with accented letters would name another file.
#ifndef KEL_PLATFORM_NATIVE_PATH_H_
#define KEL_PLATFORM_NATIVE_PATH_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace kel {

inline std::filesystem::path FsPath(std::string_view native) {
  return std::filesystem::path(std::u8string(native.begin(), native.end()));
}

inline std::string NativeString(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
}

}  // namespace kel

#endif  // KEL_PLATFORM_NATIVE_PATH_H_
