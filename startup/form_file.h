// The form file: the program's screen forms and lookup-list definitions,
// loaded once at start-up into the form tables (screen/form_tables.h).
//
// Path: Session().InstallRoot + "FORMS\" + Session().ProgramName + ".JPN".
// Code page 850 text read field by field (startup/field_reader.h), in this
// order:
//   FormCount, MaxFields
//   per form f = 1..FormCount:
//     FormKeys, FormFieldCount, FormNext, FormWindow top, left, bottom, right
//     per field k = 1..FormFieldCount:
//       FieldRow, FieldColumn, FieldLabel, FieldLength, FieldAttr3,
//       FieldAttr4, FieldFlags, FieldAttr6, FieldAttr7, FieldChoices
//   MenuEntryCount
//   per list entry j = 1..MenuEntryCount:
//     MenuEntry(j, 0..6), MenuText, MenuEntry(j, 7)
// Before the header, before each form, before the list count and before each
// list entry, lines whose first non-blank character is an apostrophe are
// comments; inside a form's field list they are not allowed. Nothing after
// the last list entry is read. A file that ends early stops the loading
// there: the tables keep what was read.
//
// The file belongs to the installation and the program cannot run without
// form 1 and its language field, so a file that cannot serve is refused
// before anything else happens:
//   - a number field that is not a number or does not fit in 16 bits;
//   - FormCount outside 1..kMaxFormCount, MaxFields outside
//     0..kMaxFieldsPerForm, a FormFieldCount outside 0..MaxFields,
//     a FieldLength outside 0..kMaxFieldLength, a MenuEntryCount outside
//     0..kMaxListEntries, a text longer than kMaxFieldBytes, a file larger
//     than kMaxFormFileBytes, or more than kMaxValueBytes of field values in
//     all (so a damaged file can never make the program allocate without
//     bound);
//   - form 1 with fewer than 9 fields read, or a field 9 (the language
//     field) shorter than 3 characters;
//   - follow-on forms (FormNext) that lead back to a form already on the
//     chain: the dialog would nest one page in the other without end;
//   - form 1, or a follow-on page of it, whose FormKeys do not make Esc end
//     a field edit as Esc: the operator could never leave the dialog.
// The checks are made on the whole file before the first text is
// translated, so a refused file leaves nothing written (translating creates
// the language text file).
#ifndef KEL_STARTUP_FORM_FILE_H_
#define KEL_STARTUP_FORM_FILE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kel {

inline constexpr std::int16_t kMaxFormCount = 999;
inline constexpr std::int16_t kMaxFieldsPerForm = 2000;
inline constexpr std::int16_t kMaxFieldLength = 2000;  // a whole 80 x 25 screen
inline constexpr std::int16_t kMaxListEntries = 999;
inline constexpr std::int64_t kMaxFormFileBytes = 1 << 20;
inline constexpr std::int64_t kMaxValueBytes = 1 << 20;

// The language field: field 9 of form 1, at least 3 characters long.
inline constexpr std::int16_t kLanguageForm = 1;
inline constexpr std::int16_t kLanguageFieldNumber = 9;
inline constexpr std::int16_t kLanguageCodeLength = 3;

enum class FormFileStatus : std::int8_t {
  kOk = 0,
  kMissing = 1,  // the file cannot be opened
  kDamaged = 2,  // see above
};

// Turns a Catalan program text into the session language (Translate).
using TextTranslator = std::function<std::string(std::string_view)>;

// Session().InstallRoot + "FORMS\" + Session().ProgramName + ".JPN".
std::string FormFilePath();

// Loads the form file at `path` into the form tables, then replaces every
// label, choice list and list title that was read by translate(text) (a
// choice list is one text, separators included), and puts the session
// language into the language field: its 3 characters at the start of the
// value, blanks for the rest of the field's length.
//
// Returns kOk, or kMissing / kDamaged with `*message` saying what is wrong
// (naming the file and, for a damaged file, the line); the form tables are
// then left empty and nothing has been translated. `*detail`, when given,
// gets the loader's own words about a damaged file without the file's name
// ("line 12: ...", for a message in other words), "" otherwise.
// Writes: the form tables. Reads: Session().SessionLanguage.
[[nodiscard]] FormFileStatus LoadFormFile(std::string_view path, const TextTranslator& translate,
                                          std::string* message, std::string* detail = nullptr);

// The language field's current value (form 1, field 9).
std::string& LanguageFieldValue();

}  // namespace kel

#endif  // KEL_STARTUP_FORM_FILE_H_
