// formprobe: runs a form through the same dialog and field editor as the
// program, so that a developer or an administrator can try the form keys in
// a real terminal, and so that end-to-end tests can drive them.
//
//   formprobe [--form language|entry] [--value CODE] [--title TEXT]
//             [--date YYYYMMDD] [--language CODE]
//
//   language  the language form: eight explanatory labels and the language
//             selector (field 9), full screen, the title on row 1
//   entry     a form in a window with a text field, a two-line field, a
//             hidden field and the language selector
//
// When the dialog ends, row 25 shows "RESULT key=XXXX" and the values as
// "value=[...]" (code page 850 shown as the terminal shows it); a key then
// ends the program with exit code 0. KELTMP names the directory for the
// window stack file and the calculator's state (default /tmp). Alt+X and
// Alt+C open the calculator and the calendar, on the working date --date
// (default today) with the weekday heading of --language.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/console.h"
#include "platform/system.h"
#include "screen/field_editor.h"
#include "screen/form_dialog.h"
#include "screen/form_tables.h"
#include "screen/keyboard.h"
#include "screen/popups.h"
#include "screen/screen_buffer.h"
#include "util/cp850.h"
#include "util/dates.h"
#include "util/session_context.h"

namespace kel {
namespace {

const char kUsage[] =
    "usage: formprobe [--form language|entry] [--value CODE] [--title TEXT]\n"
    "                 [--date YYYYMMDD] [--language CODE]\n"
    "Runs a form with the program's form dialog and field editor. When the\n"
    "dialog ends, row 25 shows the key that ended it and the values; a key\n"
    "then leaves. Needs a terminal of at least 80 x 25 and a UTF-8 locale.\n";

constexpr char kLanguages[] =
    "|CAT,Catal\x85|SPA,Castell\x85|GLG,Galego-portugu\x8As|OCI,Aran\x8As";

FormField* Field(std::int16_t form, std::int16_t k, std::int16_t row, std::int16_t col,
                 const std::string& label, std::int16_t length, std::int16_t flags = 0) {
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

// The layout of the installation's language form.
void LanguageForm(const std::string& value) {
  ResetFormTables(1, 9);
  MutableForm(1)->FormKeys = "d,1b,4800,5000,4900,5100";
  const char* lines[8] = {
      "Aquest programa canvia l'idioma per defecte de la instal\xFAlaci\xA2:",
      "- reescriu els textos del men\xA3, de les taules de codis i dels fitxers",
      "de dades (pa\x8Bsos, vies, activitats, conceptes, motius, despeses...)",
      "amb la columna de l'idioma triat, que cada registre ja cont\x82;",
      "- desa l'idioma nou a Nuri.ini i a la configuraci\xA2 d'aquest terminal.",
      "Cal que ning\xA3 m\x82s no treballi amb les aplicacions mentre dura el canvi.",
      "Trieu l'idioma amb les fletxes esquerra i dreta o amb la inicial,",
      "premeu Retorn per aplicar-lo o Esc per sortir sense canviar res.",
  };
  const std::int16_t rows[8] = {3, 5, 6, 7, 8, 10, 12, 13};
  const std::int16_t cols[8] = {5, 5, 7, 7, 5, 5, 5, 5};
  for (std::int16_t k = 1; k <= 8; ++k) {
    Field(1, k, rows[k - 1], cols[k - 1], lines[k - 1], 0, kFieldNotEditable);
  }
  FormField* language = Field(1, 9, 16, 5, "Idioma per defecte:  ", 3);
  language->FieldChoices = kLanguages;
  language->FieldValue = value;
  language->FieldValue.resize(3, ' ');
}

// A form in its own window with one field of each kind.
void EntryForm(const std::string& value) {
  ResetFormTables(1, 4);
  Form* form = MutableForm(1);
  form->FormKeys = "d,1b,4800,5000";
  form->FormWindow = {0, 4, 10, 15, 70};
  Field(1, 1, 2, 3, "Nom:     ", 20);
  FormField* notes = Field(1, 2, 4, 3, "Notes:   ", 20);
  notes->FieldAttr3 = 10;
  Field(1, 3, 7, 3, "Clau:    ", 6, kFieldHidden);
  FormField* language = Field(1, 4, 9, 3, "Idioma:   ", 3);
  language->FieldChoices = kLanguages;
  language->FieldValue = value;
  language->FieldValue.resize(3, ' ');
}

std::string Hex4(std::int16_t key) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%04x",
                static_cast<unsigned>(static_cast<std::uint16_t>(key)));
  return buffer;
}

int Run(const std::string& which, const std::string& value, const std::string& title,
        const std::string& date, const std::string& language_code) {
  std::string temp = CurrentEnv().GetVariable("KELTMP");
  if (temp.empty()) temp = "/tmp";
  if (temp.back() != '/' && temp.back() != '\\') temp += "\\";
  Session().TempDir = temp;
  Session().SessionTitle = title;
  if (!date.empty()) Session().SessionDate = PackDigits(date);
  SetSessionLanguage(language_code);
  RegisterStandardPopups();
  SelectConsoleOrExit(DetectConsoleKind());
  SetCursorVisible(false);
  SetColour("n");
  ClearScreen();

  const bool language = which == "language";
  if (language) {
    LanguageForm(value);
  } else {
    EntryForm(value);
  }
  std::int16_t key = 0;
  FormDialog(1, 0, 0, &key);

  std::string result = "RESULT key=" + Hex4(key) + " value=";
  const std::int16_t count = UsableFieldCount(1);
  for (std::int16_t k = 1; k <= count; ++k) {
    if ((FieldAt(1, k).FieldFlags & kFieldNotEditable) != 0) continue;
    result += "[" + FieldAt(1, k).FieldValue + "]";
  }
  result.resize(80, ' ');
  PutText(25, 1, result, 0x07);
  GetKey();
  SetColour("n");
  ClearScreen();
  SetCursorVisible(true);
  return 0;
}

}  // namespace
}  // namespace kel

int main(int argc, char** argv) {
  std::string form = "language";
  std::string value = "CAT";
  std::string title = " FORMPROBE ";
  std::string date;
  std::string language = "CAT";
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kel::kUsage, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--form") == 0 && has_value) {
      form = argv[++i];
    } else if (std::strcmp(argv[i], "--value") == 0 && has_value) {
      value = kel::Utf8ToCp850(argv[++i]);
    } else if (std::strcmp(argv[i], "--date") == 0 && has_value) {
      date = argv[++i];
    } else if (std::strcmp(argv[i], "--language") == 0 && has_value) {
      language = argv[++i];
    } else if (std::strcmp(argv[i], "--title") == 0 && has_value) {
      title = kel::Utf8ToCp850(argv[++i]);
    } else {
      std::fprintf(stderr, "formprobe: unknown argument %s\n%s", argv[i], kel::kUsage);
      return 2;
    }
  }
  if (form != "language" && form != "entry") {
    std::fprintf(stderr, "formprobe: unknown form %s\n%s", form.c_str(), kel::kUsage);
    return 2;
  }
  return kel::Run(form, value, title, date, language);
}
