#include <cstdint>

#include "platform/dynamic_library.h"
#include "platform/win32_internal.h"

namespace kel {
namespace {

// The system's words for `error` ("The specified module could not be
// found."), in UTF-8 like the reasons the POSIX loader gives, with the
// error's number. A place for the file's name in the text ("%1 is not a
// valid Win32 application.") gets `subject`.
std::string SystemMessage(DWORD error, std::string_view subject) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message;
  if (length != 0 && text != nullptr) {
    std::wstring_view view(text, length);
    while (!view.empty() && (view.back() == L'\r' || view.back() == L'\n' || view.back() == L' ')) {
      view.remove_suffix(1);
    }
    message = Utf8FromWide(view);
  }
  if (text != nullptr) ::LocalFree(text);
  if (const std::size_t at = message.find("%1"); at != std::string::npos) {
    message.replace(at, 2, subject);
  }
  if (message.empty()) message = "error";
  return message + " (error " + std::to_string(error) + ")";
}

// `wide` as a full path: LoadLibraryEx takes "\" as the only separator, and
// its search from the library's own folder (LOAD_WITH_ALTERED_SEARCH_PATH)
// needs a full path, so a relative one is made full from the current
// directory here, as the POSIX loader takes it.
std::wstring FullPath(const std::wstring& wide) {
  const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  const DWORD written = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (written == 0 || written >= needed) return wide;
  full.resize(written);
  return full;
}

// The machine a program file is built for (IMAGE_FILE_MACHINE_*), read from
// its headers; 0 when it is not a program file or cannot be read.
std::uint16_t MachineOf(const std::wstring& file) {
  HANDLE h = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  unsigned char head[4096] = {};
  DWORD got = 0;
  const bool read = ::ReadFile(h, head, sizeof head, &got, nullptr) != FALSE;
  ::CloseHandle(h);
  auto u16 = [&](DWORD at) { return static_cast<std::uint16_t>(head[at] | head[at + 1] << 8); };
  if (!read || got < 0x40 || head[0] != 'M' || head[1] != 'Z') return 0;
  const DWORD pe = u16(0x3C) | static_cast<DWORD>(u16(0x3E)) << 16;
  if (pe > got - 6 || head[pe] != 'P' || head[pe + 1] != 'E' || head[pe + 2] != 0 ||
      head[pe + 3] != 0) {
    return 0;
  }
  return u16(pe + 4);
}

// For a library the system refused as a program of the wrong kind (error
// 193): when it is built for another processor width than this program,
// the words that say so, since that is what an administrator must change
// (a 32-bit library needs the 32-bit build of the program); "" otherwise.
std::string WidthNote(DWORD error, const std::wstring& name, bool path) {
  if (error != ERROR_BAD_EXE_FORMAT) return "";
  std::wstring file = name;
  if (!path) {
    wchar_t found[MAX_PATH];
    const DWORD n = ::SearchPathW(nullptr, name.c_str(), L".dll", MAX_PATH, found, nullptr);
    if (n == 0 || n >= MAX_PATH) return "";
    file.assign(found, n);
  }
  const std::uint16_t machine = MachineOf(file);
  const bool library_32 = machine == IMAGE_FILE_MACHINE_I386;
  const bool library_64 = machine == IMAGE_FILE_MACHINE_AMD64 || machine == 0xAA64;  // ARM64
  const bool program_64 = sizeof(void*) == 8;
  if (library_32 && program_64) {
    return "; it is a 32-bit library, which only a 32-bit program can load";
  }
  if (library_64 && !program_64) {
    return "; it is a 64-bit library, which only a 64-bit program can load";
  }
  return "";
}

}  // namespace

bool LoadDynamicLibrary(std::string_view name, DynamicLibrary* library, std::string* why) {
  library->handle = nullptr;
  if (name.empty()) {
    *why = "no library named";
    return false;
  }
  // A path is searched from its own folder first, so the libraries it needs
  // beside it are found; a bare name goes through the DLL search order.
  const bool path = name.find_first_of("\\/:") != std::string_view::npos;
  const std::wstring wide = path ? FullPath(WideFromSystem(name)) : WideFromSystem(name);
  // No message box of the system for a library that cannot be completed
  // (one it needs is missing, or the file is damaged): the open failure says
  // it, and an unattended run must never wait for a click.
  DWORD previous_mode = 0;
  const bool mode_set =
      ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_mode) !=
      FALSE;
  HMODULE module =
      ::LoadLibraryExW(wide.c_str(), nullptr, path ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
  const DWORD error = ::GetLastError();
  if (mode_set) ::SetThreadErrorMode(previous_mode, nullptr);
  if (module == nullptr) {
    *why = SystemMessage(error, Utf8FromWide(wide)) + WidthNote(error, wide, path);
    return false;
  }
  library->handle = reinterpret_cast<void*>(module);
  return true;
}

LibraryFunctionAddress LibraryFunction(const DynamicLibrary& library, const char* symbol,
                                       std::string* why) {
  if (library.handle == nullptr) {
    *why = "no library loaded";
    return nullptr;
  }
  FARPROC address = ::GetProcAddress(reinterpret_cast<HMODULE>(library.handle), symbol);
  if (address == nullptr) {
    *why = SystemMessage(::GetLastError(), symbol);
    return nullptr;
  }
  return reinterpret_cast<LibraryFunctionAddress>(address);
}

}  // namespace kel
