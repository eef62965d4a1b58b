// This program's form procedures (painters, acceptance, completion check),
// the registry through which an application replaces them, and the layout
// of a field on the screen.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "screen/field_editor.h"
#include "screen/form_dialog.h"
#include "screen/form_tables.h"
#include "screen/screen_buffer.h"
#include "util/fixed_text.h"
#include "util/session_context.h"

namespace kel {
namespace {

FormProcedures& Installed() {
  static FormProcedures procedures = DefaultFormProcedures();
  return procedures;
}

// Window-relative to absolute, as WinLocate places.
std::int16_t AbsoluteRow(int row) {
  const ScreenState& s = Screen();
  return static_cast<std::int16_t>(s.WindowDepth > 0 ? s.WindowTop + row : row);
}

std::int16_t AbsoluteCol(int col) {
  const ScreenState& s = Screen();
  return static_cast<std::int16_t>(s.WindowDepth > 0 ? s.WindowLeft + col : col);
}

void DefaultPaintForm(std::int16_t form) {
  SetColour("rh");
  if (form == 1) {
    const std::string& title = Session().SessionTitle;
    PutText(AbsoluteRow(1), AbsoluteCol(TitleColumn(title.size())), title, TextAttribute());
  }
  const std::int16_t count = UsableFieldCount(form);
  SetColour("n");
  for (std::int16_t k = 1; k <= count; ++k) {
    const FormField& f = FieldAt(form, k);
    PutText(AbsoluteRow(f.FieldRow), AbsoluteCol(f.FieldColumn), f.FieldLabel, TextAttribute());
  }
  SetColour("h");
  for (std::int16_t k = 1; k <= count; ++k) CurrentFormProcedures().paint_field(form, k);
}

void DefaultPaintField(std::int16_t form, std::int16_t field) {
  DrawFieldValue(form, field, FieldAt(form, field).FieldValue);
}

std::int16_t DefaultAcceptField(std::int16_t form, std::string* value, std::int16_t field,
                                std::int16_t* /*key*/) {
  FormField* f = MutableField(form, field);
  if (f == nullptr) return 0;
  f->FieldValue =
      FixedText(*value, static_cast<std::size_t>(std::max<std::int16_t>(f->FieldLength, 0)));
  CurrentFormProcedures().paint_field(form, field);
  return 0;
}

std::int16_t DefaultCheckCompletion(std::int16_t /*form*/, std::int16_t* /*key*/) { return 0; }

void DefaultAfterLookup(std::int16_t* /*list*/, std::int16_t /*form*/, std::int16_t /*field*/) {}

}  // namespace

FormProcedures DefaultFormProcedures() {
  FormProcedures p;
  p.paint_form = &DefaultPaintForm;
  p.paint_field = &DefaultPaintField;
  p.accept_field = &DefaultAcceptField;
  p.check_completion = &DefaultCheckCompletion;
  p.after_lookup = &DefaultAfterLookup;
  return p;
}

const FormProcedures& CurrentFormProcedures() { return Installed(); }

void SetFormProcedures(FormProcedures procedures) {
  FormProcedures defaults = DefaultFormProcedures();
  if (!procedures.paint_form) procedures.paint_form = defaults.paint_form;
  if (!procedures.paint_field) procedures.paint_field = defaults.paint_field;
  if (!procedures.accept_field) procedures.accept_field = defaults.accept_field;
  if (!procedures.check_completion) procedures.check_completion = defaults.check_completion;
  if (!procedures.after_lookup) procedures.after_lookup = defaults.after_lookup;
  Installed() = std::move(procedures);
}

void PaintFormNow(std::int16_t form) {
  // A copy: the painter may install other procedures while it runs.
  auto paint = CurrentFormProcedures().paint_form;
  paint(form);
}

std::int16_t TitleColumn(std::size_t length) {
  // Twice 41 - length / 2, so that the half is exact.
  const long long twice = 82 - static_cast<long long>(std::min<std::size_t>(length, 100000));
  const long long floor_half = (twice - (((twice % 2) + 2) % 2)) / 2;
  long long column = floor_half;
  if (twice % 2 != 0 && floor_half % 2 != 0) column = floor_half + 1;
  return static_cast<std::int16_t>(std::clamp<long long>(column, 1, INT16_MAX));
}

FieldArea FieldValueArea(std::int16_t form, std::int16_t field) {
  const FormField& f = FieldAt(form, field);
  FieldArea area;
  area.top = AbsoluteRow(f.FieldRow);
  area.left = AbsoluteCol(f.FieldColumn + static_cast<int>(f.FieldLabel.size()));
  const int length = std::max<int>(f.FieldLength, 0);
  if (f.FieldAttr3 > 0) {
    area.width = f.FieldAttr3;
    area.lines = static_cast<std::int16_t>(std::max(1, (length + f.FieldAttr3 - 1) / f.FieldAttr3));
  } else {
    area.width = static_cast<std::int16_t>(length);
    area.lines = 1;
  }
  if (length == 0) area.width = 0;
  return area;
}

void DrawFieldValue(std::int16_t form, std::int16_t field, const std::string& value) {
  const FormField& f = FieldAt(form, field);
  if ((f.FieldFlags & kFieldHidden) != 0) return;
  const FieldArea area = FieldValueArea(form, field);
  const std::uint8_t attr = TextAttribute();
  const std::vector<Choice> choices = ParseChoices(f.FieldChoices);
  if (!choices.empty()) {
    std::size_t widest = 0;
    for (const Choice& c : choices) widest = std::max(widest, c.text.size());
    int index = FindChoice(choices, value);
    std::string text = index < 0 ? std::string() : choices[static_cast<std::size_t>(index)].text;
    PutText(area.top, area.left, FixedText(text, widest), attr);
    return;
  }
  if (area.width <= 0) return;
  const std::string shown =
      FixedText(value, static_cast<std::size_t>(std::max<std::int16_t>(f.FieldLength, 0)));
  const auto width = static_cast<std::size_t>(area.width);
  for (int line = 0; line < area.lines; ++line) {
    const std::size_t from = static_cast<std::size_t>(line) * width;
    if (from >= shown.size()) break;
    PutText(static_cast<std::int16_t>(area.top + line), area.left, shown.substr(from, width), attr);
  }
}

}  // namespace kel
