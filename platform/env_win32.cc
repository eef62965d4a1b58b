// The real environment on Windows: the local time, a monotonic clock,
// sleeping, random numbers, environment variables (through the OEM code
// page) and the computer name as GetComputerNameA gives it.
#include <random>
#include <string>

#include "platform/system.h"
#include "platform/wait_hooks.h"
#include "platform/win32_internal.h"

namespace kel {
namespace {

class Win32Env : public Env {
 public:
  LocalTime Now() override {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    LocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond > 59 ? 59 : st.wSecond;
    t.millisecond = st.wMilliseconds;
    return t;
  }

  std::int64_t MonotonicMillis() override { return static_cast<std::int64_t>(::GetTickCount64()); }

  void SleepMillis(std::int64_t ms) override {
    RunWaitHooks();  // never sleep on uncommitted work
    if (ms > 0) ::Sleep(static_cast<DWORD>(ms > 0x7FFFFFFF ? 0x7FFFFFFF : ms));
  }

  double Random() override { return std::generate_canonical<double, 53>(rng_); }

  void SeedRandom(std::uint64_t seed) override { rng_.seed(seed); }

  std::string GetVariable(std::string_view name) override {
    const std::wstring wide_name = WideFromSystem(name);
    DWORD n = ::GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (n == 0) return "";
    std::wstring value(n, L'\0');
    n = ::GetEnvironmentVariableW(wide_name.c_str(), value.data(), n);
    value.resize(n);
    std::string text;
    (void)SystemFromWide(value, &text);  // characters the code page lacks read "?"
    return text;
  }

  std::uint64_t ProcessId() override { return ::GetCurrentProcessId(); }

  std::string ComputerName() override {
    // The NetBIOS name, at most 15 characters, in the system's ANSI code
    // page exactly as the family's programs record it in the lock files.
    char buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD n = sizeof buf;
    if (::GetComputerNameA(buf, &n) == FALSE) return "";
    return std::string(buf, n);
  }

 private:
  std::mt19937_64 rng_{std::random_device{}()};
};

}  // namespace

Env& SystemEnv() {
  static Win32Env env;
  return env;
}

}  // namespace kel
