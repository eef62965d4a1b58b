// A preloaded library for end-to-end tests: a disk that is full for one
// file. Every write to a file whose name ends in the text of
// KEL_TEST_FULL_FILE (for example "UPaisos.dat-wal") fails with ENOSPC;
// every other write goes through. Without the variable it does nothing.
//
//   LD_PRELOAD=libfail_wal_shim.so KEL_TEST_FULL_FILE=UPaisos.dat-wal tavireno /AUTO
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

bool IsFull(int fd) {
  const char* suffix = getenv("KEL_TEST_FULL_FILE");
  if (suffix == nullptr || *suffix == '\0') return false;
  char link[64];
  char name[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, name, sizeof name - 1);
  if (n <= 0) return false;
  name[n] = '\0';
  const size_t length = strlen(suffix);
  return static_cast<size_t>(n) >= length && strcmp(name + n - length, suffix) == 0;
}

template <typename F>
F Next(const char* symbol) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, symbol));
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t n) {
  static auto next = Next<ssize_t (*)(int, const void*, size_t)>("write");
  if (IsFull(fd)) {
    errno = ENOSPC;
    return -1;
  }
  return next(fd, data, n);
}

ssize_t pwrite(int fd, const void* data, size_t n, off_t offset) {
  static auto next = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  if (IsFull(fd)) {
    errno = ENOSPC;
    return -1;
  }
  return next(fd, data, n, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t n, off64_t offset) {
  static auto next = Next<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64");
  if (IsFull(fd)) {
    errno = ENOSPC;
    return -1;
  }
  return next(fd, data, n, offset);
}

ssize_t writev(int fd, const struct iovec* iov, int count) {
  static auto next = Next<ssize_t (*)(int, const struct iovec*, int)>("writev");
  if (IsFull(fd)) {
    errno = ENOSPC;
    return -1;
  }
  return next(fd, iov, count);
}

}  // extern "C"
