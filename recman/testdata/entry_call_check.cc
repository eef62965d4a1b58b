// entry_call_check: the program's path to an installed record manager, in a
// program of its own: the library loaded as the data-file layer loads it
// (manager_library.h), and its entry point called through the one type of
// every record manager's entry point (entry_point.h), thousands of times.
// On 32-bit Windows that is where a wrong calling convention shows: each
// call would leave the stack 28 bytes off, and the program would not get far.
//
// It creates a data file through the library in a scratch folder, inserts
// records, reads them back along the key and in physical order, asks Stat,
// closes, and reads the file again with our own engine: every record must
// come back byte for byte.
//
// usage: entry_call_check LIBRARY [RECORDS]   exit 0 when all is well
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "recman/file_spec.h"
#include "recman/manager_library.h"
#include "recman/recman.h"
#include "tests/support/test_dir.h"

namespace {

constexpr std::uint16_t kLength = 24;

struct Open {
  kel::RecordManagerEntry entry;
  std::uint8_t block[kel::kPositionBlockSize] = {};
  std::int16_t Call(std::int16_t op, std::string* data, std::string* key, int key_number) {
    std::uint32_t length = static_cast<std::uint32_t>(data->size());
    const std::int16_t status =
        entry(op, block, data->data(), &length, key->data(), static_cast<std::uint8_t>(key->size()),
              static_cast<std::int8_t>(key_number));
    if (status == kel::kStatusOk && length <= data->size()) data->resize(length);
    return status;
  }
};

std::string Record(int n) {
  char text[kLength + 1];
  std::snprintf(text, sizeof text, "%06d record \x85\x87 %06d", n, n * 7);
  return std::string(text, kLength);
}

int Fail(const char* what, std::int16_t status) {
  std::fprintf(stderr, "entry_call_check: %s: status %d\n", what, status);
  return 1;
}

// Every record of `path` along key 0, through `entry`.
std::int16_t ReadAll(kel::RecordManagerEntry entry, const std::string& path,
                     std::vector<std::string>* out) {
  Open f{entry};
  std::string owner(1, '\0'), key = path + '\0';
  key.resize(255, '\0');
  std::int16_t st = f.Call(kel::kOpOpen, &owner, &key, kel::kOpenReadOnly);
  if (st != kel::kStatusOk) return st;
  for (std::int16_t op = kel::kOpGetFirst;; op = kel::kOpGetNext) {
    std::string data(kLength, '\0'), k(255, '\0');
    st = f.Call(op, &data, &k, 0);
    if (st != kel::kStatusOk) break;
    out->push_back(data);
  }
  std::string none(1, '\0'), k(1, '\0');
  const std::int16_t closed = f.Call(kel::kOpClose, &none, &k, 0);
  return st == kel::kStatusEndOfFile ? closed : st;
}

int Check(const std::string& library, int records, const std::string& dir) {
  kel::RecordManagerEntry entry = nullptr;
  std::string problem;
  if (kel::LoadRecordManagerLibrary(library, &entry, &problem) != kel::kStatusOk) {
    std::fprintf(stderr, "entry_call_check: %s\n", problem.c_str());
    return 1;
  }
  const std::string path = dir + "/check.dat";
  kel::FileSpec spec;
  spec.record_length = kLength;
  spec.page_size = 4096;
  kel::KeySegment segment;
  segment.position = 1;
  segment.length = 6;
  kel::KeyDef key0;
  key0.segments = {segment};
  spec.keys = {key0};
  Open f{entry};
  std::string create = kel::BuildCreateBuffer(spec), key = path + '\0';
  key.resize(255, '\0');
  std::int16_t st = f.Call(kel::kOpCreate, &create, &key, 0);
  if (st != kel::kStatusOk) return Fail("Create", st);
  std::string owner(1, '\0');
  key = path + '\0';
  key.resize(255, '\0');
  if ((st = f.Call(kel::kOpOpen, &owner, &key, kel::kOpenNormal)) != kel::kStatusOk) {
    return Fail("Open", st);
  }
  // Inserted in a scattered order, so that key order and physical order
  // differ.
  for (int i = 0; i < records; ++i) {
    std::string data = Record((i * 7919) % records), k(255, '\0');
    if ((st = f.Call(kel::kOpInsert, &data, &k, 0)) != kel::kStatusOk) return Fail("Insert", st);
  }
  int stepped = 0;
  for (std::int16_t op = kel::kOpStepFirst;; op = kel::kOpStepNext) {
    std::string data(kLength, '\0'), k(255, '\0');
    if ((st = f.Call(op, &data, &k, 0)) != kel::kStatusOk) break;
    if (data != Record((stepped * 7919) % records)) return Fail("Step: another record", 0);
    ++stepped;
  }
  if (st != kel::kStatusEndOfFile || stepped != records) return Fail("Step", st);
  std::string stat(1024, '\0'), k(255, '\0');
  if ((st = f.Call(kel::kOpStat, &stat, &k, 0)) != kel::kStatusOk) return Fail("Stat", st);
  std::uint32_t count = 0;
  std::memcpy(&count, stat.data() + 6, 4);
  if (count != static_cast<std::uint32_t>(records)) return Fail("Stat: record count", 0);
  std::string none(1, '\0');
  k.assign(1, '\0');
  if ((st = f.Call(kel::kOpClose, &none, &k, 0)) != kel::kStatusOk) return Fail("Close", st);

  std::vector<std::string> theirs, ours;
  if ((st = ReadAll(entry, path, &theirs)) != kel::kStatusOk) return Fail("read through it", st);
  if ((st = ReadAll(&kel::BTRCALL, path, &ours)) != kel::kStatusOk) return Fail("read by ours", st);
  if (theirs.size() != static_cast<std::size_t>(records) || theirs != ours) {
    return Fail("the records read back differ", 0);
  }
  for (int i = 0; i < records; ++i) {
    if (ours[static_cast<std::size_t>(i)] != Record(i)) return Fail("a record's bytes", 0);
  }
  std::printf("%s: %d records written and read back through its BTRCALL\n", library.c_str(),
              records);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: entry_call_check LIBRARY [RECORDS]\n");
    return 2;
  }
  const int records = argc > 2 ? std::atoi(argv[2]) : 2000;
  const std::string dir = kel::MakeTestDirectory("kel-entry-call");
  if (dir.empty() || records <= 0) return 2;
  const int result = Check(argv[1], records, dir);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return result;
}
