// The real environment (POSIX clock, sleep, variables, host name), the fake
// one for tests, and the switch between them.
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "platform/system.h"
#include "platform/wait_hooks.h"
#include "util/cp850.h"

namespace kel {
namespace {

class PosixEnv : public Env {
 public:
  LocalTime Now() override {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    time_t secs = ts.tv_sec;
    struct tm local;
    ::localtime_r(&secs, &local);
    LocalTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec > 59 ? 59 : local.tm_sec;
    t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return t;
  }

  std::int64_t MonotonicMillis() override {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }

  void SleepMillis(std::int64_t ms) override {
    RunWaitHooks();  // never sleep on uncommitted work
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }

  double Random() override { return std::generate_canonical<double, 53>(rng_); }

  void SeedRandom(std::uint64_t seed) override { rng_.seed(seed); }

  std::string GetVariable(std::string_view name) override {
    const char* value = std::getenv(std::string(name).c_str());
    return value == nullptr ? std::string() : Utf8ToCp850(value);
  }

  std::uint64_t ProcessId() override { return static_cast<std::uint64_t>(::getpid()); }

  std::string ComputerName() override {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return "";
    std::string name = Utf8ToCp850(buf);
    // The classic call returns the NetBIOS name: the host's first label, in
    // capitals, at most 15 characters.
    if (auto dot = name.find('.'); dot != std::string::npos) name.resize(dot);
    for (char& c : name) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    if (name.size() > 15) name.resize(15);
    return name;
  }

 private:
  std::mt19937_64 rng_{std::random_device{}()};
};

Env*& CurrentEnvSlot() {
  static PosixEnv posix_env;
  static Env* current = &posix_env;
  return current;
}

}  // namespace

Env& CurrentEnv() { return *CurrentEnvSlot(); }

ScopedEnv::ScopedEnv(Env* env) : previous_(CurrentEnvSlot()) { CurrentEnvSlot() = env; }

ScopedEnv::~ScopedEnv() { CurrentEnvSlot() = previous_; }

// Howard Hinnant's civil-date algorithms (proleptic Gregorian).
std::int64_t DaysFromCivil(int year, int month, int day) {
  std::int64_t y = year - (month <= 2 ? 1 : 0);
  std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  std::int64_t yoe = y - era * 400;
  std::int64_t mp = (month + 9) % 12;
  std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
  std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int* year, int* month, int* day) {
  z += 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t y = yoe + era * 400;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(y + (*month <= 2 ? 1 : 0));
}

// ---------------------------------------------------------------------------

FakeEnv::FakeEnv() { SetNow(LocalTime{2024, 4, 5, 10, 0, 0, 0}); }

LocalTime FakeEnv::Now() {
  std::int64_t ms = now_ms_;
  std::int64_t days = base_days_ + ms / 86400000;
  std::int64_t in_day = ms % 86400000;
  LocalTime t;
  CivilFromDays(days, &t.year, &t.month, &t.day);
  t.hour = static_cast<int>(in_day / 3600000);
  t.minute = static_cast<int>(in_day / 60000 % 60);
  t.second = static_cast<int>(in_day / 1000 % 60);
  t.millisecond = static_cast<int>(in_day % 1000);
  return t;
}

void FakeEnv::SetNow(const LocalTime& t) {
  base_days_ = DaysFromCivil(t.year, t.month, t.day);
  now_ms_ = ((t.hour * 60LL + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

void FakeEnv::SleepMillis(std::int64_t ms) {
  RunWaitHooks();
  if (ms < 0) ms = 0;
  now_ms_ += ms;
  slept_ms_ += ms;
  ++sleeps_;
  if (on_sleep_ != nullptr) on_sleep_(on_sleep_context_);
}

double FakeEnv::Random() {
  if (queue_head_ != queue_tail_) {
    double r = queue_[queue_head_];
    queue_head_ = (queue_head_ + 1) % 64;
    return r;
  }
  // splitmix64: small, fast and good enough for pauses and identities.
  std::uint64_t z = (rng_state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) * (1.0 / 9007199254740992.0);
}

void FakeEnv::SeedRandom(std::uint64_t seed) { rng_state_ = seed * 0x2545F4914F6CDD1Dull + 1; }

void FakeEnv::QueueRandom(double r) {
  int next = (queue_tail_ + 1) % 64;
  if (next == queue_head_) return;  // full: ignore
  queue_[queue_tail_] = r;
  queue_tail_ = next;
}

std::string FakeEnv::GetVariable(std::string_view name) {
  auto it = variables_.find(std::string(name));
  return it == variables_.end() ? std::string() : it->second;
}

void FakeEnv::SetVariable(std::string_view name, std::string_view value) {
  if (value.empty()) {
    variables_.erase(std::string(name));
  } else {
    variables_[std::string(name)] = std::string(value);
  }
}

}  // namespace kel
