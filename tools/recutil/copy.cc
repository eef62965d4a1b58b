#include "tools/recutil/copy.h"

#include <vector>

#include "recman/admin.h"
#include "recman/file_spec.h"
#include "recman/recman.h"
#include "tools/recutil/data_file.h"

namespace kel {
namespace {

// FNV-1a over every record's length and bytes, in order.
class Digest {
 public:
  void Add(const std::string& record) {
    const std::uint64_t length = record.size();
    for (int i = 0; i < 8; ++i) Byte(static_cast<unsigned char>(length >> (8 * i)));
    for (char c : record) Byte(static_cast<unsigned char>(c));
  }
  std::uint64_t value() const { return hash_; }

 private:
  void Byte(unsigned char b) {
    hash_ ^= b;
    hash_ *= 0x100000001B3ULL;
  }
  std::uint64_t hash_ = 0xCBF29CE484222325ULL;
};

// Reads the whole file in physical order into `*digest`; `*count` records.
std::int16_t DigestOf(DataFile& file, Digest* digest, std::uint32_t* count) {
  std::string record;
  std::int16_t st = file.Next(true, -1, &record);
  for (; st == kStatusOk; st = file.Next(false, -1, &record)) {
    digest->Add(record);
    ++*count;
  }
  return st == kStatusEndOfFile ? kStatusOk : st;
}

// The owner mode of a source that has `owner`: 1 when it opens read-only
// without the name, 0 when it does not.
std::int8_t OwnerMode(const std::string& native_path) {
  DataFile probe(native_path);
  return probe.Open(kOpenReadOnly) == kStatusOk ? 1 : 0;
}

}  // namespace

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

  ConfigureRecordManager(request.to);
  st = CreateDataFile(destination, BuildCreateBuffer(spec), request.replace);
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
  // From here on each open keeps its engine; the configuration is the
  // source's again for whatever the caller opens next.
  ConfigureRecordManager(request.from);
  if (st != kStatusOk) {
    *what = "cannot open the new destination" + incomplete;
    return st;
  }

  Digest source_digest;
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
    std::int16_t s = InsertAll(target.block(), batch, &failed);
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
    source_digest.Add(record);
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

  // Read back through a fresh open of the destination's engine.
  ConfigureRecordManager(request.to);
  DataFile check(destination);
  st = check.Open(kOpenReadOnly, request.owner);
  ConfigureRecordManager(request.from);
  Digest copy_digest;
  std::uint32_t count = 0;
  if (st == kStatusOk) st = DigestOf(check, &copy_digest, &count);
  if (st != kStatusOk) {
    *what = "cannot read the copy back" + incomplete;
    return st;
  }
  if (count != read || copy_digest.value() != source_digest.value()) {
    *what = "the copy differs from the source (" + std::to_string(count) + " records read back, " +
            std::to_string(read) + " copied)" + incomplete;
    return kStatusIoError;
  }
  return kStatusOk;
}

}  // namespace kel
