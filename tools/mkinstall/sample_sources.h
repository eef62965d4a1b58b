// The readable sources of the sample installation (data/sample), embedded in
// the program when it is built, so that mkinstall is self-contained.
#ifndef KEL_TOOLS_MKINSTALL_SAMPLE_SOURCES_H_
#define KEL_TOOLS_MKINSTALL_SAMPLE_SOURCES_H_

#include <string_view>
#include <vector>

namespace kel {

struct SampleFile {
  std::string_view path;   // relative to data/sample, "/" separated: "rows/UVies.txt"
  std::string_view bytes;  // the file as it stands in the source tree (UTF-8)
};

// Every embedded file, sorted by path: layouts.txt, rows/*, tree/**.
const std::vector<SampleFile>& SampleFiles();

// The file at `path`; nullptr when there is none.
const SampleFile* FindSampleFile(std::string_view path);

}  // namespace kel

#endif  // KEL_TOOLS_MKINSTALL_SAMPLE_SOURCES_H_
