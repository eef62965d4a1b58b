// Readable names of the program's key codes, for keyprobe's display.
#ifndef KEL_TOOLS_KEYPROBE_KEY_NAMES_H_
#define KEL_TOOLS_KEYPROBE_KEY_NAMES_H_

#include <cstdint>
#include <string>

namespace kel {

// "F1", "Shift+F1", "Ctrl+Left", "Alt+X", "Enter", "Ctrl+A", "'a'"; "" for
// codes without a name.
std::string KeyName(std::int16_t key);

// The code as key lists write it: lower-case hexadecimal without leading
// zeros ("d", "1b", "4800", "8c00").
std::string KeyHex(std::int16_t key);

}  // namespace kel

#endif  // KEL_TOOLS_KEYPROBE_KEY_NAMES_H_
