#include "tools/mkinstall/field_codec.h"

#include <string>

#include "gtest/gtest.h"

namespace kel {
namespace {

struct EncodeCase {
  FieldType type;
  int width;
  const char* value;
  std::string expected;  // bytes; empty when the value must be refused
};

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

TEST(EncodeField, EveryTypeWritesItsBytesOrRefuses) {
  const EncodeCase cases[] = {
      // Texts: code page 850, blank-padded, never cut.
      {FieldType::kText, 6, "Plaça",
       "Pla\x87"
       "a "},
      {FieldType::kText, 12, "Instal·lació", "Instal\xFAlaci\xA2"},
      {FieldType::kText, 3, "", "   "},
      {FieldType::kText, 4, "Plaça", ""},  // 5 characters in a 4-byte field
      {FieldType::kText, 4, "€uro", ""},   // no euro sign in code page 850
      // Packed digits: right-aligned, zero-filled, 128 + value per byte.
      {FieldType::kDigits, 4, "20241231", Bytes({148, 152, 140, 159})},
      {FieldType::kDigits, 2, "724", Bytes({128 + 7, 128 + 24})},
      {FieldType::kDigits, 1, "", Bytes({128})},
      {FieldType::kDigits, 1, "100", ""},
      {FieldType::kDigits, 2, "7a", ""},
      // Dates.
      {FieldType::kDate, 4, "20190107", Bytes({148, 147, 129, 135})},
      {FieldType::kDate, 4, "", Bytes({0, 0, 0, 0})},
      {FieldType::kDate, 4, "20191301", ""},
      {FieldType::kDate, 4, "2019011", ""},
      // Integers and amounts, little-endian.
      {FieldType::kInt, 2, "-1", Bytes({0xFF, 0xFF})},
      {FieldType::kInt, 2, "100", Bytes({100, 0})},
      {FieldType::kInt, 1, "128", ""},
      {FieldType::kInt, 2, "1.5", ""},
      {FieldType::kAmount, 4, "1184.00", Bytes({0x80, 0xCE, 0x01, 0x00})},
      {FieldType::kAmount, 4, "0.26", Bytes({26, 0, 0, 0})},
      {FieldType::kAmount, 4, "9.9", Bytes({0xDE, 0x03, 0, 0})},
      {FieldType::kAmount, 4, "1.234", ""},
      // Flags and reserved bytes.
      {FieldType::kFlag, 2, "S", Bytes({0xFF, 0xFF})},
      {FieldType::kFlag, 2, "N", Bytes({0, 0})},
      {FieldType::kFlag, 2, "Y", ""},
      {FieldType::kFill, 3, "", Bytes({0, 0, 0})},
      {FieldType::kFill, 1, "x", ""},
  };
  for (const EncodeCase& c : cases) {
    LayoutField field;
    field.name = "F";
    field.type = c.type;
    field.width = c.width;
    std::string out(c.width, '?'), error;
    bool ok = EncodeField(field, c.value, out.data(), &error);
    bool refuse = c.expected.empty();
    SCOPED_TRACE(std::string(FieldTypeName(c.type)) + " width " + std::to_string(c.width) +
                 " value \"" + c.value + "\"");
    if (refuse) {
      EXPECT_FALSE(ok);
      EXPECT_FALSE(error.empty());
    } else {
      ASSERT_TRUE(ok) << error;
      EXPECT_EQ(out, c.expected);
    }
  }
}

TEST(StrictUtf8ToCp850, RefusesWhatWouldBeSubstituted) {
  struct {
    const char* utf8;
    bool ok;
  } cases[] = {
      {"Galego-portuguès", true}, {"Aranès Ò ò ã õ º ·", true},
      {"tab\there", false},       {"\xC3", false},
      {"\xE2\x82\xAC", false},    {"line\nbreak", true},
  };
  for (const auto& c : cases) {
    std::string out, error;
    EXPECT_EQ(StrictUtf8ToCp850(c.utf8, &out, &error), c.ok) << c.utf8 << " " << error;
  }
}

}  // namespace
}  // namespace kel
