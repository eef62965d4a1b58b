// Each record-manager operation on a file of 20,000 records of 200 bytes
// (two keys: an 8-byte code, unique; a 30-byte text with duplicates).
// Operations share bundled transactions as they do in the program; the
// *Flushed variants commit after every operation for comparison.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "recman/file_spec.h"
#include "recman/recman.h"

namespace kel {
namespace {

constexpr int kRecords = 20000;
constexpr int kLength = 200;

std::string Code(int i) {
  char code[16];
  std::snprintf(code, sizeof code, "%08d", i);
  return code;
}

std::string Record(int i) {
  std::string r(kLength, ' ');
  r.replace(0, 8, Code(i));
  std::string desc = "DESCRIPTION " + std::to_string(i % 97);
  r.replace(8, desc.size(), desc);
  return r;
}

class File {
 public:
  File() {
    const std::string dir = "/tmp/kel-recman-bench-ops";
    std::filesystem::create_directories(dir);
    path_ = dir + "/ops.dat";
    FileSpec file_spec;
    file_spec.record_length = kLength;
    file_spec.page_size = 4096;
    KeyDef k0, k1;
    KeySegment s0, s1;
    s0.position = 1;
    s0.length = 8;
    s1.position = 9;
    s1.length = 30;
    s1.flags = kKeyFlagDuplicates | kKeyFlagModifiable;
    k0.segments = {s0};
    k1.segments = {s1};
    file_spec.keys = {k0, k1};
    std::string buffer = BuildCreateBuffer(file_spec);
    std::string key = path_ + '\0';
    std::uint32_t len = static_cast<std::uint32_t>(buffer.size());
    std::uint8_t scratch[kPositionBlockSize] = {};
    (void)BTRCALL(kOpCreate, scratch, buffer.data(), &len, key.data(),
                  static_cast<std::uint8_t>(path_.size()), kCreateReplace);
    Open(block_);
    for (int i = 0; i < kRecords; ++i) {
      std::string r = Record(i);
      (void)Call(kOpInsert, &r, kLength, 0);
    }
    (void)FlushRecordManager();
  }
  ~File() {
    std::uint32_t len = 0;
    (void)BTRCALL(kOpClose, block_, nullptr, &len, nullptr, 0, 0);
    std::filesystem::remove_all(std::filesystem::path(path_).parent_path());
  }
  std::int16_t Open(std::uint8_t* block) {
    std::string key = path_ + '\0';
    char owner[1] = {0};
    std::uint32_t len = 1;
    return BTRCALL(kOpOpen, block, owner, &len, key.data(), static_cast<std::uint8_t>(path_.size()),
                   0);
  }
  std::int16_t Call(std::int16_t op, std::string* data, std::uint32_t length, int key_number) {
    std::uint32_t len = length;
    return BTRCALL(op, block_, data->data(), &len, key_.data(), 255,
                   static_cast<std::int8_t>(key_number));
  }
  std::int16_t Get(std::int16_t op, const std::string& search, int key_number = 0) {
    key_.assign(256, '\0');
    key_.replace(0, search.size(), search);
    return Call(op, &data_, 1536, key_number);
  }
  std::uint8_t* block() { return block_; }
  std::string& data() { return data_; }

 private:
  std::string path_;
  std::uint8_t block_[kPositionBlockSize] = {};
  std::string data_ = std::string(1536, ' ');
  std::string key_ = std::string(256, '\0');
};

File& TheFile() {
  static File file;
  return file;
}

void BM_Stat(benchmark::State& state) {
  File& f = TheFile();
  std::string buf(1536, ' ');
  for (auto _ : state) benchmark::DoNotOptimize(f.Call(kOpStat, &buf, 1536, 0));
}
BENCHMARK(BM_Stat);

void BM_GetEqualRandom(benchmark::State& state) {
  File& f = TheFile();
  std::mt19937 rng(1);
  for (auto _ : state) {
    if (f.Get(kOpGetEqual, Code(static_cast<int>(rng() % kRecords))) != kStatusOk) {
      state.SkipWithError("get equal failed");
    }
  }
}
BENCHMARK(BM_GetEqualRandom);

void BM_GetGreaterOrEqualRandom(benchmark::State& state) {
  File& f = TheFile();
  std::mt19937 rng(2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.Get(kOpGetGreaterOrEqual, Code(static_cast<int>(rng() % kRecords))));
  }
}
BENCHMARK(BM_GetGreaterOrEqualRandom);

void WalkKey(benchmark::State& state, std::int16_t op, std::int16_t restart, int key_number) {
  File& f = TheFile();
  (void)f.Get(restart, "", key_number);
  for (auto _ : state) {
    if (f.Get(op, "", key_number) != kStatusOk) (void)f.Get(restart, "", key_number);
  }
}
void BM_GetNextKey0(benchmark::State& s) { WalkKey(s, kOpGetNext, kOpGetFirst, 0); }
void BM_GetPreviousKey0(benchmark::State& s) { WalkKey(s, kOpGetPrevious, kOpGetLast, 0); }
void BM_GetNextDuplicates(benchmark::State& s) { WalkKey(s, kOpGetNext, kOpGetFirst, 1); }
BENCHMARK(BM_GetNextKey0);
BENCHMARK(BM_GetPreviousKey0);
BENCHMARK(BM_GetNextDuplicates);

void BM_StepNext(benchmark::State& state) {
  File& f = TheFile();
  (void)f.Get(kOpStepFirst, "");
  for (auto _ : state) {
    if (f.Get(kOpStepNext, "") != kStatusOk) (void)f.Get(kOpStepFirst, "");
  }
}
BENCHMARK(BM_StepNext);

void BM_GetPosition(benchmark::State& state) {
  File& f = TheFile();
  (void)f.Get(kOpGetFirst, "");
  std::string buf(1536, '\0');
  for (auto _ : state) benchmark::DoNotOptimize(f.Call(kOpGetPosition, &buf, 1536, 0));
}
BENCHMARK(BM_GetPosition);

void BM_GetDirectRandom(benchmark::State& state) {
  File& f = TheFile();
  std::mt19937 rng(3);
  std::string buf(1536, '\0');
  for (auto _ : state) {
    std::uint32_t pos = 1 + rng() % kRecords;
    std::memcpy(buf.data(), &pos, 4);
    if (f.Call(kOpGetDirect, &buf, 1536, 0) != kStatusOk) state.SkipWithError("direct failed");
  }
}
BENCHMARK(BM_GetDirectRandom);

// Update of a non-key field along key 0, new bytes each time.
void UpdateWalk(benchmark::State& state, bool flush) {
  File& f = TheFile();
  (void)f.Get(kOpGetFirst, "");
  std::uint32_t n = 0;
  for (auto _ : state) {
    std::string r = f.data().substr(0, kLength);
    std::snprintf(r.data() + 100, 12, "%011u", ++n);
    r[111] = ' ';
    if (f.Call(kOpUpdate, &r, kLength, 0) != kStatusOk) state.SkipWithError("update failed");
    if (flush) (void)FlushRecordManager();
    if (f.Get(kOpGetNext, "") != kStatusOk) (void)f.Get(kOpGetFirst, "");
  }
  (void)FlushRecordManager();
}
void BM_UpdateAndGetNext(benchmark::State& s) { UpdateWalk(s, false); }
void BM_UpdateAndGetNextFlushed(benchmark::State& s) { UpdateWalk(s, true); }
BENCHMARK(BM_UpdateAndGetNext);
BENCHMARK(BM_UpdateAndGetNextFlushed);

// Update that changes the duplicates key (two index entries move).
void BM_UpdateKeyChange(benchmark::State& state) {
  File& f = TheFile();
  (void)f.Get(kOpGetFirst, "");
  std::uint32_t n = 0;
  for (auto _ : state) {
    std::string r = f.data().substr(0, kLength);
    std::string desc = "MOVED " + std::to_string(++n % 50);
    r.replace(8, 30, std::string(30, ' '));
    r.replace(8, desc.size(), desc);
    if (f.Call(kOpUpdate, &r, kLength, 0) != kStatusOk) state.SkipWithError("update failed");
    if (f.Get(kOpGetNext, "") != kStatusOk) (void)f.Get(kOpGetFirst, "");
  }
  (void)FlushRecordManager();
}
BENCHMARK(BM_UpdateKeyChange);

void BM_InsertThenDelete(benchmark::State& state) {
  File& f = TheFile();
  int i = kRecords + 1;
  for (auto _ : state) {
    std::string r = Record(i++);
    if (f.Call(kOpInsert, &r, kLength, 0) != kStatusOk) state.SkipWithError("insert failed");
    std::uint32_t len = 0;
    if (BTRCALL(kOpDelete, f.block(), nullptr, &len, nullptr, 0, 0) != kStatusOk) {
      state.SkipWithError("delete failed");
    }
  }
  (void)FlushRecordManager();
}
BENCHMARK(BM_InsertThenDelete);

void BM_LockedReadAndUnlock(benchmark::State& state) {
  File& f = TheFile();
  std::mt19937 rng(4);
  std::string none;
  for (auto _ : state) {
    if (f.Get(kOpGetEqual + kLockSingleNoWait, Code(static_cast<int>(rng() % kRecords))) !=
        kStatusOk) {
      state.SkipWithError("locked read failed");
    }
    std::uint32_t len = 0;
    (void)BTRCALL(kOpUnlock, f.block(), nullptr, &len, nullptr, 0, 0);
  }
}
BENCHMARK(BM_LockedReadAndUnlock);

void BM_OpenClose(benchmark::State& state) {
  File& f = TheFile();
  std::uint8_t block[kPositionBlockSize];
  for (auto _ : state) {
    if (f.Open(block) != kStatusOk) state.SkipWithError("open failed");
    std::uint32_t len = 0;
    (void)BTRCALL(kOpClose, block, nullptr, &len, nullptr, 0, 0);
  }
}
BENCHMARK(BM_OpenClose);

}  // namespace
}  // namespace kel

BENCHMARK_MAIN();
