// The fixture of the db open tests, shared by the tests of every system
// and the POSIX-only ones.
#ifndef KEL_DATAFILE_DB_OPEN_TEST_FIXTURE_H_
#define KEL_DATAFILE_DB_OPEN_TEST_FIXTURE_H_

#include "datafile/db_open.h"
#include "datafile/db_file.h"
#include "datafile/notices.h"
#include "datafile/test_support.h"
#include "gtest/gtest.h"
#include "platform/console.h"
#include "recman/recman.h"
#include "screen/screen_buffer.h"
#include "util/fixed_text.h"

namespace kel::testing {

class DbOpenTest : public DataFileTest {
 protected:
  void SetUp() override {
    DataFileTest::SetUp();
    // The open failure flushes typed-ahead keys and then waits for one.
    con().SetExhaustedHandler([this](MemoryConsole& c) {
      released_before_key_ = DbSlot(2) < 1;
      c.QueueKey(keys::kEnter);
      return true;
    });
  }
  bool released_before_key_ = false;
  static TestFileSpec SampleSpec(int record_length = 12) {
    return TestFileSpec{record_length, 4096, {{{1, 3, 0x3}}}, ""};
  }
  char area_[2048] = {};
};

}  // namespace kel::testing

#endif  // KEL_DATAFILE_DB_OPEN_TEST_FIXTURE_H_
