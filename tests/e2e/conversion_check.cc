// conversion_check: checks the data files of a sample installation after
// runs of the program, for the end-to-end scripts.
//
//   conversion_check ROOT LANGUAGE [--data LANGUAGE] [--original DIR] [--partial]
//
// For each of the nineteen files (layouts of the sample installation): the
// record manager's integrity check, then every record: its CurrentText must
// hold the column that LANGUAGE selects ("CAT", "GLG", "OCI" their own,
// "OCI" without an Aranese column and anything else TextOther). With
// --data the nine data files are checked against that language instead
// (after a run limited to the code tables). With
// --original DIR every record must equal the record at the same place of
// that installation (same count, same key order) in every byte outside
// CurrentText, and its CurrentText must be the original one or one of the
// record's own language columns: a record is as installed or as some
// conversion left it, never anything else. --partial accepts records not
// yet in LANGUAGE (after a kill).
//
// Prints one line per file; exit status 0 all good, 1 records not converted,
// 2 a file damaged, a record changed, or a wrong command line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "recman/admin.h"
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
};

std::int16_t ReadAll(Opened* file, std::vector<std::string>* records) {
  std::string data(1536, '\0');
  std::string key(256, '\0');
  std::int16_t op = kOpGetGreaterOrEqual;
  for (;;) {
    std::uint32_t length = 1536;
    const std::int16_t st = BTRCALL(op, file->block, data.data(), &length, key.data(), 255, 0);
    if (st == kStatusEndOfFile) return kStatusOk;
    if (st != kStatusOk) return st;
    records->emplace_back(data, 0, length);
    op = kOpGetNext;
  }
}

std::string PathOf(const std::string& root, const std::string& logical) {
  std::string path = root + logical + ".dat";
  for (std::size_t i = root.size(); i < path.size(); ++i) {
    if (path[i] == '\\') path[i] = '/';
  }
  return path;
}

int Offset(const FileLayout& layout, const char* name) {
  const int i = layout.FieldIndex(name);
  return i < 0 ? -1 : layout.fields[static_cast<std::size_t>(i)].offset;
}

int Run(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: conversion_check ROOT LANGUAGE [--data LANGUAGE] [--original DIR] "
                 "[--partial]\n");
    return 2;
  }
  std::string root = argv[1];
  if (root.back() != '/') root += '/';
  const std::string table_language = argv[2];
  std::string data_language = table_language;
  bool partial = false;
  std::string original;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--data") == 0 && i + 1 < argc) data_language = argv[++i];
    if (std::strcmp(argv[i], "--partial") == 0) partial = true;
    if (std::strcmp(argv[i], "--original") == 0 && i + 1 < argc) original = argv[++i];
  }
  if (!original.empty() && original.back() != '/') original += '/';

  SampleData sample;
  std::string error;
  if (!LoadSampleData(&sample, &error)) {
    std::fprintf(stderr, "conversion_check: %s\n", error.c_str());
    return 2;
  }
  bool damaged = false;
  bool unconverted = false;
  for (const FileLayout& layout : sample.layouts) {
    const std::string& name = layout.logical_path;
    const bool is_data = name.starts_with("DADES\\") || name == "HOperaci" || name == "VOperaci";
    const std::string& language = is_data ? data_language : table_language;
    int source = Offset(layout, "TextOther");
    if (language == "CAT") source = Offset(layout, "TextCAT");
    if (language == "GLG") source = Offset(layout, "TextGLG");
    if (language == "OCI" && Offset(layout, "TextOCI") >= 0) source = Offset(layout, "TextOCI");
    const auto current = static_cast<std::size_t>(Offset(layout, "CurrentText"));
    const auto width = static_cast<std::size_t>(
        layout.fields[static_cast<std::size_t>(layout.FieldIndex("CurrentText"))].width);

    Opened file(PathOf(root, name));
    std::string report;
    std::vector<std::string> records, before;
    std::int16_t st = file.status;
    if (st == kStatusOk) st = CheckDataFile(file.block, &report);
    if (st == kStatusOk) st = ReadAll(&file, &records);
    if (st == kStatusOk && !original.empty()) {
      Opened old(PathOf(original, name));
      st = old.status == kStatusOk ? ReadAll(&old, &before) : old.status;
      if (st == kStatusOk && before.size() != records.size()) {
        report += "record count " + std::to_string(records.size()) + " instead of " +
                  std::to_string(before.size()) + "\n";
      }
    }
    std::size_t done = 0, changed = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
      const std::string& r = records[i];
      const bool converted =
          r.compare(current, width, r, static_cast<std::size_t>(source), width) == 0;
      if (converted) ++done;
      if (i < before.size()) {
        std::string as_before = r;
        as_before.replace(current, width, before[i], current, width);
        bool whole = r.compare(current, width, before[i], current, width) == 0;
        for (const char* column : {"TextCAT", "TextGLG", "TextOCI", "TextOther"}) {
          const int at = Offset(layout, column);
          if (at >= 0 && r.compare(current, width, r, static_cast<std::size_t>(at), width) == 0) {
            whole = true;
          }
        }
        if (as_before != before[i] || !whole) ++changed;
      }
    }
    const bool bad = st != kStatusOk || !report.empty() || changed > 0;
    damaged = damaged || bad;
    unconverted = unconverted || done != records.size();
    std::printf("%-16s %s records %zu converted %zu%s%s\n", name.c_str(), bad ? "DAMAGED" : "ok",
                records.size(), done,
                changed > 0 ? (" changed " + std::to_string(changed)).c_str() : "",
                st != kStatusOk ? (" status " + std::to_string(st)).c_str() : "");
    if (!report.empty()) std::printf("%s", report.c_str());
  }
  if (damaged) return 2;
  return unconverted && !partial ? 1 : 0;
}

}  // namespace
}  // namespace kel

int main(int argc, char** argv) { return kel::Run(argc, argv); }
