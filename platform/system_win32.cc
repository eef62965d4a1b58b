// Windows implementation of the file, path and process parts of the system
// seam. Files go through the wide-character API, with the program's code
// page 850 names converted through the OEM code page; the share modes are
// the system's own, so a "not shared" open meets a sharing violation from
// any program.
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/win32_internal.h"

namespace kel {

// ---------------------------------------------------------------------------
// Text conversions

std::wstring WideFromSystem(std::string_view system_text) {
  if (system_text.empty()) return std::wstring();
  const int n = ::MultiByteToWideChar(CP_OEMCP, 0, system_text.data(),
                                      static_cast<int>(system_text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    ::MultiByteToWideChar(CP_OEMCP, 0, system_text.data(), static_cast<int>(system_text.size()),
                          wide.data(), n);
  }
  return wide;
}

bool SystemFromWide(std::wstring_view wide, std::string* system_text) {
  system_text->clear();
  if (wide.empty()) return true;
  BOOL lossy = FALSE;
  const int n = ::WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                      static_cast<int>(wide.size()), nullptr, 0, "?", &lossy);
  if (n <= 0) return false;
  system_text->resize(static_cast<std::size_t>(n));
  lossy = FALSE;
  ::WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        system_text->data(), n, "?", &lossy);
  return lossy == FALSE;
}

std::wstring WideFromUtf8(std::string_view utf8) {
  if (utf8.empty()) return std::wstring();
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  }
  return wide;
}

std::string Utf8FromWide(std::wstring_view wide) {
  if (wide.empty()) return std::string();
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                          nullptr, nullptr);
  }
  return utf8;
}

namespace {

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// A system path as the wide-character API takes it. "\" and "/" both
// separate; drive letters, UNC names and letter case are the system's
// business.
std::wstring WidePath(std::string_view system_path) { return WideFromSystem(system_path); }

DWORD Attributes(std::string_view system_path) {
  const std::wstring path = WidePath(system_path.empty() ? std::string_view(".") : system_path);
  return ::GetFileAttributesW(path.c_str());
}

FileResult ResultFromError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY:
      return FileResult::kNotFound;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return FileResult::kBusy;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_CANNOT_MAKE:
      return FileResult::kDenied;
    default:
      return FileResult::kIoError;
  }
}

OVERLAPPED At(std::int64_t offset) {
  OVERLAPPED o = {};
  o.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  o.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return o;
}

// The most one ReadFile or WriteFile call moves.
constexpr std::size_t kChunk = 1u << 30;

// The byte whose lock makes an append one step (File::Append).
constexpr std::int64_t kAppendLockOffset = 0x7FFFFFFF00000000LL;

}  // namespace

// ---------------------------------------------------------------------------
// Paths and directories

std::string MapPath(std::string_view system_path) { return Utf8FromWide(WidePath(system_path)); }

bool SystemPathOf(const std::string& native_path, std::string* system_path) {
  return SystemFromWide(WideFromUtf8(native_path), system_path);
}

std::string FileIdentity(const std::string& native_path) {
  const std::wstring wide = WideFromUtf8(native_path);
  std::wstring path;
  HANDLE h = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    const DWORD n = ::GetFinalPathNameByHandleW(h, nullptr, 0, FILE_NAME_NORMALIZED);
    if (n > 0) {
      path.assign(n, L'\0');
      const DWORD got = ::GetFinalPathNameByHandleW(h, path.data(), n, FILE_NAME_NORMALIZED);
      path.resize(got < n ? got : 0);
    }
    ::CloseHandle(h);
  }
  if (path.empty()) return native_path;
  ::CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
  return Utf8FromWide(path);
}

std::string CurrentDirectory() {
  const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return "";
  std::wstring dir(n, L'\0');
  const DWORD got = ::GetCurrentDirectoryW(n, dir.data());
  if (got == 0 || got >= n) return "";
  dir.resize(got);
  return Utf8FromWide(dir);
}

bool ChangeDirectory(std::string_view system_path) {
  if (system_path.empty()) return false;
  return ::SetCurrentDirectoryW(WidePath(system_path).c_str()) != FALSE;
}

bool FileExists(std::string_view system_path) {
  if (system_path.empty()) return false;
  const DWORD a = Attributes(system_path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(std::string_view system_path) {
  const DWORD a = Attributes(system_path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeDirectory(std::string_view system_path) {
  std::string path(system_path);
  // A trailing separator is dropped, but not the one of a drive's root.
  while (path.size() > 1 && (path.back() == '\\' || path.back() == '/') &&
         path[path.size() - 2] != ':') {
    path.pop_back();
  }
  if (path.empty()) return false;
  if (::CreateDirectoryW(WidePath(path).c_str(), nullptr) != FALSE) return true;
  return ::GetLastError() == ERROR_ALREADY_EXISTS && DirectoryExists(path);
}

bool DeleteFile(std::string_view system_path) {
  return !system_path.empty() && ::DeleteFileW(WidePath(system_path).c_str()) != FALSE;
}

bool RenameFile(std::string_view from_system_path, std::string_view to_system_path) {
  if (from_system_path.empty() || to_system_path.empty()) return false;
  // Replaces the destination, and returns only when the move is on disk.
  return ::MoveFileExW(WidePath(from_system_path).c_str(), WidePath(to_system_path).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool SyncDirectory(std::string_view system_path) {
  // Windows keeps a folder's entries in the file system's own journal and
  // has no call to flush them; a rename already waited for its write
  // (MOVEFILE_WRITE_THROUGH). The folder must exist, though.
  return DirectoryExists(system_path);
}

// ---------------------------------------------------------------------------
// Files

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
  if (handle_ != -1) {
    ForgetFileLocks(handle_);
    ::CloseHandle(AsHandle(handle_));  // the system drops the handle's locks with it
    handle_ = -1;
  }
}

std::int64_t File::Size() const {
  LARGE_INTEGER size;
  if (handle_ == -1 || ::GetFileSizeEx(AsHandle(handle_), &size) == FALSE) return -1;
  return size.QuadPart;
}

std::int64_t File::ReadAt(std::int64_t offset, void* data, std::size_t n) const {
  if (handle_ == -1) return -1;
  std::size_t done = 0;
  char* out = static_cast<char*>(data);
  while (done < n) {
    const DWORD want = static_cast<DWORD>(n - done < kChunk ? n - done : kChunk);
    OVERLAPPED at = At(offset + static_cast<std::int64_t>(done));
    DWORD got = 0;
    if (::ReadFile(AsHandle(handle_), out + done, want, &got, &at) == FALSE) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<std::int64_t>(done);
}

bool File::WriteAt(std::int64_t offset, const void* data, std::size_t n) {
  if (handle_ == -1) return false;
  if (append_) return Append(std::string_view(static_cast<const char*>(data), n));
  std::size_t done = 0;
  const char* in = static_cast<const char*>(data);
  while (done < n) {
    const DWORD want = static_cast<DWORD>(n - done < kChunk ? n - done : kChunk);
    OVERLAPPED at = At(offset + static_cast<std::int64_t>(done));
    DWORD put = 0;
    if (::WriteFile(AsHandle(handle_), in + done, want, &put, &at) == FALSE || put == 0) {
      return false;
    }
    done += put;
  }
  return true;
}

bool File::Append(std::string_view bytes) {
  if (handle_ == -1) return false;
  // Appends of several processes to one file (the operation log) must
  // never land on each other. A handle opened for appending has append
  // access but no write access, so the system puts each write at the end;
  // the exclusive lock of one byte far beyond any data makes finding the
  // end and writing one step also where that is not atomic (a network
  // share; wine, which finds the end first and writes after).
  OVERLAPPED lock_at = At(kAppendLockOffset);
  const bool locked = append_ && ::LockFileEx(AsHandle(handle_), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0,
                                              &lock_at) != FALSE;
  const bool ok = AppendAtEnd(bytes);
  if (locked) {
    lock_at = At(kAppendLockOffset);
    ::UnlockFileEx(AsHandle(handle_), 0, 1, 0, &lock_at);
  }
  return ok;
}

bool File::AppendAtEnd(std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t left = bytes.size() - done;
    const DWORD want = static_cast<DWORD>(left < kChunk ? left : kChunk);
    // A handle opened for appending writes at the end by itself; any other
    // is told to (offset 0xFFFFFFFF:0xFFFFFFFF).
    OVERLAPPED at = {};
    at.Offset = 0xFFFFFFFFu;
    at.OffsetHigh = 0xFFFFFFFFu;
    DWORD put = 0;
    if (::WriteFile(AsHandle(handle_), bytes.data() + done, want, &put, append_ ? nullptr : &at) ==
            FALSE ||
        put == 0) {
      return false;
    }
    done += put;
  }
  return true;
}

bool File::Truncate(std::int64_t length) {
  if (handle_ == -1 || length < 0) return false;
  FILE_END_OF_FILE_INFO info = {};
  info.EndOfFile.QuadPart = length;
  return ::SetFileInformationByHandle(AsHandle(handle_), FileEndOfFileInfo, &info, sizeof info) !=
         FALSE;
}

bool File::Sync() { return handle_ != -1 && ::FlushFileBuffers(AsHandle(handle_)) != FALSE; }

FileResult OpenFile(std::string_view system_path, FileAccess access, FileShare share, File* file) {
  file->Close();
  if (system_path.empty()) return FileResult::kNotFound;
  DWORD desired = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  switch (access) {
    case FileAccess::kRead:
      desired = GENERIC_READ;
      break;
    case FileAccess::kReadWrite:
      break;
    case FileAccess::kReadWriteCreate:
      disposition = OPEN_ALWAYS;
      break;
    case FileAccess::kWriteTruncate:
      disposition = CREATE_ALWAYS;
      break;
    case FileAccess::kAppend:
      // Append access without write access: the system puts every write at
      // the end of the file in one step, so lines that several programs
      // append at once (the operation log) are never written over.
      desired = GENERIC_READ | FILE_APPEND_DATA;
      disposition = OPEN_ALWAYS;
      break;
  }
  // Shared opens let others read and write, as the family's programs open
  // their files; nobody may delete or rename a file while it is open (a
  // configuration rewrite retries its delete until it succeeds).
  const DWORD share_mode = share == FileShare::kShared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
  HANDLE h = ::CreateFileW(WidePath(system_path).c_str(), desired, share_mode, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // A folder opens as "access denied"; so does a file being deleted.
    return ResultFromError(error);
  }
  file->handle_ = reinterpret_cast<std::intptr_t>(h);
  file->append_ = access == FileAccess::kAppend;
  return FileResult::kOk;
}

// ---------------------------------------------------------------------------
// Processes

int RunCommandLine(std::string_view command_line) {
  const std::vector<std::string> words = SplitCommandLine(command_line);
  if (words.empty() || words[0].empty()) return -1;
  // The line goes to the system as it is: the program named by its first
  // word reads the rest itself (the command interpreter of COMSPEC its
  // "/C ..."). The program gets a console of its own that is never shown,
  // and the null device for its standard handles, so nothing it writes
  // lands on this program's screen.
  SECURITY_ATTRIBUTES inherit = {};
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  HANDLE null_in = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 OPEN_EXISTING, 0, nullptr);
  HANDLE null_out = ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_in;
  startup.hStdOutput = null_out;
  startup.hStdError = null_out;
  PROCESS_INFORMATION process = {};
  std::wstring line = WideFromSystem(command_line);
  const BOOL started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  if (null_in != INVALID_HANDLE_VALUE) ::CloseHandle(null_in);
  if (null_out != INVALID_HANDLE_VALUE) ::CloseHandle(null_out);
  if (started == FALSE) return -1;
  ::CloseHandle(process.hThread);
  int code = -1;
  if (::WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0) {
    DWORD exit_code = 0;
    if (::GetExitCodeProcess(process.hProcess, &exit_code) != FALSE) {
      code = static_cast<int>(exit_code);
    }
  }
  ::CloseHandle(process.hProcess);
  return code;
}

}  // namespace kel
