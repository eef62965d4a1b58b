#include "platform/console_clipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/console_text.h"
#include "platform/system.h"

extern char** environ;

namespace kel {
namespace {

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::string dirs = path;
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty()) dir = ".";
    if (::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

bool NonEmptyVariable(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && v[0] != '\0';
}

// Starts `argv` with its standard input and output on the given descriptors
// (-1: /dev/null) and standard error on /dev/null, so that a tool's
// complaints never land on the screen.
pid_t Spawn(const std::string (&args)[4], int in_fd, int out_fd) {
  std::vector<char*> argv;
  for (const std::string& a : args) {
    if (a.empty()) break;
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, in_fd, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  if (out_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits for the tool to end, at most until `deadline` (monotonic
// milliseconds); a tool still running then (one that hangs on an
// unreachable display, say) is killed. true when it ended by itself with
// status 0.
bool Reap(pid_t pid, std::int64_t deadline) {
  int status = 0;
  for (;;) {
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (r < 0 && errno != EINTR) return false;
    if (r == 0 && CurrentEnv().MonotonicMillis() >= deadline) break;
    if (r == 0) {
      // Short pauses: a tool normally ends within a few milliseconds.
      struct timespec pause = {0, 2 * 1000 * 1000};
      ::nanosleep(&pause, nullptr);
    }
  }
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return false;
}

}  // namespace

ClipboardTools FindClipboardTools() {
  ClipboardTools t;
  if (NonEmptyVariable("WAYLAND_DISPLAY") && OnPath("wl-copy") && OnPath("wl-paste")) {
    t.copy[0] = "wl-copy";
    t.paste[0] = "wl-paste";
    t.paste[1] = "--no-newline";
  } else if (NonEmptyVariable("DISPLAY") && OnPath("xclip")) {
    t.copy[0] = t.paste[0] = "xclip";
    t.copy[1] = t.paste[1] = "-selection";
    t.copy[2] = t.paste[2] = "clipboard";
    t.copy[3] = "-in";
    t.paste[3] = "-out";
  } else if (NonEmptyVariable("DISPLAY") && OnPath("xsel")) {
    t.copy[0] = t.paste[0] = "xsel";
    t.copy[1] = t.paste[1] = "--clipboard";
    t.copy[2] = "--input";
    t.paste[2] = "--output";
  }
  return t;
}

bool ExternalClipboardWrite(const ClipboardTools& tools, std::string_view utf8, int limit_ms) {
  if (!tools.available()) return false;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  pid_t pid = Spawn(tools.copy, fds[0], -1);
  ::close(fds[0]);
  if (pid < 0) {
    ::close(fds[1]);
    return false;
  }
  const std::int64_t deadline = CurrentEnv().MonotonicMillis() + limit_ms;
  // The program ignores SIGPIPE only in plain mode; a tool that dies early
  // must not take the program with it. A tool that does not read must not
  // hold the program either: the pipe is written without blocking, within
  // the time limit.
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previous);
  ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
  std::size_t done = 0;
  bool ok = true;
  while (done < utf8.size()) {
    ssize_t n = ::write(fds[1], utf8.data() + done, utf8.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    const std::int64_t left = deadline - CurrentEnv().MonotonicMillis();
    if (n < 0 && errno == EAGAIN && left > 0) {
      struct pollfd p = {fds[1], POLLOUT, 0};
      (void)::poll(&p, 1, static_cast<int>(left));
      continue;
    }
    ok = false;
    break;
  }
  ::close(fds[1]);
  ::sigaction(SIGPIPE, &previous, nullptr);
  return Reap(pid, deadline) && ok;
}

bool ExternalClipboardRead(const ClipboardTools& tools, std::string* utf8, int limit_ms) {
  if (!tools.available()) return false;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  pid_t pid = Spawn(tools.paste, -1, fds[1]);
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return false;
  }
  constexpr std::size_t kLimit = 1 << 20;
  std::string out;
  std::int64_t deadline = CurrentEnv().MonotonicMillis() + limit_ms;
  bool timed_out = false;
  for (;;) {
    std::int64_t left = deadline - CurrentEnv().MonotonicMillis();
    if (left <= 0) {
      timed_out = true;
      break;
    }
    struct pollfd p = {fds[0], POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      timed_out = r == 0;
      break;
    }
    char buf[4096];
    ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
    if (out.size() > kLimit) {
      timed_out = true;
      break;
    }
  }
  ::close(fds[0]);
  // A tool that closed its output but goes on running is not waited for
  // beyond the same limit.
  bool ok = Reap(pid, timed_out ? 0 : deadline) && !timed_out;
  if (ok) *utf8 = std::move(out);
  return ok;
}

std::string Osc52Sequence(std::string_view utf8) { return "\x1b]52;c;" + Base64(utf8) + "\x07"; }

}  // namespace kel
