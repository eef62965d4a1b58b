#include "screen/form_dialog.h"

#include <functional>
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
using keys::kEnd;
using keys::kEnter;
using keys::kEsc;
using keys::kLeft;
using keys::kPgDn;
using keys::kPgUp;
using keys::kRight;
using keys::kTab;
using keys::kUp;
constexpr std::int16_t kCtrlB = 2;
constexpr std::int16_t kF1 = 0x3B00;
constexpr std::int16_t kF2 = 0x3C00;
constexpr std::int16_t kF3 = 0x3E00;
constexpr std::int16_t kF5 = 0x3F00;

// The default colour table: h white on black, n grey on black, r and u
// black on grey.
constexpr std::uint8_t kAttrH = 0x0F;
constexpr std::uint8_t kAttrN = 0x07;
constexpr std::uint8_t kAttrR = 0x70;

constexpr char kLanguages[] =
    "|CAT,Catal\x85|SPA,Castell\x85|GLG,Galego-portugu\x8As|OCI,Aran\x8As";

// One input: a key, or a click at (row, col).
struct Input {
  std::int16_t key = 0;
  int row = 0, col = 0;
};
Input Click(int row, int col) { return Input{0, row, col}; }
using V = std::vector<std::string>;

class FormDialogTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    ResetFieldEditor();
    ResetFormDialog();
    ResetSaveStack();
    ClearFormTables();
    SetExitKeys("ea", "1234");  // the caller's own table must come back
  }

  void TearDown() override {
    const FieldEditorState& e = FieldEditor();
    EXPECT_EQ(e.ExitKeyDepth, 0) << "an exit-key table was left saved";
    EXPECT_EQ(e.ExitKeys, std::string("\x34\x12", 2)) << "the caller's exit keys were lost";
    EXPECT_EQ(e.MaskChar, 0);
    EXPECT_EQ(e.ChoiceList, "");
    EXPECT_EQ(SaveStackGlobals().SaveStack, "") << "the save stack is unbalanced";
    const FormDialogState& g = FormDialogGlobals();
    EXPECT_EQ(g.LastFieldForm + g.LastFieldNumber, 0);
    EXPECT_EQ(g.LastFieldValue, "");
    ClearFormTables();
    ResetFormDialog();
    ResetFieldEditor();
    ScreenTest::TearDown();
  }

  static FormField* AddField(std::int16_t form, std::int16_t k, std::int16_t row,
                             const std::string& label, std::int16_t length, std::int16_t flags = 0,
                             std::int16_t col = 3) {
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

  // `n` editable fields of 5 characters: field k on row 2 + k, label "Fk: "
  // from column 3, value from column 7.
  static void TextForm(std::int16_t form, std::int16_t n, const char* keys = "d,1b,4800,5000") {
    MutableForm(form)->FormKeys = keys;
    for (std::int16_t k = 1; k <= n; ++k) {
      AddField(form, k, static_cast<std::int16_t>(2 + k), "F" + std::to_string(k) + ": ", 5);
    }
  }

  // The installation's language form: eight explanatory labels (flag 4, no
  // value) and the language selector, field 9, at row 16, value column 26.
  static void LanguageForm() {
    ResetFormTables(1, 9);
    MutableForm(1)->FormKeys = "d,1b,4800,5000,4900,5100";
    const std::int16_t rows[] = {3, 5, 6, 7, 8, 10, 12, 13};
    for (std::int16_t k = 1; k <= 8; ++k) {
      AddField(1, k, rows[k - 1], "Explanation " + std::to_string(k), 0, kFieldNotEditable, 5);
    }
    FormField* lang = AddField(1, 9, 16, "Idioma per defecte:  ", 3, 0, 5);
    lang->FieldChoices = kLanguages;
    lang->FieldValue = "SPA";
  }

  // Form 1 (two fields) continues into form 2 (two fields, in a window),
  // which continues into form 3 (one field).
  static void Chain() {
    ResetFormTables(3, 2);
    for (std::int16_t f = 1; f <= 3; ++f) {
      TextForm(f, f == 3 ? 1 : 2, "d,1b,4800,5000,4900,5100,2,3c00");
    }
    MutableForm(1)->FormNext = 2;
    MutableForm(2)->FormNext = 3;
    MutableForm(2)->FormWindow = {0, 10, 30, 16, 70};
  }

  // Feeds one input each time the dialog waits, first calling at_wait_ and
  // recording the field being edited; returns the key the dialog ended
  // with. Waits beyond the script get Esc (at most 20) and are reported.
  std::int16_t Drive(std::int16_t form, std::vector<Input> inputs, std::int16_t back = 0,
                     std::int16_t forward = 0) {
    visits_.clear();
    auto script = std::make_shared<std::vector<Input>>(std::move(inputs));
    auto next = std::make_shared<std::size_t>(0);
    auto overrun = std::make_shared<int>(0);
    con().SetExhaustedHandler([this, script, next, overrun](MemoryConsole& c) {
      const FormDialogState& g = FormDialogGlobals();
      visits_.push_back(std::to_string(g.LastFieldForm) + "." + std::to_string(g.LastFieldNumber));
      if (at_wait_) at_wait_();
      if (*next < script->size()) {
        const Input& in = (*script)[(*next)++];
        if (in.row != 0) {
          c.QueueMouseRelease(in.row, in.col, 1);
        } else {
          c.QueueKey(in.key);
        }
        return true;
      }
      c.QueueKey(kEsc);
      return ++*overrun <= 20;
    });
    std::int16_t key = 0;
    FormDialog(form, back, forward, &key);
    EXPECT_EQ(*next, script->size()) << "the dialog ended before its last input";
    EXPECT_EQ(*overrun, 0) << "the dialog wanted more input than the script had";
    con().SetExhaustedHandler(nullptr);
    at_wait_ = nullptr;
    return key;
  }

  static std::string Cells(int row, int col, int count) {
    return Row(row).substr(static_cast<std::size_t>(col - 1), static_cast<std::size_t>(count));
  }

  V visits_;  // "form.field" at each wait
  std::function<void()> at_wait_;
};

// ---------------------------------------------------------------------------
// The language form

TEST_F(FormDialogTest, LanguageFormPaintsTitleLabelsAndTheChosenLanguage) {
  LanguageForm();
  Session().SessionTitle = " GESTI\xE0 DEL PERSONAL ";  // 21 characters
  std::string title_row, selector_row;
  at_wait_ = [&] {
    if (title_row.empty()) title_row = Row(1), selector_row = Row(16);
  };
  EXPECT_EQ(Drive(1, {{kLeft}, {kEnter}}), kEnter);
  EXPECT_EQ(title_row.find(Session().SessionTitle), 29u);  // column 30
  EXPECT_EQ(ReadCell(1, 30).attr, kAttrR);
  EXPECT_EQ(Cells(3, 5, 13), "Explanation 1");
  EXPECT_EQ(ReadCell(3, 5).attr, kAttrN);
  EXPECT_EQ(ReadCell(16, 5).attr, kAttrN);
  EXPECT_EQ(selector_row.substr(24, 18),
            "\x11"
            "Castell\x85        \x10");
  // Left chose CAT; Enter on the only field ended the dialog and stored it.
  EXPECT_EQ(FieldAt(1, 9).FieldValue, "CAT");
  EXPECT_EQ(Cells(16, 5, 38), "Idioma per defecte:  Catal\x85           ");
  EXPECT_EQ(ReadCell(16, 26).attr, kAttrH);
}

TEST_F(FormDialogTest, LanguageFormChoosesAndCancels) {
  struct Case {
    const char* what;
    std::vector<Input> inputs;
    std::int16_t expected_key;
    const char *expected_value, *shown;
  };
  // clang-format off
  const Case cases[] = {
      {"Esc keeps the stored value", {{kRight}, {kEsc}}, kEsc, "SPA", "Castell\x85        "},
      {"Tab confirms as Enter", {{kLeft}, {kTab}}, kEnter, "CAT", "Catal\x85          "},
      {"Up on the first page's first field stays", {{kUp}, {kEnter}}, kEnter, "SPA", "Castell\x85        "},
      {"a click on a label is no field", {Click(3, 6), {kEnter}}, kEnter, "SPA", "Castell\x85        "},
  };
  // clang-format on
  for (const Case& c : cases) {
    LanguageForm();
    EXPECT_EQ(Drive(1, c.inputs), c.expected_key) << c.what;
    EXPECT_EQ(FieldAt(1, 9).FieldValue, c.expected_value) << c.what;
    EXPECT_EQ(Cells(16, 26, 16), c.shown) << c.what;
    for (const std::string& v : visits_) EXPECT_EQ(v, "1.9") << c.what;
  }
}

TEST_F(FormDialogTest, TitleColumnRoundsHalvesToEvenAndOnlyFormOneHasIt) {
  const std::pair<std::size_t, std::int16_t> cases[] = {
      {21, 30}, {19, 32}, {23, 30}, {0, 41}, {1, 40}, {3, 40}, {80, 1}, {81, 1}, {500, 1}};
  for (auto [length, column] : cases) EXPECT_EQ(TitleColumn(length), column) << length;
  ResetFormTables(2, 1);
  TextForm(2, 1);
  Session().SessionTitle = "TITOL";
  Drive(2, {{kEsc}});
  EXPECT_EQ(Row(1).find("TITOL"), std::string::npos);  // only form 1 has the title
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
  // clang-format off
  const Case cases[] = {
      {"Esc on the first field ends", {{kEsc}}, kEsc, {"1.1"}},
      {"Esc on the second goes to the first", {{kEnter}, {kEsc}, {kEsc}}, kEsc, {"1.1", "1.2", "1.1"}},
      {"Enter on the last field ends", {{kEnter}, {kEnter}, {kEnter}}, kEnter, {"1.1", "1.2", "1.3"}},
      {"Down stops on the last field", {{kDown}, {kDown}, {kDown}, {kCtrlB}}, kCtrlB, {"1.1", "1.2", "1.3", "1.3"}},
      {"Up on the first field of the first page stays", {{kUp}, {kEsc}}, kEsc, {"1.1", "1.1"}},
      {"Up goes back", {{kDown}, {kDown}, {kUp}, {kEsc}, {kEsc}}, kEsc, {"1.1", "1.2", "1.3", "1.2", "1.1"}},
      {"PgDn to the last, PgUp to the first", {{kPgDn}, {kPgUp}, {kEsc}}, kEsc, {"1.1", "1.3", "1.1"}},
      {"PgUp on the first without paging stays", {{kPgUp}, {kEsc}}, kEsc, {"1.1", "1.1"}},
      {"F2 without a follow-on stays", {{kF2}, {kEsc}}, kEsc, {"1.1", "1.1"}},
      {"F3 without a list stays", {{kF3}, {kEsc}}, kEsc, {"1.1", "1.1"}},
      {"a click on the third value", {Click(5, 9), {kEsc}, {kEsc}}, kEsc, {"1.1", "1.3", "1.1"}},
      {"a click beside the values stays", {Click(5, 12), {kEsc}}, kEsc, {"1.1", "1.1"}},
      {"a click on a label stays", {Click(5, 3), {kEsc}}, kEsc, {"1.1", "1.1"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    ResetFormTables(1, 3);
    TextForm(1, 3, "d,1b,4800,5000,4900,5100,2,3c00,3e00");
    EXPECT_EQ(Drive(1, c.inputs), c.expected_key) << c.what;
    EXPECT_EQ(visits_, c.visits) << c.what;
  }
  ResetFormTables(1, 3);
  TextForm(1, 3, "d,1b,4f00");  // End among the keys: Enter (and Tab) end the form
  EXPECT_EQ(Drive(1, {{kEnter}}), kEnd);
  EXPECT_EQ(Drive(1, {{kTab}}), kEnd);
  EXPECT_EQ(Drive(1, {{kEnd}, {keys::kShiftTab}, {kEsc}}), kEsc);
}

TEST_F(FormDialogTest, FieldsWithFlagFourAreNeverEntered) {
  struct Case {
    const char* what;
    std::vector<Input> inputs;
    V visits;
  };
  // Fields 1, 3 and 5 are not editable, though they have value areas.
  const Case cases[] = {
      {"Enter skips them", {{kEnter}, {kEnter}}, {"1.2", "1.4"}},
      {"Up skips them", {{kEnter}, {kUp}, {kEsc}}, {"1.2", "1.4", "1.2"}},
      {"a click on one between stays", {Click(5, 8), {kEsc}}, {"1.2", "1.2"}},
      {"a click on the first stays", {Click(3, 8), {kEsc}}, {"1.2", "1.2"}},
  };
  for (const Case& c : cases) {
    ResetFormTables(1, 5);
    TextForm(1, 5);
    for (std::int16_t k : {1, 3, 5}) MutableField(1, k)->FieldFlags = kFieldNotEditable;
    Drive(1, c.inputs);
    EXPECT_EQ(visits_, c.visits) << c.what;
  }
}

TEST_F(FormDialogTest, AcceptedValuesAreStoredPaddedAndRedrawn) {
  ResetFormTables(1, 2);
  TextForm(1, 2);
  MutableField(1, 1)->FieldValue = "OLD";  // shorter than its length
  MutableField(1, 2)->FieldAttr4 = 4;      // an information area after the value
  PutText(4, 12, "INFO", kAttrN);
  std::string info;
  at_wait_ = [&] { info += Cells(4, 12, 4) + "|"; };
  SetInsertToggle(false);
  EXPECT_EQ(Drive(1, {{'N'}, {'E'}, {'W'}, {kEnter}, {'X'}, {kEsc}, {kEsc}}), kEsc);
  EXPECT_EQ(FieldAt(1, 1).FieldValue, "NEW  ");
  EXPECT_EQ(FieldAt(1, 2).FieldValue, "     ");  // Esc discarded the X
  EXPECT_EQ(Cells(3, 3, 9) + "|" + Cells(4, 3, 9), "F1: NEW  |F2:      ");
  EXPECT_EQ(ReadCell(3, 7).attr, kAttrH);
  EXPECT_EQ(ReadCell(4, 7).attr, kAttrH);
  EXPECT_EQ(info, "INFO|INFO|INFO|INFO|    |    |    |");  // blanked while field 2 is edited
}

TEST_F(FormDialogTest, FieldFlags) {
  ResetFormTables(1, 3);
  TextForm(1, 3);
  FormField* blank = MutableField(1, 1);
  blank->FieldFlags = kFieldStartsBlank;
  blank->FieldValue = "KEEP ";
  FormField* at_end = MutableField(1, 2);
  at_end->FieldFlags = kFieldCursorAtEnd;
  at_end->FieldValue = "AB   ";
  FormField* secret = MutableField(1, 3);
  secret->FieldFlags = kFieldHidden;
  secret->FieldValue = "PSWD5";
  V shown;
  at_wait_ = [&] { shown.push_back(Cells(3, 7, 5) + "|" + Cells(5, 7, 5)); };
  SetInsertToggle(false);
  EXPECT_EQ(Drive(1, {{kEnter}, {'C'}, {kEnter}, {'Q'}, {kEnter}}), kEnter);
  EXPECT_EQ(FieldAt(1, 1).FieldValue, "KEEP ");  // a blank entry keeps it
  EXPECT_EQ(FieldAt(1, 2).FieldValue, "ABC  ");  // typed after the text
  EXPECT_EQ(FieldAt(1, 3).FieldValue, "Q    ");
  // Field 1 starts blank; the hidden field shows only X, never its value.
  EXPECT_EQ(shown, (V{"     |     ", "KEEP |     ", "KEEP |     ", "KEEP |XXXXX", "KEEP |XXXXX"}));
  EXPECT_EQ(Screenful().find("Q    "), std::string::npos);
  EXPECT_EQ(Drive(1, {{'Z'}, {kEnter}, {kEnter}, {kEnter}}), kEnter);
  EXPECT_EQ(FieldAt(1, 1).FieldValue, "Z    ");
  EXPECT_EQ(FieldAt(1, 3).FieldValue, "Q    ");  // blank entry: the stored secret stays
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
  EXPECT_EQ(visits_, (V{"1.1", "1.1", "1.1", "1.1", "1.1", "1.2", "1.1"}));
}

TEST_F(FormDialogTest, CompletionCheck) {
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
  EXPECT_EQ(visits_, (V{"1.1", "1.2", "1.1"}));

  // Nothing to edit: shown, checked once (it cannot keep anyone), closed.
  asked.clear();
  ResetFormTables(1, 1);
  MutableForm(1)->FormWindow = {0, 5, 10, 12, 60};
  AddField(1, 1, 2, "ONLY A LABEL", 0, kFieldNotEditable);
  EXPECT_EQ(Drive(1, {}), kEnter);
  EXPECT_EQ(asked.size(), 1u);
  EXPECT_EQ(Row(7).find("ONLY A LABEL"), std::string::npos);  // the window is gone
}

TEST_F(FormDialogTest, WindowsOpenAndCloseOnlyWhenTheyShould) {
  ResetFormTables(1, 1);
  MutableForm(1)->FormWindow = {0, 5, 10, 12, 60};
  TextForm(1, 1);
  PutText(8, 20, "UNDERNEATH", kAttrN);
  std::string inside;
  at_wait_ = [&] { inside = Cells(5, 10, 3) + "|" + Cells(8, 13, 9); };
  Drive(1, {{kEsc}});
  EXPECT_EQ(inside, "\xC9\xCD\xCD|F1:      ");  // framed; row 3, column 3 of the window
  EXPECT_EQ(Cells(8, 20, 10), "UNDERNEATH");

  // A window that WinPush refuses (below the screen) is not popped either.
  MutableForm(1)->FormWindow = {0, 20, 10, 30, 60};
  {
    ScopedWindow callers(2, 2, 20, 70);
    Drive(1, {{kEsc}});
    EXPECT_EQ(Screen().WindowDepth, 1);
  }
  // Form numbers outside the tables end at once, showing nothing.
  ClearScreen();
  for (std::int16_t form : {0, 2, -2, 32767, -32768}) {
    std::int16_t key = 0;
    FormDialog(form, 0, 0, &key);
    EXPECT_EQ(key, kEsc) << form;
  }
  for (int r = 1; r <= 25; ++r) EXPECT_TRUE(IsBlank(Row(r))) << "row " << r;
}

// ---------------------------------------------------------------------------
// Help, lookup lists, pop-ups

TEST_F(FormDialogTest, HelpGetsTheTrimmedMenuNameAndTheFieldIsEditedAgain) {
  ResetFormTables(1, 2);
  TextForm(1, 2);
  SetInsertToggle(true);
  // No topic, then no handler: the field is edited again, the typing kept.
  Session().MenuName = "";
  EXPECT_EQ(Drive(1, {{'A'}, {kF1}, {'B'}, {kEnter}, {kEsc}, {kEsc}}), kEsc);
  EXPECT_EQ(FieldAt(1, 1).FieldValue, "AB   ");
  Session().MenuName = "TAVIRENO  ";
  EXPECT_EQ(Drive(1, {{kF1}, {kEsc}}), kEsc);

  V topics;
  FormDialogState seen;
  int depth = 0;
  RegisterFormHelp([&](std::string_view topic) {
    topics.emplace_back(topic);
    seen = FormDialogGlobals();
    depth = FieldEditor().ExitKeyDepth;
  });
  EXPECT_EQ(Drive(1, {{kEnter}, {'Q'}, {kF1}, {kEsc}, {kEsc}}), kEsc);
  EXPECT_EQ(topics, (V{"TAVIRENO"}));
  EXPECT_EQ(std::to_string(seen.LastFieldForm) + "." + std::to_string(seen.LastFieldNumber) + " " +
                seen.LastFieldValue,
            "1.2 Q    ");
  EXPECT_EQ(depth, 1);  // help runs inside the field's saved table
  EXPECT_EQ(con().beeps(), 0);
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
  // clang-format off
  const Case cases[] = {
      {"no list registered", false, {}, false, {{kF3}, {kEsc}}, kEsc, 1, {"1.1", "1.1"}},
      {"left without a choice", true, {-1}, false, {{kF3}, {kEsc}}, kEsc, 1, {"1.1", "1.1"}},
      {"a read error", true, {4}, false, {{kF3}, {kEsc}}, kEsc, 1, {"1.1", "1.1"}},
      {"chosen: on as Down", true, {0}, false, {{kF3}, {kEsc}, {kEsc}}, kEsc, 0, {"1.1", "1.2", "1.1"}},
      {"chosen on the last field: as Enter", true, {0}, false, {{kEnter}, {kF3}}, kEnter, 0, {"1.1", "1.2"}},
      {"the hook asks for the list again", true, {0, 0}, true, {{kF3}, {kEsc}, {kEsc}}, kEsc, 0, {"1.1", "1.2", "1.1"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    ResetFormDialog();
    ResetFormTables(1, 2);
    TextForm(1, 2, "d,1b,4800,5000,3e00");
    MutableField(1, 1)->FieldAttr7 = 7;
    MutableField(1, 2)->FieldAttr7 = 7;
    std::size_t call = 0;
    if (c.registered) {
      RegisterLookupList([&](std::int16_t list) {
        EXPECT_EQ(list, 7) << c.what;
        return call < c.results.size() ? c.results[call++] : static_cast<std::int16_t>(-1);
      });
    }
    int hooks = 0;
    FormProcedures p;
    p.after_lookup = [&](std::int16_t* list, std::int16_t form, std::int16_t field) {
      MutableField(form, field)->FieldValue = "PICKD";
      if (c.hook_asks_again && ++hooks == 1) *list = 0;
    };
    SetFormProcedures(p);
    const int beeps_before = con().beeps();
    EXPECT_EQ(Drive(1, c.inputs), c.expected_key) << c.what;
    EXPECT_EQ(con().beeps() - beeps_before, c.beeps) << c.what;
    EXPECT_EQ(visits_, c.visits) << c.what;
    EXPECT_EQ(call, c.results.size()) << c.what;
    const bool picked = !c.results.empty() && c.results[0] == 0;
    EXPECT_EQ(Screenful().find("PICKD") != std::string::npos, picked) << c.what;
  }
}

// A calculator opened with Alt+X inside a field edit: it edits with an
// empty exit-key table of its own and types its result into the field.
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
  // Alt+X, the pop-up's own keys ('7', then F5 ends its empty table), the
  // result typed into the field, Enter through both fields.
  EXPECT_EQ(Drive(1, {{keys::kAltX}, {'7'}, {kF5}, {kEnter}, {kEnter}}), kEnter);
  RegisterCalculatorPopup(nullptr);
  EXPECT_EQ(g_table_in_popup, "");
  EXPECT_EQ(g_popup_key, kF5);
  EXPECT_EQ(FieldAt(1, 1).FieldValue, "12   ");
  EXPECT_EQ(visits_, (V{"1.1", "1.1", "1.1", "1.1", "1.2"}));
}

// ---------------------------------------------------------------------------
// Follow-on pages and paging

TEST_F(FormDialogTest, FollowOnPages) {
  struct Case {
    const char* what;
    std::vector<Input> inputs;
    std::int16_t back, forward, expected_key;
    V visits;
    std::int16_t resume;
  };
  // clang-format off
  const Case cases[] = {
      {"Enter through every page", {{kEnter}, {kEnter}, {kEnter}, {kEnter}, {kEnter}}, 0, 0, kEnter, {"1.1", "1.2", "2.1", "2.2", "3.1"}, 0},
      {"Up on a follow-on page goes back", {{kEnter}, {kEnter}, {kUp}, {kEsc}, {kEsc}}, 0, 0, kEsc, {"1.1", "1.2", "2.1", "1.2", "1.1"}, 0},
      {"Esc on a follow-on page's first field goes back", {{kEnter}, {kEnter}, {kEsc}, {kEsc}, {kEsc}}, 0, 0, kEsc, {"1.1", "1.2", "2.1", "1.2", "1.1"}, 0},
      {"Down past the last field continues", {{kDown}, {kDown}, {kCtrlB}}, 0, 0, kCtrlB, {"1.1", "1.2", "2.1"}, 0},
      {"F2 anywhere continues", {{kF2}, {kF2}, {kEnter}}, 0, 0, kEnter, {"1.1", "2.1", "3.1"}, 0},
      {"PgDn on the last field pages forward", {{kF2}, {kPgDn}, {kPgDn}}, 0, 1, kPgDn, {"1.1", "2.1", "2.2"}, 2},
      {"PgUp on the first field pages back", {{kF2}, {kPgUp}}, 1, 0, kPgUp, {"1.1", "2.1"}, 2},
      {"PgDn without paging stays", {{kPgDn}, {kPgDn}, {kEsc}, {kEsc}}, 0, 0, kEsc, {"1.1", "1.2", "1.2", "1.1"}, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    Chain();
    FormDialogGlobals().ResumeForm = 0;
    EXPECT_EQ(Drive(1, c.inputs, c.back, c.forward), c.expected_key) << c.what;
    EXPECT_EQ(visits_, c.visits) << c.what;
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
  EXPECT_EQ(visits_, (V{"3.1", "2.1", "1.1"}));
  EXPECT_EQ(FormDialogGlobals().ResumeForm, 0);
  // A form from which the page cannot be reached forgets it, also when the
  // chain loops.
  FormDialogGlobals().ResumeForm = 1;
  EXPECT_EQ(Drive(3, {{kEsc}}), kEsc);
  EXPECT_EQ(FormDialogGlobals().ResumeForm, 0);
  MutableForm(3)->FormNext = 1;
  FormDialogGlobals().ResumeForm = 5;
  EXPECT_EQ(Drive(2, {{kEsc}}), kEsc);
  EXPECT_EQ(FormDialogGlobals().ResumeForm, 0);
}

TEST_F(FormDialogTest, PageKeepsItsFormAndFieldOnTheSaveStackWhileTheNextRuns) {
  Chain();
  SavePush("caller");
  std::string during;
  at_wait_ = [&] {
    if (FormDialogGlobals().LastFieldForm == 2) during = SaveStackGlobals().SaveStack;
  };
  EXPECT_EQ(Drive(1, {{kDown}, {kDown}, {kEsc}, {kEsc}, {kEsc}}), kEsc);
  // "caller" and its length, then form 1 and field 2, each 2 bytes and length.
  EXPECT_EQ(during, std::string("caller\x06\x00\x01\x00\x02\x00\x02\x00\x02\x00", 16));
  EXPECT_EQ(SavePop(), "caller");
}

}  // namespace
}  // namespace kel
