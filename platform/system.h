// The operating-system seam: everything the program asks of the system that is
// not the console or the record manager. Files, directories, paths, the
// environment, the clock, sleeping and random numbers.
//
// Paths given to this layer are the system's own texts: code page 850 bytes,
// "\" as separator, Windows letter case, perhaps a drive letter. `MapPath`
// turns them into native paths; every function here that takes a path maps it
// first, so callers never see native paths.
//
// Clock, sleep, random numbers, the environment and the computer name go
// through `Env`, so that tests can run 30-minute lock ages and 10-second
// pauses on a fake clock in no time (see `FakeEnv`).
#ifndef KEL_PLATFORM_SYSTEM_H_
#define KEL_PLATFORM_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kel {

// ---------------------------------------------------------------------------
// Paths

// Maps a system path to a native one (UTF-8, as SQLite and the C++ library
// take file names).
// On Windows the path stays as it is: converted through the system's OEM code
// page, drive letter and "\" kept, no search for letter case (the file
// system ignores it). On POSIX:
// - the text is converted from code page 850 to UTF-8;
// - "\" becomes "/";
// - a leading drive letter ("C:") is dropped, so "C:\DATA\X" names "/DATA/X";
// - where the path does not exist as written, each component is resolved
//   without regard to letter case against the directory that holds it, so an
//   installation copied from Windows works unchanged. Components that do not
//   exist at all keep the case they were given (new files get the asked name).
// An empty path maps to "" (callers treat that as the current directory).
std::string MapPath(std::string_view system_path);

// The system spelling (code page 850 text) of a native path that MapPath
// gave, for the layers that hold native paths and open files through this
// one. false when the code page cannot spell the name exactly (another
// file would be reached).
bool SystemPathOf(const std::string& native_path, std::string* system_path);

// A text that names the file itself, whatever spelling of its path is
// given: two native paths of one file give the same text. POSIX: the
// canonical path (links and "." resolved). Windows: the final path the
// system gives for the open file, in capitals (the file system ignores
// letter case). The path itself when the file cannot be asked (it does not
// exist yet).
std::string FileIdentity(const std::string& native_path);

// The native path of the current directory, and changing it. false on failure.
std::string CurrentDirectory();
bool ChangeDirectory(std::string_view system_path);

bool FileExists(std::string_view system_path);
bool DirectoryExists(std::string_view system_path);
// Creates one directory level. true when it exists afterwards.
bool MakeDirectory(std::string_view system_path);
bool DeleteFile(std::string_view system_path);
// Renames (replacing the destination atomically when it exists).
bool RenameFile(std::string_view from_system_path, std::string_view to_system_path);
// Flushes a directory's entries to disk (after a rename). false on failure.
bool SyncDirectory(std::string_view system_path);

// ---------------------------------------------------------------------------
// Files

enum class FileAccess {
  kRead,             // the file must exist
  kReadWrite,        // the file must exist
  kReadWriteCreate,  // created empty when missing, kept otherwise
  kWriteTruncate,    // created or emptied (opened for reading too)
  kAppend,           // created when missing; every write goes to the end
};

enum class FileShare {
  kShared,     // others may open it too, except "not shared"
  kNotShared,  // nobody else may have it open: a second opener gets kBusy
};

enum class FileResult : std::int16_t {
  kOk = 0,
  kNotFound = 1,  // the file, or a directory on its path, does not exist
  kBusy = 2,      // another opener holds it (sharing violation)
  kDenied = 3,    // permissions, or a directory where a file was expected
  kIoError = 4,
};

// An open file. Move-only; closing happens on destruction or with Close().
// Sharing: on Windows the share mode is the system's own (FILE_SHARE_READ |
// FILE_SHARE_WRITE for a shared open, none for a not-shared one), so any
// program's open meets it. POSIX has no share modes: they are emulated with
// open-file-description locks taken without waiting on one byte at offset
// 2^63 - 2^32 (far beyond any data, so byte-range locks below it stay free
// for other uses): a shared open holds a read lock there, a not-shared open
// a write lock, so a not-shared open excludes every other open and is
// excluded by them, between processes and within one (of programs that
// open their files through this layer).
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool IsOpen() const { return handle_ != -1; }
  // Current length in bytes; -1 on failure.
  std::int64_t Size() const;
  // Reads up to `n` bytes at `offset`; returns the count read (0 at the end),
  // -1 on failure. Short reads happen only at the end of the file.
  std::int64_t ReadAt(std::int64_t offset, void* data, std::size_t n) const;
  // Writes all `n` bytes at `offset` (ignored in append mode, which writes at
  // the end). false on failure (disk full, I/O error).
  bool WriteAt(std::int64_t offset, const void* data, std::size_t n);
  // Writes at the end of the file.
  bool Append(std::string_view bytes);
  bool Truncate(std::int64_t length);
  // Forces the file's data to disk.
  bool Sync();
  void Close();

  // The system's handle (a descriptor on POSIX, a HANDLE on Windows), for
  // the byte-range locks of file_lock.h only.
  std::intptr_t NativeHandle() const { return handle_; }

 private:
  friend FileResult OpenFile(std::string_view, FileAccess, FileShare, File*);
  // Windows: the write of Append, at the end of the file.
  bool AppendAtEnd(std::string_view bytes);
  std::intptr_t handle_ = -1;  // -1: closed
  bool append_ = false;        // opened with kAppend
};

// Opens `system_path`. On kOk `*file` is open; otherwise it is closed.
[[nodiscard]] FileResult OpenFile(std::string_view system_path, FileAccess access, FileShare share,
                                  File* file);

// Reads a whole file into `*bytes`. false when it cannot be opened or read.
bool ReadWholeFile(std::string_view system_path, std::string* bytes);

// ---------------------------------------------------------------------------
// Processes

// The words of a command line as the system splits it: separated by blanks
// (and tabs); a double-quoted part of a word may hold blanks (the quotes
// are dropped). No other character is special.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

// Runs the program named by the first word of `command_line` (code page
// 850) with the other words as its arguments, and waits for it to end. A
// first word holding "\" or "/" is a path (mapped as MapPath does);
// otherwise the program is looked for on the search path. No command
// interpreter reads the line, so no character of it can start anything
// else. The program gets no terminal: its standard input, output and error
// are the null device, so it cannot write over the screen (it runs as if in
// a window of its own). Returns its exit code; -1 when there is no program
// word, it could not be started, or it was ended by a signal.
int RunCommandLine(std::string_view command_line);

// ---------------------------------------------------------------------------
// Clock, sleep, random numbers, environment, computer name

struct LocalTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;  // 0..999
  // Seconds since midnight, with the milliseconds as a fraction.
  double SecondsSinceMidnight() const {
    return hour * 3600.0 + minute * 60.0 + second + millisecond / 1000.0;
  }
};

class Env {
 public:
  virtual ~Env() = default;
  virtual LocalTime Now() = 0;
  // A clock that only moves forward, in milliseconds; for timeouts.
  virtual std::int64_t MonotonicMillis() = 0;
  virtual void SleepMillis(std::int64_t ms) = 0;
  // The process's random generator: uniform in [0, 1). SeedRandom restarts
  // the sequence (the classic "Randomize" of the family's code).
  virtual double Random() = 0;
  virtual void SeedRandom(std::uint64_t seed) = 0;
  // An environment variable's value in code page 850; "" when unset.
  virtual std::string GetVariable(std::string_view name) = 0;
  // The computer name, at most 16 characters; "" when unknown.
  virtual std::string ComputerName() = 0;
  // A number that tells this process from the others running now (the
  // process id); 0 in the fake environment.
  virtual std::uint64_t ProcessId() { return 0; }
};

// The environment in force: the real system unless a test installed another.
Env& CurrentEnv();
// The real system's environment (env_posix.cc, env_win32.cc).
Env& SystemEnv();
// Installs `env` (not owned) until the returned guard ends; nests.
class ScopedEnv {
 public:
  explicit ScopedEnv(Env* env);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  Env* previous_;
};

// A deterministic environment for tests: time moves only when slept on or
// advanced; random numbers come from a seeded generator or a queue of fixed
// values; variables come from a map.
class FakeEnv : public Env {
 public:
  FakeEnv();
  LocalTime Now() override;
  std::int64_t MonotonicMillis() override { return now_ms_; }
  void SleepMillis(std::int64_t ms) override;
  double Random() override;
  void SeedRandom(std::uint64_t seed) override;
  std::string GetVariable(std::string_view name) override;
  std::string ComputerName() override { return computer_name_; }
  std::uint64_t ProcessId() override { return process_id_; }

  // Sets the wall clock (local time) to the given moment.
  void SetNow(const LocalTime& t);
  void Advance(std::int64_t ms) { now_ms_ += ms; }
  void SetVariable(std::string_view name, std::string_view value);
  void SetComputerName(std::string_view name) { computer_name_ = name; }
  void SetProcessId(std::uint64_t id) { process_id_ = id; }
  // Values returned by Random() before the generator takes over again.
  void QueueRandom(double r);
  // Total milliseconds slept, and the number of sleeps, since construction.
  std::int64_t slept_ms() const { return slept_ms_; }
  int sleeps() const { return sleeps_; }
  // Called on every sleep (after the clock moved): lets a test change the
  // world while the code under test waits.
  void OnSleep(void (*hook)(void*), void* context) {
    on_sleep_ = hook;
    on_sleep_context_ = context;
  }

 private:
  std::int64_t base_days_ = 0;  // days since 1970-01-01 at now_ms_ == 0
  std::int64_t now_ms_ = 0;
  std::int64_t slept_ms_ = 0;
  int sleeps_ = 0;
  std::uint64_t rng_state_ = 0x9E3779B97F4A7C15ull;
  std::map<std::string, std::string> variables_;
  std::string computer_name_ = "FAKEPC";
  std::uint64_t process_id_ = 0;
  double queue_[64] = {};
  int queue_head_ = 0;
  int queue_tail_ = 0;
  void (*on_sleep_)(void*) = nullptr;
  void* on_sleep_context_ = nullptr;
};

// Days since 1970-01-01 of a Gregorian date, and back (proleptic Gregorian).
std::int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(std::int64_t days, int* year, int* month, int* day);

}  // namespace kel

#endif  // KEL_PLATFORM_SYSTEM_H_
