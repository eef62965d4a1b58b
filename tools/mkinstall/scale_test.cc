#include "tools/mkinstall/scale.h"

#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tools/mkinstall/sample_data.h"

namespace kel {
namespace {

class Scale : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(LoadSampleData(&data_, &error)) << error;
  }
  std::size_t Index(const std::string& name) const {
    for (std::size_t i = 0; i < data_.layouts.size(); ++i) {
      if (data_.layouts[i].name == name) return i;
    }
    ADD_FAILURE() << name;
    return 0;
  }
  std::vector<std::string> Produce(std::size_t i, std::int64_t count, std::uint64_t seed) {
    std::string error;
    EXPECT_TRUE(CheckScale(data_.layouts[i], data_.records[i], count, &error)) << error;
    RecordScaler scaler(data_.layouts[i], data_.records[i], count, seed);
    std::vector<std::string> out;
    std::string record;
    while (scaler.Next(&record)) out.push_back(record);
    return out;
  }
  SampleData data_;
};

// Every file, scaled: the count is exact, the real records come first, the
// others differ from a real record only in key 0, and unique keys stay
// unique.
TEST_F(Scale, EveryFileScalesToTheCountWithValidKeys) {
  for (std::size_t i = 0; i < data_.layouts.size(); ++i) {
    const FileLayout& layout = data_.layouts[i];
    SCOPED_TRACE(layout.name);
    const std::vector<std::string>& base = data_.records[i];
    std::vector<std::string> records = Produce(i, 700, 42);
    ASSERT_EQ(records.size(), 700u);
    std::set<std::string> real(base.begin(), base.end());
    std::set<std::string> keys;
    for (std::size_t r = 0; r < records.size(); ++r) {
      if (r < base.size()) {
        ASSERT_EQ(records[r], base[r]);
      }
      std::string key = KeyBytes(layout, 0, records[r]);
      if (layout.keys[0].unique) {
        EXPECT_TRUE(keys.insert(key).second) << "record " << r;
      }
      // Putting back a real record's key must give back that real record.
      bool from_real = false;
      for (const std::string& candidate : base) {
        std::string restored = records[r];
        for (const LayoutSegment& s : layout.keys[0].segments) {
          int at = layout.fields[s.field].offset;
          restored.replace(at, s.length, candidate, at, s.length);
        }
        if (restored == candidate) {
          from_real = true;
          break;
        }
      }
      EXPECT_TRUE(from_real) << "record " << r;
      // Packed-digit key bytes stay packed digits (128..227).
      for (const LayoutSegment& s : layout.keys[0].segments) {
        if (layout.fields[s.field].type != FieldType::kDigits) continue;
        for (int b = 0; b < s.length; ++b) {
          auto byte = static_cast<unsigned char>(records[r][layout.fields[s.field].offset + b]);
          EXPECT_GE(byte, 128);
          EXPECT_LE(byte, 227);
        }
      }
    }
  }
}

TEST_F(Scale, SameSeedSameRecordsOtherSeedOthers) {
  std::size_t i = Index("HConcept");
  EXPECT_EQ(Produce(i, 300, 7), Produce(i, 300, 7));
  EXPECT_NE(Produce(i, 300, 7), Produce(i, 300, 8));
}

TEST_F(Scale, FewerRecordsThanRowsKeepsTheFirstOnes) {
  std::size_t i = Index("menu");
  std::vector<std::string> records = Produce(i, 1, 1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].substr(62, 8), "TAVIRENO");
}

TEST(CheckScale, RefusesDuplicateRealKeysAndCountsBeyondAUniqueKey) {
  std::vector<FileLayout> files;
  std::string error;
  ASSERT_TRUE(
      ParseLayouts("file X record 3 page 512\n"
                   "  Codi 0 1 text\n  Nom 1 2 text\n"
                   "  key unique = Codi\nend\n",
                   &files, &error))
      << error;
  const FileLayout& layout = files[0];
  EXPECT_EQ(KeySpace(layout), 36u);
  EXPECT_TRUE(CheckScale(layout, {"Aab", "Bcd"}, 36, &error)) << error;
  EXPECT_FALSE(CheckScale(layout, {"Aab", "Bcd"}, 37, &error));
  EXPECT_NE(error.find("at most 36"), std::string::npos) << error;
  EXPECT_FALSE(CheckScale(layout, {"Aab", "Acd"}, 2, &error));
  EXPECT_NE(error.find("records 1 and 2"), std::string::npos) << error;
  EXPECT_FALSE(CheckScale(layout, {}, 2, &error));

  // The whole space can be filled: 36 records, 36 different codes.
  const std::vector<std::string> base = {"Aab", "Bcd"};
  RecordScaler scaler(layout, base, 36, 3);
  std::set<char> codes;
  std::string record;
  while (scaler.Next(&record)) codes.insert(record[0]);
  EXPECT_EQ(codes.size(), 36u);
}

}  // namespace
}  // namespace kel
