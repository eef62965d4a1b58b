#include "startup/field_reader.h"

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

std::vector<std::string> TextFields(FieldReader* reader) {
  std::vector<std::string> fields;
  while (!reader->AtEnd()) fields.push_back(reader->ReadText());
  return fields;
}

TEST(FieldReaderTest, TextFields) {
  struct Case {
    std::string input;
    std::vector<std::string> fields;
  };
  const Case cases[] = {
      {"a,b\r\nc\r\n", {"a", "b", "c"}},
      {"  lead,trail  \r\n", {"lead", "trail  "}},
      {"\"with, comma\",x\r\n", {"with, comma", "x"}},
      {"\"  kept blanks \"\r\n", {"  kept blanks "}},
      {"\"quoted\"junk,next\r\n", {"quoted", "next"}},
      {"\"open quote\r\nnext\r\n", {"open quote", "next"}},
      {"a\tb,\tc\r\n", {"ab", "c"}},
      {"a\r\n\r\nb\r\n", {"a", "", "b"}},  // an empty line is one field
      {"a,\r\nb\r\n", {"a", "", "b"}},     // so is a trailing comma
      {"a\nb\nc", {"a", "b", "c"}},        // LF alone, no final line end
      {"a\rb\r", {"a", "b"}},              // CR alone
      {",,\r\n", {"", "", ""}},
      {"\"\",x", {"", "x"}},
      {"caf\x82,\x80\xFA\r\n", {"caf\x82", "\x80\xFA"}},  // bytes kept as they are
  };
  for (const Case& c : cases) {
    FieldReader reader(c.input);
    EXPECT_EQ(TextFields(&reader), c.fields) << "input: " << c.input;
  }
}

TEST(FieldReaderTest, NumberFields) {
  struct Case {
    std::string input;
    std::vector<int> values;
    std::vector<NumberField> kinds;
  };
  using enum NumberField;
  const Case cases[] = {
      {"1,9\r\n", {1, 9}, {kOk, kOk}},
      {" -5, +7\r\n", {-5, 7}, {kOk, kOk}},
      {"3 ,4\r\n", {3, 4}, {kOk, kOk}},  // blanks after a number go with it
      {"3 4\r\n", {3, 4}, {kOk, kOk}},
      {"\r\n5\r\n", {0, 5}, {kOk, kOk}},  // an empty line reads as 0
      {"32767,-32768", {32767, -32768}, {kOk, kOk}},
      {"32768,-99999999999", {32767, -32768}, {kOutOfRange, kOutOfRange}},
      {"12x,abc,-,+", {0, 0, 0, 0}, {kNotANumber, kNotANumber, kNotANumber, kNotANumber}},
  };
  for (const Case& c : cases) {
    FieldReader reader(c.input);
    for (std::size_t i = 0; i < c.values.size(); ++i) {
      NumberField kind = kOk;
      EXPECT_EQ(reader.ReadNumber(&kind), c.values[i]) << "input: " << c.input << " field " << i;
      EXPECT_EQ(kind, c.kinds[i]) << "input: " << c.input << " field " << i;
    }
    EXPECT_TRUE(reader.AtEnd()) << "input: " << c.input;
  }
}

TEST(FieldReaderTest, LinesSeekAndLineNumbers) {
  FieldReader reader("' comment\r\n1,2\r\n\"x\"\n");
  std::string line;
  EXPECT_TRUE(reader.LineStartsWith('\''));
  EXPECT_FALSE(reader.LineStartsWith(' '));  // blanks are looked past
  EXPECT_EQ(reader.Tell(), 0);
  ASSERT_TRUE(reader.ReadLine(&line));
  EXPECT_EQ(line, "' comment");
  const std::int64_t mark = reader.Tell();
  EXPECT_FALSE(reader.LineStartsWith('\''));
  EXPECT_EQ(reader.Tell(), mark);
  ASSERT_TRUE(reader.ReadLine(&line));
  EXPECT_EQ(line, "1,2");
  reader.Seek(mark);  // read the same line again, as fields
  EXPECT_EQ(reader.LineNumber(), 2);
  EXPECT_EQ(reader.ReadNumber(), 1);
  EXPECT_EQ(reader.ReadNumber(), 2);
  EXPECT_EQ(reader.LineNumber(), 3);
  EXPECT_EQ(reader.ReadText(), "x");
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_FALSE(reader.ReadLine(&line));
  EXPECT_EQ(reader.ReadText(), "");  // past the end: empty, no harm
}

TEST(FieldReaderTest, OverlongFieldIsCutAndReportedForItselfOnly) {
  const std::string big(kMaxFieldBytes + 10, 'a');
  FieldReader reader(big + ",b," + std::string(kMaxFieldBytes, '0') + "7,8\r\n'" + big + "\r\n9");
  EXPECT_EQ(reader.ReadText().size(), kMaxFieldBytes);
  EXPECT_TRUE(reader.overlong());
  EXPECT_EQ(reader.ReadText(), "b");
  EXPECT_FALSE(reader.overlong());
  // Digits past the limit are lost, so the number cannot be trusted.
  NumberField kind = NumberField::kOk;
  EXPECT_EQ(reader.ReadNumber(&kind), 0);
  EXPECT_EQ(kind, NumberField::kNotANumber);
  EXPECT_TRUE(reader.overlong());
  EXPECT_EQ(reader.ReadNumber(&kind), 8);
  EXPECT_EQ(kind, NumberField::kOk);
  // A long line is cut the same way but leaves the flag alone: comment
  // lines may be as long as they like.
  std::string line;
  ASSERT_TRUE(reader.ReadLine(&line));
  EXPECT_EQ(line.size(), kMaxFieldBytes);
  EXPECT_FALSE(reader.overlong());
  EXPECT_EQ(reader.ReadNumber(), 9);
}

TEST(FieldReaderTest, FileLargerThanTheWindowReadsWholeAndSeeksBack) {
  const std::string templ = MakeTestDirectory("kel-fields");
  ASSERT_FALSE(templ.empty());
  const std::string path = std::string(templ) + "/big.txt";
  std::string bytes;
  for (int i = 0; i < 20000; ++i) bytes += "\"field " + std::to_string(i) + "\",";
  bytes += "last\r\n";
  {
    File f;
    ASSERT_EQ(OpenFile(path, FileAccess::kWriteTruncate, FileShare::kShared, &f), FileResult::kOk);
    ASSERT_TRUE(f.WriteAt(0, bytes.data(), bytes.size()));
  }
  {  // the reader closes its file here: Windows deletes no open file
    FieldReader reader;
    ASSERT_EQ(reader.Open(path), FileResult::kOk);
    EXPECT_EQ(reader.Size(), static_cast<std::int64_t>(bytes.size()));
    std::int64_t mark = 0;
    for (int i = 0; i < 20000; ++i) {
      if (i == 100) mark = reader.Tell();
      ASSERT_EQ(reader.ReadText(), "field " + std::to_string(i));
    }
    EXPECT_EQ(reader.ReadText(), "last");
    EXPECT_TRUE(reader.AtEnd());
    reader.Seek(mark);
    EXPECT_EQ(reader.ReadText(), "field 100");

    FieldReader missing;
    EXPECT_EQ(missing.Open(std::string(templ) + "/none.txt"), FileResult::kNotFound);
    EXPECT_TRUE(missing.AtEnd());
  }
  std::filesystem::remove_all(templ);
}

}  // namespace
}  // namespace kel
