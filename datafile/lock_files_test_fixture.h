// The fixture of the lock files tests, shared by the tests of every system
// and the POSIX-only ones.
#ifndef KEL_DATAFILE_LOCK_FILES_TEST_FIXTURE_H_
#define KEL_DATAFILE_LOCK_FILES_TEST_FIXTURE_H_

#include "datafile/lock_files.h"
#include "datafile/test_support.h"
#include "gtest/gtest.h"
#include "platform/signals.h"
#include "screen/screen_buffer.h"
#include "util/fixed_text.h"
#include "tests/support/test_dir.h"

namespace kel::testing {

class LockFilesTest : public DataFileTest {
 protected:
  std::string LockPath(const std::string& name) { return root() + "LOCKS\\" + name + ".lck"; }
  std::string Bytes(const std::string& path) {
    std::string b;
    (void)ReadWholeFile(path, &b);
    return b;
  }
  void Write(const std::string& path, const std::string& bytes) {
    (void)MakeDirectory(root() + "LOCKS");
    File f;
    ASSERT_EQ(OpenFile(path, FileAccess::kWriteTruncate, FileShare::kShared, &f), FileResult::kOk);
    ASSERT_TRUE(f.WriteAt(0, bytes.data(), bytes.size()));
  }
  // A lock record of another station.
  static std::string Record(const std::string& name, const std::string& number, long long time,
                            char type, const std::string& start = "", const std::string& end = "") {
    return FixedText(name, 15) + FixedText(number, 11) + FixedText(DecimalText(time), 8) + type +
           FixedText(DecimalText(static_cast<long long>(start.size())), 2) + FixedText(start, 40) +
           FixedText(DecimalText(static_cast<long long>(end.size())), 2) + FixedText(end, 40) +
           "\r\n";
  }
  static std::int32_t Now() { return LockClock(); }
};

}  // namespace kel::testing

#endif  // KEL_DATAFILE_LOCK_FILES_TEST_FIXTURE_H_
