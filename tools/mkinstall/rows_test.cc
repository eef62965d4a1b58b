#include "tools/mkinstall/rows.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kel {
namespace {

constexpr char kLayout[] =
    "file TAULES\\Proves record 20 page 512\n"
    "  Codi         0  1  digits\n"
    "  CurrentText  1  6  text  copy=TextCAT\n"
    "  TextCAT      7  6  text\n"
    "  TextOther   13  6  text\n"
    "  Actiu       19  1  text  default=S\n"
    "  key dup = Codi\n"
    "end\n";

class Rows : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<FileLayout> files;
    std::string error;
    ASSERT_TRUE(ParseLayouts(kLayout, &files, &error)) << error;
    layout_ = files[0];
  }
  FileLayout layout_;
};

TEST_F(Rows, BuildsRecordsWithDefaultsCopiesAndContinuations) {
  const char* text =
      "# comment\n"
      "\n"
      "Codi | TextCAT | TextOther | Actiu\r\n"
      "7 | Plaça | Plaza | N\n"
      "12\n"
      "   | Via\n"
      "   | Vía |\n"
      "99 | Camí | Camino | S\n";
  std::vector<std::string> records;
  std::string error;
  ASSERT_TRUE(BuildRecords(layout_, text, &records, &error)) << error;
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0],
            "\x87Pla\x87"
            "a Pla\x87"
            "a Plaza N");
  // The continuation lines add cells; the empty last cell takes the default.
  EXPECT_EQ(records[1],
            "\x8CVia   Via   V\xA1"
            "a   S");
  EXPECT_EQ(records[2],
            "\xE3"
            "Cam\xA1  Cam\xA1  CaminoS");
}

TEST_F(Rows, RefusesRowsThatDoNotFit) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"Codi | Nom\n1 | x\n", "line 1: no field Nom"},
      {"Codi | Codi\n1 | 2\n", "column Codi twice"},
      {"Codi | TextCAT\n1 | a | b\n", "line 2: the row has 3 cells"},
      {"Codi | TextCAT\n1\n", "line 2: the row has 1 cells"},
      {"Codi | TextCAT\n1 | Massa llarg\n", "line 2: TextCAT"},
      {"Codi | TextCAT\n100 | x\n", "Codi"},
      {"Codi | TextCAT\n1 | €\n", "code page 850"},
      {"| 1 | x\n", "no header"},
      {"Codi | TextCAT\n| 1 | x\n", "continuation"},
      {"Codi | TextCAT\n", "no header and rows"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> records;
    std::string error;
    EXPECT_FALSE(BuildRecords(layout_, c.text, &records, &error)) << c.text;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.text << "\n-> " << error;
  }
}

}  // namespace
}  // namespace kel
