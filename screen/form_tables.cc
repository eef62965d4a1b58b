#include "screen/form_tables.h"

#include <algorithm>

namespace kel {
namespace {

// What reads outside the tables see. Never written: the Mutable... calls
// hand out only real entries.
const Form& EmptyForm() {
  static const Form empty;
  return empty;
}

const FormField& EmptyField() {
  static const FormField empty;
  return empty;
}

const MenuListEntry& EmptyMenuEntry() {
  static const MenuListEntry empty;
  return empty;
}

bool FormInRange(std::int16_t form) {
  const FormTablesState& t = FormTables();
  return form >= 1 && form <= t.FormCount && static_cast<std::size_t>(form) < t.forms.size();
}

}  // namespace

FormTablesState& FormTables() {
  static FormTablesState state;
  return state;
}

void ResetFormTables(std::int16_t form_count, std::int16_t max_fields) {
  FormTablesState& t = FormTables();
  t.FormCount = std::max<std::int16_t>(form_count, 0);
  t.MaxFields = std::max<std::int16_t>(max_fields, 0);
  // Field rows are not created here: a form's rows grow as they are
  // written, so the sizes a file declares cost nothing by themselves.
  t.forms.assign(static_cast<std::size_t>(t.FormCount) + 1, Form{});
}

void ResetMenuEntries(std::int16_t count) {
  FormTablesState& t = FormTables();
  t.MenuEntryCount = std::max<std::int16_t>(count, 0);
  t.lists.assign(static_cast<std::size_t>(t.MenuEntryCount) + 1, MenuListEntry{});
}

void ClearFormTables() { FormTables() = FormTablesState{}; }

Form* MutableForm(std::int16_t form) {
  if (!FormInRange(form)) return nullptr;
  return &FormTables().forms[static_cast<std::size_t>(form)];
}

FormField* MutableField(std::int16_t form, std::int16_t field) {
  Form* f = MutableForm(form);
  if (f == nullptr || field < 1 || field > FormTables().MaxFields) return nullptr;
  auto index = static_cast<std::size_t>(field);
  if (f->fields.size() <= index) f->fields.resize(index + 1);
  return &f->fields[index];
}

MenuListEntry* MutableMenuEntry(std::int16_t entry) {
  FormTablesState& t = FormTables();
  // Entry 0 exists but stays empty: it is not handed out for writing.
  if (entry < 1 || entry > t.MenuEntryCount || static_cast<std::size_t>(entry) >= t.lists.size()) {
    return nullptr;
  }
  return &t.lists[static_cast<std::size_t>(entry)];
}

const Form& FormAt(std::int16_t form) {
  if (!FormInRange(form)) return EmptyForm();
  return FormTables().forms[static_cast<std::size_t>(form)];
}

const FormField& FieldAt(std::int16_t form, std::int16_t field) {
  const Form& f = FormAt(form);
  if (field < 1 || field > FormTables().MaxFields) return EmptyField();
  auto index = static_cast<std::size_t>(field);
  if (index >= f.fields.size()) return EmptyField();
  return f.fields[index];
}

const MenuListEntry& MenuEntryAt(std::int16_t entry) {
  const FormTablesState& t = FormTables();
  if (entry < 0 || entry > t.MenuEntryCount || static_cast<std::size_t>(entry) >= t.lists.size()) {
    return EmptyMenuEntry();
  }
  return t.lists[static_cast<std::size_t>(entry)];
}

std::int16_t UsableFieldCount(std::int16_t form) {
  return std::clamp<std::int16_t>(FormAt(form).FormFieldCount, 0, FormTables().MaxFields);
}

}  // namespace kel
