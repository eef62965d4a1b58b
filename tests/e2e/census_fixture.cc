// census_fixture: prepares a sample installation for the census's
// end-to-end test and prints what the census must report.
//
//   census_fixture ROOT SEED
//
// With the sample layouts' own columns (not the converters' table): in
// every record of the nineteen files each language column is blanked with
// a chance of one in six, and the current text becomes one of the record's
// columns, another text or blanks, chosen at random from SEED. Then prints,
// on standard output, the CSV that "tavireno /INFORME /CSV" must give for
// the installation (header and one line per file, CR LF), computed from the
// records as they are now: the column of "SPA" is TextOther, and so is that
// of "OCI" in a file without TextOCI. Exit status 0, 2 on a failure.
#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "recman/recman.h"
#include "tools/mkinstall/sample_data.h"

namespace kel {
namespace {

struct Opened {
  std::uint8_t block[kPositionBlockSize] = {};
  std::int16_t status = 0;
  explicit Opened(const std::string& path) {
    std::string key = path + '\0';
    char owner[1] = {0};
    std::uint32_t length = 1;
    status = BTRCALL(kOpOpen, block, owner, &length, key.data(),
                     static_cast<std::uint8_t>(path.size() > 255 ? 255 : path.size()), 0);
  }
  ~Opened() {
    std::uint32_t length = 0;
    if (status == kStatusOk) (void)BTRCALL(kOpClose, block, nullptr, &length, nullptr, 0, 0);
  }
  // Get Greater or Equal / Get Next into `record`; Update from it.
  std::int16_t Call(std::int16_t op, std::string* record) {
    std::string data = *record;
    data.resize(1536, ' ');
    std::uint32_t length = static_cast<std::uint32_t>(op == kOpUpdate ? record->size() : 1536);
    std::string key(256, '\0');
    const std::int16_t st = BTRCALL(op, block, data.data(), &length, key.data(), 255, 0);
    if (st == kStatusOk && op != kOpUpdate) record->assign(data, 0, length);
    return st;
  }
};

int Offset(const FileLayout& layout, const char* name) {
  const int i = layout.FieldIndex(name);
  return i < 0 ? -1 : layout.fields[static_cast<std::size_t>(i)].offset;
}

std::string PathOf(const std::string& root, const std::string& logical) {
  std::string path = root + logical + ".dat";
  for (std::size_t i = root.size(); i < path.size(); ++i) {
    if (path[i] == '\\') path[i] = '/';
  }
  return path;
}

bool Blank(const std::string& r, int at, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) {
    const char c = r[static_cast<std::size_t>(at) + i];
    if (c != ' ' && c != '\0') return false;
  }
  return true;
}

int Run(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: census_fixture ROOT SEED\n");
    return 2;
  }
  std::string root = argv[1];
  if (root.back() != '/') root += '/';
  std::mt19937 random(static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10)));
  SampleData sample;
  std::string error;
  if (!LoadSampleData(&sample, &error)) {
    std::fprintf(stderr, "census_fixture: %s\n", error.c_str());
    return 2;
  }
  std::string csv =
      "fitxer,cami,registres,ara_CAT,ara_SPA,ara_GLG,ara_OCI,ara_cap,blanc_CAT,blanc_SPA,"
      "blanc_GLG,blanc_OCI,estat,estat_lectura,convertint\r\n";
  for (const FileLayout& layout : sample.layouts) {
    const int current = Offset(layout, "CurrentText");
    const auto width = static_cast<std::size_t>(
        layout.fields[static_cast<std::size_t>(layout.FieldIndex("CurrentText"))].width);
    const int cat = Offset(layout, "TextCAT"), glg = Offset(layout, "TextGLG");
    const int oci = Offset(layout, "TextOCI"), other = Offset(layout, "TextOther");
    const int columns[] = {cat, glg, oci, other};
    // Census order: CAT, SPA, GLG, OCI.
    const int language_columns[] = {cat, other, glg, oci >= 0 ? oci : other};

    Opened file(PathOf(root, layout.logical_path));
    if (file.status != kStatusOk) {
      std::fprintf(stderr, "census_fixture: %s: status %d\n", layout.logical_path.c_str(),
                   file.status);
      return 2;
    }
    long records = 0, none = 0;
    long showing[4] = {}, blank[4] = {};
    std::string r;
    std::int16_t st = file.Call(kOpGetGreaterOrEqual, &r);
    for (; st == kStatusOk; st = file.Call(kOpGetNext, &r)) {
      for (int column : columns) {
        if (column >= 0 && random() % 6 == 0) r.replace(column, width, width, ' ');
      }
      const unsigned pick = random() % 6;
      if (pick < 4 && columns[pick] >= 0) {
        const std::string text = r.substr(static_cast<std::size_t>(columns[pick]), width);
        r.replace(current, width, text);
      } else if (pick == 4) {
        std::string text = "UN ALTRE TEXT";
        text.resize(width, ' ');
        r.replace(current, width, text);
      } else {
        r.replace(current, width, width, ' ');
      }
      if (file.Call(kOpUpdate, &r) != kStatusOk) {
        std::fprintf(stderr, "census_fixture: %s: update refused\n", layout.logical_path.c_str());
        return 2;
      }
      ++records;
      bool any = false;
      for (int i = 0; i < 4; ++i) {
        if (r.compare(current, width, r, language_columns[i], width) == 0) {
          ++showing[i];
          any = true;
        }
        if (Blank(r, language_columns[i], width)) ++blank[i];
      }
      if (!any) ++none;
    }
    if (st != kStatusEndOfFile) {
      std::fprintf(stderr, "census_fixture: %s: read stopped with %d\n",
                   layout.logical_path.c_str(), st);
      return 2;
    }
    std::string label;
    for (char c : layout.name) label += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    csv += label + "," + layout.logical_path + "," + std::to_string(records);
    for (long n : showing) csv += "," + std::to_string(n);
    csv += "," + std::to_string(none);
    for (long n : blank) csv += "," + std::to_string(n);
    csv += ",complet,0,\r\n";
  }
  std::fwrite(csv.data(), 1, csv.size(), stdout);
  return 0;
}

}  // namespace
}  // namespace kel

int main(int argc, char** argv) { return kel::Run(argc, argv); }
