// The form tables: the program's screen forms (numbered pages of labelled
// fields) and its lookup-list definitions, filled once at start-up from the
// installation's form file and read by the form dialog (form_dialog.h) and
// the application.
//
// Numbering is 1-based: forms 1..FormCount, fields 1..MaxFields of every
// form, lookup lists 1..MenuEntryCount (list entry 0 exists and stays all
// zero, as does FormWindow[0]). Every integer is a signed 16-bit value.
//
// Filling the tables (the form-file loader):
//
//   ResetFormTables(form_count, max_fields);     // sizes; everything empty
//   Form* form = MutableForm(1);
//   form->FormKeys = "d,1b,4800,5000";
//   form->FormFieldCount = 9;
//   FormField* field = MutableField(1, 9);       // nullptr when out of range
//   field->FieldLength = 3;
//   field->FieldValue = std::string(3, ' ');     // "FieldLength blanks"
//   ResetMenuEntries(count);
//   MutableMenuEntry(1)->MenuText = "...";
//
// Reading never fails: FormAt / FieldAt / MenuEntryAt outside the tables
// give an empty entry (texts "", numbers 0), and the Mutable... calls give
// nullptr, so a damaged form file cannot make the program read or write
// outside them. Field rows take memory only once written, so a file that
// declares huge sizes costs nothing until it fills them.
//
// Globals: FormTables() (`FormCount`, `MaxFields`, `MenuEntryCount` and the
// entries). Written by the form-file loader (and tests); `FieldValue` is
// written by the field acceptance of the form dialog and by the application.
#ifndef KEL_SCREEN_FORM_TABLES_H_
#define KEL_SCREEN_FORM_TABLES_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kel {

// The bit values of `FieldFlags`.
inline constexpr std::int16_t kFieldStartsBlank = 1;  // the edit starts from blanks
inline constexpr std::int16_t kFieldHidden = 2;       // blank start, shown as "X"
inline constexpr std::int16_t kFieldNotEditable = 4;  // never entered (labels)
inline constexpr std::int16_t kFieldCursorAtEnd = 8;  // the cursor starts after the text

// One field of a form. Position and label are relative to the form's
// window (or the screen when it has none); the value starts right after the
// label.
struct FormField {
  std::int16_t FieldRow = 0;
  std::int16_t FieldColumn = 0;
  std::string FieldLabel;  // translated at load
  // Capacity of the value in characters (0: a label only).
  std::int16_t FieldLength = 0;
  // Columns per line of the value (0: one line).
  std::int16_t FieldAttr3 = 0;
  // Width of an information area right after the value (0: none).
  std::int16_t FieldAttr4 = 0;
  std::int16_t FieldFlags = 0;  // kField... bits
  // Not used by the dialog; kept for the application.
  std::int16_t FieldAttr6 = 0;
  // Number of the lookup list F3 opens (0: none).
  std::int16_t FieldAttr7 = 0;
  // "|code,text|code,text..." for a selector field; empty for free text.
  std::string FieldChoices;
  // The current value, FieldLength characters once loaded.
  std::string FieldValue;
};

struct Form {
  // Comma-separated hexadecimal codes of the keys that end a field edit.
  std::string FormKeys;
  std::int16_t FormFieldCount = 0;
  // The follow-on form entered past the last field (0: none).
  std::int16_t FormNext = 0;
  // [1] top, [2] left, [3] bottom, [4] right of the form's own window;
  // [0] stays 0. Top 0: the form has no window of its own.
  std::array<std::int16_t, 5> FormWindow{};
  // Fields 1..n at index 1..n (index 0 unused); grown on demand up to
  // MaxFields by MutableField.
  std::vector<FormField> fields;
};

// One lookup-list definition.
struct MenuListEntry {
  // File id, key number, window top, left, bottom, right, form run before
  // the list, second list (see the browse list).
  std::array<std::int16_t, 8> MenuEntry{};
  std::string MenuText;  // the list's title, translated at load
};

struct FormTablesState {
  std::int16_t FormCount = 0;
  std::int16_t MaxFields = 0;
  std::int16_t MenuEntryCount = 0;
  std::vector<Form> forms;           // index 0..FormCount; 0 unused
  std::vector<MenuListEntry> lists;  // index 0..MenuEntryCount; 0 stays empty
};

// The process's form tables.
FormTablesState& FormTables();

// Creates the form tables for forms 1..form_count with room for fields
// 1..max_fields each, every entry empty (texts "", numbers 0). Negative
// sizes count as 0. The lookup-list tables are left alone.
void ResetFormTables(std::int16_t form_count, std::int16_t max_fields);

// Creates the lookup-list tables for entries 0..count, all empty. A
// negative count counts as 0.
void ResetMenuEntries(std::int16_t count);

// Empties everything (tests): no forms, no fields, no lists.
void ClearFormTables();

// Entries for writing: nullptr outside 1..FormCount, 1..MaxFields,
// 1..MenuEntryCount.
Form* MutableForm(std::int16_t form);
FormField* MutableField(std::int16_t form, std::int16_t field);
MenuListEntry* MutableMenuEntry(std::int16_t entry);

// Entries for reading: an empty entry outside the tables (and for fields
// never written).
const Form& FormAt(std::int16_t form);
const FormField& FieldAt(std::int16_t form, std::int16_t field);
const MenuListEntry& MenuEntryAt(std::int16_t entry);

// The number of fields the dialog can use: FormFieldCount limited to
// 0..MaxFields.
std::int16_t UsableFieldCount(std::int16_t form);

}  // namespace kel

#endif  // KEL_SCREEN_FORM_TABLES_H_
