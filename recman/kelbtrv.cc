// kelbtrv: our record manager packaged as a record manager of its own, a
// shared library whose one export is BTRCALL with the published prototype
// (entry_point.h). It stands in for the record manager installed on the
// workstations wherever that one is missing (tests on Linux, and the end-to-
// end runs through a loaded library), and nothing of the program knows that
// it is ours: the program reaches it only as "Nuri.ini" [Dades] Gestor names
// it, like any installed one.
//
// A library that another program loads never sees that program's waits
// (they run the program's wait hooks, not this copy's) nor, reliably, its
// end, so it cannot leave work pending between calls as the engine does
// inside the program: it runs in the commit-each-call mode (recman.h), as a
// record manager without transactions behaves. Every call is durable and
// visible to other processes when it returns, a killed caller loses nothing
// that was answered, and no lock of a file is held while the caller waits.
//
// Its copy of the engine is its own: every other symbol of the library is
// local (kelbtrv.map; on Windows, where a DLL keeps everything linked into it
// to itself, a module-definition file names the one export), so it shares no
// state with a program that has the engine linked in, and neither can
// replace the other's functions. It serves our SQLite files, with the
// engine's defaults (no server; SQLite files on a network file system
// refused). On 32-bit Windows BTRCALL is __stdcall (entry_point.h), exported
// as "BTRCALL" like the installed record manager's.
#include <cstdint>

#include "recman/entry_point.h"
#include "recman/recman.h"

#if defined(__GNUC__) && !defined(_WIN32)
#define KEL_BTRCALL_EXPORT __attribute__((visibility("default")))
#else
#define KEL_BTRCALL_EXPORT
#endif

extern "C" KEL_BTRCALL_EXPORT std::int16_t KEL_BTRCALL_CONVENTION
BTRCALL(std::int16_t operation, void* position_block, void* data_buffer, std::uint32_t* data_length,
        void* key_buffer, std::uint8_t key_length, std::int8_t key_number) {
  static const bool mode_set = [] {
    kel::SetCommitEachCall(true);
    return true;
  }();
  (void)mode_set;
  return kel::BTRCALL(operation, position_block, data_buffer, data_length, key_buffer, key_length,
                      key_number);
}
