// The administrators' messages through the sample installation's language
// text file: every one in each language, with its values in their places.
#include "convert/run_messages.h"

#include <string>
#include <vector>

#include "convert/language_text.h"
#include "convert/test_support.h"
#include "gtest/gtest.h"
#include "platform/system.h"
#include "util/session_context.h"

namespace kel::testing {
namespace {

TEST(FillPlaceholdersTest, ValuesGoWhereTheTextSays) {
  const struct {
    const char* text;
    std::vector<std::string> values;
    const char* filled;
  } cases[] = {
      {"%1: %2 de %3", {"A", "1", "9"}, "A: 1 de 9"},
      {"%2 before %1", {"one", "two"}, "two before one"},
      {"%1 and %1", {"x"}, "x and x"},
      {"missing %3.", {"a"}, "missing ."},
      {"100% sure, %x, %0, %", {"a"}, "100% sure, %x, %0, %"},
      {"%1", {"%2 stays"}, "%2 stays"},  // values are not searched again
      {"", {"a"}, ""},
  };
  for (const auto& c : cases) {
    std::string out;
    if (c.values.size() == 1) {
      out = FillPlaceholders(c.text, {c.values[0]});
    } else if (c.values.size() == 2) {
      out = FillPlaceholders(c.text, {c.values[0], c.values[1]});
    } else {
      out = FillPlaceholders(c.text, {c.values[0], c.values[1], c.values[2]});
    }
    EXPECT_EQ(out, c.filled) << c.text;
  }
}

class RunMessagesTest : public InstallationTest {
 protected:
  void SetUp() override {
    InstallationTest::SetUp();
    ResetLanguageText();
    Session().InstallRoot = root_;
    Session().ProgramName = "TAVIRENO";
  }
  void TearDown() override {
    ResetLanguageText();
    InstallationTest::TearDown();
  }

  // Every message with distinctive values, in the session language.
  static std::vector<std::string> AllMessages() {
    ConversionTally tally;
    tally.records = 4321;
    tally.not_converted = 77;
    tally.files.push_back({"TAULES\\UPaisos", 298, 77, "REASON-A"});
    ConversionTally first_problem_only;
    first_problem_only.first_problem = "PROBLEM-B";
    // A damaged file: a new run would not finish it.
    ConversionTally damaged;
    damaged.records = 4321;
    damaged.not_converted = 12;
    damaged.files.push_back({"TAULES\\UCae", 40, 12, "REASON-H", true});
    return {
        PlainOutputNotice("WHY-C"),
        NoTerminalMessage(),
        FormFileStopMessage(FormFileStatus::kMissing, "PATH-D", ""),
        FormFileStopMessage(FormFileStatus::kDamaged, "PATH-E", "DETAIL-F"),
        SignalStopMessage("SIGTERM"),
        IncompleteConversionMessage(tally, 18),
        IncompleteConversionMessage(first_problem_only, 0),
        IncompleteConversionMessage(damaged, 0),
        LanguageNotRecordedMessage("PATH-G", 3),
    };
  }
};

TEST_F(RunMessagesTest, CatalanIsTheTextItselfWithItsValues) {
  SetSessionLanguage("CAT");
  const std::vector<std::string> expected = {
      "WHY-C (Una execuci\xA2 sense operador no necessita pantalla: continua amb sortida de "
      "text.)",
      "no hi ha cap terminal on mostrar el formulari (l'entrada i la sortida est\x85ndard han de "
      "ser un terminal). Executeu-lo en un terminal, o amb /AUTO per aplicar l'idioma configurat "
      "sense operador.",
      "no es pot obrir el fitxer de formularis PATH-D. No s'ha canviat res.",
      "el fitxer de formularis PATH-E \x82s malm\x8As: DETAIL-F. No s'ha canviat res.",
      "aturat per SIGTERM: els fitxers convertits fins ara conserven els textos nous i els altres "
      "s\xA2n com eren; no s'ha desat res. Una nova execuci\xA2 acaba la feina.",
      "la conversi\xA2 no \x82s completa: TAULES\\UPaisos: 77 de 298 registres no tenen el text "
      "nou (REASON-A); el tancament dels fitxers de dades ha fallat amb l'estat 18; 77 de 4321 "
      "registres no tenen el text nou. Una nova execuci\xA2 acaba la feina (quan els fitxers "
      "estiguin lliures).",
      "la conversi\xA2 no \x82s completa: PROBLEM-B; 0 de 0 registres no tenen el text nou. Una "
      "nova execuci\xA2 acaba la feina (quan els fitxers estiguin lliures).",
      "la conversi\xA2 no \x82s completa: TAULES\\UCae: 12 de 40 registres no tenen el text nou "
      "(REASON-H); 12 de 4321 registres no tenen el text nou. Comproveu els fitxers malmesos amb "
      "recutil check (recutil check --repair en ref\x85 les claus) i torneu-ho a executar.",
      "no s'ha pogut desar l'idioma a PATH-G (error 3).",
  };
  EXPECT_EQ(AllMessages(), expected);
}

// The sample installation translates every message; each translation keeps
// every value (once where the Catalan has it once) and leaves no place
// unfilled.
TEST_F(RunMessagesTest, EveryMessageIsTranslatedWithItsValuesInPlace) {
  SetSessionLanguage("CAT");
  const std::vector<std::string> catalan = AllMessages();
  const char* values[] = {"WHY-C",  "PATH-D",  "PATH-E",         "DETAIL-F", "SIGTERM",
                          "REASON-A", "PROBLEM-B", "TAULES\\UPaisos", "4321",     "PATH-G",
                          "REASON-H", "TAULES\\UCae"};
  for (const char* language : {"SPA", "GLG", "OCI"}) {
    SetSessionLanguage(language);
    const std::vector<std::string> translated = AllMessages();
    ASSERT_EQ(translated.size(), catalan.size());
    for (std::size_t i = 0; i < catalan.size(); ++i) {
      EXPECT_NE(translated[i], catalan[i]) << language << ": untranslated " << catalan[i];
      EXPECT_EQ(translated[i].find('%'), std::string::npos) << language << ": " << translated[i];
      for (const char* value : values) {
        const auto count = [value](const std::string& text) {
          int n = 0;
          for (std::size_t at = text.find(value); at != std::string::npos;
               at = text.find(value, at + 1)) {
            ++n;
          }
          return n;
        };
        EXPECT_EQ(count(translated[i]), count(catalan[i]))
            << language << ": " << value << " in " << translated[i];
      }
    }
  }
  SetSessionLanguage("SPA");
  EXPECT_EQ(LanguageNotRecordedMessage("/srv/kel/Nuri.ini", 3),
            "no se ha podido guardar el idioma en /srv/kel/Nuri.ini (error 3).");
  SetSessionLanguage("GLG");
  EXPECT_EQ(SignalStopMessage("SIGINT").substr(0, 18), "detido por SIGINT:");
  SetSessionLanguage("OCI");
  EXPECT_EQ(FormFileStopMessage(FormFileStatus::kMissing, "F", ""),
            "non se p\x95t daurir eth fich\x8Ar de formularis F. Non s'a cambiat arren.");
}

// A language text file without these texts: the Catalan reference, as for
// every other program text.
TEST_F(RunMessagesTest, WithoutATranslationTheCatalanTextStays) {
  File f;
  ASSERT_EQ(OpenFile(Session().InstallRoot + "LOCALE\\TAVIRENO.LNG", FileAccess::kWriteTruncate,
                     FileShare::kShared, &f),
            FileResult::kOk);
  f.Close();
  SetSessionLanguage("SPA");
  EXPECT_EQ(LanguageNotRecordedMessage("N", 4), "no s'ha pogut desar l'idioma a N (error 4).");
  // And without a file, none is made: the program may be stopping before it
  // changed anything.
  ASSERT_TRUE(DeleteFile(Session().InstallRoot + "LOCALE\\TAVIRENO.LNG"));
  EXPECT_EQ(NoTerminalMessage().substr(0, 14), "no hi ha cap t");
  EXPECT_FALSE(FileExists(Session().InstallRoot + "LOCALE\\TAVIRENO.LNG"));
}

}  // namespace
}  // namespace kel::testing
