// What the Windows files of platform/ share among themselves: <windows.h>
// itself (only platform/ includes it, and only its .cc files include this
// header) and the text conversions between the program's code page 850
// bytes, the system's wide strings and the UTF-8 of native paths.
#ifndef KEL_PLATFORM_WIN32_INTERNAL_H_
#define KEL_PLATFORM_WIN32_INTERNAL_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// windows.h makes these names macros for its own A/W functions; this
// program has functions of the same names (system.h), and the Win32 files
// always call the W functions by their full names.
#undef DeleteFile
#undef CopyFile
#undef MoveFile
#undef CreateDirectory
#undef GetCurrentDirectory
#undef SetCurrentDirectory
#undef GetEnvironmentVariable
#undef GetComputerName

#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

// Code page 850 text of the program (file names, environment values,
// command lines) as the system's wide string: through the system's OEM code
// page, which is 850 on the workstations of the installations.
std::wstring WideFromSystem(std::string_view system_text);
// Back again; false when the OEM code page lacks a character (it then
// stands as "?" in `*system_text`).
bool SystemFromWide(std::wstring_view wide, std::string* system_text);

// UTF-8 (native paths, as SQLite takes them) to and from wide strings.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

// The event that a console control event (Ctrl+Break, the window closed,
// log-off, shut-down) sets, so that a wait for a key returns at once and
// the program can end in order (signals_win32.cc).
HANDLE TerminationWakeEvent();

// The byte-range locks of file_lock_win32.cc held through `handle` are gone
// (the handle is being closed).
void ForgetFileLocks(std::intptr_t handle);

}  // namespace kel

#endif  // KEL_PLATFORM_WIN32_INTERNAL_H_
