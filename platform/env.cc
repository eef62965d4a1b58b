// The fake environment of tests, the switch between it and the real one
// (env_posix.cc, env_win32.cc), and the civil-date arithmetic.

#include "platform/system.h"
#include "platform/wait_hooks.h"

namespace kel {
namespace {

Env*& CurrentEnvSlot() {
  static Env* current = &SystemEnv();
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
