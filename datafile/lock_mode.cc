#include "datafile/lock_mode.h"

#include <cmath>

#include "datafile/db_file.h"
#include "platform/system.h"
#include "recman/recman.h"

namespace kel {
namespace {

constexpr int kLogColumn = 14;

// A number as the family's log writes it: a blank (or "-") and the digits.
void AppendNumber(std::int16_t value, std::string* line) {
  line->push_back(value < 0 ? '-' : ' ');
  const int magnitude = value < 0 ? -static_cast<int>(value) : value;
  char digits[8];
  int n = 0;
  int rest = magnitude;
  do {
    digits[n++] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  while (n > 0) line->push_back(digits[--n]);
}

// Blanks to the next column stop; a full stop's worth when already on one.
void PadToColumn(std::string* line) {
  const std::size_t pad = kLogColumn - line->size() % kLogColumn;
  line->append(pad, ' ');
}

}  // namespace

void DbLockMode(std::int16_t file_number, std::string_view letters, std::int16_t* status) {
  const std::int16_t index = DbSlot(file_number);
  if (index < 1) {
    *status = kStatusFileNotOpen;
    return;
  }
  DataFileState& s = DataFiles();
  OpenFileEntry& e = s.OpenFileTable[static_cast<std::size_t>(index)];
  for (char letter : letters) {
    switch (letter) {
      case 'D':
      case 'd':
        e.LockMode = 0;
        break;
      case 'A':
      case 'a':
        e.LockMode = 1;
        break;
      case 'B':
      case 'b':
        e.LockMode = 2;
        break;
      case '+':
        s.LockModeStack.push_back(static_cast<char>(index));
        s.LockModeStack.push_back(static_cast<char>(e.LockMode));
        break;
      case '-':
        // The newest pair of this entry; pairs of other entries stay.
        for (std::size_t pair = s.LockModeStack.size() / 2; pair > 0; --pair) {
          const std::size_t at = (pair - 1) * 2;
          if (static_cast<std::uint8_t>(s.LockModeStack[at]) == index) {
            e.LockMode = static_cast<std::uint8_t>(s.LockModeStack[at + 1]);
            s.LockModeStack.erase(at, 2);
            break;
          }
        }
        break;
      default:
        break;
    }
  }
}

bool IsLockableOperation(std::int16_t operation) {
  return (operation >= 5 && operation <= 13) || operation == 19 ||
         (operation >= 22 && operation <= 24) || (operation >= 33 && operation <= 35);
}

std::int64_t LockedRecordPauseMillis() {
  return static_cast<std::int64_t>(std::llround(CurrentEnv().Random() * 10000.0 + 1.0));
}

std::string OperationLogLine(std::int16_t file_number, std::int16_t operation,
                             std::int16_t status) {
  std::string line;
  line.reserve(48);
  AppendNumber(file_number, &line);
  PadToColumn(&line);
  AppendNumber(operation, &line);
  PadToColumn(&line);
  AppendNumber(status, &line);
  line += "\r\n";
  return line;
}

void AppendOperationLog(std::int16_t file_number, std::int16_t operation, std::int16_t status) {
  File log;
  if (OpenFile(kOperationLogFile, FileAccess::kAppend, FileShare::kShared, &log) !=
      FileResult::kOk) {
    return;
  }
  (void)log.Append(OperationLogLine(file_number, operation, status));
}

}  // namespace kel
