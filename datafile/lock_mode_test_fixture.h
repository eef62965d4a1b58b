// The fixture of the lock mode tests, shared by the tests of every system
// and the POSIX-only ones.
#ifndef KEL_DATAFILE_LOCK_MODE_TEST_FIXTURE_H_
#define KEL_DATAFILE_LOCK_MODE_TEST_FIXTURE_H_

#include "datafile/lock_mode.h"
#include "datafile/db_file.h"
#include "datafile/db_internal.h"
#include "datafile/db_open.h"
#include "datafile/test_support.h"
#include "gtest/gtest.h"
#include "recman/recman.h"
#include "screen/screen_buffer.h"
#include "util/fixed_text.h"

namespace kel::testing {

class LockModeTest : public DataFileTest {
 protected:
  void OpenAs(std::int16_t f, const std::string& name) {
    std::int16_t st = -1;
    DbOpen(f, name, area_, sizeof area_, &st);
    ASSERT_EQ(st, kStatusOk);
  }
  static std::int16_t Mode(std::int16_t f) {
    return DataFiles().OpenFileTable[static_cast<std::size_t>(DbSlot(f))].LockMode;
  }
  char area_[8] = {};
};

}  // namespace kel::testing

#endif  // KEL_DATAFILE_LOCK_MODE_TEST_FIXTURE_H_
