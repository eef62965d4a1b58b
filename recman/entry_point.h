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

// The calling convention of the entry point. Empty here, where there is one
// convention; a 32-bit Windows build, whose installed record manager exports
// a __stdcall entry point, defines it as __stdcall in this one place.
#define KEL_BTRCALL_CONVENTION

namespace kel {

// The name under which a record manager's library exports its entry point.
inline constexpr const char kEntryPointName[] = "BTRCALL";

using RecordManagerEntry = std::int16_t(KEL_BTRCALL_CONVENTION*)(
    std::int16_t operation, void* position_block, void* data_buffer, std::uint32_t* data_length,
    void* key_buffer, std::uint8_t key_length, std::int8_t key_number);

}  // namespace kel

#endif  // KEL_RECMAN_ENTRY_POINT_H_
