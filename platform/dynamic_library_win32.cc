#include "platform/dynamic_library.h"
#include "platform/win32_internal.h"

namespace kel {
namespace {

// The system's words for `error` ("The specified module could not be
// found."), in UTF-8 like the reasons the POSIX loader gives.
std::string SystemMessage(DWORD error) {
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
  return message + " (error " + std::to_string(error) + ")";
}

}  // namespace

bool LoadDynamicLibrary(std::string_view name, DynamicLibrary* library, std::string* why) {
  library->handle = nullptr;
  if (name.empty()) {
    *why = "no library named";
    return false;
  }
  const std::wstring wide = WideFromSystem(name);
  // A path is searched from its own folder first, so the libraries it needs
  // beside it are found; a bare name goes through the DLL search order.
  const bool path = name.find_first_of("\\/:") != std::string_view::npos;
  HMODULE module =
      ::LoadLibraryExW(wide.c_str(), nullptr, path ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
  if (module == nullptr) {
    *why = SystemMessage(::GetLastError());
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
    *why = SystemMessage(::GetLastError());
    return nullptr;
  }
  return reinterpret_cast<LibraryFunctionAddress>(address);
}

}  // namespace kel
