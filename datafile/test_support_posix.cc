// The second process of the datafile tests (Peer): a fork talking through
// two pipes. POSIX only; the tests that use it are left out of the Windows
// build.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "datafile/test_support.h"

namespace kel::testing {

Peer::Peer(std::function<void(Peer&)> body) {
  int to[2], from[2];
  if (::pipe(to) != 0 || ::pipe(from) != 0) return;
  pid_ = ::fork();
  if (pid_ < 0) return;
  const bool child = pid_ == 0;
  ::close(child ? to[1] : to[0]);
  ::close(child ? from[0] : from[1]);
  in_ = child ? to[0] : from[0];
  out_ = child ? from[1] : to[1];
  if (child) {
    body(*this);
    ::_exit(0);
  }
}

Peer::~Peer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status;
    ::waitpid(pid_, &status, 0);
  }
  ::close(out_);
  ::close(in_);
}

void Peer::Send(const std::string& line) {
  const std::string l = line + "\n";
  (void)!::write(out_, l.data(), l.size());
}

std::string Peer::Receive() {
  std::string line;
  char c;
  while (::read(in_, &c, 1) == 1 && c != '\n') line.push_back(c);
  return line;
}

}  // namespace kel::testing
