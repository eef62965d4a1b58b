// Form dialogs: FormDialog runs one form of the form tables (form_tables.h)
// on the screen. It opens the form's window when it has one, lets the
// operator move from field to field and edit each with the field editor
// (field_editor.h), offers help (F1) and a lookup list (F3) on the fields,
// continues into a linked follow-on form past the last field, and returns
// the key that ended the dialog.
//
// The application customises the dialog through its procedures (painters,
// acceptance, completion check, lookup hook: FormProcedures below); the
// defaults are this program's own. Help and lookup lists are reached
// through registration points, so that they can live elsewhere.
//
// Globals: FormDialogGlobals() (`ResumeForm`, `LastFieldValue`,
// `LastFieldForm`, `LastFieldNumber`); reads the form tables and the
// session (`SessionTitle`, `MenuName`); writes `FieldValue` through the
// default field acceptance; uses the window, colour and exit-key stacks and
// the save stack, each balanced when FormDialog returns.
#ifndef KEL_SCREEN_FORM_DIALOG_H_
#define KEL_SCREEN_FORM_DIALOG_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kel {

struct FormDialogState {
  // The page of a linked chain that was showing when the chain was left
  // with PgUp or PgDn, so that entering the chain again resumes there; 0:
  // none. Survives between calls.
  std::int16_t ResumeForm = 0;
  // The value, form and field of the edit in progress (set when a field is
  // entered and after its edit; cleared when the field is left and when the
  // dialog ends). Help and lookup procedures read them.
  std::string LastFieldValue;
  std::int16_t LastFieldForm = 0;
  std::int16_t LastFieldNumber = 0;
};

FormDialogState& FormDialogGlobals();

// The application procedures the dialog calls.
struct FormProcedures {
  // When the dialog starts: draws the form's title, labels and values.
  std::function<void(std::int16_t form)> paint_form;
  // Draws one field's value at its place.
  std::function<void(std::int16_t form, std::int16_t field)> paint_field;
  // After a field edit that did not end with Esc: checks *value (the
  // field's length). 0 accepts (the procedure stores it), non-zero rejects
  // (one beep, the operator edits the field again). It may change *key.
  std::function<std::int16_t(std::int16_t form, std::string* value, std::int16_t field,
                             std::int16_t* key)>
      accept_field;
  // When the dialog is about to end with *key: non-zero keeps the operator
  // in the form (at its first editable field).
  std::function<std::int16_t(std::int16_t form, std::int16_t* key)> check_completion;
  // After a row was chosen in the lookup list *list opened from (form,
  // field). Setting *list to 0 asks for the list to be shown again.
  std::function<void(std::int16_t* list, std::int16_t form, std::int16_t field)> after_lookup;
};

// This program's procedures:
//   paint_form: colour "rh"; for form 1, `SessionTitle` on row 1 at column
//     TitleColumn(length); colour "n", every label at (FieldRow,
//     FieldColumn); colour "h", paint_field for every field.
//   paint_field: nothing for a hidden field (flag 2); a selector shows the
//     text of the option whose code is the value, padded to the widest
//     option (blanks when no code matches); other values are written in
//     lines of FieldAttr3 columns (one line when 0). In the colour current.
//   accept_field: stores the value in `FieldValue`, left-justified and
//     blank-padded to FieldLength, redraws it with paint_field, returns 0.
//   check_completion: 0.   after_lookup: nothing.
FormProcedures DefaultFormProcedures();
// The procedures in use. Members left empty fall back to the defaults.
const FormProcedures& CurrentFormProcedures();
void SetFormProcedures(FormProcedures procedures);

// The installed form painter, for callers that repaint a form behind a
// message (the conversion's closing message).
void PaintFormNow(std::int16_t form);

// The column of a title `length` characters long centred on column 41:
// 41 - length / 2, halves rounded to the even neighbour (21 -> 30, 19 ->
// 32), at least 1.
std::int16_t TitleColumn(std::size_t length);

// Where a field's value lies, in absolute screen coordinates, with the
// current window (the form's) as FieldRow and FieldColumn are relative to
// it: from (top, left), `lines` lines of `width` columns (FieldAttr3, or
// FieldLength for a one-line field). width 0: the field has no value.
struct FieldArea {
  std::int16_t top = 0;
  std::int16_t left = 0;
  std::int16_t width = 0;
  std::int16_t lines = 1;
};
FieldArea FieldValueArea(std::int16_t form, std::int16_t field);

// Draws `value` where field (form, field) shows its value, as the default
// field painter does (nothing for a hidden field), in the colour current.
void DrawFieldValue(std::int16_t form, std::int16_t field, const std::string& value);

// Help on a topic (the program's menu entry name without trailing blanks).
// Until one is registered F1 only edits the field again. nullptr
// unregisters.
using FormHelpHandler = std::function<void(std::string_view topic)>;
void RegisterFormHelp(FormHelpHandler handler);

// Opens lookup list `list` and returns its result: 0 when a row was
// chosen, -1 when the operator left without choosing, otherwise a data-file
// status. Until one is registered F3 on a field with a list beeps and edits
// the field again. nullptr unregisters.
using LookupListHandler = std::function<std::int16_t(std::int16_t list)>;
void RegisterLookupList(LookupListHandler handler);

// Back to the state at start (tests): globals cleared, default procedures,
// no help and no lookup handler.
void ResetFormDialog();

// Runs form |form|; a negative number runs it as a follow-on page of a
// chain (the first page is entered with a positive number). can_page_back
// / can_page_forward non-zero: the caller can show a previous / next
// record, so PgUp on the first field and PgDn on the last field end the
// dialog (and set `ResumeForm`).
//
// *key: the key that ended the dialog: 1B (Esc) cancel; 4F00 (End) or 2
// (Ctrl+B); 0D, or 5000 from a follow-on page, past the last field; 4900
// or 5100 for paging. A form without editable fields is shown, runs the
// completion check (which cannot keep the operator there) and ends with
// 0D. A form number outside the tables ends at once with 1B, showing
// nothing.
//
// Field moves within the form: Enter to the next editable field (past the
// last: the follow-on form, or the end); Down likewise but never past the
// last without a follow-on; Up to the previous one (on the first field of
// a follow-on page: back to the previous page, key 1B); Esc to the first
// field, on the first field the end; PgUp / PgDn to the first / last
// field; F2 straight to the follow-on form; a click on an editable field's
// value to that field. Fields with flag 4 are never entered.
void FormDialog(std::int16_t form, std::int16_t can_page_back, std::int16_t can_page_forward,
                std::int16_t* key);

}  // namespace kel

#endif  // KEL_SCREEN_FORM_DIALOG_H_
