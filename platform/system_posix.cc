// POSIX implementation of the file and path parts of the system seam.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/system.h"
#include "util/cp850.h"

extern char** environ;

namespace kel {
namespace {

bool NativeExists(const std::string& native) {
  struct stat st;
  return ::lstat(native.c_str(), &st) == 0;
}

// Case-insensitive comparison of two UTF-8 names: ASCII letters fold, and so
// do the accented letters of code page 850 (through their cp850 form).
std::string FoldForCompare(const std::string& utf8_name) {
  std::string cp = Utf8ToCp850(utf8_name, '?');
  for (char& c : cp) c = static_cast<char>(Cp850ToUpper(static_cast<unsigned char>(c)));
  return cp;
}

// Finds an entry of `dir` whose name equals `name` without regard to case.
// Prefers an exact match; among several case variants takes the first in
// name order, so the choice is stable.
bool FindNoCase(const std::string& dir, const std::string& name, std::string* found) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return false;
  std::string want = FoldForCompare(name);
  std::string best;
  bool have = false;
  while (dirent* e = ::readdir(d)) {
    std::string entry = e->d_name;
    if (entry == "." || entry == "..") continue;
    if (entry == name) {
      best = entry;
      have = true;
      break;
    }
    if (FoldForCompare(entry) == want && (!have || entry < best)) {
      best = entry;
      have = true;
    }
  }
  ::closedir(d);
  if (have) *found = best;
  return have;
}

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

// The byte whose lock carries the share mode of an open.
constexpr off_t kShareLockOffset = 0x7FFFFFFF00000000LL;

int OpenFlags(FileAccess access) {
  switch (access) {
    case FileAccess::kRead:
      return O_RDONLY;
    case FileAccess::kReadWrite:
      return O_RDWR;
    case FileAccess::kReadWriteCreate:
      return O_RDWR | O_CREAT;
    case FileAccess::kWriteTruncate:
      return O_RDWR | O_CREAT | O_TRUNC;
    case FileAccess::kAppend:
      return O_RDWR | O_CREAT | O_APPEND;
  }
  return O_RDONLY;
}

FileResult ResultFromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return FileResult::kNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return FileResult::kDenied;
    case EAGAIN:
    case EBUSY:
    case ETXTBSY:
      return FileResult::kBusy;
    default:
      return FileResult::kIoError;
  }
}

}  // namespace

namespace {

// The path as written, in this machine's characters and separators, before
// any correction of letter case.
std::string LiteralPath(std::string_view system_path) {
  std::string path = Cp850ToUtf8(system_path);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  // A drive letter names the root of this machine's single tree.
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    path.erase(0, 2);
    if (path.empty() || path[0] != '/') path.insert(path.begin(), '/');
  }
  return path;
}

}  // namespace

std::string MapPath(std::string_view system_path) {
  std::string path = LiteralPath(system_path);
  if (path.empty() || NativeExists(path)) return path;

  // Resolve component by component, without regard to case.
  std::vector<std::string> parts;
  std::size_t start = 0;
  bool absolute = path[0] == '/';
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  std::string resolved = absolute ? "/" : "";
  bool still_existing = true;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part.empty()) continue;  // leading or doubled separators
    std::string name = part;
    if (still_existing && part != "." && part != "..") {
      std::string candidate = resolved + part;
      if (!NativeExists(candidate)) {
        std::string found;
        std::string dir = resolved.empty() ? "." : resolved;
        if (FindNoCase(dir, part, &found)) {
          name = found;
        } else {
          still_existing = false;
        }
      }
    }
    resolved += name;
    if (i + 1 < parts.size()) resolved += '/';
  }
  return resolved;
}

bool SystemPathOf(const std::string& native_path, std::string* system_path) {
  *system_path = Utf8ToCp850(native_path);
  return Cp850ToUtf8(*system_path) == native_path;
}

std::string FileIdentity(const std::string& native_path) {
  std::error_code ec;
  std::string identity = std::filesystem::canonical(native_path, ec).string();
  return ec ? native_path : identity;
}

std::string CurrentDirectory() {
  std::vector<char> buf(4096);
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE) return "";
    buf.resize(buf.size() * 2);
  }
  return buf.data();
}

bool ChangeDirectory(std::string_view system_path) {
  std::string native = MapPath(system_path);
  if (native.empty()) return false;
  return ::chdir(native.c_str()) == 0;
}

bool FileExists(std::string_view system_path) {
  std::string native = MapPath(system_path);
  struct stat st;
  return !native.empty() && ::stat(native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(std::string_view system_path) {
  std::string native = MapPath(system_path);
  if (native.empty()) native = ".";
  struct stat st;
  return ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(std::string_view system_path) {
  std::string native = MapPath(system_path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  if (native.empty()) return false;
  if (::mkdir(native.c_str(), 0777) == 0) return true;
  return errno == EEXIST && DirectoryExists(system_path);
}

bool DeleteFile(std::string_view system_path) {
  std::string native = MapPath(system_path);
  return !native.empty() && ::unlink(native.c_str()) == 0;
}

bool RenameFile(std::string_view from_system_path, std::string_view to_system_path) {
  std::string from = MapPath(from_system_path);
  std::string to = MapPath(to_system_path);
  return !from.empty() && !to.empty() && ::rename(from.c_str(), to.c_str()) == 0;
}

bool SyncDirectory(std::string_view system_path) {
  std::string native = MapPath(system_path);
  if (native.empty()) native = ".";
  int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// ---------------------------------------------------------------------------

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_), append_(other.append_) {
  other.handle_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    append_ = other.append_;
    other.handle_ = -1;
  }
  return *this;
}

void File::Close() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));  // releases the open-file-description lock with it
    handle_ = -1;
  }
}

std::int64_t File::Size() const {
  struct stat st;
  if (handle_ < 0 || ::fstat(Fd(handle_), &st) != 0) return -1;
  return st.st_size;
}

std::int64_t File::ReadAt(std::int64_t offset, void* data, std::size_t n) const {
  if (handle_ < 0) return -1;
  std::size_t done = 0;
  char* out = static_cast<char*>(data);
  while (done < n) {
    ssize_t r =
        ::pread(Fd(handle_), out + done, n - done, offset + static_cast<std::int64_t>(done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  return static_cast<std::int64_t>(done);
}

bool File::WriteAt(std::int64_t offset, const void* data, std::size_t n) {
  if (handle_ < 0) return false;
  int flags = ::fcntl(Fd(handle_), F_GETFL);
  if (flags >= 0 && (flags & O_APPEND)) {
    return Append(std::string_view(static_cast<const char*>(data), n));
  }
  std::size_t done = 0;
  const char* in = static_cast<const char*>(data);
  while (done < n) {
    ssize_t w =
        ::pwrite(Fd(handle_), in + done, n - done, offset + static_cast<std::int64_t>(done));
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(w);
  }
  return true;
}

bool File::Append(std::string_view bytes) {
  if (handle_ < 0) return false;
  int flags = ::fcntl(Fd(handle_), F_GETFL);
  bool append_mode = flags >= 0 && (flags & O_APPEND);
  if (!append_mode && ::lseek(Fd(handle_), 0, SEEK_END) < 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t w = ::write(Fd(handle_), bytes.data() + done, bytes.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(w);
  }
  return true;
}

bool File::Truncate(std::int64_t length) {
  return handle_ >= 0 && ::ftruncate(Fd(handle_), length) == 0;
}

bool File::Sync() { return handle_ >= 0 && ::fdatasync(Fd(handle_)) == 0; }

FileResult OpenFile(std::string_view system_path, FileAccess access, FileShare share, File* file) {
  file->Close();
  int flags = OpenFlags(access);
  short lock_type = share == FileShare::kNotShared ? F_WRLCK : F_RDLCK;
  // A write lock needs a descriptor open for writing: a not-shared read opens
  // for reading and writing, and falls back to a read lock on a read-only file.
  if (access == FileAccess::kRead && share == FileShare::kNotShared) flags = O_RDWR;
  // The path as written usually names the file (a line appended to a log
  // file opens it for every line): an open that creates nothing finds it
  // without the look for its letter case first. Anything else goes the
  // long way, which also creates what is missing.
  const std::string literal = LiteralPath(system_path);
  int fd = literal.empty() ? -1 : ::open(literal.c_str(), (flags & ~O_CREAT) | O_CLOEXEC);
  if (fd < 0) {
    std::string native = MapPath(system_path);
    if (native.empty()) return FileResult::kNotFound;
    fd = ::open(native.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EACCES && flags == O_RDWR && access == FileAccess::kRead) {
      fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
      lock_type = F_RDLCK;
    }
    if (fd < 0) return ResultFromErrno(errno);
  }
  // Only a read-only open can succeed on a folder.
  struct stat st;
  if ((flags & O_ACCMODE) == O_RDONLY && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return FileResult::kDenied;
  }
  // Sharing: an open-file-description lock on one byte far beyond any data,
  // taken without waiting (record locks use the ranges below it). Read locks (shared opens) coexist; a write lock (not shared)
  // excludes every other open, also another open of this same process.
  struct flock lock;
  std::memset(&lock, 0, sizeof lock);
  lock.l_type = lock_type;
  lock.l_whence = SEEK_SET;
  lock.l_start = kShareLockOffset;
  lock.l_len = 1;
  if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    int err = errno;
    ::close(fd);
    if (err == EAGAIN || err == EACCES) return FileResult::kBusy;
    return ResultFromErrno(err);
  }
  file->handle_ = fd;
  file->append_ = access == FileAccess::kAppend;
  return FileResult::kOk;
}

int RunCommandLine(std::string_view command_line) {
  std::vector<std::string> words = SplitCommandLine(command_line);
  if (words.empty() || words[0].empty()) return -1;
  std::vector<std::string> args;
  const bool is_path = words[0].find_first_of("\\/") != std::string::npos;
  args.push_back(is_path ? MapPath(words[0]) : Cp850ToUtf8(words[0]));
  for (std::size_t i = 1; i < words.size(); ++i) args.push_back(Cp850ToUtf8(words[i]));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  for (int fd = 0; fd <= 2; ++fd) {
    (void)posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                           0);
  }
  pid_t pid = -1;
  const int spawned = is_path
                          ? posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ)
                          : posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  for (;;) {
    if (waitpid(pid, &status, 0) == pid) break;
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kel
