#include "tools/recutil/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

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
  out += Line("File version       = %d.%d", kFileVersion >> 4, kFileVersion & 0xF);
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

}  // namespace kel
