// The form file "FORMS\TAVIRENO.JPN": the whole input is the file. A file
// the loader accepts is then run through the form dialog with the program's
// own procedures and a fixed script of keys, followed by nothing but Esc:
// every accepted form file must let the operator leave form 1 with Esc,
// and follow-on pages must not nest without end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "fuzz/fuzz_support.h"
#include "platform/console_memory.h"
#include "screen/field_editor.h"
#include "screen/form_dialog.h"
#include "screen/form_tables.h"
#include "screen/keyboard.h"
#include "screen/screen_buffer.h"
#include "screen/windows.h"
#include "startup/form_file.h"
#include "util/save_stack.h"
#include "util/session_context.h"

namespace kel {
namespace {

// Esc keys the dialog may need to unwind every page and field after the
// script: far more than any accepted file needs, far fewer than a hang.
constexpr int kMostEscapes = 2000;

void QueueScript(MemoryConsole& con, int run) {
  if (run == 0) {
    con.QueueKey(keys::kRight);
    con.QueueText("S");
    for (int i = 0; i < 12; ++i) con.QueueKey(keys::kEnter);
    for (std::int16_t key :
         {keys::kDown, keys::kUp, keys::kPgDn, keys::kPgUp, keys::kTab, keys::kShiftTab,
          std::int16_t{0x3C00}, keys::kF1, std::int16_t{0x3E00}}) {
      con.QueueKey(key);
    }
    con.QueueMouseRelease(16, 27, 1);
  } else if (run == 1) {
    con.QueueText("OCI");
    for (int i = 0; i < 40; ++i) con.QueueKey(keys::kEnter);
    con.QueueKey(keys::kEnd);
  }
  // Run 2: nothing but Esc, the operator's way out.
}

void RunDialog(int run) {
  MemoryConsole& con = UseMemoryConsole();
  ResetKeyboard();
  ResetFieldEditor();
  ResetFormDialog();
  // Each follow-on page keeps two 16-bit values on the save stack (4 bytes
  // each there) while it runs: a chain that ends nests at most one page per
  // form.
  FormProcedures procedures = DefaultFormProcedures();
  procedures.paint_form = [paint = procedures.paint_form](std::int16_t form) {
    const std::size_t pages = SaveStackGlobals().SaveStack.size() / 8 + 1;
    Require(pages <= static_cast<std::size_t>(FormTables().FormCount),
            "follow-on pages nest deeper than there are forms");
    paint(form);
  };
  SetFormProcedures(std::move(procedures));
  QueueScript(con, run);
  int escapes = 0;
  con.SetExhaustedHandler([&escapes](MemoryConsole& c) {
    Require(++escapes < kMostEscapes, "the form dialog does not end on Esc");
    c.QueueKey(keys::kEsc);
    return true;
  });
  std::int16_t key = 0;
  FormDialog(kLanguageForm, 0, 0, &key);
  Require(Screen().WindowDepth == 0, "the form dialog left a window open");
  while (Screen().WindowDepth > 0) WinPop();
}

}  // namespace
}  // namespace kel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  static const bool staged = [] {
    ResetSession();
    Session().InstallRoot = SessionDir();
    Session().TempDir = SessionDir();
    Session().ProgramName = "TAVIRENO";
    Session().SessionLanguage = "CAT";
    return true;
  }();
  (void)staged;
  WriteScratchFile("FORMS/TAVIRENO.JPN",
                   std::string_view(reinterpret_cast<const char*>(data), size));
  ResetSaveStack();
  std::string message;
  const FormFileStatus status = LoadFormFile(
      FormFilePath(), [](std::string_view text) { return std::string(text); }, &message);
  if (status != FormFileStatus::kOk) {
    Require(!message.empty(), "a refused form file without a message");
    return 0;
  }
  Require(LanguageFieldValue().size() ==
              static_cast<std::size_t>(FieldAt(kLanguageForm, kLanguageFieldNumber).FieldLength),
          "the language field's value does not have the field's length");
  for (int run = 0; run < 3; ++run) RunDialog(run);
  return 0;
}
