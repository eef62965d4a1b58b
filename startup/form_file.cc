#include "startup/form_file.h"

#include <vector>

#include "screen/field_editor.h"
#include "screen/form_tables.h"
#include "startup/field_reader.h"
#include "util/fixed_text.h"
#include "util/session_context.h"

namespace kel {
namespace {

constexpr std::int16_t kEscKey = 0x1B;

// Reads the file in the order of its states, checking every count before
// anything is sized by it. Translation is a second pass over what was read,
// made only once the whole file has been accepted.
class FormFileLoader {
 public:
  explicit FormFileLoader(FieldReader* reader) : r_(*reader) {}

  bool Load() {
    enum class State { kHeader, kForms, kListCount, kListEntries, kDone };
    State state = State::kHeader;
    std::int16_t form = 0;
    std::int16_t entry = 0;
    while (state != State::kDone) {
      SkipComments();
      if (r_.AtEnd()) break;
      switch (state) {
        case State::kHeader:
          if (!ReadHeader()) return false;
          state = State::kForms;
          break;
        case State::kForms:
          ++form;
          if (!ReadForm(form)) return false;
          forms_read_ = form;
          if (form == FormTables().FormCount) state = State::kListCount;
          break;
        case State::kListCount:
          if (!ReadListCount()) return false;
          state = FormTables().MenuEntryCount > 0 ? State::kListEntries : State::kDone;
          break;
        case State::kListEntries:
          ++entry;
          if (!ReadListEntry(entry)) return false;
          entries_read_ = entry;
          if (entry == FormTables().MenuEntryCount) state = State::kDone;
          break;
        case State::kDone:
          break;
      }
    }
    return CheckLanguageField() && CheckFollowOnChains() && CheckEscapeLeavesFormOne();
  }

  void Translate(const TextTranslator& translate) {
    for (std::int16_t f = 1; f <= forms_read_; ++f) {
      for (std::int16_t k = 1; k <= fields_read_[static_cast<std::size_t>(f)]; ++k) {
        FormField* field = MutableField(f, k);
        field->FieldLabel = translate(field->FieldLabel);
        field->FieldChoices = translate(field->FieldChoices);
      }
    }
    for (std::int16_t j = 1; j <= entries_read_; ++j) {
      MenuListEntry* list = MutableMenuEntry(j);
      list->MenuText = translate(list->MenuText);
    }
  }

  const std::string& error() const { return error_; }

 private:
  // Only the start of a line tells a comment: a data line is not read ahead
  // (a file of one long line would otherwise be read once per form).
  void SkipComments() {
    std::string line;
    while (!r_.AtEnd() && r_.LineStartsWith('\'')) (void)r_.ReadLine(&line);
  }

  bool Fail(const std::string& what) {
    if (error_.empty()) error_ = "line " + std::to_string(r_.LineNumber()) + ": " + what;
    return false;
  }

  bool Number(std::int16_t* value, const char* what) {
    const std::int64_t start = r_.Tell();
    NumberField kind = NumberField::kOk;
    *value = r_.ReadNumber(&kind);
    if (kind == NumberField::kOk) return true;
    r_.Seek(start);
    return Fail(std::string(what) + (kind == NumberField::kNotANumber
                                         ? " is not a number"
                                         : " does not fit in 16 bits"));
  }

  bool Text(std::string* text, const char* what) {
    *text = r_.ReadText();
    return r_.overlong() ? Fail(std::string(what) + " is longer than 32767 characters") : true;
  }

  bool InRange(std::int16_t value, std::int16_t low, std::int16_t high, const char* what) {
    if (value >= low && value <= high) return true;
    return Fail(std::string(what) + " is " + std::to_string(value) + ", outside " +
                std::to_string(low) + ".." + std::to_string(high));
  }

  bool ReadHeader() {
    std::int16_t form_count = 0;
    std::int16_t max_fields = 0;
    if (!Number(&form_count, "the number of forms") ||
        !InRange(form_count, 1, kMaxFormCount, "the number of forms") ||
        !Number(&max_fields, "the number of fields per form") ||
        !InRange(max_fields, 0, kMaxFieldsPerForm, "the number of fields per form")) {
      return false;
    }
    ResetFormTables(form_count, max_fields);
    ResetMenuEntries(0);
    fields_read_.assign(static_cast<std::size_t>(form_count) + 1, 0);
    return true;
  }

  bool ReadForm(std::int16_t f) {
    Form* form = MutableForm(f);
    std::int16_t count = 0;
    if (!Text(&form->FormKeys, "the keys of a form") || !Number(&count, "a field count") ||
        !InRange(count, 0, FormTables().MaxFields, "a field count") ||
        !Number(&form->FormNext, "a follow-on form")) {
      return false;
    }
    form->FormFieldCount = count;
    for (int i = 1; i <= 4; ++i) {
      if (!Number(&form->FormWindow[static_cast<std::size_t>(i)], "a window corner")) return false;
    }
    for (std::int16_t k = 1; k <= count && !r_.AtEnd(); ++k) {
      if (!ReadField(MutableField(f, k))) return false;
      fields_read_[static_cast<std::size_t>(f)] = k;
    }
    return true;
  }

  bool ReadField(FormField* field) {
    if (!Number(&field->FieldRow, "a field row") ||
        !Number(&field->FieldColumn, "a field column") || !Text(&field->FieldLabel, "a label") ||
        !Number(&field->FieldLength, "a field length") ||
        !InRange(field->FieldLength, 0, kMaxFieldLength, "a field length") ||
        !Number(&field->FieldAttr3, "a field's columns per line") ||
        !Number(&field->FieldAttr4, "a field's information width") ||
        !Number(&field->FieldFlags, "a field's flags") ||
        !Number(&field->FieldAttr6, "a field attribute") ||
        !Number(&field->FieldAttr7, "a field's lookup list") ||
        !Text(&field->FieldChoices, "a choice list")) {
      return false;
    }
    value_bytes_ += field->FieldLength;
    if (value_bytes_ > kMaxValueBytes) return Fail("the fields' values add up to over 1 MiB");
    field->FieldValue.assign(static_cast<std::size_t>(field->FieldLength), ' ');
    return true;
  }

  bool ReadListCount() {
    std::int16_t count = 0;
    if (!Number(&count, "the number of lookup lists") ||
        !InRange(count, 0, kMaxListEntries, "the number of lookup lists")) {
      return false;
    }
    ResetMenuEntries(count);
    return true;
  }

  bool ReadListEntry(std::int16_t j) {
    MenuListEntry* list = MutableMenuEntry(j);
    for (std::size_t i = 0; i < 7; ++i) {
      if (!Number(&list->MenuEntry[i], "a lookup-list number")) return false;
    }
    return Text(&list->MenuText, "a list title") &&
           Number(&list->MenuEntry[7], "a lookup-list number");
  }

  bool CheckLanguageField() {
    const std::int16_t read = forms_read_ >= kLanguageForm ? fields_read_[kLanguageForm] : 0;
    if (read < kLanguageFieldNumber) {
      error_ = "form 1 has " + std::to_string(read) +
               " fields; field 9 must hold the language (the file may end too early)";
      return false;
    }
    const std::int16_t length = FieldAt(kLanguageForm, kLanguageFieldNumber).FieldLength;
    if (length < kLanguageCodeLength) {
      error_ = "field 9 of form 1 (the language) is " + std::to_string(length) +
               " characters long; it needs at least 3";
      return false;
    }
    return true;
  }

  // A form whose follow-on forms lead back to it would open one page inside
  // the other on every Enter past the last field, without end.
  bool CheckFollowOnChains() {
    const std::int16_t count = FormTables().FormCount;
    auto next_of = [count](std::int16_t f) -> std::int16_t {
      const std::int16_t next = FormAt(f).FormNext;
      return next >= 1 && next <= count ? next : 0;
    };
    // 0: not seen; 1: on the chain being followed; 2: its chain ends.
    std::vector<std::uint8_t> seen(static_cast<std::size_t>(count) + 1, 0);
    for (std::int16_t start = 1; start <= count; ++start) {
      std::int16_t f = start;
      while (f != 0 && seen[static_cast<std::size_t>(f)] == 0) {
        seen[static_cast<std::size_t>(f)] = 1;
        f = next_of(f);
      }
      if (f != 0 && seen[static_cast<std::size_t>(f)] == 1) {
        error_ = "the follow-on forms of form " + std::to_string(f) + " lead back to form " +
                 std::to_string(f);
        return false;
      }
      for (f = start; f != 0 && seen[static_cast<std::size_t>(f)] == 1; f = next_of(f)) {
        seen[static_cast<std::size_t>(f)] = 2;
      }
    }
    return true;
  }

  // The operator leaves the program's dialog with Esc: on form 1 and on
  // every follow-on page of it, Esc must end a field edit as Esc (the keys
  // are read as the dialog reads them). Runs after CheckFollowOnChains, so
  // the chain ends.
  bool CheckEscapeLeavesFormOne() {
    const std::int16_t count = FormTables().FormCount;
    for (std::int16_t f = kLanguageForm; f >= 1 && f <= count; f = FormAt(f).FormNext) {
      const std::string& keys = FormAt(f).FormKeys;
      SetExitKeys("+ea", keys);
      const int at = FindExitKey(kEscKey);
      const bool leaves = at >= 0 && ExitKeyResultAt(at) == kEscKey;
      SetExitKeys("-", "");
      if (!leaves) {
        error_ = "the keys of form " + std::to_string(f) + " (\"" + keys +
                 "\") do not let Esc end a field edit, so the operator cannot leave the form";
        return false;
      }
    }
    return true;
  }

  FieldReader& r_;
  std::string error_;
  std::int16_t forms_read_ = 0;
  std::int16_t entries_read_ = 0;
  std::vector<std::int16_t> fields_read_;  // per form, 1-based
  std::int64_t value_bytes_ = 0;
};

}  // namespace

std::string FormFilePath() {
  return Session().InstallRoot + "FORMS\\" + Session().ProgramName + ".JPN";
}

FormFileStatus LoadFormFile(std::string_view path, const TextTranslator& translate,
                            std::string* message, std::string* detail) {
  ClearFormTables();
  std::string unused;
  if (detail == nullptr) detail = &unused;
  detail->clear();
  FieldReader reader;
  if (reader.Open(path) != FileResult::kOk) {
    *message = "the form file " + std::string(path) + " cannot be opened";
    return FormFileStatus::kMissing;
  }
  if (reader.Size() > kMaxFormFileBytes) {
    *detail = "it is larger than 1 MiB";
    *message = "the form file " + std::string(path) + " is damaged: " + *detail;
    return FormFileStatus::kDamaged;
  }
  FormFileLoader loader(&reader);
  if (!loader.Load()) {
    ClearFormTables();
    *detail = loader.error();
    *message = "the form file " + std::string(path) + " is damaged: " + *detail;
    return FormFileStatus::kDamaged;
  }
  loader.Translate(translate);
  LanguageFieldValue() =
      FixedText(Session().SessionLanguage,
                static_cast<std::size_t>(FieldAt(kLanguageForm, kLanguageFieldNumber).FieldLength));
  return FormFileStatus::kOk;
}

std::string& LanguageFieldValue() {
  FormField* field = MutableField(kLanguageForm, kLanguageFieldNumber);
  if (field != nullptr) return field->FieldValue;
  // Only before a form file is loaded: a value that belongs to no form.
  static std::string none;
  none.clear();
  return none;
}

}  // namespace kel
