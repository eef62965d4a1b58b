// The PostgreSQL server a benchmark runs against: the one named on the
// command line, or one of its own, started in a fresh folder the way the
// tests start theirs (tests/pg/pg_server.sh), but with the settings of a
// real installation (fsync and full_page_writes on), and stopped and
// removed when the benchmark ends.
#ifndef KEL_BENCH_BENCH_SERVER_H_
#define KEL_BENCH_BENCH_SERVER_H_

#include <string>

namespace kel {

class BenchServer {
 public:
  BenchServer() = default;
  ~BenchServer();
  BenchServer(const BenchServer&) = delete;
  BenchServer& operator=(const BenchServer&) = delete;

  // Reads "--server [CONNINFO]" at argv[*i] (advancing *i past a
  // connection string when one follows; one that starts with "--" is the
  // next option). Returns false when argv[*i] is not --server.
  bool Parse(int argc, char** argv, int* i);
  bool wanted() const { return wanted_; }
  // Starts the private server when none was named. 0 when the server is
  // ready; 77 when none can run here (no PostgreSQL, or an empty
  // connection string given: the tests' way of saying "no server"); 2 on a
  // failure. Prints why on standard error.
  int Start();
  const std::string& conninfo() const { return conninfo_; }
  // Says which server, for the report's first lines.
  std::string Description() const;

 private:
  bool wanted_ = false;
  bool given_ = false;
  std::string conninfo_;
  std::string private_dir_;  // non-empty while a private server runs
};

}  // namespace kel

#endif  // KEL_BENCH_BENCH_SERVER_H_
