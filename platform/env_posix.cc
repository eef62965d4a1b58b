// The real environment on POSIX: clock, sleep, random numbers, variables,
// the host name.
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

}  // namespace

Env& SystemEnv() {
  static PosixEnv env;
  return env;
}

}  // namespace kel
