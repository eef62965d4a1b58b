#include "screen/form_dialog.h"

#include <memory>
#include <vector>

#include "screen/field_editor.h"
#include "screen/form_tables.h"
#include "screen/screen_test_support.h"
#include "screen/windows.h"
#include "util/fixed_text.h"
#include "util/save_stack.h"

namespace kel {
namespace {

using keys::kDown;
using keys::kEnter;
using keys::kEsc;
using keys::kLeft;
using keys::kPgDn;
using keys::kPgUp;
using keys::kRight;
using keys::kUp;

constexpr std::int16_t kF1 = 0x3B00;
constexpr std::int16_t kF2 = 0x3C00;
constexpr std::int16_t kF3 = 0x3E00;
constexpr std::int16_t kF5 = 0x3F00;

constexpr std::uint8_t kAttrH = 0x0F;  // the default colour table: h white on black
constexpr std::uint8_t kAttrN = 0x07;  // n grey on black
constexpr std::uint8_t kAttrR = 0x70;  // r black on grey

constexpr char kLanguages[] =
    "|CAT,Catal\x85|SPA,Castell\x85|GLG,Galego-portugu\x8As|OCI,Aran\x8As";

// One input: a key, or a click at a cell.
struct Input {
  std::int16_t key = 0;
  int row = 0;
  int col = 0;
};
Input Click(int row, int col) { return Input{0, row, col}; }

class FormDialogTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    ResetFieldEditor();
    ResetFormDialog();
    ResetSaveStack();
    ClearFormTables();
    // The caller's own table must be back after every dialog.
    SetExitKeys("ea", "1234");
  }

  void TearDown() override {
    const FieldEditorState& e = FieldEditor();
    EXPECT_EQ(e.ExitKeyDepth, 0) << "an exit-key table was left saved";
    EXPECT_EQ(e.ExitKeys, std::string("\x34\x12", 2)) << "the caller's exit keys were lost";
    EXPECT_EQ(e.MaskChar, 0);
    EXPECT_EQ(e.ChoiceList, "");
    EXPECT_EQ(SaveStackGlobals().SaveStack, "") << "the save stack is unbalanced";
    const FormDialogState& g = FormDialogGlobals();
    EXPECT_EQ(g.LastFieldForm, 0);
    EXPECT_EQ(g.LastFieldNumber, 0);
    EXPECT_EQ(g.LastFieldValue, "");
    ClearFormTables();
    ResetFormDialog();
    ResetFieldEditor();
    ScreenTest::TearDown();
  }

  static FormField* AddField(std::int16_t form, std::int16_t k, std::int16_t row, std::int16_t col,
                             const std::string& label, std::int16_t length,
                             std::int16_t flags = 0) {
    Form* f = MutableForm(form);
    if (f->FormFieldCount < k) f->FormFieldCount = k;
    FormField* field = MutableField(form, k);
    field->FieldRow = row;
    field->FieldColumn = col;
    field->FieldLabel = label;
    field->FieldLength = length;
    field->FieldFlags = flags;
    field->FieldValue = std::string(static_cast<std::size_t>(length), ' ');
    return field;
  }

  // Form `form` with `n` editable text fields of 5 characters: field k on
  // row 2 + k, label "Fk: " at column 3, value from column 7.
  static void TextForm(std::int16_t form, std::int16_t n, const char* keys = "d,1b,4800,5000") {
    MutableForm(form)->FormKeys = keys;
    for (std::int16_t k = 1; k <= n; ++k) {
      AddField(form, k, static_cast<std::int16_t>(2 + k), 3, "F" + std::to_string(k) + ": ", 5);
    }
  }

  // The language form of the sample installation: eight explanatory labels
  // (flag 4, no value) and the language selector as field 9.
  static void LanguageForm() {
    ResetFormTables(1, 9);
    MutableForm(1)->FormKeys = "d,1b,4800,5000,4900,5100";
    const std::int16_t rows[] = {3, 5, 6, 7, 8, 10, 12, 13};
    for (std::int16_t k = 1; k <= 8; ++k) {
      AddField(1, k, rows[k - 1], 5, "Explanation " + std::to_string(k), 0, kFieldNotEditable);
    }
    FormField* lang = AddField(1, 9, 16, 5, "Idioma per defecte:  ", 3);
    lang->FieldChoices = kLanguages;
    lang->FieldValue = "SPA";
  }

  // Feeds one input each time the dialog waits, recording the field being
  // edited then; returns the key the dialog ended with. Inputs beyond the
  // script are Esc (at most 20), and are reported as overrun.
  std::int16_t Drive(std::int16_t form, std::vector<Input> inputs, std::int16_t back = 0,
                     std::int16_t forward = 0) {
    visits_.clear();
    auto script = std::make_shared<std::vector<Input>>(std::move(inputs));
    auto next = std::make_shared<std::size_t>(0);
    auto overrun = std::make_shared<int>(0);
    con().SetExhaustedHandler([this, script, next, overrun](MemoryConsole& c) {
      const FormDialogState& g = FormDialogGlobals();
      visits_.emplace_back(g.LastFieldForm, g.LastFieldNumber);
      if (*next < script->size()) {
        const Input& in = (*script)[(*next)++];
        if (in.row != 0) {
          c.QueueMouseRelease(in.row, in.col, 1);
        } else {
          c.QueueKey(in.key);
        }
        return true;
      }
      if (++*overrun > 20) return false;
      c.QueueKey(kEsc);
      return true;
    });
    std::int16_t key = 0;
    FormDialog(form, back, forward, &key);
    EXPECT_EQ(*next, script->size()) << "the dialog ended before its last input";
    EXPECT_EQ(*overrun, 0) << "the dialog wanted more input than the script had";
    con().SetExhaustedHandler(nullptr);
    return key;
  }

  // The fields edited, one per wait, as "form.field".
  std::vector<std::string> Visits() const {
    std::vector<std::string> v;
    for (auto [form, field] : visits_)
      v.push_back(std::to_string(form) + "." + std::to_string(field));
    return v;
  }

  static std::string Cells(int row, int col, int count) {
    return Row(row).substr(static_cast<std::size_t>(col - 1), static_cast<std::size_t>(count));
  }

  // Form 1 (two fields) continues into form 2 (two fields, in a window),
  // which continues into form 3 (one field).
  static void Chain() {
    ResetFormTables(3, 2);
    const char* keys = "d,1b,4800,5000,4900,5100,2,3c00";
    TextForm(1, 2, keys);
    TextForm(2, 2, keys);
    TextForm(3, 1, keys);
    MutableForm(1)->FormNext = 2;
    MutableForm(2)->FormNext = 3;
    MutableForm(2)->FormWindow = {0, 10, 30, 16, 70};
  }

  std::vector<std::pair<int, int>> visits_;
};

using V = std::vector<std::string>;

// ---------------------------------------------------------------------------
// The language form

TEST_F(FormDialogTest, LanguageFormPaintsTitleLabelsAndTheChosenLanguage) {
  LanguageForm();
  Session().SessionTitle = " GESTI\xE0 DEL PERSONAL ";  // 21 characters
  ASSERT_EQ(Session().SessionTitle.size(), 21u);
  std::string title_row, selector_row;
  std::int16_t key = 0;
  con().SetExhaustedHandler([&](MemoryConsole& c) {
    if (title_row.empty()) {
      title_row = Row(1);
      selector_row = Row(16);
      c.QueueKey(kLeft);
    } else {
      c.QueueKey(kEnter);
    }
    return true;
  });
  FormDialog(1, 0, 0, &key);
  EXPECT_EQ(key, kEnter);
  EXPECT_EQ(title_row.find(Session().SessionTitle), 29u);  // column 30
  EXPECT_EQ(ReadCell(1, 30).attr, kAttrR);
  EXPECT_EQ(Cells(3, 5, 13), "Explanation 1");
  EXPECT_EQ(ReadCell(3, 5).attr, kAttrN);
  EXPECT_EQ(ReadCell(16, 5).attr, kAttrN);
  // During the edit: the triangles around the 16-wide selector.
  EXPECT_EQ(selector_row.substr(24, 18),
            "\x11"
            "Castell\x85        \x10");
  // Left chose CAT; Enter on the only field ended the dialog and stored it.
  EXPECT_EQ(FieldAt(1, 9).FieldValue, "CAT");
  EXPECT_EQ(Cells(16, 5, 38), "Idioma per defecte:  Catal\x85           ");
  EXPECT_EQ(ReadCell(16, 26).attr, kAttrH);
}

TEST_F(FormDialogTest, LanguageFormSelectorByLetterAndCancel) {
  struct Case {
    const char* what;
    std::vector<Input> inputs;
    std::int16_t expected_key;
    const char* expected_value;
    const char* shown;
  };
  const Case cases[] = {
      {"letter g", {{'g'}, {kEnter}}, kEnter, "GLG", "Galego-portugu\x8As"},
      {"accented capital A",
       {{static_cast<std::int16_t>(0xB7)}, {kEnter}},
       kEnter,
       "OCI",
       "Aran\x8As          "},
      {"right twice", {{kRight}, {kRight}, {kEnter}}, kEnter, "OCI", "Aran\x8As          "},
      {"Esc keeps the stored value", {{kRight}, {kEsc}}, kEsc, "SPA", "Castell\x85        "},
      {"Tab confirms as Enter", {{kLeft}, {keys::kTab}}, kEnter, "CAT", "Catal\x85          "},
      {"Up on the first field of the first page stays",
       {{kUp}, {kEnter}},
       kEnter,
       "SPA",
       "Castell\x85        "},
      {"a click on a label is not a field",
       {Click(3, 6), {kEnter}},
       kEnter,
       "SPA",
       "Castell\x85        "},
  };
  for (const Case& c : cases) {
    LanguageForm();
    EXPECT_EQ(Drive(1, c.inputs), c.expected_key) << c.what;
    EXPECT_EQ(FieldAt(1, 9).FieldValue, c.expected_value) << c.what;
    EXPECT_EQ(Cells(16, 26, 16), c.shown) << c.what;
    for (const std::string& v : Visits()) EXPECT_EQ(v, "1.9") << c.what;
  }
}

TEST_F(FormDialogTest, TitleColumnRoundsHalvesToEven) {
  const std::pair<std::size_t, std::int16_t> cases[] = {
      {21, 30}, {19, 32}, {23, 30}, {0, 41}, {1, 40}, {2, 40}, {3, 40}, {80, 1}, {81, 1}, {500, 1},
  };
  for (auto [length, column] : cases) EXPECT_EQ(TitleColumn(length), column) << length;
}

TEST_F(FormDialogTest, TitleOnlyOnFormOne) {
  ResetFormTables(2, 3);
  TextForm(2, 1);
  Session().SessionTitle = "TITOL";
  Drive(2, {{kEsc}});
  EXPECT_EQ(Row(1).find("TITOL"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Moving through a form

TEST_F(FormDialogTest, FieldMoves) {
  struct Case {
    const char* what;
    std::vector<Input> inputs;
    std::int16_t expected_key;
    V visits;
  };
  const Case cases[] = {
      {"Esc on the first field ends", {{kEsc}}, kEsc, {"1.1"}},
      {"Esc on the second goes to the first",
       {{kEnter}, {kEsc}, {kEsc}},
       kEsc,
       {"1.1", "1.2", "1.1"}},
      {"Enter on the last field ends",
       {{kEnter}, {kEnter}, {kEnter}},
       kEnter,
       {"1.1", "1.2", "1.3"}},
      {"Down stops on the last field",
       {{kDown}, {kDown}, {kDown}, {2}},
       2,
       {"1.1", "1.2", "1.3", "1.3"}},
      {"Up on the first field of the first page stays", {{kUp}, {kEsc}}, kEsc, {"1.1", "1.1"}},
      {"Up goes back",
       {{kDown}, {kDown}, {kUp}, {kEsc}, {kEsc}},
       kEsc,
       {"1.1", "1.2", "1.3", "1.2", "1.1"}},
      {"PgDn to the last, PgUp to the first",
       {{kPgDn}, {kPgUp}, {kEsc}},
       kEsc,
       {"1.1", "1.3", "1.1"}},
      {"PgUp on the first without paging stays", {{kPgUp}, {kEsc}}, kEsc, {"1.1", "1.1"}},
      {"Ctrl+B ends", {{2}}, 2, {"1.1"}},
      {"F2 without a follow-on stays", {{kF2}, {kEsc}}, kEsc, {"1.1", "1.1"}},
      {"a click on the third value", {Click(5, 9), {kEsc}, {kEsc}}, kEsc, {"1.1", "1.3", "1.1"}},
      {"a click beside the values stays", {Click(5, 12), {kEsc}}, kEsc, {"1.1", "1.1"}},
      {"a click on a label stays", {Click(5, 3), {kEsc}}, kEsc, {"1.1", "1.1"}},
  };
  for (const Case& c : cases) {
    ResetFormTables(1, 3);
    TextForm(1, 3, "d,1b,4800,5000,4900,5100,2,3c00");
    EXPECT_EQ(Drive(1, c.inputs), c.expected_key) << c.what;
    EXPECT_EQ(Visits(), c.visits) << c.what;
  }
}

TEST_F(FormDialogTest, EnterEndsTheFormWhenEndIsOneOfItsKeys) {
  ResetFormTables(1, 3);
  TextForm(1, 3, "d,1b,4f00");
  EXPECT_EQ(Drive(1, {{kEnter}}), keys::kEnd);
  EXPECT_EQ(Drive(1, {{keys::kTab}}), keys::kEnd);
  EXPECT_EQ(Drive(1, {{keys::kEnd}, {keys::kShiftTab}, {kEsc}}), kEsc);  // neither is a key of it
}

TEST_F(FormDialogTest, FieldsWithFlagFourAreNeverEntered) {
  struct Case {
    const char* what;
    std::vector<Input> inputs;
    V visits;
  };
  // Fields 1 and 4 are labels; 2 and 3 take values: field 3 is a label
  // with a value area in the middle of the editable ones.
  const Case cases[] = {
      {"Enter skips it", {{kEnter}, {kEnter}}, {"1.2", "1.4"}},
      {"Up skips it", {{kEnter}, {kUp}, {kEsc}}, {"1.2", "1.4", "1.2"}},
      {"a click on it stays", {Click(5, 8), {kEsc}}, {"1.2", "1.2"}},
      {"a click on the first label stays", {Click(3, 8), {kEsc}}, {"1.2", "1.2"}},
  };
  for (const Case& c : cases) {
    ResetFormTables(1, 5);
    TextForm(1, 5);
    MutableField(1, 1)->FieldFlags = kFieldNotEditable;
    MutableField(1, 3)->FieldFlags = kFieldNotEditable;
    MutableField(1, 5)->FieldFlags = kFieldNotEditable;
    Drive(1, c.inputs);
    EXPECT_EQ(Visits(), c.visits) << c.what;
  }
}

TEST_F(FormDialogTest, AcceptedValuesAreStoredPaddedAndRedrawn) {
  ResetFormTables(1, 2);
  TextForm(1, 2);
  MutableField(1, 1)->FieldValue = "OLD";  // shorter than its length
  SetInsertToggle(false);
  std::vector<Input> inputs = {{'N'}, {'E'}, {'W'}, {kEnter}, {'X'}, {kEsc}, {kEsc}};
  EXPECT_EQ(Drive(1, inputs), kEsc);
  EXPECT_EQ(FieldAt(1, 1).FieldValue, "NEW  ");
  EXPECT_EQ(FieldAt(1, 2).FieldValue, "     ");  // Esc discarded the X
  EXPECT_EQ(Cells(3, 3, 9), "F1: NEW  ");
  EXPECT_EQ(Cells(4, 3, 9), "F2:      ");
  EXPECT_EQ(ReadCell(3, 7).attr, kAttrH);
  EXPECT_EQ(ReadCell(4, 7).attr, kAttrH);
}

TEST_F(FormDialogTest, HiddenFieldShowsOnlyXAndABlankEntryKeepsTheStoredValue) {
  ResetFormTables(1, 1);
  TextForm(1, 1);
  FormField* secret = MutableField(1, 1);
  secret->FieldFlags = kFieldHidden;
  secret->FieldValue = "PSWD5";
  std::vector<std::string> seen;
  con().SetExhaustedHandler([&](MemoryConsole& c) {
    seen.push_back(Cells(3, 7, 5));
    c.QueueKey(seen.size() == 1 ? 'Q' : kEnter);
    return true;
  });
  std::int16_t key = 0;
  FormDialog(1, 0, 0, &key);
  EXPECT_EQ(seen, (V{"XXXXX", "XXXXX"}));  // the stored value is never shown
  EXPECT_EQ(FieldAt(1, 1).FieldValue, "Q    ");
  EXPECT_EQ(Screenful().find("PSWD5"), std::string::npos);

  con().SetExhaustedHandler(nullptr);
  EXPECT_EQ(Drive(1, {{kEnter}}), kEnter);  // nothing typed: the stored value stays
  EXPECT_EQ(FieldAt(1, 1).FieldValue, "Q    ");
  EXPECT_EQ(Screenful().find("Q    "), std::string::npos);
}

TEST_F(FormDialogTest, FlagsForBlankStartAndCursorAtTheEnd) {
  ResetFormTables(1, 2);
  TextForm(1, 2);
  MutableField(1, 1)->FieldFlags = kFieldStartsBlank;
  MutableField(1, 1)->FieldValue = "KEEP ";
  MutableField(1, 2)->FieldFlags = kFieldCursorAtEnd;
  MutableField(1, 2)->FieldValue = "AB   ";
  SetInsertToggle(false);
  EXPECT_EQ(Drive(1, {{kEnter}, {'C'}, {kEnter}}), kEnter);
  EXPECT_EQ(FieldAt(1, 1).FieldValue, "KEEP ");  // a blank entry keeps it
  EXPECT_EQ(FieldAt(1, 2).FieldValue, "ABC  ");  // typed after the text
  EXPECT_EQ(Drive(1, {{'Z'}, {kEnter}, {kEnter}}), kEnter);
  EXPECT_EQ(FieldAt(1, 1).FieldValue, "Z    ");  // typed over a blank start
}

TEST_F(FormDialogTest, InformationAreaIsBlankedAroundTheEdit) {
  ResetFormTables(1, 1);
  TextForm(1, 1);
  MutableField(1, 1)->FieldAttr4 = 4;
  PutText(3, 12, "INFO", kAttrN);
  std::string during;
  con().SetExhaustedHandler([&](MemoryConsole& c) {
    during = Cells(3, 12, 4);
    c.QueueKey(kEnter);
    return true;
  });
  std::int16_t key = 0;
  FormDialog(1, 0, 0, &key);
  EXPECT_EQ(during, "    ");
  EXPECT_EQ(Cells(3, 12, 4), "    ");
}

// ---------------------------------------------------------------------------
// The application's procedures

TEST_F(FormDialogTest, RejectedValueBeepsAndStaysWithTheTypedText) {
  ResetFormTables(1, 2);
  TextForm(1, 2);
  int calls = 0;
  FormProcedures p;
  p.accept_field = [&](std::int16_t form, std::string* value, std::int16_t field, std::int16_t*) {
    ++calls;
    if (*value == "AB   ") return static_cast<std::int16_t>(1);
    MutableField(form, field)->FieldValue = *value;
    return static_cast<std::int16_t>(0);
  };
  SetFormProcedures(p);
  SetInsertToggle(true);
  EXPECT_EQ(Drive(1, {{'A'}, {'B'}, {kEnter}, {'C'}, {kEnter}, {kEsc}, {kEsc}}), kEsc);
  EXPECT_EQ(con().beeps(), 1);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(FieldAt(1, 1).FieldValue, "ABC  ");
  EXPECT_EQ(Visits(), (V{"1.1", "1.1", "1.1", "1.1", "1.1", "1.2", "1.1"}));
}

TEST_F(FormDialogTest, CompletionCheckKeepsTheOperatorInTheForm) {
  ResetFormTables(1, 2);
  TextForm(1, 2);
  std::vector<std::int16_t> asked;
  FormProcedures p;
  p.check_completion = [&](std::int16_t, std::int16_t* key) {
    asked.push_back(*key);
    return static_cast<std::int16_t>(asked.size() == 1 ? 1 : 0);
  };
  SetFormProcedures(p);
  EXPECT_EQ(Drive(1, {{kEnter}, {kEnter}, {kEsc}}), kEsc);
  EXPECT_EQ(asked, (std::vector<std::int16_t>{kEnter, kEsc}));
  EXPECT_EQ(Visits(), (V{"1.1", "1.2", "1.1"}));
}

TEST_F(FormDialogTest, FormWithoutEditableFieldsShowsAndCloses) {
  ResetFormTables(1, 2);
  MutableForm(1)->FormWindow = {0, 5, 10, 12, 60};
  AddField(1, 1, 2, 2, "ONLY A LABEL", 0, kFieldNotEditable);
  int checks = 0;
  FormProcedures p;
  p.check_completion = [&](std::int16_t, std::int16_t*) {
    ++checks;
    return static_cast<std::int16_t>(1);  // cannot keep anyone in it
  };
  SetFormProcedures(p);
  std::int16_t key = 0;
  FormDialog(1, 0, 0, &key);
  EXPECT_EQ(key, kEnter);
  EXPECT_EQ(checks, 1);
  EXPECT_EQ(Row(7).find("ONLY A LABEL"), std::string::npos);  // the window is gone again
}

TEST_F(FormDialogTest, UnknownFormsEndAtOnce) {
  ResetFormTables(1, 1);
  TextForm(1, 1);
  const std::int16_t forms[] = {0, 2, -2, 32767, -32768};
  for (std::int16_t form : forms) {
    std::int16_t key = 0;
    FormDialog(form, 0, 0, &key);
    EXPECT_EQ(key, kEsc) << form;
  }
  for (int r = 1; r <= 25; ++r) EXPECT_TRUE(IsBlank(Row(r))) << "row " << r;
}

TEST_F(FormDialogTest, WindowedFormIsFramedAndTheScreenComesBack) {
  ResetFormTables(1, 1);
  MutableForm(1)->FormWindow = {0, 5, 10, 12, 60};
  TextForm(1, 1);
  PutText(8, 20, "UNDERNEATH", kAttrN);
  std::string inside, frame;
  con().SetExhaustedHandler([&](MemoryConsole& c) {
    inside = Cells(8, 13, 9);  // window row 3, column 3 = screen 8, 13
    frame = Cells(5, 10, 3);
    c.QueueKey(kEsc);
    return true;
  });
  std::int16_t key = 0;
  FormDialog(1, 0, 0, &key);
  EXPECT_EQ(inside, "F1:      ");
  EXPECT_EQ(frame, "\xC9\xCD\xCD");
  EXPECT_EQ(Cells(8, 20, 10), "UNDERNEATH");
  EXPECT_EQ(Screen().WindowDepth, 0);
}

TEST_F(FormDialogTest, RefusedWindowDoesNotCloseTheCallersWindow) {
  ResetFormTables(1, 1);
  MutableForm(1)->FormWindow = {0, 20, 10, 30, 60};  // reaches below the screen
  TextForm(1, 1);
  ScopedWindow callers(2, 2, 20, 70);
  Drive(1, {{kEsc}});
  EXPECT_EQ(Screen().WindowDepth, 1);
}

// ---------------------------------------------------------------------------
// Help and lookup lists

TEST_F(FormDialogTest, HelpWithoutATopicOrHandlerEditsTheFieldAgain) {
  ResetFormTables(1, 1);
  TextForm(1, 1);
  SetInsertToggle(true);
  Session().MenuName = "";
  EXPECT_EQ(Drive(1, {{'A'}, {kF1}, {'B'}, {kEnter}}), kEnter);
  EXPECT_EQ(FieldAt(1, 1).FieldValue, "AB   ");  // the typing survived
  Session().MenuName = "TAVIRENO  ";             // no handler yet
  EXPECT_EQ(Drive(1, {{kF1}, {kEnter}}), kEnter);
  EXPECT_EQ(con().beeps(), 0);
}

TEST_F(FormDialogTest, HelpGetsTheTrimmedMenuNameAndTheFieldInProgress) {
  ResetFormTables(1, 2);
  TextForm(1, 2);
  Session().MenuName = "TAVIRENO  ";
  std::vector<std::string> topics;
  FormDialogState seen;
  std::size_t exit_depth = 0;
  RegisterFormHelp([&](std::string_view topic) {
    topics.emplace_back(topic);
    seen = FormDialogGlobals();
    exit_depth = static_cast<std::size_t>(FieldEditor().ExitKeyDepth);
  });
  SetInsertToggle(true);
  EXPECT_EQ(Drive(1, {{kEnter}, {'Q'}, {kF1}, {kEsc}, {kEsc}}), kEsc);
  EXPECT_EQ(topics, (V{"TAVIRENO"}));
  EXPECT_EQ(seen.LastFieldForm, 1);
  EXPECT_EQ(seen.LastFieldNumber, 2);
  EXPECT_EQ(seen.LastFieldValue, "Q    ");
  EXPECT_EQ(exit_depth, 1u);  // help runs inside the field's saved table
}

TEST_F(FormDialogTest, LookupKey) {
  struct Case {
    const char* what;
    bool registered;
    std::vector<std::int16_t> results;  // what the list returns, call by call
    bool hook_asks_again;
    std::vector<Input> inputs;
    std::int16_t expected_key;
    int beeps;
    V visits;
  };
  const Case cases[] = {
      {"no list registered", false, {}, false, {{kF3}, {kEsc}}, kEsc, 1, {"1.1", "1.1"}},
      {"left without a choice", true, {-1}, false, {{kF3}, {kEsc}}, kEsc, 1, {"1.1", "1.1"}},
      {"a read error", true, {4}, false, {{kF3}, {kEsc}}, kEsc, 1, {"1.1", "1.1"}},
      {"chosen: on as Down",
       true,
       {0},
       false,
       {{kF3}, {kEsc}, {kEsc}},
       kEsc,
       0,
       {"1.1", "1.2", "1.1"}},
      {"chosen on the last field: as Enter",
       true,
       {0},
       false,
       {{kEnter}, {kF3}},
       kEnter,
       0,
       {"1.1", "1.2"}},
      {"the hook asks for the list again",
       true,
       {0, 0},
       true,
       {{kF3}, {kEsc}, {kEsc}},
       kEsc,
       0,
       {"1.1", "1.2", "1.1"}},
  };
  for (const Case& c : cases) {
    ResetFormDialog();
    ResetFormTables(1, 2);
    TextForm(1, 2, "d,1b,4800,5000,3e00");
    MutableField(1, 1)->FieldAttr7 = 7;
    MutableField(1, 2)->FieldAttr7 = 7;
    std::vector<std::int16_t> lists;
    std::size_t call = 0;
    if (c.registered) {
      RegisterLookupList([&](std::int16_t list) {
        lists.push_back(list);
        return call < c.results.size() ? c.results[call++] : static_cast<std::int16_t>(-1);
      });
    }
    int hooks = 0;
    FormProcedures p;
    p.after_lookup = [&](std::int16_t* list, std::int16_t form, std::int16_t field) {
      ++hooks;
      MutableField(form, field)->FieldValue = "PICKD";
      if (c.hook_asks_again && hooks == 1) *list = 0;
    };
    SetFormProcedures(p);
    const int beeps_before = con().beeps();
    EXPECT_EQ(Drive(1, c.inputs), c.expected_key) << c.what;
    EXPECT_EQ(con().beeps() - beeps_before, c.beeps) << c.what;
    EXPECT_EQ(Visits(), c.visits) << c.what;
    EXPECT_EQ(call, c.results.size()) << c.what;
    for (std::int16_t list : lists) EXPECT_EQ(list, 7) << c.what;
    if (hooks > 0) {
      EXPECT_NE(Screenful().find("PICKD"), std::string::npos) << c.what;
    }
  }
}

TEST_F(FormDialogTest, F3OnAFieldWithoutAListIsAnOrdinaryKey) {
  ResetFormTables(1, 1);
  TextForm(1, 1, "d,1b,3e00");
  int lookups = 0;
  RegisterLookupList([&](std::int16_t) {
    ++lookups;
    return static_cast<std::int16_t>(0);
  });
  EXPECT_EQ(Drive(1, {{kF3}, {kEsc}}), kEsc);
  EXPECT_EQ(lookups, 0);
  EXPECT_EQ(con().beeps(), 0);
}

// A calculator opened with Alt+X from inside a field edit: it edits with
// an empty exit-key table of its own and types its result into the field.
std::string g_table_in_popup;
std::int16_t g_popup_key = 0;
std::string CalculatorPopup() {
  SetExitKeys("+e", "");
  g_table_in_popup = FieldEditor().ExitKeys;
  std::string value = "   ";
  std::int16_t pos = 1;
  EditField(20, 1, 0, &value, &pos, &g_popup_key);
  SetExitKeys("-", "");
  return "12";
}

TEST_F(FormDialogTest, PopupInsideAFieldEditGivesTheFormItsTableBack) {
  ResetFormTables(1, 2);
  TextForm(1, 2);
  RegisterCalculatorPopup(&CalculatorPopup);
  SetInsertToggle(false);
  // Alt+X, then the popup's own keys ('7', F5 ends its empty table), then
  // the typed result arrives, then Enter through both fields.
  EXPECT_EQ(Drive(1, {{keys::kAltX}, {'7'}, {kF5}, {kEnter}, {kEnter}}), kEnter);
  RegisterCalculatorPopup(nullptr);
  EXPECT_EQ(g_table_in_popup, "");
  EXPECT_EQ(g_popup_key, kF5);
  EXPECT_EQ(FieldAt(1, 1).FieldValue, "12   ");
  EXPECT_EQ(Visits(), (V{"1.1", "1.1", "1.1", "1.1", "1.2"}));
}

// ---------------------------------------------------------------------------
// Follow-on pages and paging

TEST_F(FormDialogTest, FollowOnPages) {
  struct Case {
    const char* what;
    std::vector<Input> inputs;
    std::int16_t back, forward;
    std::int16_t expected_key;
    V visits;
    std::int16_t resume;
  };
  const Case cases[] = {
      {"Enter through every page",
       {{kEnter}, {kEnter}, {kEnter}, {kEnter}, {kEnter}},
       0,
       0,
       kEnter,
       {"1.1", "1.2", "2.1", "2.2", "3.1"},
       0},
      {"Up on a follow-on page goes back",
       {{kEnter}, {kEnter}, {kUp}, {kEsc}, {kEsc}},
       0,
       0,
       kEsc,
       {"1.1", "1.2", "2.1", "1.2", "1.1"},
       0},
      {"Esc on the first field of a follow-on page goes back",
       {{kEnter}, {kEnter}, {kEsc}, {kEsc}, {kEsc}},
       0,
       0,
       kEsc,
       {"1.1", "1.2", "2.1", "1.2", "1.1"},
       0},
      {"Down past the last field continues",
       {{kDown}, {kDown}, {2}},
       0,
       0,
       2,
       {"1.1", "1.2", "2.1"},
       0},
      {"F2 anywhere continues", {{kF2}, {kF2}, {kEnter}}, 0, 0, kEnter, {"1.1", "2.1", "3.1"}, 0},
      {"Ctrl+B on a later page ends them all", {{kF2}, {2}}, 0, 0, 2, {"1.1", "2.1"}, 0},
      {"PgDn on the last field pages forward",
       {{kF2}, {kPgDn}, {kPgDn}},
       0,
       1,
       kPgDn,
       {"1.1", "2.1", "2.2"},
       2},
      {"PgUp on the first field pages back", {{kF2}, {kPgUp}}, 1, 0, kPgUp, {"1.1", "2.1"}, 2},
      {"PgDn without paging stays",
       {{kPgDn}, {kPgDn}, {kEsc}, {kEsc}},
       0,
       0,
       kEsc,
       {"1.1", "1.2", "1.2", "1.1"},
       0},
  };
  for (const Case& c : cases) {
    Chain();
    FormDialogGlobals().ResumeForm = 0;
    EXPECT_EQ(Drive(1, c.inputs, c.back, c.forward), c.expected_key) << c.what;
    EXPECT_EQ(Visits(), c.visits) << c.what;
    EXPECT_EQ(FormDialogGlobals().ResumeForm, c.resume) << c.what;
    EXPECT_EQ(Screen().WindowDepth, 0) << c.what;
  }
  FormDialogGlobals().ResumeForm = 0;
}

TEST_F(FormDialogTest, ReenteringAChainResumesOnThePageLeft) {
  Chain();
  EXPECT_EQ(Drive(1, {{kF2}, {kF2}, {kPgDn}}, 0, 1), kPgDn);
  EXPECT_EQ(FormDialogGlobals().ResumeForm, 3);
  // The caller shows the next record and enters the chain again.
  EXPECT_EQ(Drive(1, {{kEsc}, {kEsc}, {kEsc}}, 0, 1), kEsc);
  EXPECT_EQ(Visits(), (V{"3.1", "2.1", "1.1"}));
  EXPECT_EQ(FormDialogGlobals().ResumeForm, 0);
  // A form from which the page cannot be reached forgets it.
  FormDialogGlobals().ResumeForm = 1;
  EXPECT_EQ(Drive(3, {{kEsc}}), kEsc);
  EXPECT_EQ(FormDialogGlobals().ResumeForm, 0);
}

TEST_F(FormDialogTest, PageKeepsItsFormAndFieldOnTheSaveStackWhileTheNextRuns) {
  Chain();
  SavePush("caller");
  std::string during;
  con().SetExhaustedHandler([&](MemoryConsole& c) {
    if (FormDialogGlobals().LastFieldForm == 2) {
      during = SaveStackGlobals().SaveStack;
      c.QueueKey(kEsc);
    } else {
      c.QueueKey(during.empty() ? kF2 : kEsc);
    }
    return true;
  });
  std::int16_t key = 0;
  FormDialog(1, 0, 0, &key);
  EXPECT_EQ(key, kEsc);
  // "caller" with its length, then form 1 and field 1, each 2 bytes + length.
  EXPECT_EQ(during, std::string("caller\x06\x00\x01\x00\x02\x00\x01\x00\x02\x00", 16));
  EXPECT_EQ(SavePop(), "caller");
}

TEST_F(FormDialogTest, ChainThatLoopsDoesNotHangTheResume) {
  ResetFormTables(2, 1);
  TextForm(1, 1);
  TextForm(2, 1);
  MutableForm(1)->FormNext = 2;
  MutableForm(2)->FormNext = 1;
  FormDialogGlobals().ResumeForm = 5;  // not in the chain
  EXPECT_EQ(Drive(1, {{kEsc}}), kEsc);
  EXPECT_EQ(FormDialogGlobals().ResumeForm, 0);
}

}  // namespace
}  // namespace kel
