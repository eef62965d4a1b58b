// Configuration files: reading one key, and setting, adding or removing one
// key by rewriting the whole file. Both open the file, do their work and
// close it within the call; nothing is cached. The syntax and the merge
// rules are in startup/ini_text.h.
//
// Paths are system paths ("\" separators, any letter case; platform/ maps
// them).
#ifndef KEL_STARTUP_INI_FILE_H_
#define KEL_STARTUP_INI_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

// The value of `key` in `section` of the file at `path`. Never fails: a
// missing or unreadable file, a missing section and a missing key all give "".
std::string IniRead(std::string_view path, std::string_view section, std::string_view key);

enum class IniWriteResult : std::int16_t {
  kOk = 0,
  kBadArgument = 1,    // blank section: nothing was done
  kBusy = 2,           // another of our processes kept the file's directory
                       // locked for the whole wait; nothing was written
  kReadFailed = 3,     // the file exists but could not be read; left as it was
  kWriteFailed = 4,    // the new contents could not be written; file as it was
  kReplaceFailed = 5,  // the file could not be replaced; file as it was
};

// Sets `key` = `value` in `section` of the file at `path` (rules in
// ini_text.h: an empty value removes the key; an empty key removes the
// section's header and key lines). A missing file is created.
//
// The file is replaced atomically: the new contents go to a temporary file
// in the same directory (8 random digits + ".tmp"), which is flushed to disk
// and renamed over the old file, and the directory is then flushed. A process
// killed at any moment leaves either the old or the new file, never none or
// a mixture (at worst a stray temporary file). On every failure the file is
// left as it was and the temporary file is removed.
//
// Rewrites of configuration files in one directory are serialised among the
// processes of the family through a lock on the side file "IniWrite.lck" in
// that directory, so two processes setting different keys of one file at
// the same moment both keep their key. The lock file is created when missing
// and stays; when it cannot be opened for writing or the file system cannot
// lock it, the rewrite proceeds without the lock.
//
// Waits and retries pace themselves with CurrentEnv().SleepMillis:
// - the directory lock is polled every 20 ms for up to 30 s (then kBusy);
// - a file that cannot be read because another opener holds it, or cannot
//   be replaced, is retried up to 10 times, 100 ms apart, the merge redone
//   each time from the file as it then is (then kReadFailed/kReplaceFailed).
// The temporary name is drawn after seeding the process's random generator
// (CurrentEnv().SeedRandom) with the time of day in hundredths of a second.
// The replaced file gets the permissions a new file of this process gets.
[[nodiscard]] IniWriteResult IniWrite(std::string_view path, std::string_view section,
                                      std::string_view key, std::string_view value);

// Name of the side file that carries the rewrite lock, in the file's directory.
inline constexpr std::string_view kIniLockFileName = "IniWrite.lck";

// The directory part of a path: everything up to and including its last
// ":", "\" or "/" ("" when it has none).
std::string IniDirectoryOf(std::string_view path);

}  // namespace kel

#endif  // KEL_STARTUP_INI_FILE_H_
