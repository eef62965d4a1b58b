// Create buffers: what is refused (with which status, leaving no file) and
// that Stat gives the buffer back.
#include "recman/file_spec.h"

#include <filesystem>

#include "gtest/gtest.h"
#include "recman/recman.h"
#include "recman/test_util.h"

namespace kel {
namespace {

using testing::CreateSpec;
using testing::Segment;

CreateSpec Base() {
  CreateSpec s;
  s.record_length = 40;
  s.page_size = 1024;
  s.keys = {{Segment{1, 4, 0}}};
  return s;
}

struct Case {
  const char* name;
  CreateSpec file_spec;
  std::int16_t status;
  int cut = -1;  // when >= 0, the buffer is cut to this many bytes
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  auto add = [&](const char* name, std::int16_t status, auto change, int cut = -1) {
    CreateSpec s = Base();
    change(s);
    cases.push_back({name, s, status, cut});
  };
  add("valid", kStatusOk, [](CreateSpec&) {});
  add("no keys", kStatusOk, [](CreateSpec& s) { s.keys.clear(); });
  add("page 4096", kStatusOk, [](CreateSpec& s) { s.page_size = 4096; });
  add("page 600", kStatusPageSize, [](CreateSpec& s) { s.page_size = 600; });
  add("page 0", kStatusPageSize, [](CreateSpec& s) { s.page_size = 0; });
  add("page 4608", kStatusPageSize, [](CreateSpec& s) { s.page_size = 4608; });
  add("record length 0", kStatusInvalidRecordLength, [](CreateSpec& s) { s.record_length = 0; });
  add("record length 4097", kStatusInvalidRecordLength,
      [](CreateSpec& s) { s.record_length = 4097; });
  add("variable length", kStatusInvalidRecordLength,
      [](CreateSpec& s) { s.file_flags = kFileFlagVariableLength; });
  add("compression", kStatusInvalidRecordLength,
      [](CreateSpec& s) { s.file_flags = kFileFlagCompression; });
  add("key-only", kStatusInvalidRecordLength,
      [](CreateSpec& s) { s.file_flags = kFileFlagKeyOnly; });
  add("accepted file flags", kStatusOk, [](CreateSpec& s) {
    s.file_flags = kFileFlagPreallocate | kFileFlagBalancedIndex | kFileFlagFreeSpace10 |
                   kFileFlagFreeSpace20 | kFileFlagReserveDuplicates;
  });
  add("120 keys", kStatusNumberOfKeys, [](CreateSpec& s) {
    s.keys.assign(120, {Segment{1, 4, kKeyFlagDuplicates}});
  });
  add("119 keys", kStatusOk, [](CreateSpec& s) {
    s.keys.assign(119, {Segment{1, 4, kKeyFlagDuplicates}});
  });
  // Byte 5 is the file version that dictionaries of the interface's later
  // versions carry; the keys are counted by byte 4 alone.
  add("file version 0x60", kStatusOk, [](CreateSpec& s) { s.version = 0x60; });
  add("file version 0x95 with 119 keys", kStatusOk, [](CreateSpec& s) {
    s.version = 0x95;
    s.keys.assign(119, {Segment{1, 4, kKeyFlagDuplicates}});
  });
  add("file version 0x70 with 120 keys", kStatusNumberOfKeys, [](CreateSpec& s) {
    s.version = 0x70;
    s.keys.assign(120, {Segment{1, 4, kKeyFlagDuplicates}});
  });
  add("key at position 0", kStatusInvalidKeyPosition, [](CreateSpec& s) {
    s.keys = {{Segment{0, 4, 0}}};
  });
  add("key past the record", kStatusInvalidKeyPosition, [](CreateSpec& s) {
    s.keys = {{Segment{38, 4, 0}}};
  });
  add("key at the very end", kStatusOk, [](CreateSpec& s) { s.keys = {{Segment{37, 4, 0}}}; });
  add("segment length 0", kStatusInvalidKeyLength, [](CreateSpec& s) {
    s.keys = {{Segment{1, 0, 0}}};
  });
  add("key longer than 255", kStatusInvalidKeyLength, [](CreateSpec& s) {
    s.record_length = 400;
    s.keys = {{Segment{1, 200, 0}, Segment{201, 100, 0}}};
  });
  add("integer of 3 bytes", kStatusInvalidKeyLength, [](CreateSpec& s) {
    s.keys = {{Segment{1, 3, 0, kTypeInteger}}};
  });
  add("float of 2 bytes", kStatusInvalidKeyLength, [](CreateSpec& s) {
    s.keys = {{Segment{1, 2, 0, kTypeFloat}}};
  });
  add("zstring of 1 byte", kStatusInvalidKeyLength, [](CreateSpec& s) {
    s.keys = {{Segment{1, 1, 0, kTypeZString}}};
  });
  add("date type", kStatusKeyTypeError, [](CreateSpec& s) { s.keys = {{Segment{1, 4, 0, 3}}}; });
  add("decimal type", kStatusKeyTypeError, [](CreateSpec& s) { s.keys = {{Segment{1, 4, 0, 5}}}; });
  add("segments disagree on duplicates", kStatusInconsistentKeyFlags, [](CreateSpec& s) {
    s.keys = {{Segment{1, 2, kKeyFlagDuplicates}, Segment{3, 2, 0}}};
  });
  add("segments disagree on modifiable", kStatusInconsistentKeyFlags, [](CreateSpec& s) {
    s.keys = {{Segment{1, 2, kKeyFlagModifiable}, Segment{3, 2, 0}}};
  });
  add("repeating duplicates count as duplicates", kStatusOk, [](CreateSpec& s) {
    s.keys = {{Segment{1, 2, kKeyFlagDuplicates}, Segment{3, 2, kKeyFlagRepeatingDuplicates}}};
  });
  add("autoincrement with duplicates", kStatusInconsistentKeyFlags, [](CreateSpec& s) {
    s.keys = {{Segment{1, 4, kKeyFlagDuplicates, kTypeAutoIncrement}}};
  });
  add("segmented autoincrement", kStatusKeyTypeError, [](CreateSpec& s) {
    s.keys = {{Segment{1, 4, 0, kTypeAutoIncrement}, Segment{5, 2, 0}}};
  });
  add(
      "collating sequence missing", kStatusDataBufferTooShort,
      [](CreateSpec& s) {
        s.keys = {{Segment{1, 4, kKeyFlagAlternateCollating}}};
      },
      32);
  add("collating sequence present", kStatusOk, [](CreateSpec& s) {
    s.keys = {{Segment{1, 4, kKeyFlagAlternateCollating}}};
    s.acs = {testing::AcsTable({})};
  });
  add("manual key numbers", kStatusOk, [](CreateSpec& s) {
    s.file_flags = kFileFlagManualKeyNumbers;
    s.keys = {{Segment{1, 4, 0, 0, false, 0, 7}}, {Segment{5, 4, 0, 0, false, 0, 3}}};
  });
  // The flag is accepted and ignored: the numbers in the segments play no
  // part, so neither a repeated one nor one above 127 is refused.
  add("manual key number twice", kStatusOk, [](CreateSpec& s) {
    s.file_flags = kFileFlagManualKeyNumbers;
    s.keys = {{Segment{1, 4, 0, 0, false, 0, 7}}, {Segment{5, 4, 0, 0, false, 0, 7}}};
  });
  add(
      "cut inside the key specifications", kStatusDataBufferTooShort, [](CreateSpec&) {}, 24);
  add(
      "cut inside the file specification", kStatusDataBufferTooShort, [](CreateSpec&) {}, 10);
  return cases;
}

TEST(FileSpecTest, CreateRefusesInvalidBuffersAndLeavesNoFile) {
  testing::TempDir dir;
  int n = 0;
  for (const Case& c : Cases()) {
    const std::string path = dir.File("f" + std::to_string(n++) + ".dat");
    std::string bytes = c.file_spec.Bytes();
    std::uint32_t len = static_cast<std::uint32_t>(bytes.size());
    if (c.cut >= 0) len = static_cast<std::uint32_t>(c.cut);
    std::uint8_t block[kPositionBlockSize] = {};
    std::string key = path + '\0';
    std::int16_t st = BTRCALL(kOpCreate, block, bytes.data(), &len, key.data(),
                              static_cast<std::uint8_t>(path.size()), kCreateNoReplace);
    EXPECT_EQ(st, c.status) << c.name;
    EXPECT_EQ(std::filesystem::exists(path), c.status == kStatusOk) << c.name;
  }
}

TEST(FileSpecTest, AnUnusableAcsSignatureIsRefused) {
  CreateSpec s = Base();
  s.keys = {{Segment{1, 4, kKeyFlagAlternateCollating}}};
  s.acs = {testing::AcsTable({})};
  std::string bytes = s.Bytes();
  bytes[16 + 16] = static_cast<char>(0xAD);  // the signature byte
  FileSpec file_spec;
  EXPECT_EQ(ParseCreateBuffer(bytes.data(), bytes.size(), &file_spec), kStatusInvalidCollatingSequence);
}

TEST(FileSpecTest, StatGivesTheCreateBufferBackWithCounts) {
  testing::TempDir dir;
  CreateSpec s;
  s.record_length = 100;
  s.page_size = 2048;
  s.file_flags = kFileFlagBalancedIndex;
  s.keys = {
      {Segment{1, 10, kKeyFlagModifiable | kKeyFlagDuplicates | kKeyFlagAlternateCollating},
       Segment{11, 2, kKeyFlagModifiable | kKeyFlagDuplicates | kKeyFlagDescending, kTypeInteger}},
      {Segment{20, 4, kKeyFlagNullAll, 0, false, 0x20}}};
  s.acs = {testing::AcsTable({{'a', 'A'}})};
  const std::string path = dir.File("s.dat");
  ASSERT_EQ(testing::CreateFile(path, s), kStatusOk);
  testing::Handle h;
  ASSERT_EQ(h.Open(path), kStatusOk);
  ASSERT_EQ(h.Insert(testing::Rec("abc", 100)), kStatusOk);
  std::string stat;
  ASSERT_EQ(h.Stat(&stat), kStatusOk);
  std::string expected = s.Bytes();
  ASSERT_EQ(stat.size(), expected.size());
  // Same bytes but the counts: 1 record; 1 unique value in key 0's segments;
  // key 1 holds only blanks there, a null value, so 0.
  expected[6] = 1;
  expected[16 + 6] = 1;
  expected[32 + 6] = 1;
  EXPECT_EQ(stat, expected);
  // What Stat returns is itself a valid Create buffer for the same file.
  FileSpec a, b;
  ASSERT_EQ(ParseCreateBuffer(stat.data(), stat.size(), &a), kStatusOk);
  ASSERT_EQ(ParseCreateBuffer(expected.data(), expected.size(), &b), kStatusOk);
  EXPECT_EQ(BuildCreateBuffer(a), BuildCreateBuffer(b));
}

}  // namespace
}  // namespace kel

namespace kel {
namespace {

// Manual key numbers (file flag 0x400) are kept in the segments but do not
// number the keys: whatever the bytes say (out of order, repeated, above
// what a signed 8-bit key number holds), the keys are 0..n-1 in their order
// and Stat gives the bytes back unchanged.
TEST(FileSpecTest, ManualKeyNumbersAreKeptButKeysAreNumberedByOrder) {
  const std::vector<std::vector<std::uint8_t>> manual_numbers = {
      {5, 3, 9}, {1, 1, 1}, {200, 128, 255}, {0, 2, 1}};
  for (const auto& numbers : manual_numbers) {
    CreateSpec s = Base();
    s.file_flags = kFileFlagManualKeyNumbers;
    s.keys = {{Segment{1, 2, 0, 0, false, 0, numbers[0]}},
              {Segment{3, 2, kKeyFlagDuplicates, 0, false, 0, numbers[1]},
               Segment{5, 2, kKeyFlagDuplicates, 0, false, 0, numbers[1]}},
              {Segment{7, 2, kKeyFlagDuplicates, 0, false, 0, numbers[2]}}};
    const std::string bytes = s.Bytes();
    FileSpec file_spec;
    ASSERT_EQ(ParseCreateBuffer(bytes.data(), bytes.size(), &file_spec), kStatusOk)
        << int{numbers[0]};
    ASSERT_EQ(file_spec.keys.size(), 3u);
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(file_spec.keys[static_cast<std::size_t>(k)].number, k) << int{numbers[0]};
      EXPECT_EQ(file_spec.KeyIndex(k), k) << int{numbers[0]};
    }
    EXPECT_EQ(file_spec.KeyIndex(numbers[0] == 0 ? 3 : numbers[0] + 100), -1);
    EXPECT_EQ(BuildCreateBuffer(file_spec), bytes) << "the manual numbers come back unchanged";
  }
}

}  // namespace
}  // namespace kel
