#include "tools/mkinstall/text_files.h"

#include <string>

#include "gtest/gtest.h"

namespace kel {
namespace {

TEST(ConvertTreeFile, TextFilesBecomeCodePage850WithCrLf) {
  const struct {
    const char* path;
    const char* utf8;
    std::string expected;
  } cases[] = {
      {"Nuri.ini", "[Usuari]\nIdioma=CAT\n", "[Usuari]\r\nIdioma=CAT\r\n"},
      {"Nuri.ini", "[Usuari]\r\nIdioma=CAT", "[Usuari]\r\nIdioma=CAT\r\n"},
      {"x.JPN", "\"Instal·lació\"\n", "\"Instal\xFAlaci\xA2\"\r\n"},
      {"TERM01/Sessio.ini", "Dir=@ROOT@TERM01\n", "Dir=/inst/TERM01\r\n"},
      {"empty.ini", "", ""},
      {"x.LNG", "a\n\nb\n", "a\r\n\r\nb\r\n"},
  };
  for (const auto& c : cases) {
    std::string bytes, error;
    ASSERT_TRUE(ConvertTreeFile(c.path, c.utf8, "/inst/", &bytes, &error)) << error;
    EXPECT_EQ(bytes, c.expected) << c.path << ": " << c.utf8;
  }
}

TEST(ConvertTreeFile, HelpPagesBecomeEightyByteRecordsWithStyleBytes) {
  std::string bytes, error;
  ASSERT_TRUE(
      ConvertTreeFile("AJUDA/X.HLP", "{h}Títol{h}\n\n{u}a{u} {r}b{r}\n", "", &bytes, &error))
      << error;
  ASSERT_EQ(bytes.size(), 3 * kHelpRecordLength);
  EXPECT_EQ(bytes.substr(0, 8), "\x1ET\xA1tol\x1E ");
  EXPECT_EQ(bytes.substr(80, 80), std::string(80, ' '));
  EXPECT_EQ(bytes.substr(160, 9),
            "\x1F"
            "a\x1F \x10"
            "b\x10  ");

  std::string seventy_six(76, 'x');
  EXPECT_TRUE(ConvertTreeFile("a.hlp", "{h}" + seventy_six + "{h}", "", &bytes, &error));
  EXPECT_FALSE(ConvertTreeFile("a.hlp", seventy_six + "y", "", &bytes, &error));
  EXPECT_NE(error.find("a.hlp line 1"), std::string::npos) << error;
}

TEST(ConvertTreeFile, RefusesCharactersOutsideCodePage850) {
  std::string bytes, error;
  EXPECT_FALSE(
      ConvertTreeFile("Nuri.ini", "a\nEmpresa=Caf\xC3\xA9 \xE2\x82\xAC\n", "", &bytes, &error));
  EXPECT_NE(error.find("Nuri.ini line 2"), std::string::npos) << error;
}

}  // namespace
}  // namespace kel
