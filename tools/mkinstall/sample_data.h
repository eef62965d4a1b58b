// The sample installation's data files as mkinstall builds them: every
// layout of layouts.txt with the real records of its rows file, read from
// the embedded sources and checked before anything is written.
#ifndef KEL_TOOLS_MKINSTALL_SAMPLE_DATA_H_
#define KEL_TOOLS_MKINSTALL_SAMPLE_DATA_H_

#include <string>
#include <vector>

#include "tools/mkinstall/layout.h"

namespace kel {

struct SampleData {
  std::vector<FileLayout> layouts;                // in the order of layouts.txt
  std::vector<std::vector<std::string>> records;  // the real records of each layout
};

// Parses layouts.txt and rows/<Name>.txt of every layout. Fails with a
// message naming the source file and line (a missing rows file included).
[[nodiscard]] bool LoadSampleData(SampleData* data, std::string* error);

}  // namespace kel

#endif  // KEL_TOOLS_MKINSTALL_SAMPLE_DATA_H_
