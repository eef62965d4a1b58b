#include "tools/mkinstall/sample_sources.h"

namespace kel {

const SampleFile* FindSampleFile(std::string_view path) {
  for (const SampleFile& file : SampleFiles()) {
    if (file.path == path) return &file;
  }
  return nullptr;
}

}  // namespace kel
