// The command line's help: which arguments ask for it (never a switch, a
// path or a word that merely contains one), and the usage in four
// languages, each line within the 80 columns.
#include "convert/command_line_help.h"

#include <string>
#include <vector>

#include "convert/language_text.h"
#include "convert/test_support.h"
#include "gtest/gtest.h"
#include "util/session_context.h"

namespace kel {
namespace {

TEST(CommandLineHelpTest, OnlyWholeHelpWordsAskForHelp) {
  struct Case {
    std::vector<std::string_view> arguments;
    HelpRequest request;
  } cases[] = {
      {{}, HelpRequest::kNone},
      {{"/?"}, HelpRequest::kUsage},
      {{"-h"}, HelpRequest::kUsage},
      {{"--help"}, HelpRequest::kUsage},
      {{"--version"}, HelpRequest::kVersion},
      {{"--version", "--help"}, HelpRequest::kUsage},
      {{"/AUTO", "-h"}, HelpRequest::kUsage},  // asking for help never converts
      {{"/INFORME", "--version"}, HelpRequest::kVersion},
      {{"/AUTO"}, HelpRequest::kNone},
      {{"/AUTO /TAULES"}, HelpRequest::kNone},
      {{"/srv/kel-h/"}, HelpRequest::kNone},
      {{"x--help"}, HelpRequest::kNone},
      {{"/AUTO-h"}, HelpRequest::kNone},
      {{"/auto -h"}, HelpRequest::kNone},  // one argument holding a blank
      {{"-H"}, HelpRequest::kNone},
      {{"--HELP"}, HelpRequest::kNone},
      {{"/??"}, HelpRequest::kNone},
      {{"--versions"}, HelpRequest::kNone},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (std::string_view a : c.arguments) shown += "[" + std::string(a) + "]";
    EXPECT_EQ(HelpRequestOf(c.arguments), c.request) << shown;
  }
}

class UsageTest : public testing::InstallationTest {
 protected:
  std::vector<std::string> UsageIn(const std::string& language) {
    SetSessionLanguage(language);
    return UsageLines();
  }
  void SetUp() override {
    InstallationTest::SetUp();
    Session().InstallRoot = root_;
    Session().ProgramName = "TAVIRENO";
    LanguageText().CreateMissingFile = false;
  }
};

TEST_F(UsageTest, TheUsageIsTranslatedAndFitsTheScreen) {
  const std::vector<std::string> catalan = UsageIn("CAT");
  ASSERT_GT(catalan.size(), 30u);
  EXPECT_EQ(catalan[0], "TAVIRENO versi\xA2 1.01");
  EXPECT_EQ(catalan[3], "\xE9s: tavireno [/AUTO] [/TAULES] [/INFORME [/CSV]] [/? | --version]");
  for (const char* word : {"  /INFORME ", "  /CSV ", "  KELROOT ", "  KELTMP ", "  KELDB ",
                           "  KELBTR ", "  COMSPEC ", "  75 ", "  3 "}) {
    bool found = false;
    for (const std::string& line : catalan) found |= line.starts_with(word);
    EXPECT_TRUE(found) << word;
  }
  EXPECT_EQ(catalan.back(), "Documentaci\xA2: README.md, docs/operators-guide.md");
  for (const char* language : {"CAT", "SPA", "GLG", "OCI"}) {
    const std::vector<std::string> lines = UsageIn(language);
    ASSERT_EQ(lines.size(), catalan.size()) << language;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_LE(lines[i].size(), 80u) << language << ": " << lines[i];
      // Every text has its translation: no line but the empty ones stays
      // as it is in Catalan.
      if (std::string(language) != "CAT" && !lines[i].empty()) {
        EXPECT_NE(lines[i], catalan[i]) << language << ": not translated";
      }
    }
  }
  SetSessionLanguage("SPA");
  EXPECT_EQ(VersionLines("1.01 (abc, Release)"),
            (std::vector<std::string>{"TAVIRENO versi\xA2n 1.01",
                                      "Compilaci\xA2n: 1.01 (abc, Release)"}));
  EXPECT_FALSE(FileExists(terminal_ + "/LOCKS.TMP"));
}

// Without the language text file the usage stays in Catalan, and the file
// is not created.
TEST_F(UsageTest, AMissingLanguageFileIsNotCreated) {
  ASSERT_TRUE(DeleteFile(root_ + "LOCALE/TAVIRENO.LNG"));
  EXPECT_EQ(UsageIn("GLG"), UsageIn("CAT"));
  EXPECT_FALSE(FileExists(root_ + "LOCALE/TAVIRENO.LNG"));
}

}  // namespace
}  // namespace kel
