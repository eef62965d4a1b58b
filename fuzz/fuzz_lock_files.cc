// Lock files ("LOCKS\NAME.lck") and the station file "LOCKS.TMP", which
// every station of the installation writes. The first 19 input bytes are
// this station's file, the rest a lock file as other stations left it. The
// station asks for a whole-file lock and a key range and frees them again,
// giving up at once on a conflict (mode "S"), so nothing waits.
#include <cstddef>
#include <cstdint>
#include <string>

#include "datafile/lock_files.h"
#include "fuzz/fuzz_support.h"
#include "platform/system.h"
#include "util/session_context.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  ResetSession();
  ResetLockFiles();
  Session().InstallRoot = SessionDir();
  Session().TempDir = SessionDir();
  WriteScratchFile(kStationFileName, input.substr(0, kStationFileSize));
  WriteScratchFile("LOCKS/FUZZ.lck", input.size() > kStationFileSize
                                         ? input.substr(kStationFileSize)
                                         : std::string_view());
  SetLockWaitMode('S');

  const std::int16_t whole = LockRequest("FUZZ", "F", "", "");
  if (whole == 0) {
    Require(UnlockFile("FUZZ") == 0, "a granted whole-file lock cannot be freed");
  }
  const std::int16_t range = LockRequest("FUZZ", "K", "B", "M");
  if (range == 0) {
    // Asking again for the range it holds is granted: the record is renewed.
    Require(LockRequest("FUZZ", "K", "B", "M") == 0, "a held key range is refused to its holder");
    Require(UnlockFile("FUZZ") == 0, "a granted key range cannot be freed");
  }
  (void)LockClock();
  return 0;
}
