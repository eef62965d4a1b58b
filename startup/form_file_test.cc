#include "startup/form_file.h"

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "screen/field_editor.h"
#include "screen/form_tables.h"
#include "util/session_context.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

// Lines of a form file, joined with CR LF.
std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// The header, form 1 (eight label fields and the language field of
// `language_length`), a list count of 1 and one list entry; `comment` is put
// before each part when not empty.
std::vector<std::string> SampleLines(const std::string& comment = "",
                                     const std::string& language_length = "3") {
  std::vector<std::string> lines;
  auto note = [&] {
    if (!comment.empty()) lines.push_back(comment);
  };
  note();
  lines.push_back("1,9");
  note();
  lines.push_back("\"d,1b,4800,5000\",9,0");
  lines.push_back("0,0,0,0");
  for (int k = 1; k <= 8; ++k) {
    lines.push_back(std::to_string(k + 2) + ",5,\"Explicaci\xA2 " + std::to_string(k) +
                    "\",0,0,0,4,0,0,\"\"");
  }
  lines.push_back("16,5,\"Idioma per defecte:  \"," + language_length +
                  ",0,0,0,0,0,\"|CAT,Catal\x85|SPA,Castell\x85\"");
  note();
  lines.push_back("1");
  note();
  lines.push_back("49,0,2,3,20,60,0,\"Conceptes\",5");
  return lines;
}

class FormFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string templ = MakeTestDirectory("kel-form");
    ASSERT_FALSE(templ.empty());
    dir_ = templ;
    Session().SessionLanguage = "SPA";
  }
  void TearDown() override {
    ClearFormTables();
    ResetSession();
    std::filesystem::remove_all(dir_);
  }

  // Writes `bytes` as the form file and loads it with a translator that
  // marks every text it was given.
  FormFileStatus Load(const std::string& bytes) {
    const std::string path = dir_ + "/FORM.JPN";
    File f;
    EXPECT_EQ(OpenFile(path, FileAccess::kWriteTruncate, FileShare::kShared, &f), FileResult::kOk);
    EXPECT_TRUE(f.WriteAt(0, bytes.data(), bytes.size()));
    f.Close();
    translated_.clear();
    message_.clear();
    detail_ = "stale";
    return LoadFormFile(
        path,
        [this](std::string_view text) {
          translated_.emplace_back(text);
          return "T(" + std::string(text) + ")";
        },
        &message_, &detail_);
  }

  // Everything the tables hold, as one text, to compare two loads.
  static std::string Dump() {
    const FormTablesState& t = FormTables();
    std::string out = std::to_string(t.FormCount) + "/" + std::to_string(t.MaxFields) + "/" +
                      std::to_string(t.MenuEntryCount) + "\n";
    for (std::int16_t f = 1; f <= t.FormCount; ++f) {
      const Form& form = FormAt(f);
      out += form.FormKeys + "|" + std::to_string(form.FormFieldCount) + "|" +
             std::to_string(form.FormNext);
      for (std::int16_t w : form.FormWindow) out += "," + std::to_string(w);
      out += "\n";
      for (std::int16_t k = 1; k <= form.FormFieldCount; ++k) {
        const FormField& x = FieldAt(f, k);
        for (int n : {x.FieldRow, x.FieldColumn, x.FieldLength, x.FieldAttr3, x.FieldAttr4,
                      x.FieldFlags, x.FieldAttr6, x.FieldAttr7}) {
          out += std::to_string(n) + ",";
        }
        out += x.FieldLabel + "|" + x.FieldChoices + "|[" + x.FieldValue + "]\n";
      }
    }
    for (std::int16_t j = 0; j <= t.MenuEntryCount; ++j) {
      for (std::int16_t n : MenuEntryAt(j).MenuEntry) out += std::to_string(n) + ",";
      out += MenuEntryAt(j).MenuText + "\n";
    }
    return out;
  }

  std::string dir_;
  std::string message_;
  std::string detail_;  // the loader's words alone
  std::vector<std::string> translated_;
};

TEST_F(FormFileTest, LoadsTranslatesOnceAndFillsTheLanguageField) {
  ASSERT_EQ(Load(Lines(SampleLines())), FormFileStatus::kOk) << message_;
  EXPECT_EQ(FormTables().FormCount, 1);
  EXPECT_EQ(FormAt(1).FormKeys, "d,1b,4800,5000");  // not a text to translate
  EXPECT_EQ(FieldAt(1, 1).FieldLabel, "T(Explicaci\xA2 1)");
  EXPECT_EQ(FieldAt(1, 1).FieldChoices, "T()");
  EXPECT_EQ(FieldAt(1, 9).FieldChoices, "T(|CAT,Catal\x85|SPA,Castell\x85)");
  EXPECT_EQ(FieldAt(1, 9).FieldLength, 3);
  EXPECT_EQ(LanguageFieldValue(), "SPA");
  EXPECT_EQ(FieldAt(1, 1).FieldValue, "");  // FieldLength 0: an empty value
  EXPECT_EQ(MenuEntryAt(1).MenuText, "T(Conceptes)");
  EXPECT_EQ(MenuEntryAt(1).MenuEntry, (std::array<std::int16_t, 8>{49, 0, 2, 3, 20, 60, 0, 5}));
  EXPECT_EQ(MenuEntryAt(0).MenuEntry, (std::array<std::int16_t, 8>{}));
  // Each label and choice list once, then the list title.
  EXPECT_EQ(translated_.size(), 9u * 2 + 1);
}

TEST_F(FormFileTest, CommentsAndTrailingLinesChangeNothing) {
  ASSERT_EQ(Load(Lines(SampleLines())), FormFileStatus::kOk) << message_;
  const std::string plain = Dump();
  const std::vector<std::vector<std::string>> variants = {
      SampleLines("' a comment, with \"quotes\""),
      SampleLines("   ' an indented comment"),
      SampleLines("\t'"),
      SampleLines("' " + std::string(40000, 'c')),  // longer than any field may be
      [] {
        auto lines = SampleLines();
        lines.push_back("junk,\"after the last entry\"");
        lines.push_back("77");
        return lines;
      }(),
  };
  for (const auto& lines : variants) {
    ASSERT_EQ(Load(Lines(lines)), FormFileStatus::kOk) << message_ << "\n" << Lines(lines);
    EXPECT_EQ(Dump(), plain) << Lines(lines);
  }
}

TEST_F(FormFileTest, LanguageFieldTakesTheSessionLanguageAtItsLength) {
  struct Case {
    std::string session;
    std::string length;
    std::string value;
  };
  for (const Case& c : {Case{"SPA", "5", "SPA  "}, Case{"CAT", "3", "CAT"},
                        Case{"   ", "4", "    "}, Case{"oci", "3", "oci"}}) {
    Session().SessionLanguage = c.session;
    ASSERT_EQ(Load(Lines(SampleLines("", c.length))), FormFileStatus::kOk) << message_;
    EXPECT_EQ(LanguageFieldValue(), c.value) << "session [" << c.session << "]";
  }
}

TEST_F(FormFileTest, FileEndingEarlyKeepsWhatWasRead) {
  auto lines = SampleLines();
  lines.resize(lines.size() - 2);  // no list count, no entry
  ASSERT_EQ(Load(Lines(lines)), FormFileStatus::kOk) << message_;
  EXPECT_EQ(FormTables().MenuEntryCount, 0);

  lines = SampleLines();
  lines[0] = "2,9";  // two forms declared, one present: the list count is read as form 2
  lines.resize(lines.size() - 2);
  ASSERT_EQ(Load(Lines(lines)), FormFileStatus::kOk) << message_;
  EXPECT_EQ(FormAt(2).FormFieldCount, 0);
  EXPECT_EQ(LanguageFieldValue(), "SPA");
}

TEST_F(FormFileTest, DamagedFilesAreRefusedBeforeAnythingIsTranslated) {
  struct Case {
    const char* what;
    int line;  // index into SampleLines() to replace; -1: cut the file there
    std::string text;
    std::string message;  // part of the message
    int line2 = -1;       // a second line to replace
    std::string text2 = "";
  };
  const Case cases[] = {
      {"negative form count", 0, "-1,9", "line 1: the number of forms is -1"},
      {"no forms", 0, "0,9", "the number of forms is 0"},
      {"absurd form count", 0, "30000,9", "the number of forms is 30000"},
      {"form count not a number", 0, "x,9", "the number of forms is not a number"},
      {"form count beyond 16 bits", 0, "70000,9", "does not fit in 16 bits"},
      {"negative fields per form", 0, "1,-3", "the number of fields per form is -3"},
      {"more fields than the maximum", 1, "\"d\",10,0", "a field count is 10, outside 0..9"},
      {"negative field count", 1, "\"d\",-1,0", "a field count is -1"},
      {"window corner not a number", 2, "0,0,zero,0", "line 3: a window corner"},
      {"negative field length", 3, "3,5,\"x\",-4,0,0,4,0,0,\"\"", "a field length is -4"},
      {"absurd field length", 3, "3,5,\"x\",30000,0,0,4,0,0,\"\"", "a field length is 30000"},
      {"flags not a number", 3, "3,5,\"x\",0,0,0,four,0,0,\"\"", "line 4: a field's flags"},
      {"form 1 with 8 fields", 1, "\"d\",8,0", "form 1 has 8 fields", 11, "0"},
      {"language field of 2", 11, "16,5,\"Idioma\",2,0,0,0,0,0,\"\"",
       "is 2 characters long; it needs at least 3"},
      {"file ends inside form 1", -1, "8", "form 1 has 5 fields"},
      {"negative list count", 12, "-1", "the number of lookup lists is -1"},
      {"absurd list count", 12, "5000", "the number of lookup lists is 5000"},
      {"list number not a number", 13, "a,0,2,3,20,60,0,\"t\",5", "a lookup-list number"},
      {"overlong label", 3, "3,5,\"" + std::string(40000, 'x') + "\",0,0,0,4,0,0,\"\"",
       "a label is longer than 32767"},
      {"overlong number", 3, "3," + std::string(40000, '0') + "5,\"x\",0,0,0,4,0,0,\"\"",
       "line 4: a field column is not a number"},
      {"form 1 follows itself", 1, "\"d,1b,4800,5000\",9,1",
       "the follow-on forms of form 1 lead back to form 1"},
      {"Esc not an exit key", 1, "\"d,4800,5000\",9,0", "the keys of form 1 (\"d,4800,5000\")"},
      {"Esc made Enter", 1, "\"d,1b=d\",9,0", "do not let Esc end a field edit"},
      {"no keys at all", 1, "\"\",9,0", "do not let Esc end a field edit"},
  };
  for (const Case& c : cases) {
    auto lines = SampleLines();
    if (c.line >= 0) {
      lines[static_cast<std::size_t>(c.line)] = c.text;
    } else {
      lines.resize(static_cast<std::size_t>(std::stoi(c.text)));
    }
    if (c.line2 >= 0) lines[static_cast<std::size_t>(c.line2)] = c.text2;
    EXPECT_EQ(Load(Lines(lines)), FormFileStatus::kDamaged) << c.what;
    EXPECT_NE(message_.find(c.message), std::string::npos) << c.what << ": " << message_;
    EXPECT_NE(message_.find("FORM.JPN is damaged"), std::string::npos) << c.what;
    EXPECT_NE(detail_.find(c.message), std::string::npos) << c.what << ": " << detail_;
    EXPECT_EQ(message_, "the form file " + dir_ + "/FORM.JPN is damaged: " + detail_) << c.what;
    EXPECT_TRUE(translated_.empty()) << c.what;
    EXPECT_EQ(FormTables().FormCount, 0) << c.what;
    EXPECT_EQ(LanguageFieldValue(), "") << c.what;
  }
}

// Form 1 of the sample followed by a form 2 of no fields.
std::vector<std::string> TwoForms(const std::string& next1, const std::string& keys2,
                                  const std::string& next2) {
  std::vector<std::string> lines = SampleLines();
  lines[0] = "2,9";
  lines[1] = "\"d,1b,4800,5000\",9," + next1;
  lines.insert(lines.begin() + 12, {"\"" + keys2 + "\",0," + next2, "0,0,0,0"});
  return lines;
}

TEST_F(FormFileTest, FollowOnChainsEndAndLetEscLeaveFormOne) {
  struct Case {
    std::string next1, keys2, next2;
    std::string refusal;  // "": loads
  };
  const Case cases[] = {
      {"2", "d,1B", "0", ""},
      {"2", "1b,d", "7", ""},  // a follow-on form beyond the file: no page, no loop
      {"0", "", "0", ""},      // form 2 is no page of form 1: its keys do not matter
      {"-2", "", "0", ""},     // a negative follow-on is none
      {"2", "d,1b", "1", "the follow-on forms of form 1 lead back to form 1"},
      {"0", "d,1b", "2", "the follow-on forms of form 2 lead back to form 2"},
      {"2", "d,4800", "0", "the keys of form 2 (\"d,4800\") do not let Esc"},
      {"2", "1b=4f00", "0", "the keys of form 2"},
  };
  for (const Case& c : cases) {
    const std::string file = Lines(TwoForms(c.next1, c.keys2, c.next2));
    if (c.refusal.empty()) {
      EXPECT_EQ(Load(file), FormFileStatus::kOk) << message_ << "\n" << file;
      EXPECT_EQ(FormAt(2).FormKeys, c.keys2);
    } else {
      EXPECT_EQ(Load(file), FormFileStatus::kDamaged) << file;
      EXPECT_NE(message_.find(c.refusal), std::string::npos) << message_;
    }
  }
  // The check leaves the exit-key table as it found it.
  EXPECT_EQ(FieldEditor().ExitKeyDepth, 0);
  EXPECT_EQ(FieldEditor().ExitKeys, "");
}

TEST_F(FormFileTest, MissingAndOversizedFiles) {
  translated_.clear();
  EXPECT_EQ(LoadFormFile(
                dir_ + "/NONE.JPN",
                [this](std::string_view t) {
                  translated_.emplace_back(t);
                  return std::string(t);
                },
                &message_),
            FormFileStatus::kMissing);
  EXPECT_NE(message_.find("NONE.JPN cannot be opened"), std::string::npos) << message_;
  EXPECT_TRUE(translated_.empty());

  std::string big = Lines(SampleLines());
  big += std::string(kMaxFormFileBytes, ' ');
  EXPECT_EQ(Load(big), FormFileStatus::kDamaged);
  EXPECT_NE(message_.find("larger than 1 MiB"), std::string::npos) << message_;
  EXPECT_EQ(detail_, "it is larger than 1 MiB");
  EXPECT_EQ(Load(Lines(SampleLines())), FormFileStatus::kOk);
  EXPECT_EQ(detail_, "");
}

}  // namespace
}  // namespace kel
