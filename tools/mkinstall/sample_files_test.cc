// The form file, the language text file and the configuration files of the
// sample installation, read back the way the program reads them.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tools/mkinstall/sample_sources.h"
#include "tools/mkinstall/text_files.h"

namespace kel {
namespace {

std::string Installed(const std::string& path) {
  const SampleFile* file = FindSampleFile("tree/" + path);
  EXPECT_NE(file, nullptr) << path;
  if (file == nullptr) return "";
  std::string bytes, error;
  EXPECT_TRUE(ConvertTreeFile(path, file->bytes, "/inst/", &bytes, &error)) << error;
  return bytes;
}

// Field-by-field input over CR LF text: a field is text in double quotes or
// unquoted text up to the next comma or line end; leading blanks are skipped.
class FieldReader {
 public:
  explicit FieldReader(std::string bytes) : bytes_(std::move(bytes)) {}

  bool AtEnd() const { return pos_ >= bytes_.size(); }

  // Skips whole lines whose first non-blank character is an apostrophe.
  void SkipComments() {
    while (!AtEnd()) {
      std::size_t i = pos_;
      while (i < bytes_.size() && bytes_[i] == ' ') ++i;
      if (i >= bytes_.size() || bytes_[i] != '\'') return;
      std::size_t end = bytes_.find("\r\n", i);
      pos_ = end == std::string::npos ? bytes_.size() : end + 2;
    }
  }

  std::string Text() {
    while (pos_ < bytes_.size() && bytes_[pos_] == ' ') ++pos_;
    std::string out;
    if (pos_ < bytes_.size() && bytes_[pos_] == '"') {
      std::size_t close = bytes_.find('"', pos_ + 1);
      EXPECT_NE(close, std::string::npos) << "unclosed quote";
      out = bytes_.substr(pos_ + 1, close - pos_ - 1);
      pos_ = close + 1;
      while (pos_ < bytes_.size() && bytes_[pos_] == ' ') ++pos_;
    } else {
      while (pos_ < bytes_.size() && bytes_[pos_] != ',' && bytes_[pos_] != '\r') {
        if (bytes_[pos_] != '\t' && bytes_[pos_] != '\n') out.push_back(bytes_[pos_]);
        ++pos_;
      }
    }
    if (bytes_.compare(pos_, 1, ",") == 0) {
      ++pos_;
    } else if (bytes_.compare(pos_, 2, "\r\n") == 0) {
      pos_ += 2;
    } else {
      EXPECT_TRUE(AtEnd()) << "a field ends in \"" << bytes_.substr(pos_, 10) << "\"";
    }
    return out;
  }

  int Number() { return std::stoi(Text()); }

 private:
  std::string bytes_;
  std::size_t pos_ = 0;
};

struct FormField {
  int row, column;
  std::string label;
  int length, columns, info, flags, attr6, list;
  std::string choices;
};

// Catalan text -> the record's four texts (Catalan, GLG, OCI, SPA).
std::map<std::string, std::vector<std::string>> LanguageRecords() {
  std::string bytes = Installed("LOCALE/TAVIRENO.LNG");
  EXPECT_EQ(bytes.find("\r\n\r\n"), std::string::npos) << "a blank line shifts the records";
  FieldReader reader(bytes);
  std::map<std::string, std::vector<std::string>> records;
  while (!reader.AtEnd()) {
    std::vector<std::string> record;
    for (int i = 0; i < 4; ++i) record.push_back(reader.Text());
    EXPECT_TRUE(records.emplace(record[0], record).second) << "twice: " << record[0];
  }
  return records;
}

TEST(SampleForm, FormOneHasItsNineFieldsAndTheLanguageSelector) {
  FieldReader reader(Installed("FORMS/TAVIRENO.JPN"));
  reader.SkipComments();
  ASSERT_EQ(reader.Number(), 1);  // FormCount
  EXPECT_GE(reader.Number(), 9);  // MaxFields
  reader.SkipComments();
  EXPECT_EQ(reader.Text(), "d,1b,4800,5000,4900,5100");
  ASSERT_EQ(reader.Number(), 9);
  EXPECT_EQ(reader.Number(), 0);  // no follow-on form
  int window[4];
  for (int& w : window) w = reader.Number();
  EXPECT_EQ(window[0], 0) << "form 1 draws on the whole screen";
  std::vector<FormField> fields(9);
  for (FormField& f : fields) {
    f.row = reader.Number();
    f.column = reader.Number();
    f.label = reader.Text();
    f.length = reader.Number();
    f.columns = reader.Number();
    f.info = reader.Number();
    f.flags = reader.Number();
    f.attr6 = reader.Number();
    f.list = reader.Number();
    f.choices = reader.Text();
  }
  reader.SkipComments();
  EXPECT_EQ(reader.Number(), 0);  // MenuEntryCount
  EXPECT_TRUE(reader.AtEnd()) << "nothing may follow the last list count";

  for (int k = 0; k < 9; ++k) {
    const FormField& f = fields[k];
    SCOPED_TRACE("field " + std::to_string(k + 1) + ": " + f.label);
    // Row 1 holds the title; rows 23 to 25 the progress window.
    EXPECT_GE(f.row, 2);
    EXPECT_LE(f.row, 22);
    EXPECT_GE(f.column, 1);
    EXPECT_EQ(f.list, 0);
    if (k < 8) {
      EXPECT_EQ(f.flags & 4, 4) << "explanatory lines are not editable";
      EXPECT_TRUE(f.choices.empty());
    }
  }
  const FormField& language = fields[8];
  EXPECT_EQ(language.length, 3);
  EXPECT_EQ(language.flags & 4, 0);
  EXPECT_EQ(language.choices,
            "|CAT,Catal\x85|SPA,Castell\x85|GLG,Galego-portugu\x8As|OCI,Aran\x8As");

  // Every label and the choice list are translated, and each translation
  // still fits the 80 columns from the field's place.
  std::map<std::string, std::vector<std::string>> texts = LanguageRecords();
  std::vector<std::string> translated;
  for (const FormField& f : fields) translated.push_back(f.label);
  translated.push_back(language.choices);
  for (std::size_t k = 0; k < translated.size(); ++k) {
    auto it = texts.find(translated[k]);
    ASSERT_NE(it, texts.end()) << "not in the language file: " << translated[k];
    const FormField& f = fields[std::min<std::size_t>(k, 8)];
    for (const std::string& text : it->second) {
      EXPECT_FALSE(text.empty()) << translated[k];
      if (k < 9) {
        int value = k == 8 ? 1 + 20 + 1 : f.length;  // the selector: arrows and widest option
        EXPECT_LE(f.column + static_cast<int>(text.size()) + value - 1, 80) << text;
      }
    }
  }
  // The options keep their codes, in the same order, in every language.
  for (const std::string& list : texts[language.choices]) {
    std::string codes;
    for (std::size_t bar = list.find('|'); bar != std::string::npos;
         bar = list.find('|', bar + 1)) {
      codes += list.substr(bar + 1, 3);
    }
    EXPECT_EQ(codes, "CATSPAGLGOCI") << list;
  }
}

TEST(SampleLanguageFile, EveryProgramTextIsTranslated) {
  std::map<std::string, std::vector<std::string>> texts = LanguageRecords();
  const char* program_texts[] = {
      "TAVIRENO versi\xA2 1.01",
      "Localitzaci\xA2 aplicacions KEL",
      "S'HA CANVIAT L'IDIOMA PER DEFECTE A ",
      "Instal\xFAlaci\xA2: ",
      "Idioma que s'aplica: ",
  };
  for (const char* text : program_texts) {
    auto it = texts.find(text);
    ASSERT_NE(it, texts.end()) << text;
    const std::vector<std::string>& record = it->second;
    for (std::size_t i = 1; i < 4; ++i) {
      EXPECT_FALSE(record[i].empty()) << text;
      EXPECT_NE(record[i], record[0]) << "untranslated: " << text;
      // A text that leads into a value keeps its trailing blank.
      EXPECT_EQ(record[i].back() == ' ', record[0].back() == ' ') << record[i];
    }
  }
  EXPECT_EQ(texts["S'HA CANVIAT L'IDIOMA PER DEFECTE A "][3],
            "SE HA CAMBIADO EL IDIOMA POR DEFECTO A ");
}

// A text with values ("%1", "%2" ...) keeps every place in each language,
// so the program can put its values in whatever order a language needs.
TEST(SampleLanguageFile, EveryTranslationKeepsThePlacesOfItsValues) {
  const auto places = [](const std::string& text) {
    std::string found;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
      if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9') found += text[i + 1];
    }
    std::sort(found.begin(), found.end());
    return found;
  };
  int with_values = 0;
  for (const auto& [catalan, record] : LanguageRecords()) {
    if (!places(catalan).empty()) ++with_values;
    for (std::size_t i = 1; i < 4; ++i) {
      EXPECT_EQ(places(record[i]), places(catalan)) << record[i];
      EXPECT_FALSE(record[i].empty()) << catalan;
    }
  }
  EXPECT_GE(with_values, 8) << "the administrators' messages";
}

TEST(SampleConfiguration, FilesNameTheProgramLanguageAndTerminal) {
  const struct {
    const char* path;
    const char* line;
  } cases[] = {
      {"Nuri.ini", "[Usuari]\r\n"},
      {"Nuri.ini", "\r\nIdioma=CAT\r\n"},
      {"Nuri.ini", "\r\nDatCaracter=/\r\n"},
      {"Nuri.ini", "\r\nDatOrdre=DMA\r\n"},
      {"TERM01/Sessio.ini", "\r\nTitol=Localitzaci\xA2 aplicacions KEL\r\n"},
      {"TERM01/Sessio.ini", "\r\nNomMenu=TAVIRENO\r\n"},
      {"TERM01/Sessio.ini", "\r\nDir=/inst/TERM01\r\n"},
      {"TERM01/NuriTerm.ini", "\r\nSeleccio=1\r\n"},
      {"TERM01/NuriTerm.ini", "\r\nCol1=14011501000315030007\r\n"},
      {"TERM01/NuriTerm.ini", "[Sistema]\r\nData=20250314\r\n"},
      {"TERM01/NuriTerm.ini", "\r\nIdioma=CAT\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(Installed(c.path).find(c.line), std::string::npos) << c.path << ": " << c.line;
  }
}

}  // namespace
}  // namespace kel
