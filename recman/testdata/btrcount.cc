// btrcount: a record manager library for tests that counts the calls a
// program makes and passes each on to another record manager library, as an
// administrator's (or a checker's) wrapper around the installed one would.
// It exports BTRCALL with the published prototype and nothing of the
// program's: the program cannot tell it from any other record manager.
//
// Set in the environment of the process that loads it:
//   KELBTR_NEXT   the library whose BTRCALL receives every call (required;
//                 a call without it answers 20, record manager inactive)
//   KELBTR_COUNT  a file that gets one line per call: the operation code and
//                 the status, in decimal ("5 0"); optional
//   KELBTR_MOVE   FROM=TO: an Open or Create of a path that starts with FROM
//                 goes to TO + the rest of the path, so that a test can keep
//                 an installation's data files somewhere the program itself
//                 never looks (any call that did not come through here finds
//                 no file); optional
//
// On Windows it is btrcount.dll, and the names in these variables are
// Windows paths (the library as LoadLibrary takes it).
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "recman/entry_point.h"

#if defined(__GNUC__) && !defined(_WIN32)
#define KEL_BTRCALL_EXPORT __attribute__((visibility("default")))
#else
#define KEL_BTRCALL_EXPORT
#endif

namespace {

#if defined(_WIN32)
// The entry point of the library `name`, under any of its names.
kel::RecordManagerEntry LoadEntry(const char* name) {
  HMODULE module = ::LoadLibraryA(name);
  if (module == nullptr) return nullptr;
  for (const char* symbol : kel::kEntryPointNames) {
    if (FARPROC f = ::GetProcAddress(module, symbol); f != nullptr) {
      return reinterpret_cast<kel::RecordManagerEntry>(reinterpret_cast<void (*)()>(f));
    }
  }
  return nullptr;
}
// The count file, opened to append.
using CountFile = HANDLE;
const CountFile kNoCountFile = INVALID_HANDLE_VALUE;
CountFile OpenCountFile(const char* name) {
  return ::CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}
void Append(CountFile file, const char* line, std::size_t n) {
  DWORD written = 0;
  (void)::WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
}
#else
kel::RecordManagerEntry LoadEntry(const char* name) {
  void* handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<kel::RecordManagerEntry>(::dlsym(handle, kel::kEntryPointName));
}
using CountFile = int;
const CountFile kNoCountFile = -1;
CountFile OpenCountFile(const char* name) {
  return ::open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}
void Append(CountFile file, const char* line, std::size_t n) { (void)!::write(file, line, n); }
#endif

constexpr std::int16_t kOpOpen = 0;
constexpr std::int16_t kOpCreate = 14;
constexpr std::int16_t kInactive = 20;

struct Next {
  kel::RecordManagerEntry entry = nullptr;
  CountFile count_file = kNoCountFile;
  std::string move_from, move_to;
};

Next& TheNext() {
  static Next* next = [] {
    auto* n = new Next();
    if (const char* library = std::getenv("KELBTR_NEXT"); library != nullptr) {
      n->entry = LoadEntry(library);
    }
    if (const char* file = std::getenv("KELBTR_COUNT"); file != nullptr) {
      n->count_file = OpenCountFile(file);
    }
    if (const char* move = std::getenv("KELBTR_MOVE"); move != nullptr) {
      const std::string m = move;
      const std::size_t eq = m.find('=');
      if (eq != std::string::npos) {
        n->move_from = m.substr(0, eq);
        n->move_to = m.substr(eq + 1);
      }
    }
    return n;
  }();
  return *next;
}

}  // namespace

extern "C" KEL_BTRCALL_EXPORT std::int16_t KEL_BTRCALL_CONVENTION
BTRCALL(std::int16_t operation, void* position_block, void* data_buffer, std::uint32_t* data_length,
        void* key_buffer, std::uint8_t key_length, std::int8_t key_number) {
  Next& next = TheNext();
  std::int16_t status = kInactive;
  if (next.entry != nullptr) {
    const int op = operation % 100;
    std::string moved;
    if ((op == kOpOpen || op == kOpCreate) && !next.move_from.empty() && key_buffer != nullptr) {
      const char* key = static_cast<const char*>(key_buffer);
      const std::size_t limit = key_length == 0 ? 255 : key_length;
      const std::string path(key, strnlen(key, limit));
      if (path.compare(0, next.move_from.size(), next.move_from) == 0) {
        moved = next.move_to + path.substr(next.move_from.size());
      }
    }
    if (!moved.empty()) {
      moved.push_back('\0');
      status = next.entry(operation, position_block, data_buffer, data_length, moved.data(),
                          static_cast<std::uint8_t>(moved.size() - 1 > 255 ? 0 : moved.size() - 1),
                          key_number);
    } else {
      status = next.entry(operation, position_block, data_buffer, data_length, key_buffer,
                          key_length, key_number);
    }
  }
  if (next.count_file != kNoCountFile) {
    char line[32];
    const int n = std::snprintf(line, sizeof line, "%d %d\n", operation, status);
    if (n > 0) Append(next.count_file, line, static_cast<std::size_t>(n));
  }
  return status;
}
