// What the fuzz targets share: a private scratch directory for the parsers
// that read files by path, and a reader that splits one fuzz input into the
// pieces a target needs.
#ifndef KEL_FUZZ_FUZZ_SUPPORT_H_
#define KEL_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

// A directory of this process under /tmp, made on first use and removed at
// exit; the native path, ending in "/". Session paths take it with "\" in
// place of the last "/" (SessionDir).
const std::string& ScratchDir();
// ScratchDir() as a session directory: ending in "\".
std::string SessionDir();

// Writes `bytes` to ScratchDir() + name (sub-directories made as needed),
// replacing what was there. Stops the process when that fails: a target
// that cannot stage its input tests nothing.
void WriteScratchFile(std::string_view name, std::string_view bytes);

// Stops the process with `what` when `condition` is false: a broken
// invariant shows up as a crash with its input kept.
void Require(bool condition, const char* what);

// Takes one fuzz input apart from the front.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}
  explicit FuzzInput(std::string_view bytes) : rest_(bytes) {}

  // The next byte; 0 when the input is used up.
  std::uint8_t Byte();
  // The next two bytes, little-endian.
  std::uint16_t Word();
  // The bytes up to the next `delimiter` (which is consumed), or all the
  // rest when there is none.
  std::string_view Until(char delimiter);
  std::string_view Rest() const { return rest_; }
  bool empty() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

}  // namespace kel

#endif  // KEL_FUZZ_FUZZ_SUPPORT_H_
