#include "fuzz/fuzz_support.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/system.h"

namespace kel {
namespace {

void RemoveScratchDir() {
  const std::string command = "rm -rf '" + ScratchDir() + "'";
  (void)std::system(command.c_str());
}

}  // namespace

const std::string& ScratchDir() {
  // Never destroyed: the removal at exit still needs the name.
  static const std::string* const dir = [] {
    char templ[] = "/tmp/kel-fuzz-XXXXXX";
    Require(::mkdtemp(templ) != nullptr, "cannot make a scratch directory");
    std::atexit(RemoveScratchDir);
    return new std::string(std::string(templ) + "/");
  }();
  return *dir;
}

std::string SessionDir() {
  std::string dir = ScratchDir();
  dir.back() = '\\';
  return dir;
}

void WriteScratchFile(std::string_view name, std::string_view bytes) {
  const std::string path = ScratchDir() + std::string(name);
  for (std::size_t slash = path.find('/', ScratchDir().size()); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string dir = path.substr(0, slash);
    if (!DirectoryExists(dir)) Require(MakeDirectory(dir), "cannot make a scratch sub-directory");
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  Require(f != nullptr, "cannot write a scratch file");
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  Require(std::fclose(f) == 0 && written, "cannot write a scratch file");
}

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

std::uint8_t FuzzInput::Byte() {
  if (rest_.empty()) return 0;
  const auto b = static_cast<std::uint8_t>(rest_.front());
  rest_.remove_prefix(1);
  return b;
}

std::uint16_t FuzzInput::Word() {
  const std::uint16_t low = Byte();
  return static_cast<std::uint16_t>(low | (Byte() << 8));
}

std::string_view FuzzInput::Until(char delimiter) {
  const std::size_t at = rest_.find(delimiter);
  std::string_view piece = rest_.substr(0, at);
  rest_.remove_prefix(at == std::string_view::npos ? rest_.size() : at + 1);
  return piece;
}

}  // namespace kel
