#include "tools/recutil/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "recman/file_spec.h"
#include "recman/recman.h"

namespace kel {
namespace {

std::uint32_t U32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}

const char* YesNo(bool b) { return b ? "Yes" : "No"; }

std::string Line(const char* format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return std::string(buf) + "\n";
}

std::string FlagNames(std::uint16_t flags) {
  struct Name {
    std::uint16_t bit;
    const char* name;
  } names[] = {{kFileFlagPreallocate, "preallocate"},
               {kFileFlagBalancedIndex, "balanced index"},
               {kFileFlagFreeSpace10, "free space 10%"},
               {kFileFlagFreeSpace20, "free space 20%"},
               {kFileFlagReserveDuplicates, "reserved duplicate pointers"},
               {kFileFlagManualKeyNumbers, "manual key numbers"}};
  std::string out;
  for (const Name& n : names) {
    if (flags & n.bit) out += std::string(out.empty() ? "" : ", ") + n.name;
  }
  return out.empty() ? "none" : out;
}

std::string NullText(const KeyDef& key, const KeySegment& seg) {
  if (!key.null_all && !key.null_any) return "--";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%s %02Xh", key.null_any ? "any" : "all", seg.null_byte);
  return buf;
}

}  // namespace

std::string StatReport(const std::string& file_name, const std::string& stat) {
  FileSpec file_spec;
  if (ParseCreateBuffer(stat.data(), stat.size(), &file_spec) != kStatusOk) return "";
  std::string out = "File statistics for " + file_name + "\n\n";
  const int version = ReportedVersion(file_spec);
  out += Line("File version       = %d.%d", version >> 4, version & 0xF);
  out += Line("Record length      = %u", file_spec.record_length);
  out += Line("Page size          = %u", file_spec.page_size);
  out += Line("Total records      = %u", U32(stat, 6));
  out += Line("Variable records   = No");
  out += Line("Compression        = No");
  out += Line("File flags         = %04Xh (%s)", file_spec.file_flags,
              FlagNames(file_spec.file_flags).c_str());
  out += Line("Keys               = %zu", file_spec.keys.size());
  out += Line("Segments           = %d", file_spec.SegmentCount());
  out += "\n";
  out += Line("%-4s %-4s %-8s %-6s %-16s %-5s %-4s %-4s %-4s %-6s %-4s %-7s %s", "Key", "Seg",
              "Position", "Length", "Type", "Flags", "Dup", "Mod", "Desc", "NoCase", "ACS", "Null",
              "Unique values");
  std::size_t at = kFileSpecSize;
  for (const KeyDef& key : file_spec.keys) {
    for (std::size_t i = 0; i < key.segments.size(); ++i) {
      const KeySegment& seg = key.segments[i];
      char acs[16] = "--";
      if (seg.acs >= 0) std::snprintf(acs, sizeof acs, "%d", seg.acs);
      out += Line("%-4d %-4zu %-8u %-6u %-16s %04X  %-4s %-4s %-4s %-6s %-4s %-7s %u", key.number,
                  i + 1, seg.position, seg.length, SegmentTypeName(seg), seg.flags,
                  YesNo(key.duplicates), YesNo(key.modifiable), YesNo(seg.descending),
                  YesNo(seg.fold_case), acs, NullText(key, seg).c_str(), U32(stat, at + 6));
      at += kSegmentSpecSize;
    }
  }
  if (!file_spec.acs.empty()) {
    out += "\nAlternate collating sequences:\n";
    for (std::size_t i = 0; i < file_spec.acs.size(); ++i) {
      out += Line("%-4zu %.8s", i, file_spec.acs[i].data() + 1);
    }
  }
  return out;
}

std::string DamageSummary(const std::string& report) {
  std::set<int> indexes;     // keys whose index SQLite finds damaged
  std::set<std::string> mismatched;  // records whose stored keys differ from their bytes
  std::size_t bad_length = 0;
  bool counts = false, pages = false, unreadable = false;
  std::size_t start = 0;
  while (start < report.size()) {
    std::size_t end = report.find('\n', start);
    if (end == std::string::npos) end = report.size();
    const std::string line = report.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    const std::size_t index = line.find("kel_key");
    if (index != std::string::npos) {
      indexes.insert(std::atoi(line.c_str() + index + 7));
    } else if (line.rfind("record ", 0) == 0 && line.find("does not match") != std::string::npos) {
      mismatched.insert(line.substr(7, line.find(':') - 7));
    } else if (line.rfind("record ", 0) == 0 && line.find(": length") != std::string::npos) {
      ++bad_length;
    } else if (line.find("count of") != std::string::npos || line.rfind("counts:", 0) == 0) {
      counts = true;
    } else if (line.rfind("records:", 0) == 0) {
      unreadable = true;
    } else {
      pages = true;  // SQLite's own findings about the file's pages
    }
  }
  std::vector<std::string> parts;
  for (int k : indexes) parts.push_back("the index of key " + std::to_string(k));
  if (!mismatched.empty()) {
    parts.push_back("the keys of " + std::to_string(mismatched.size()) +
                    (mismatched.size() == 1 ? " record" : " records"));
  }
  if (bad_length > 0) {
    parts.push_back(std::to_string(bad_length) +
                    (bad_length == 1 ? " record of the wrong length" : " records of the wrong length"));
  }
  if (unreadable) parts.push_back("the records (they cannot be read to the end)");
  if (pages) parts.push_back("pages of the file");
  if (counts) parts.push_back("the counts");
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i > 0 ? ", " : "") + parts[i];
  return out;
}

}  // namespace kel
