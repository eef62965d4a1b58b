#include "tools/recutil/copy.h"

#include <vector>

#include "recman/file_spec.h"
#include "recman/recman.h"
#include "tools/recutil/data_file.h"

namespace kel {
namespace {


// The owner mode of a source that has `owner`: 1 when it opens read-only
// without the name, 0 when it does not.
std::int8_t OwnerMode(const std::string& native_path) {
  DataFile probe(native_path);
  return probe.Open(kOpenReadOnly) == kStatusOk ? 1 : 0;
}

// Reads the copy back beside the source, both in physical order from their
// first record: every record the same bytes, and both ending together.
std::int16_t CompareWithSource(DataFile& source, DataFile& copy, std::uint32_t* compared,
                               std::string* what) {
  std::string a, b;
  std::int16_t sa = source.Next(true, -1, &a);
  std::int16_t sb = copy.Next(true, -1, &b);
  *compared = 0;
  while (sa == kStatusOk && sb == kStatusOk) {
    if (a != b) {
      *what = "record " + std::to_string(*compared + 1) + " of the copy differs from the source";
      return kStatusIoError;
    }
    ++*compared;
    sa = source.Next(false, -1, &a);
    sb = copy.Next(false, -1, &b);
  }
  if (sa != kStatusEndOfFile && sa != kStatusOk) {
    *what = "cannot read the source again to compare it";
    return sa;
  }
  if (sb != kStatusEndOfFile && sb != kStatusOk) {
    *what = "cannot read the copy back";
    return sb;
  }
  if (sa != sb) {
    *what = "the copy holds " + std::string(sa == kStatusOk ? "fewer" : "more") +
            " records than the source (" + std::to_string(*compared) + " the same)";
    return kStatusIoError;
  }
  return kStatusOk;
}

bool SameSegment(const KeySegment& a, const KeySegment& b) {
  const auto significant = [](std::uint16_t flags) {
    return static_cast<std::uint16_t>(flags & ~kKeyFlagSegmented);
  };
  return a.position == b.position && a.length == b.length &&
         significant(a.flags) == significant(b.flags) && a.extended_type == b.extended_type &&
         a.null_byte == b.null_byte;
}

}  // namespace

bool DictionaryDescribes(const std::string& dictionary, const std::string& stat) {
  FileSpec d, s;
  if (ParseCreateBuffer(dictionary.data(), dictionary.size(), &d) != kStatusOk ||
      ParseCreateBuffer(stat.data(), stat.size(), &s) != kStatusOk) {
    return false;
  }
  if (d.record_length != s.record_length || d.keys.size() != s.keys.size()) return false;
  for (std::size_t k = 0; k < d.keys.size(); ++k) {
    const std::vector<KeySegment>& a = d.keys[k].segments;
    const std::vector<KeySegment>& b = s.keys[k].segments;
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (!SameSegment(a[i], b[i])) return false;
    }
  }
  return true;
}

std::int16_t CopyDataFile(const CopyRequest& request, const CopyProgress& progress,
                          std::uint32_t* copied, std::string* what) {
  *copied = 0;
  const std::string& path = request.native_path;
  const std::string& destination =
      request.destination_path.empty() ? path : request.destination_path;
  ConfigureRecordManager(request.from);
  std::int8_t owner_mode = 0;
  if (!request.owner.empty()) owner_mode = OwnerMode(path);
  DataFile source(path);
  if (std::int16_t st = source.Open(kOpenExclusive, request.owner); st != kStatusOk) {
    *what = st == kStatusFileInUse ? "cannot open the source: a program has it open"
            : st == kStatusInvalidOwner && request.owner.empty()
                ? "cannot open the source: it has an owner name (give it with --owner)"
                : "cannot open the source";
    return st;
  }
  std::string stat;
  FileSpec spec;
  std::size_t record_length = 0;
  std::uint32_t total = 0;
  std::int16_t st = source.Stat(&stat);
  if (st == kStatusOk) st = ParseCreateBuffer(stat.data(), stat.size(), &spec);
  if (st == kStatusOk) st = source.Figures(&record_length, &total);
  if (st != kStatusOk) {
    *what = "cannot read the source's specification";
    return st;
  }
  const std::string create_buffer =
      !request.dictionary.empty() && DictionaryDescribes(request.dictionary, stat)
          ? request.dictionary
          : BuildCreateBuffer(spec);

  ConfigureRecordManager(request.to);
  st = CreateDataFile(destination, create_buffer, request.replace);
  if (st != kStatusOk) {
    *what = st == kStatusFileAlreadyExists
                ? "the destination exists already (copy with --replace to overwrite it)"
                : "cannot create the destination";
    ConfigureRecordManager(request.from);
    return st;
  }
  const std::string incomplete = "; the destination is incomplete: copy again with --replace";
  DataFile target(destination);
  st = target.Open(kOpenExclusive);
  // From here on each open keeps its record manager; the configuration is
  // the source's again for whatever the caller opens next.
  ConfigureRecordManager(request.from);
  if (st != kStatusOk) {
    *what = "cannot open the new destination" + incomplete;
    return st;
  }

  // Batches of a few megabytes, one transaction each: big enough that a
  // server's commits do not count, small enough to keep memory flat on
  // large files.
  std::vector<std::string> batch;
  std::size_t batch_bytes = 0;
  std::string record;
  std::uint32_t read = 0;
  auto flush = [&]() -> std::int16_t {
    if (batch.empty()) return kStatusOk;
    std::size_t failed = 0;
    std::int16_t s = target.InsertRecords(batch, &failed);
    if (s != kStatusOk) {
      *what = "cannot insert record " + std::to_string(*copied + failed + 1) + incomplete;
      return s;
    }
    *copied += static_cast<std::uint32_t>(batch.size());
    batch.clear();
    batch_bytes = 0;
    if (progress) progress(*copied, total);
    return kStatusOk;
  };
  st = source.Next(true, -1, &record);
  for (; st == kStatusOk; st = source.Next(false, -1, &record)) {
    ++read;
    batch_bytes += record.size();
    batch.push_back(std::move(record));
    if (batch_bytes >= request.batch_bytes) {
      if (std::int16_t s = flush(); s != kStatusOk) return s;
    }
  }
  if (st != kStatusEndOfFile) {
    *what = "cannot read record " + std::to_string(read + 1) + " of the source" + incomplete;
    return st;
  }
  if (std::int16_t s = flush(); s != kStatusOk) return s;
  if (progress && total == 0) progress(0, 0);
  if (!request.owner.empty()) {
    if (std::int16_t s = target.SetOwner(request.owner, owner_mode); s != kStatusOk) {
      *what = "cannot give the destination its owner name" + incomplete;
      return s;
    }
  }
  if (std::int16_t s = target.Close(); s != kStatusOk) {
    *what = "cannot commit the destination" + incomplete;
    return s;
  }

  // Read back through a fresh open of the destination's record manager,
  // beside the source, which is still held exclusively.
  ConfigureRecordManager(request.to);
  DataFile check(destination);
  st = check.Open(kOpenReadOnly, request.owner);
  ConfigureRecordManager(request.from);
  if (st != kStatusOk) {
    *what = "cannot read the copy back" + incomplete;
    return st;
  }
  std::uint32_t compared = 0;
  if (std::int16_t s = CompareWithSource(source, check, &compared, what); s != kStatusOk) {
    *what += incomplete;
    return s;
  }
  return kStatusOk;
}

}  // namespace kel
