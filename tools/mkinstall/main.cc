// mkinstall: writes a complete sample KEL installation.
//
//   mkinstall DIR [--records N] [--seed S] [--force]
//
// On success it prints, on standard output, the environment that points the
// program at the new installation (so `eval "$(mkinstall DIR)"` sets it) and
// a summary on standard error. Exit codes: 0 written, 1 wrong arguments,
// 2 refused (DIR holds something else; nothing written), 3 failed midway.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "tools/mkinstall/installer.h"

namespace {

constexpr int kExitUsage = 1;
constexpr std::int64_t kMaxRecords = 1000000;

constexpr char kUsage[] =
    "usage: mkinstall DIR [--records N] [--seed S] [--force]\n"
    "  Writes a sample KEL installation into DIR (created when missing; it must be\n"
    "  empty, or hold an installation that mkinstall wrote when --force is given).\n"
    "  --records N  every data file holds N records (1 to 1000000): the real rows,\n"
    "               then copies under new keys, for benchmarks\n"
    "  --seed S     chooses the copies and their keys (default 1)\n"
    "  --force      overwrite an installation that mkinstall wrote earlier\n"
    "Exit codes: 0 written, 1 wrong arguments, 2 refused, 3 failed midway.\n";

template <typename T>
bool ParseNumber(std::string_view text, T* value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

int Usage(const std::string& problem) {
  std::fprintf(stderr, "mkinstall: %s\n%s", problem.c_str(), kUsage);
  return kExitUsage;
}

// A value for the shell, in single quotes.
std::string ShellQuoted(const std::string& value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

}  // namespace

int main(int argc, char** argv) {
  kel::InstallOptions options;
  bool have_directory = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string_view value;
    bool takes_value = arg == "--records" || arg == "--seed";
    if (arg.starts_with("--records=") || arg.starts_with("--seed=")) {
      value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
    } else if (takes_value) {
      if (i + 1 >= argc) return Usage(std::string(arg) + " needs a value");
      value = argv[++i];
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--records") {
      if (!ParseNumber(value, &options.records) || options.records < 1 ||
          options.records > kMaxRecords) {
        return Usage("--records takes a number from 1 to 1000000, not \"" + std::string(value) +
                     "\"");
      }
    } else if (arg == "--seed") {
      if (!ParseNumber(value, &options.seed)) {
        return Usage("--seed takes a non-negative number, not \"" + std::string(value) + "\"");
      }
    } else if (arg == "--force") {
      options.force = true;
    } else if (arg.starts_with("-") && arg.size() > 1) {
      return Usage("unknown option " + std::string(arg));
    } else if (have_directory) {
      return Usage("one directory only");
    } else {
      options.directory = std::string(arg);
      have_directory = true;
    }
  }
  if (!have_directory) return Usage("no directory given");

  kel::InstallReport report;
  std::string error;
  kel::InstallStatus status = kel::WriteInstallation(options, &report, &error);
  if (status != kel::InstallStatus::kOk) {
    std::fprintf(stderr, "mkinstall: %s\n", error.c_str());
    if (status == kel::InstallStatus::kFailed) {
      std::fprintf(stderr,
                   "mkinstall: the installation in %s is incomplete; "
                   "run again with --force to replace it\n",
                   options.directory.c_str());
    }
    return static_cast<int>(status);
  }
  // The program appends file names to KELROOT as they are, hence the final
  // separator; KELTMP gets its separator from the program.
  std::printf("export KELROOT=%s\n", ShellQuoted(report.root).c_str());
  std::printf("export KELTMP=%s\n", ShellQuoted(report.terminal_dir).c_str());
  std::fprintf(stderr, "mkinstall: wrote %s: %d data files, %lld records\n", report.root.c_str(),
               report.data_files, static_cast<long long>(report.records));
  return 0;
}
