#include "convert/language_text.h"

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "util/session_context.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

class LanguageTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string templ = MakeTestDirectory("kel-lng");
    ASSERT_FALSE(templ.empty());
    root_ = std::string(templ) + "/";
    ResetSession();
    ResetLanguageText();
    Session().InstallRoot = root_;
    Session().ProgramName = "TAVIRENO";
  }
  void TearDown() override {
    ResetLanguageText();
    ResetSession();
    fs::remove_all(root_);
  }

  std::string FilePath() const { return root_ + "LOCALE/TAVIRENO.LNG"; }

  void WriteFile(const std::string& bytes) {
    fs::create_directories(root_ + "LOCALE");
    File f;
    ASSERT_EQ(OpenFile(FilePath(), FileAccess::kWriteTruncate, FileShare::kShared, &f),
              FileResult::kOk);
    ASSERT_TRUE(f.WriteAt(0, bytes.data(), bytes.size()));
  }

  std::string In(const char* language, std::string_view text) {
    SetSessionLanguage(language);
    return Translate(text);
  }

  std::string root_;
};

// Catalan, Galician-Portuguese, Aranese, Spanish.
const char kFile[] =
    "\"Idioma per defecte:  \",\"Idioma por defeito:  \",\"Lenga per defaut:  \","
    "\"Idioma por defecto:  \"\r\n"
    "\"|CAT,Catal\x85|SPA,Castell\x85\",\"|CAT,Catal\x83m\",\"|CAT,Catalan\",\"|CAT,"
    "Catal\xA0n\"\r\n"
    "Sortir,Sair,Gessir,Salir\r\n"
    "Buit,Vazio,,Vac\xA1o\r\n"  // no Aranese text
    "Sortir,second,record,ignored\r\n"
    "Esc\r\n";  // a lone last field

TEST_F(LanguageTextTest, EachLanguageTakesItsColumn) {
  WriteFile(kFile);
  struct Case {
    const char* language;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"SPA", "Sortir", "Salir"},
      {"GLG", "Sortir", "Sair"},
      {"OCI", "Sortir", "Gessir"},
      {"SPA", "Idioma per defecte:  ", "Idioma por defecto:  "},
      {"GLG", "|CAT,Catal\x85|SPA,Castell\x85", "|CAT,Catal\x83m"},  // one text, separators too
      {"OCI", "Buit", ""},            // an empty text in the file is the result
      {"SPA", "Sortir ", "Sortir "},  // a trailing blank more: no match
      {"SPA", "sortir", "sortir"},    // letter case counts
      {"SPA", "Idioma per defecte:", "Idioma per defecte:"},
      {"SPA", "Esc", "Esc"},        // the lone last field is no record
      {"spa", "Sortir", "Sortir"},  // unknown codes keep the Catalan text
      {"   ", "Sortir", "Sortir"},
      {"ENG", "Sortir", "Sortir"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(In(c.language, c.text), c.expected) << c.language << " [" << c.text << "]";
  }
}

TEST_F(LanguageTextTest, CatalanNeverTouchesTheFile) {
  EXPECT_EQ(In("CAT", "Sortir"), "Sortir");
  EXPECT_FALSE(fs::exists(root_ + "LOCALE"));
  EXPECT_EQ(LanguageText().LanguageFileName, "");

  WriteFile(kFile);
  EXPECT_EQ(In("CAT", "Sortir"), "Sortir");  // a file with the text changes nothing
}

TEST_F(LanguageTextTest, MissingFileIsCreatedEmptyAndTheNameKept) {
  fs::create_directories(root_ + "LOCALE");
  EXPECT_EQ(In("SPA", "Sortir"), "Sortir");
  EXPECT_TRUE(fs::exists(FilePath()));
  EXPECT_EQ(fs::file_size(FilePath()), 0u);
  EXPECT_EQ(LanguageText().LanguageFileName, "TAVIRENO");

  // The name is set once: a later program name does not move the file.
  Session().ProgramName = "OTHER";
  WriteFile(kFile);
  EXPECT_EQ(In("SPA", "Sortir"), "Salir");
  EXPECT_EQ(LanguageTextPath(), root_ + "LOCALE\\TAVIRENO.LNG");
}

// A run that must write nothing leaves a missing file missing and still
// reads an existing one.
TEST_F(LanguageTextTest, ARunThatWritesNothingCreatesNoFile) {
  LanguageText().CreateMissingFile = false;
  fs::create_directories(root_ + "LOCALE");
  EXPECT_EQ(In("SPA", "Sortir"), "Sortir");
  EXPECT_FALSE(fs::exists(FilePath()));
  WriteFile(kFile);
  EXPECT_EQ(In("OCI", "Sortir"), "Gessir");
}

// The messages of a program that stops before it has changed anything: the
// same texts, but a missing file stays missing.
TEST_F(LanguageTextTest, TranslatingWithoutCreatingLeavesAMissingFileMissing) {
  fs::create_directories(root_ + "LOCALE");
  SetSessionLanguage("SPA");
  EXPECT_EQ(TranslateWithoutCreating("Sortir"), "Sortir");
  EXPECT_FALSE(fs::exists(FilePath()));
  WriteFile(kFile);
  for (const char* language : {"SPA", "GLG", "OCI", "CAT"}) {
    SetSessionLanguage(language);
    EXPECT_EQ(TranslateWithoutCreating("Sortir"), Translate("Sortir")) << language;
  }
}

TEST_F(LanguageTextTest, WithoutTheDirectoryTextsStayCatalan) {
  EXPECT_EQ(In("SPA", "Sortir"), "Sortir");
  EXPECT_FALSE(fs::exists(root_ + "LOCALE"));
}

TEST_F(LanguageTextTest, RecordsCutShortAndChangesBetweenCalls) {
  WriteFile("Sortir,Sair\r\n");  // the Aranese and Spanish texts are missing
  EXPECT_EQ(In("GLG", "Sortir"), "Sair");
  EXPECT_EQ(In("SPA", "Sortir"), "");
  // Nothing is cached: every call reads the file as it is now.
  WriteFile("Sortir,Sair,Gessir,Salir\r\n");
  EXPECT_EQ(In("SPA", "Sortir"), "Salir");
  // An empty line shifts the records after it.
  WriteFile("\r\nSortir,Sair,Gessir,Salir\r\n");
  EXPECT_EQ(In("SPA", "Sortir"), "Sortir");
  EXPECT_EQ(In("SPA", ""), "Gessir");      // the empty line is a Catalan text now
  EXPECT_EQ(In("SPA", "Salir"), "Salir");  // and "Salir" the file's lone last field
}

}  // namespace
}  // namespace kel
