#include "tools/recutil/sequential.h"

#include "gtest/gtest.h"

namespace kel {
namespace {

TEST(SequentialTest, RecordsRoundTripWhateverBytesTheyHold) {
  const std::string records[] = {
      std::string("12,4\r\n\x1a\0end", 12),
      std::string(12, '\0'),
      "ordinary txt",
  };
  std::string file;
  for (const std::string& r : records) AppendSequentialRecord(r, &file);
  file += kEndOfFile;
  EXPECT_EQ(file.substr(0, 3), "12,");
  std::vector<std::string> back;
  std::size_t bad = 0;
  std::string error;
  ASSERT_TRUE(ParseSequential(file, 12, &back, &bad, &error)) << error;
  ASSERT_EQ(back.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(back[i], records[i]) << i;
}

TEST(SequentialTest, ReadingAcceptsTheUsualVariantsAndStopsAtTheFirstBadRecord) {
  struct Case {
    const char* name;
    std::string bytes;
    bool ok;
    std::size_t records_or_bad;  // records read, or the bad record's number
    const char* error_part;
  } cases[] = {
      {"no final Ctrl-Z", "3,abc\r\n3,def\r\n", true, 2, ""},
      {"blank separator and bare LF", "3 abc\n3,def\r\n\x1a", true, 2, ""},
      {"bytes after Ctrl-Z are ignored", "3,abc\r\n\x1agarbage", true, 1, ""},
      {"empty file", "", true, 0, ""},
      {"wrong length names the record", "3,abc\r\n3,def\r\n4,ghij\r\n", false, 3, "length 4"},
      {"no count", "3,abc\r\n,abc\r\n", false, 2, "no byte count"},
      {"no comma", "3;abc\r\n", false, 1, "no comma"},
      {"file ends inside a record", "3,abc\r\n3,de", false, 2, "ends inside"},
      {"record longer than its count", "3,abcd\r\n", false, 1, "no line end"},
      {"absurd count", "99999999,x", false, 1, "too long"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> out;
    std::size_t bad = 0;
    std::string error;
    bool ok = ParseSequential(c.bytes, 3, &out, &bad, &error);
    EXPECT_EQ(ok, c.ok) << c.name << ": " << error;
    if (c.ok) {
      EXPECT_EQ(out.size(), c.records_or_bad) << c.name;
    } else {
      EXPECT_EQ(bad, c.records_or_bad) << c.name;
      EXPECT_NE(error.find(c.error_part), std::string::npos) << c.name << ": " << error;
      EXPECT_TRUE(out.empty()) << c.name;  // nothing half-read is handed on
    }
  }
}

TEST(SequentialTest, Dictionaries) {
  std::string buffer, error;
  EXPECT_TRUE(ReadDictionary(std::string("\x03\x00"
                                         "abcXX",
                                         7),
                             &buffer, &error));
  EXPECT_EQ(buffer, "abc");
  EXPECT_FALSE(ReadDictionary(std::string("\x64\x00"
                                          "abc",
                                          5),
                              &buffer, &error));
  EXPECT_NE(error.find("truncated"), std::string::npos) << error;
  EXPECT_FALSE(ReadDictionary("\x05", &buffer, &error));
  EXPECT_FALSE(ReadDictionary(std::string("\x00\x00", 2), &buffer, &error));
  EXPECT_FALSE(ReadDictionary(std::string("\xFF\xFF"
                                          "abc",
                                          5),
                              &buffer, &error));  // -1
}

TEST(SequentialTest, ReadableTextShowsCodePage850AndEscapesControls) {
  EXPECT_EQ(ReadableText(std::string("Fitx\x8A\r\n\\\0", 9)), "Fitxè\\x0D\\x0A\\x5C\\x00");
  EXPECT_EQ(HexDump("AB"), "  0000  41 42" + std::string(14 * 3, ' ') + "  |AB|\n");
}

}  // namespace
}  // namespace kel
