#include "datafile/db_open.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "datafile/db_file.h"
#include "datafile/db_internal.h"
#include "datafile/db_manager.h"
#include "datafile/notices.h"
#include "platform/system.h"
#include "recman/network_fs.h"
#include "recman/open_refusal.h"
#include "recman/recman.h"
#include "screen/keyboard.h"
#include "screen/message_box.h"
#include "screen/screen_buffer.h"
#include "screen/windows.h"
#include "util/cp850.h"
#include "util/fixed_text.h"
#include "util/session_context.h"

namespace kel {
namespace {

constexpr std::int64_t kLockedFilePauseMillis = 3000;

void ExitProgram(int code) { std::exit(code); }

ProgramExitHook g_exit_hook = &ExitProgram;

// A path in a key buffer for Open and Create: the text and its zero byte.
// Paths that fit the 256-byte key buffer go in the shared one with their
// length; a longer one (possible on this system, never on the family's
// original one) gets a buffer of its own and key length 0, which the record
// manager reads up to the zero byte.
class PathKey {
 public:
  explicit PathKey(const std::string& path) {
    if (path.size() <= kMaxKeyLength) {
      std::uint8_t* key = Transfer().key;
      std::memcpy(key, path.data(), path.size());
      std::memset(key + path.size(), 0, kKeyBufferSize + 1 - path.size());
      data_ = key;
      length_ = static_cast<std::uint8_t>(path.size());
    } else {
      long_path_ = path;
      data_ = long_path_.data();
      length_ = 0;
    }
  }
  void* data() { return data_; }
  std::uint8_t length() const { return length_; }

 private:
  std::string long_path_;
  void* data_ = nullptr;
  std::uint8_t length_ = 0;
};

std::uint8_t* ScratchBlock() { return DataFiles().OpenFileTable[0].PositionBlock; }

// Frees entries 1 to 40.
void ResetEntries() {
  DataFileState& s = DataFiles();
  for (int i = 1; i <= kMaxOpenFiles; ++i) FreeEntry(&s.OpenFileTable[static_cast<std::size_t>(i)]);
}

// Reads the Create buffer of a dictionary into the data buffer (blank-padded
// to its size). Returns 0, or 22 for a dictionary whose count cannot be
// right. A dictionary that cannot be opened, or is empty (the open has just
// created it), gives an empty buffer, which the Create then refuses.
std::int16_t ReadDictionary(const std::string& dictionary_path, std::uint8_t* data) {
  std::memset(data, ' ', kDataBufferSize);
  File dictionary;
  if (OpenFile(dictionary_path, FileAccess::kReadWriteCreate, FileShare::kShared, &dictionary) !=
      FileResult::kOk) {
    return kStatusOk;
  }
  const std::int64_t size = dictionary.Size();
  if (size == 0) return kStatusOk;
  std::uint8_t count_bytes[2];
  if (dictionary.ReadAt(0, count_bytes, 2) != 2) return kStatusDataBufferTooShort;
  const auto n = static_cast<std::int16_t>(count_bytes[0] | (count_bytes[1] << 8));
  if (n < 0 || static_cast<std::size_t>(n) > kDataBufferSize || n > size - 2) {
    return kStatusDataBufferTooShort;
  }
  if (dictionary.ReadAt(2, data, static_cast<std::size_t>(n)) != n) {
    return kStatusDataBufferTooShort;
  }
  return kStatusOk;
}

std::int16_t CreateFromDictionary(std::string_view logical_name, PathKey* path) {
  TransferBuffers& t = Transfer();
  if (std::int16_t st = ReadDictionary(DictionaryPath(logical_name), t.data); st != kStatusOk) {
    return st;
  }
  std::memset(ScratchBlock(), ' ', kPositionBlockSize);
  std::uint32_t data_length = kDataBufferSize;
  const std::int16_t st = RecordManager()(kOpCreate, ScratchBlock(), t.data, &data_length,
                                          path->data(), path->length(), kCreateNoReplace);
  std::memset(ScratchBlock(), 0, kPositionBlockSize);
  return st;
}

// How an open treats a missing file, and the open mode it asks for.
struct OpenWay {
  bool create_missing = true;
  std::int8_t mode = kOpenNormal;
};

// The record manager's Open, with the 85 wait and (when `way` says so) the
// creation of a missing file.
std::int16_t OpenPhysical(OpenFileEntry* e, std::string_view logical_name, const std::string& path,
                          OpenWay way) {
  const std::string owner = OwnerName();
  for (;;) {
    TransferBuffers& t = Transfer();
    PathKey key(path);
    std::memcpy(t.data, owner.c_str(), owner.size() + 1);
    std::uint32_t data_length = static_cast<std::uint32_t>(owner.size() + 1);
    std::int16_t st = RecordManager()(kOpOpen, e->PositionBlock, t.data, &data_length, key.data(),
                                      key.length(), way.mode);
    if (st == kStatusFileInUse) {
      CurrentEnv().SleepMillis(kLockedFilePauseMillis);
      continue;
    }
    if (st == kStatusFileNotFound && way.create_missing) {
      st = CreateFromDictionary(logical_name, &key);
      if (st == kStatusOk) continue;
    }
    return st;
  }
}

std::string& LastFailure() {
  static std::string text;
  return text;
}

// The server library's message (UTF-8, one or more lines, indented with
// tabs) as lines of code page 850 text.
std::string ServerMessageLines(std::string_view utf8) {
  std::string lines;
  std::size_t start = 0;
  while (start <= utf8.size()) {
    const std::size_t end = std::min(utf8.find('\n', start), utf8.size());
    std::string_view line = utf8.substr(start, end - start);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
      line.remove_suffix(1);
    }
    if (!line.empty()) {
      if (!lines.empty()) lines += '\n';
      lines += Utf8ToCp850(line);
    }
    start = end + 1;
  }
  return lines;
}

// Why the record manager refused the open, when it said so for this status:
// our words in the session's language, the file system's name or the
// server's own words with them. "" otherwise.
std::string OpenFailureReason(std::int16_t status) {
  if (status == kStatusRecordManagerInactive) {
    const ManagerProblem& problem = RecordManagerProblemDetail();
    switch (problem.kind) {
      case ManagerProblemKind::kCannotLoad:
        return ManagerCannotLoadReason(RecordManagerLibrary(), Utf8ToCp850(problem.reason));
      case ManagerProblemKind::kNoEntryPoint:
        return ManagerNoEntryPointReason(RecordManagerLibrary(), Utf8ToCp850(problem.reason));
      case ManagerProblemKind::kAlsoServer:
        return ManagerAlsoServerReason();
      case ManagerProblemKind::kNone:
        break;
    }
    return "";
  }
  const OpenRefusal& refusal = LastOpenRefusal();
  if (status == kStatusNetworkFileSystem &&
      refusal.kind == OpenRefusalKind::kNetworkFileSystem) {
    return NetworkFileSystemReason(Utf8ToCp850(refusal.detail));
  }
  if (status == kStatusIoError && refusal.kind == OpenRefusalKind::kServerUnreachable) {
    const std::string words = ServerMessageLines(refusal.detail);
    std::string prefix = ServerUnreachablePrefix();
    if (!words.empty()) return prefix + words;
    prefix.resize(prefix.size() - 2);  // without its ": "
    return prefix + ".";
  }
  return "";
}

// The end of the program after an open that could not be completed.
void OpenFailure(std::string_view logical_name, std::int16_t status) {
  std::string text = OpenFailurePrefix();
  text.append(logical_name);
  text += " (" + DecimalText(status) + ")";
  // The reason, when there is one, on the lines under the message.
  const std::string reason = OpenFailureReason(status);
  if (!reason.empty()) text += "\n" + reason;
  LastFailure() = text;
  MessageBox(12, &text);
  Beep();
  // Release the data files first: the operator may leave the message
  // standing for a long time, and a plain console ends the run at a key wait.
  std::int16_t ignored = kStatusOk;
  DbResetAll(&ignored);
  if (ScreenConsole().Kind() != ConsoleKind::kPlain) {
    FlushKeys();
    (void)GetKey();
  }
  WinPop();
  g_exit_hook(kExitOpenFailure);
}

}  // namespace

const std::string& LastOpenFailure() { return LastFailure(); }

ProgramExitHook SetProgramExitHook(ProgramExitHook hook) {
  ProgramExitHook previous = g_exit_hook;
  g_exit_hook = hook != nullptr ? hook : &ExitProgram;
  return previous;
}

PhysicalName SplitLogicalName(std::string_view name) {
  PhysicalName out;
  const std::size_t separator = name.find_last_of(":\\/");
  const std::size_t base_start = separator == std::string_view::npos ? 0 : separator + 1;
  out.directory.assign(name.substr(0, base_start));
  const std::size_t dot = name.find('.', base_start);
  if (dot == std::string_view::npos) {
    out.base.assign(name.substr(base_start));
    out.extension = ".dat";
  } else {
    out.base.assign(name.substr(base_start, dot - base_start));
    out.extension.assign(name.substr(dot));
  }
  return out;
}

std::string PhysicalPath(std::string_view logical_name) {
  PhysicalName p = SplitLogicalName(logical_name);
  return p.directory + p.base + p.extension;
}

std::string DictionaryPath(std::string_view logical_name) {
  return Session().InstallRoot + "ddf\\" + SplitLogicalName(logical_name).base + ".xdf";
}

std::string OwnerName() {
  // Put together at run time, piece by piece, so the name never stands in
  // the program file as one text.
  std::string name(4, ' ');
  name[0] = static_cast<char>('M' + 1);
  name[1] = static_cast<char>('T' + 1);
  name[2] = static_cast<char>('Q' + 1);
  name[3] = static_cast<char>('H' + 1);
  return name;
}

namespace {

// DbOpen up to its failure: 1002, 1003 and 0 as DbOpen gives them; any other
// status with the entry free again (and `*index` 0), for the caller to end
// the program or not.
std::int16_t OpenEntry(std::int16_t file_number, std::string_view logical_name, void* record_area,
                       std::size_t area_size, OpenWay way = OpenWay()) {
  const std::int16_t slot = DbSlot(file_number);
  if (slot > 0) return kStatusAlreadyOpen;
  if (slot == 0) return kStatusTableFull;
  // Nothing is opened, created or called when there is no record manager.
  if (std::int16_t st = UseConfiguredRecordManager(); st != kStatusOk) return st;
  const auto index = static_cast<std::size_t>(-slot);
  OpenFileEntry& e = DataFiles().OpenFileTable[index];
  FreeEntry(&e);
  e.FileNumber = file_number;
  e.RecordAddress = static_cast<std::uint8_t*>(record_area);
  e.RecordCapacity = record_area != nullptr ? area_size : 0;

  // A reason the record manager gives from here on is this open's.
  ClearOpenRefusal();
  std::int16_t st = OpenPhysical(&e, logical_name, PhysicalPath(logical_name), way);
  NoteRecordManagerAnswered();
  if (st == kStatusOk) {
    std::int16_t key_length = 0;
    std::int32_t record_length = 0;
    DbKeyInfo(file_number, 0, &key_length, &record_length);
    if (record_length <= static_cast<std::int32_t>(kDataBufferSize)) {
      e.RecordLength = record_length;
      e.KeyValue.assign(std::min<std::size_t>(std::max<int>(key_length, 0), kMaxKeyLength), '\0');
      if (e.RecordCapacity < static_cast<std::size_t>(record_length)) {
        e.RecordTail.assign(static_cast<std::size_t>(record_length) - e.RecordCapacity, ' ');
      }
      return kStatusOk;
    }
    // Records this long cannot pass through the data buffer.
    std::uint32_t no_data = 0;
    (void)RecordManager()(kOpClose, e.PositionBlock, Transfer().data, &no_data, Transfer().key, 0,
                          0);
    st = kStatusInvalidRecordLength;
  }
  FreeEntry(&e);
  return st;
}

}  // namespace

void DbOpen(std::int16_t file_number, std::string_view logical_name, void* record_area,
            std::size_t area_size, std::int16_t* status) {
  *status = OpenEntry(file_number, logical_name, record_area, area_size);
  if (*status == kStatusOk || *status == kStatusAlreadyOpen || *status == kStatusTableFull) return;
  OpenFailure(logical_name, *status);
  // Only when the exit hook returned (tests).
}

void DbOpenIfPossible(std::int16_t file_number, std::string_view logical_name, void* record_area,
                      std::size_t area_size, std::int16_t* status) {
  *status = OpenEntry(file_number, logical_name, record_area, area_size);
}

void DbOpenExisting(std::int16_t file_number, std::string_view logical_name, void* record_area,
                    std::size_t area_size, std::int16_t* status) {
  OpenWay way;
  way.create_missing = false;
  way.mode = kOpenReadOnly;
  *status = OpenEntry(file_number, logical_name, record_area, area_size, way);
}

void DbClose(std::int16_t file_number, std::int16_t* status) {
  const std::int16_t index = DbSlot(file_number);
  if (index < 1) {
    *status = kStatusFileNotOpen;
    return;
  }
  OpenFileEntry& e = DataFiles().OpenFileTable[static_cast<std::size_t>(index)];
  TransferBuffers& t = Transfer();
  std::memset(t.data, ' ', kDataBufferSize);
  std::memset(t.key, ' ', kMaxKeyLength);
  auto data_length = static_cast<std::uint32_t>(std::min<std::size_t>(
      static_cast<std::size_t>(std::max(e.RecordLength, 0)), kDataBufferSize));
  *status = RecordManager()(kOpClose, e.PositionBlock, t.data, &data_length, t.key,
                            static_cast<std::uint8_t>(kMaxKeyLength), 0);
  // The record manager closes the open whatever it reports (a failed
  // commit's status comes back here, with the file closed all the same), so
  // the entry goes too: kept, it would answer 1002 to a new open and 3 to
  // everything else.
  FreeEntry(&e);
}

void DbResetAll(std::int16_t* status) {
  if (UseConfiguredRecordManager() != kStatusOk) {
    // No record manager was ever called, so none holds anything of ours.
    *status = kStatusOk;
    ResetEntries();
    return;
  }
  TransferBuffers& t = Transfer();
  std::memset(ScratchBlock(), ' ', kPositionBlockSize);
  std::uint32_t data_length = 0;
  *status = RecordManager()(kOpReset, ScratchBlock(), t.data, &data_length, t.key, 0, 0);
  std::memset(ScratchBlock(), 0, kPositionBlockSize);
  // Reset closes every open even when it reports a failure (the first
  // failed commit): no entry stays behind.
  ResetEntries();
}

}  // namespace kel
