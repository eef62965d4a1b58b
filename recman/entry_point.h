// The shape of the record manager's one entry point, as the data-file layer
// calls it: our own engine (recman.h), or the BTRCALL of a record manager
// installed on the workstation, loaded from its library (manager_library.h).
//
//   status = BTRCALL(operation, position_block, data_buffer, &data_length,
//                    key_buffer, key_length, key_number)
//
//   operation      16-bit operation code, plus a lock bias where allowed
//   position_block 128 bytes, the caller's, one per open file
//   data_buffer    the data buffer; data_length its 32-bit length, in and out
//   key_buffer     the key buffer; key_length its length, 8-bit
//   key_number     signed 8-bit: a key number, or an open / create mode
//   status         16-bit; 0 success
#ifndef KEL_RECMAN_ENTRY_POINT_H_
#define KEL_RECMAN_ENTRY_POINT_H_

#include <cstdint>

// The calling convention of the entry point. On 32-bit Windows the installed
// record manager's BTRCALL is a __stdcall function (the callee takes its 28
// bytes of arguments off the stack); everywhere else there is one convention
// and the macro is empty. __stdcall is the spelling that Microsoft's
// compiler, mingw-w64's GCC and clang all take for 32-bit Windows.
#if defined(_WIN32) && !defined(_WIN64)
#define KEL_BTRCALL_CONVENTION __stdcall
#else
#define KEL_BTRCALL_CONVENTION
#endif

namespace kel {

// The name under which a record manager's library exports its entry point.
inline constexpr const char kEntryPointName[] = "BTRCALL";

// Every name a library's entry point is looked up by, in this order. A
// Windows library may export the __stdcall function under its decorated
// name, as linkers write it when no module-definition file gives the plain
// one: "BTRCALL@28" (GNU ld) or "_BTRCALL@28" (Microsoft's linker); 28 is the
// bytes of arguments on 32-bit Windows. (On 64-bit Windows there is one
// convention, so a function exported under such a name is called the same
// way.) Elsewhere the plain name only.
#if defined(_WIN32)
inline constexpr const char* kEntryPointNames[] = {kEntryPointName, "BTRCALL@28", "_BTRCALL@28"};
#else
inline constexpr const char* kEntryPointNames[] = {kEntryPointName};
#endif

using RecordManagerEntry = std::int16_t(KEL_BTRCALL_CONVENTION*)(
    std::int16_t operation, void* position_block, void* data_buffer, std::uint32_t* data_length,
    void* key_buffer, std::uint8_t key_length, std::int8_t key_number);

}  // namespace kel

#endif  // KEL_RECMAN_ENTRY_POINT_H_
