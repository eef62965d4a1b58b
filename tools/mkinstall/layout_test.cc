#include "tools/mkinstall/layout.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tools/mkinstall/sample_data.h"

namespace kel {
namespace {

// What the converters rely on in each file: the offsets of the language
// columns (-1: the file has no Aranese column), their width, and how the
// progress line shows key 0 ('T' a byte shown as it is, 'D' a byte of packed
// digits shown expanded; the last letter repeats to the key's end).
struct ConverterColumns {
  const char* path;
  int current, width, cat, glg, oci, other;
  const char* key_bytes;
};

constexpr ConverterColumns kConverterColumns[] = {
    {"menu", 20, 40, 74, 114, 154, 194, "T"},
    {"TAULES\\UPaisos", 2, 45, 62, 107, 197, 152, "T"},
    {"TAULES\\UVies", 2, 15, 17, 32, 47, 62, "T"},
    {"TAULES\\UCae", 11, 250, 261, 511, 761, 1011, "TTTTTDDDD"},
    {"TAULES\\UTerrito", 1, 10, 11, 21, 31, 41, "D"},
    {"TAULES\\FAmoCoef", 18, 350, 368, 718, -1, 1068, "T"},
    {"TAULES\\FGruBal", 4, 40, 44, 84, 124, 164, "D"},
    {"TAULES\\NCra", 2, 40, 42, 82, 122, 162, "D"},
    {"TAULES\\NMotius", 1, 37, 38, 112, 75, 149, "D"},
    {"TAULES\\NTipConc", 1, 25, 26, 51, -1, 76, "D"},
    {"DADES\\HConcept", 3, 20, 27, 47, 87, 67, "T"},
    {"DADES\\HDespesa", 3, 25, 30, 55, 105, 80, "T"},
    {"HOperaci", 4, 30, 44, 74, 104, 134, "T"},
    {"DADES\\NCnvConc", 5, 40, 71, 111, -1, 151, "DDT"},
    {"DADES\\RConcept", 3, 30, 48, 78, -1, 108, "T"},
    {"DADES\\VConcept", 3, 20, 31, 51, 91, 71, "T"},
    {"DADES\\VDesglos", 1, 20, 21, 41, 81, 61, "T"},
    {"DADES\\VDespesa", 3, 25, 30, 55, 105, 80, "T"},
    {"VOperaci", 4, 30, 44, 74, 104, 134, "T"},
};

class SampleLayouts : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(LoadSampleData(&data_, &error)) << error;
  }
  const FileLayout* Find(const std::string& path, std::size_t* index = nullptr) const {
    for (std::size_t i = 0; i < data_.layouts.size(); ++i) {
      if (data_.layouts[i].logical_path == path) {
        if (index) *index = i;
        return &data_.layouts[i];
      }
    }
    return nullptr;
  }
  SampleData data_;
};

TEST_F(SampleLayouts, LanguageColumnsStandWhereTheConvertersReadThem) {
  ASSERT_EQ(data_.layouts.size(), std::size(kConverterColumns));
  for (const ConverterColumns& c : kConverterColumns) {
    SCOPED_TRACE(c.path);
    const FileLayout* layout = Find(c.path);
    ASSERT_NE(layout, nullptr);
    const std::pair<const char*, int> columns[] = {{"CurrentText", c.current},
                                                   {"TextCAT", c.cat},
                                                   {"TextGLG", c.glg},
                                                   {"TextOCI", c.oci},
                                                   {"TextOther", c.other}};
    for (auto [name, offset] : columns) {
      int f = layout->FieldIndex(name);
      if (offset < 0) {
        EXPECT_EQ(f, -1) << name;
        continue;
      }
      ASSERT_GE(f, 0) << name;
      const LayoutField& field = layout->fields[f];
      EXPECT_EQ(field.offset, offset) << name;
      EXPECT_EQ(field.width, c.width) << name;
      EXPECT_EQ(field.type, FieldType::kText) << name;
      EXPECT_LE(field.offset + field.width, layout->record_length) << name;
      // No key 0 segment may share a byte with a language column.
      for (const LayoutSegment& segment : layout->keys[0].segments) {
        int start = layout->fields[segment.field].offset;
        EXPECT_TRUE(start + segment.length <= offset || start >= offset + c.width)
            << name << " overlaps key 0";
      }
    }
    EXPECT_EQ(layout->fields[layout->FieldIndex("CurrentText")].copy_of, "TextCAT");
  }
}

TEST_F(SampleLayouts, KeyZeroSuitsTheWayTheProgressLineShowsIt) {
  for (const ConverterColumns& c : kConverterColumns) {
    SCOPED_TRACE(c.path);
    const FileLayout* layout = Find(c.path);
    ASSERT_NE(layout, nullptr);
    std::string shown(c.key_bytes);
    int at = 0;
    for (const LayoutSegment& segment : layout->keys[0].segments) {
      const LayoutField& field = layout->fields[segment.field];
      for (int b = 0; b < segment.length; ++b, ++at) {
        char expected = at < static_cast<int>(shown.size()) ? shown[at] : shown.back();
        FieldType type = expected == 'T' ? FieldType::kText : FieldType::kDigits;
        EXPECT_EQ(field.type, type) << "key byte " << at + 1 << " in " << field.name;
      }
    }
    // The key of a packed-digit layout must lie before the current text, as
    // the converters' progress line expects the code at the record's start.
    EXPECT_EQ(layout->fields[layout->keys[0].segments[0].field].offset, 0);
  }
}

TEST_F(SampleLayouts, EveryRealRecordCarriesItsTextInEachLanguage) {
  for (std::size_t i = 0; i < data_.layouts.size(); ++i) {
    const FileLayout& layout = data_.layouts[i];
    SCOPED_TRACE(layout.name);
    EXPECT_GE(data_.records[i].size(), 8u);
    EXPECT_LE(data_.records[i].size(), 26u);
    for (const std::string& record : data_.records[i]) {
      ASSERT_EQ(record.size(), static_cast<std::size_t>(layout.record_length));
      auto column = [&](const char* name) {
        const LayoutField& f = layout.fields[layout.FieldIndex(name)];
        return record.substr(f.offset, f.width);
      };
      std::string current = column("CurrentText");
      EXPECT_EQ(current, column("TextCAT"));
      EXPECT_NE(current, std::string(current.size(), ' '));
      EXPECT_NE(column("TextGLG"), std::string(current.size(), ' ')) << current;
      EXPECT_NE(column("TextOther"), std::string(current.size(), ' ')) << current;
      if (layout.FieldIndex("TextOCI") >= 0) {
        EXPECT_NE(column("TextOCI"), std::string(current.size(), ' ')) << current;
      }
    }
  }
}

TEST_F(SampleLayouts, MenuHoldsTheProgramsOwnEntryFirst) {
  std::size_t index = 0;
  const FileLayout* menu = Find("menu", &index);
  ASSERT_NE(menu, nullptr);
  const std::string& first = data_.records[index][0];
  EXPECT_EQ(first.substr(62, 8), "TAVIRENO");
  EXPECT_EQ(first.substr(20, 40), "Localitzaci\xA2 aplicacions KEL" + std::string(12, ' '));
  EXPECT_EQ(first.substr(194, 29), "Localizaci\xA2n aplicaciones KEL");
}

// A two-key layout whose Create buffer is checked byte by byte.
constexpr char kSmallLayout[] =
    "file DADES\\Mini record 16 page 512\n"
    "  Codi        0  2  digits\n"
    "  Nom         2 10  text\n"
    "  Import     12  4  int\n"
    "  key unique = Codi\n"
    "  key dup modifiable nocase = Nom:6 Import\n"
    "end\n";

TEST(CreateBuffer, FileAndSegmentSpecifications) {
  std::vector<FileLayout> files;
  std::string error;
  ASSERT_TRUE(ParseLayouts(kSmallLayout, &files, &error)) << error;
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].name, "Mini");
  EXPECT_EQ(files[0].KeyLength(1), 10);
  std::string expected(16 + 3 * 16, '\0');
  auto put = [&](int at, int value) {
    expected[at] = static_cast<char>(value & 0xFF);
    expected[at + 1] = static_cast<char>(value >> 8);
  };
  put(0, 16);   // record length
  put(2, 512);  // page size
  put(4, 2);    // keys
  put(16, 1);   // key 0: position 1, 2 bytes, unique, not modifiable
  put(18, 2);
  put(32, 3);  // key 1, segment 1: Nom's first 6 bytes, case-insensitive
  put(34, 6);
  put(36, 0x1 | 0x2 | 0x10 | 0x400);
  put(48, 13);  // key 1, segment 2: a 4-byte integer
  put(50, 4);
  put(52, 0x1 | 0x2 | 0x100);
  expected[48 + 10] = 1;
  EXPECT_EQ(CreateBuffer(files[0]), expected);
  std::string dictionary = DictionaryBytes(files[0]);
  EXPECT_EQ(dictionary.substr(0, 2), std::string("\x40\x00", 2));
  EXPECT_EQ(dictionary.substr(2), expected);
}

TEST(ParseLayouts, RefusesLayoutsThatWouldWriteBadFiles) {
  const struct {
    const char* text;
    const char* message;  // part of the expected message
  } cases[] = {
      {"file X record 4 page 512\n A 0 2 text\n B 3 1 text\n key unique = A\nend\n",
       "line 3: field B starts at 3"},
      {"file X record 4 page 512\n A 0 2 text\n B 1 3 text\n key unique = A\nend\n",
       "line 3: field B starts at 1"},
      {"file X record 4 page 512\n A 0 4 text\n key unique = A\nend\nfile X record 4 page 512\n",
       "described twice"},
      {"file X record 4 page 512\n A 0 2 text\n key unique = A\nend\n", "cover 2 bytes"},
      {"file X record 4 page 512\n A 0 4 text\nend\n", "has no key"},
      {"file X record 4 page 512\n A 0 3 date\n", "date field cannot be 3"},
      {"file X record 3 page 512\n A 0 3 flag\n", "flag field cannot be 3"},
      {"file X record 4 page 512\n A 0 4 money\n", "line 2: expected"},
      {"file X record 4 page 512\n A 0 4 text\n key = A\nend\n", "unique or dup"},
      {"file X record 4 page 512\n A 0 4 text\n key unique = B\nend\n", "names no field"},
      {"file X record 4 page 512\n A 0 4 text\n key unique = A:5\nend\n", "partial"},
      {"file X record 4 page 512\n A 0 2 digits default=12345\n", "default of A"},
      {"file X record 5 page 512\n A 0 2 text copy=B\n B 2 3 text\n key dup = A\nend\n",
       "copies B"},
      {"file X record 2000 page 4096\n", "record length"},
      {"file X record 600 page 1000\n", "page size"},
      {"file X.dat record 4 page 512\n", "without extension"},
      {"file X record 4 page 512\n A 0 4 text\n key unique = A\n", "no \"end\""},
      {"A 0 4 text\n", "outside a file block"},
      {"# nothing\n", "no file"},
  };
  for (const auto& c : cases) {
    std::vector<FileLayout> files;
    std::string error;
    EXPECT_FALSE(ParseLayouts(c.text, &files, &error)) << c.text;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.text << "\n-> " << error;
  }
}

}  // namespace
}  // namespace kel
