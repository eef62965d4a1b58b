#include "bench/bench_server.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/system.h"

#ifndef KEL_PG_SERVER_SCRIPT
#define KEL_PG_SERVER_SCRIPT "tests/pg/pg_server.sh"
#endif

namespace kel {
namespace {

// The script, with the settings a real installation's server has (the
// tests run theirs without).
std::string Script(const std::string& action, const std::string& dir) {
  return "env \"KEL_PG_OPTIONS=-c fsync=on -c full_page_writes=on\" bash \"" +
         std::string(KEL_PG_SERVER_SCRIPT) + "\" " + action + " \"" + dir + "\"";
}

}  // namespace

BenchServer::~BenchServer() {
  if (private_dir_.empty()) return;
  (void)RunCommandLine(Script("stop", private_dir_));
}

bool BenchServer::Parse(int argc, char** argv, int* i) {
  if (std::strcmp(argv[*i], "--server") != 0) return false;
  wanted_ = true;
  if (*i + 1 < argc && std::strncmp(argv[*i + 1], "--", 2) != 0) {
    given_ = true;
    conninfo_ = argv[++*i];
  }
  return true;
}

int BenchServer::Start() {
  if (given_) {
    if (conninfo_.empty()) {
      std::printf("no PostgreSQL server given: skipped\n");
      return 77;
    }
    return 0;
  }
  // A short folder of its own: the socket's path must stay short.
  std::random_device rd;
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  char name[64];
  std::snprintf(name, sizeof name, "/tmp/kelpgb-%08x",
                static_cast<unsigned>(rd() ^ static_cast<unsigned>(stamp)));
  const std::string dir = name;
  const int rc = RunCommandLine(Script("start", dir));
  if (rc != 0) {
    if (rc == 77) {
      std::fprintf(stderr, "PostgreSQL's server programs are not installed: skipped\n");
      return 77;
    }
    // Left for a look at its logs (initdb.log, server.log).
    std::fprintf(stderr, "the private PostgreSQL server in %s did not start\n", dir.c_str());
    return 2;
  }
  private_dir_ = dir;  // stopped and removed by the destructor
  conninfo_ = "host=" + dir + " port=5432 dbname=postgres user=kel";
  return 0;
}

std::string BenchServer::Description() const {
  if (private_dir_.empty()) return conninfo_;
  return "a private server (" + conninfo_ + ", fsync and full_page_writes on)";
}

}  // namespace kel
