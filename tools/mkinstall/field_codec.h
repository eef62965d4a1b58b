// Writing one value of the readable sources into the bytes of a record field,
// by the field's type (see FieldType), and the strict UTF-8 to code page 850
// conversion every source text goes through.
#ifndef KEL_TOOLS_MKINSTALL_FIELD_CODEC_H_
#define KEL_TOOLS_MKINSTALL_FIELD_CODEC_H_

#include <string>
#include <string_view>

#include "tools/mkinstall/layout.h"

namespace kel {

// Converts UTF-8 to code page 850. Fails (false, a message naming the
// character in `*error`) on malformed UTF-8, on a character the code page
// lacks and on control characters other than the line feed, so that no text
// reaches an installation with a silent substitute.
[[nodiscard]] bool StrictUtf8ToCp850(std::string_view utf8, std::string* cp850, std::string* error);

// Encodes `value` (UTF-8, blanks around it already removed) into the
// `field.width` bytes at `out`:
//   text    the text, blank-padded; longer than the field is an error
//   digits  decimal digits only, at most 2 x width of them, right-aligned and
//           zero-filled, two per byte as 128 + 10 x first + second;
//           empty = all zero digits
//   date    empty (4 zero bytes) or YYYYMMDD with month 1..12, day 1..31
//   int     optional sign and decimal digits, within the signed range
//   amount  like int, with up to two decimals after a "."; stored x 100
//   flag    S (-1) or N (0), or empty (0); the field is 2 bytes
//   fill    must be empty; zero bytes
// Returns false with a message in `*error` (the field is then unspecified).
// `copy_of` is not looked at: copies are the record builder's business.
[[nodiscard]] bool EncodeField(const LayoutField& field, std::string_view value, char* out,
                               std::string* error);

// The field types' names as the layout description writes them.
bool FieldTypeFromName(std::string_view name, FieldType* type);
const char* FieldTypeName(FieldType type);

}  // namespace kel

#endif  // KEL_TOOLS_MKINSTALL_FIELD_CODEC_H_
