// Data files in a folder whose name has accented letters (code page 850,
// as the installation's paths are written): created, opened, replaced and
// found again, on every system (UTF-8 names on POSIX, the system's
// wide-character names on Windows).
#include <string>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "recman/file_spec.h"
#include "recman/recman.h"
#include "recman/test_util.h"

namespace kel::testing {
namespace {

TEST(AccentedPathTest, AFolderWithAccentedLettersHoldsDataFiles) {
  TempDir dir;
  std::string system_dir;
  ASSERT_TRUE(SystemPathOf(dir.path(), &system_dir));
  // "Còpia de l'oficina" (o grave is 0x95 in code page 850).
  const std::string folder = system_dir + "\\C\x95pia de l'oficina";
  ASSERT_TRUE(MakeDirectory(folder));
  const std::string file = folder + "\\Pa\x8Bsos.dat";  // i diaeresis, 0x8B
  CreateSpec s;
  s.record_length = 16;
  s.keys = {{Segment{1, 4, kKeyFlagModifiable}}};
  ASSERT_EQ(CreateFile(file, s), kStatusOk);
  EXPECT_TRUE(FileExists(file));
  EXPECT_EQ(CreateFile(file, s), kStatusFileAlreadyExists);
  Handle h;
  ASSERT_EQ(h.Open(file), kStatusOk);
  ASSERT_EQ(h.Insert(Rec("A", 16)), kStatusOk);
  ASSERT_EQ(h.Close(), kStatusOk);
  ASSERT_EQ(h.Open(file), kStatusOk);
  EXPECT_EQ(h.Get(kOpGetEqual, "A   "), kStatusOk);
  ASSERT_EQ(h.Close(), kStatusOk);
  ASSERT_EQ(CreateFile(file, s, kCreateReplace), kStatusOk);
  ASSERT_EQ(h.Open(file), kStatusOk);
  EXPECT_EQ(h.Get(kOpGetEqual, "A   "), kStatusKeyNotFound);
  EXPECT_EQ(h.Open(folder + "\\Cap.dat"), kStatusFileNotFound);
}

}  // namespace
}  // namespace kel::testing
