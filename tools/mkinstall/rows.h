// The readable rows of one data file (data/sample/rows/<Name>.txt) turned
// into the fixed-length records of its layout.
//
// Format: lines whose first non-blank character is "#" and blank lines are
// skipped. The first other line names the columns (fields of the layout),
// separated by "|". Each further line is one record, its cells in the same
// order; blanks around a cell are dropped. A line whose first non-blank
// character is "|" continues the record above (its cells follow the earlier
// ones). An empty cell, or a field without a column, takes the field's
// default, or a copy of its `copy_of` field.
#ifndef KEL_TOOLS_MKINSTALL_ROWS_H_
#define KEL_TOOLS_MKINSTALL_ROWS_H_

#include <string>
#include <string_view>
#include <vector>

#include "tools/mkinstall/layout.h"

namespace kel {

// Builds one record per row, in the order of the text. Fails with "line N:
// ..." in `*error` on an unknown or repeated column, a row with a different
// number of cells than the header, a value that does not suit its field (see
// EncodeField), a text not in code page 850 or too long, or a file without
// rows.
[[nodiscard]] bool BuildRecords(const FileLayout& layout, std::string_view text,
                                std::vector<std::string>* records, std::string* error);

}  // namespace kel

#endif  // KEL_TOOLS_MKINSTALL_ROWS_H_
