#include <dlfcn.h>

#include "platform/dynamic_library.h"
#include "platform/system.h"
#include "util/cp850.h"

namespace kel {
namespace {

// dlerror() for the last failure, or `fallback` when the loader kept none.
std::string LoaderError(const char* fallback) {
  const char* text = ::dlerror();
  return text != nullptr ? std::string(text) : std::string(fallback);
}

}  // namespace

bool LoadDynamicLibrary(std::string_view name, DynamicLibrary* library, std::string* why) {
  library->handle = nullptr;
  if (name.empty()) {
    *why = "no library named";
    return false;
  }
  // A name with a folder is a path: dlopen reads it as one as soon as it
  // holds a "/", so "\" and the letter case of Windows are mapped first. A
  // bare name goes to the loader's own search.
  const bool path = name.find_first_of("\\/") != std::string_view::npos;
  const std::string native = path ? MapPath(name) : Cp850ToUtf8(name);
  (void)::dlerror();
  // RTLD_NOW: a library with unresolved needs fails here, before any file
  // is touched. RTLD_LOCAL: its symbols never serve other libraries.
  void* handle = ::dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    *why = LoaderError("the library cannot be loaded");
    return false;
  }
  library->handle = handle;
  return true;
}

LibraryFunctionAddress LibraryFunction(const DynamicLibrary& library, const char* symbol,
                                       std::string* why) {
  if (library.handle == nullptr) {
    *why = "no library loaded";
    return nullptr;
  }
  (void)::dlerror();
  void* address = ::dlsym(library.handle, symbol);
  if (address == nullptr) {
    *why = LoaderError("the library exports no such function");
    return nullptr;
  }
  // POSIX guarantees that a function's address survives the trip through
  // void*.
  return reinterpret_cast<LibraryFunctionAddress>(address);
}

}  // namespace kel
