// Libraries loaded while the program runs, and the functions they export:
// how the program reaches a record manager installed on the workstation,
// whose library the installation names. One implementation file per system
// (dynamic_library_posix.cc with dlopen / dlsym, dynamic_library_win32.cc
// with LoadLibraryEx / GetProcAddress).
//
// A loaded library stays loaded until the process ends: the program keeps
// calling into it, and its own exit handlers run with the process's.
#ifndef KEL_PLATFORM_DYNAMIC_LIBRARY_H_
#define KEL_PLATFORM_DYNAMIC_LIBRARY_H_

#include <string>
#include <string_view>

namespace kel {

// A loaded library; `handle` is the system's, null when nothing is loaded.
struct DynamicLibrary {
  void* handle = nullptr;
};

// The address of an exported function, to be cast to its real type.
using LibraryFunctionAddress = void (*)();

// Loads the library `name`, a system text (code page 850): a bare file name
// ("WBTRV32.DLL", "libkelbtrv.so") is looked up the system's way (on POSIX:
// LD_LIBRARY_PATH, the loader's cache and the system folders; on Windows the
// DLL search order); a name holding "\" or "/" is a path, mapped as MapPath
// maps paths (so "LIB\kelbtrv.so" from a configuration file written on
// Windows is found), relative to the current directory when it is not
// absolute. Everything the library needs is resolved at once, so a library
// that cannot be completed fails here and not at its first call; its own
// symbols stay private to it (they never replace the program's, nor the
// program's its). Loading a library that is loaded already gives the same
// library again.
// On Windows the system shows no message box for a library it cannot
// complete (the caller reports it), and a library built for the other
// processor width (a 32-bit DLL in a 64-bit program, or the reverse) is
// said to be so after the system's reason.
// Returns true with `*library` set; false with `*why` the system's reason
// ("libx.so: cannot open shared object file: No such file or directory";
// on Windows the system's message and its number, "The specified module
// could not be found. (error 126)").
[[nodiscard]] bool LoadDynamicLibrary(std::string_view name, DynamicLibrary* library,
                                      std::string* why);

// The function `symbol` that `library` exports, or nullptr with `*why` the
// system's reason.
[[nodiscard]] LibraryFunctionAddress LibraryFunction(const DynamicLibrary& library,
                                                     const char* symbol, std::string* why);

}  // namespace kel

#endif  // KEL_PLATFORM_DYNAMIC_LIBRARY_H_
