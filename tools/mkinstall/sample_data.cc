#include "tools/mkinstall/sample_data.h"

#include "tools/mkinstall/rows.h"
#include "tools/mkinstall/sample_sources.h"

namespace kel {

bool LoadSampleData(SampleData* data, std::string* error) {
  const SampleFile* layouts = FindSampleFile("layouts.txt");
  if (layouts == nullptr) {
    *error = "layouts.txt is not among the embedded sources";
    return false;
  }
  std::string why;
  if (!ParseLayouts(layouts->bytes, &data->layouts, &why)) {
    *error = "layouts.txt " + why;
    return false;
  }
  data->records.assign(data->layouts.size(), {});
  for (std::size_t i = 0; i < data->layouts.size(); ++i) {
    const FileLayout& layout = data->layouts[i];
    std::string path = "rows/" + layout.name + ".txt";
    const SampleFile* rows = FindSampleFile(path);
    if (rows == nullptr) {
      *error = path + " is missing";
      return false;
    }
    if (!BuildRecords(layout, rows->bytes, &data->records[i], &why)) {
      *error = path + " " + why;
      return false;
    }
  }
  return true;
}

}  // namespace kel
