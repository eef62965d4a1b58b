// What the record manager's own files share beyond the public entry point.
#ifndef KEL_RECMAN_ENGINE_INTERNAL_H_
#define KEL_RECMAN_ENGINE_INTERNAL_H_

#include "recman/cursor.h"

namespace kel {

// The cursor behind a position block of this process; nullptr when the
// block does not hold a live handle.
Cursor* CursorOf(void* position_block);

}  // namespace kel

#endif  // KEL_RECMAN_ENGINE_INTERNAL_H_
