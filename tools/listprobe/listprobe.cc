// listprobe: shows a data file of an installation in the program's browse
// list, with a line formatter that cuts fields out of each record, so that
// a developer or an administrator can try the list keys in a real terminal,
// and so that end-to-end tests can drive them.
//
//   listprobe [--file NAME] [--key N] [--fields OFF:LEN,...] [--start TEXT]
//             [--prefix TEXT] [--title TEXT] [--second] [--selection]
//
// NAME is a logical name under KELROOT (default TAULES\UPaisos, the
// countries, read by key 0 and shown as code, name, ISO code and currency).
// --second defines a second list (the same file by key 0, in a smaller
// window) that F3 opens; choosing in it calls the follow-up hook, which
// writes "FOLLOW-UP list=1 form=F field=N" on row 24 (the form and field
// the list was opened from; 0 and 0 when it was not opened from a form).
// --selection opens the list the way a form does: F3 on the field "Codi:"
// of a small form (form 1, field 1) opens it, after a selection form (form
// 2, one field "Des de:") that Enter accepts and Esc leaves without the list.
//
// When the list ends, row 25 shows "RESULT result=N" and the chosen
// record's line ("line=[...]"); a key then ends the program with exit code
// 0. KELROOT names the installation (default the current directory), KELTMP
// the directory for Browse.tmp and the window stack file (default /tmp).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "datafile/browse_source.h"
#include "datafile/db_open.h"
#include "platform/console.h"
#include "platform/system.h"
#include "screen/browse_list.h"
#include "screen/form_dialog.h"
#include "screen/form_tables.h"
#include "screen/keyboard.h"
#include "screen/screen_buffer.h"
#include "util/cp850.h"
#include "util/fixed_text.h"
#include "util/session_context.h"

namespace kel {
namespace {

const char kUsage[] =
    "usage: listprobe [--file NAME] [--key N] [--fields OFF:LEN,...] [--start TEXT]\n"
    "                 [--prefix TEXT] [--title TEXT] [--second] [--selection]\n"
    "Shows a data file of the installation in KELROOT (default TAULES\\UPaisos)\n"
    "in the program's browse list, one line per record in key order, made of\n"
    "the given byte ranges of the record. Up, Down, PgUp, PgDn, Left, Right move;\n"
    "Enter chooses; F3 opens the second list (--second); any other key leaves.\n"
    "--selection: F3 on the field of a small form opens the list, after a\n"
    "selection form (Enter goes on, Esc leaves).\n"
    "Row 25 then shows the result; a key ends. Needs a terminal of 80 x 25.\n";

constexpr std::int16_t kFileNumber = 1;

struct Slice {
  std::size_t offset = 0;
  std::size_t length = 0;
};

struct Options {
  std::string file = "TAULES\\UPaisos";
  std::int16_t key = 0;
  std::vector<Slice> fields = {{0, 2}, {2, 45}, {47, 3}, {54, 3}};
  std::string start;
  std::string prefix;
  std::string title = " PA\xD8SOS_PER_CODI ";  // cp850 "PAÏSOS"
  bool second = false;
  bool selection = false;
};

bool ParseFields(const char* text, std::vector<Slice>* out) {
  out->clear();
  const char* p = text;
  while (*p != '\0') {
    char* end = nullptr;
    const long offset = std::strtol(p, &end, 10);
    if (end == p || *end != ':') return false;
    p = end + 1;
    const long length = std::strtol(p, &end, 10);
    if (end == p || offset < 0 || length <= 0 || offset + length > 1536) return false;
    out->push_back({static_cast<std::size_t>(offset), static_cast<std::size_t>(length)});
    p = end;
    if (*p == ',') ++p;
  }
  return !out->empty();
}

// The record area, and what the formatter made of it last.
char g_area[1536];
std::vector<Slice> g_fields;

std::string FormatRecord() {
  std::string line;
  for (const Slice& s : g_fields) {
    if (!line.empty()) line += "  ";
    std::string part(g_area + s.offset, s.length);
    // Packed digits and binary fields show as dots rather than as glyphs.
    for (char& c : part) {
      if (static_cast<unsigned char>(c) < 32) c = '.';
    }
    line += part;
  }
  return std::string(TrimRight(line));
}

// Form 1: the field "Codi:" whose F3 opens list 1. Form 2: the selection
// form run before the list.
void SelectionForms() {
  ResetFormTables(2, 1);
  Form* entry = MutableForm(1);
  entry->FormKeys = "d,1b,3e00";
  entry->FormFieldCount = 1;
  FormField* code = MutableField(1, 1);
  code->FieldRow = 2;
  code->FieldColumn = 4;
  code->FieldLabel = "Codi:  ";
  code->FieldLength = 10;
  code->FieldValue = std::string(10, ' ');
  code->FieldAttr7 = 1;
  Form* selection = MutableForm(2);
  selection->FormKeys = "d,1b";
  selection->FormWindow = {0, 22, 20, 24, 60};
  selection->FormFieldCount = 1;
  FormField* from = MutableField(2, 1);
  from->FieldRow = 1;
  from->FieldColumn = 2;
  from->FieldLabel = "Des de:  ";
  from->FieldLength = 10;
  from->FieldValue = std::string(10, ' ');
}

int Run(const Options& options) {
  std::string root = CurrentEnv().GetVariable("KELROOT");
  std::string temp = CurrentEnv().GetVariable("KELTMP");
  if (temp.empty()) temp = "/tmp";
  if (temp.back() != '/' && temp.back() != '\\') temp += "\\";
  Session().TempDir = temp;
  if (!root.empty() && !ChangeDirectory(root)) {
    std::fprintf(stderr, "listprobe: cannot enter %s\n", Cp850ToUtf8(root).c_str());
    return 1;
  }
  SelectConsoleOrExit(DetectConsoleKind());
  SetCursorVisible(false);
  SetColour("n");
  ClearScreen();

  std::int16_t status = 0;
  DbOpen(kFileNumber, options.file, g_area, sizeof g_area, &status);  // ends the run on failure
  g_fields = options.fields;

  ResetMenuEntries(2);
  MenuListEntry* first = MutableMenuEntry(1);
  first->MenuEntry = {kFileNumber,
                      options.key,
                      3,
                      4,
                      21,
                      77,
                      static_cast<std::int16_t>(options.selection ? 2 : 0),
                      static_cast<std::int16_t>(options.second ? 2 : 0)};
  first->MenuText = options.title;
  MenuListEntry* second = MutableMenuEntry(2);
  second->MenuEntry = {kFileNumber, 0, 8, 20, 18, 60, 0, 0};
  second->MenuText = " SEGONA_LLISTA ";

  UseDataFileBrowseSource();
  BrowseProcedures procedures;
  procedures.prepare = [&options](std::int16_t list, std::string* start,
                                  std::string* prefix) -> std::int16_t {
    if (list == 1) {
      *start = options.start;
      *prefix = options.prefix;
    }
    return 0;
  };
  procedures.format_line = [](std::int16_t) { return FormatRecord(); };
  procedures.follow_up = [](std::int16_t list, std::int16_t form, std::int16_t field) {
    PutText(24, 1,
            FixedText("FOLLOW-UP list=" + std::to_string(list) + " form=" + std::to_string(form) +
                          " field=" + std::to_string(field),
                      80),
            0x07);
  };
  SetBrowseProcedures(procedures);

  PutText(1, 1, FixedText("LISTPROBE " + options.file, 80), 0x0F);
  std::int16_t result = 0;
  if (options.selection) {
    // The form's lookup: the list's result decides whether the field moves on.
    SelectionForms();
    result = -1;
    RegisterLookupList([&result](std::int16_t list) {
      BrowseList(list, &result);
      return result;
    });
    std::int16_t key = 0;
    FormDialog(1, 0, 0, &key);
  } else {
    BrowseList(1, &result);
  }

  std::string line = "RESULT result=" + std::to_string(result);
  if (result == 0) line += " line=[" + FormatRecord() + "]";
  PutText(25, 1, FixedText(line, 80), 0x07);
  GetKey();
  DbClose(kFileNumber, &status);
  SetColour("n");
  ClearScreen();
  SetCursorVisible(true);
  return 0;
}

}  // namespace
}  // namespace kel

int main(int argc, char** argv) {
  kel::Options options;
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kel::kUsage, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--file") == 0 && has_value) {
      options.file = kel::Utf8ToCp850(argv[++i]);
    } else if (std::strcmp(argv[i], "--key") == 0 && has_value) {
      options.key = static_cast<std::int16_t>(std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--fields") == 0 && has_value) {
      if (!kel::ParseFields(argv[++i], &options.fields)) {
        std::fprintf(stderr, "listprobe: --fields wants OFFSET:LENGTH,... within 1536 bytes\n");
        return 2;
      }
    } else if (std::strcmp(argv[i], "--start") == 0 && has_value) {
      options.start = kel::Utf8ToCp850(argv[++i]);
    } else if (std::strcmp(argv[i], "--prefix") == 0 && has_value) {
      options.prefix = kel::Utf8ToCp850(argv[++i]);
    } else if (std::strcmp(argv[i], "--title") == 0 && has_value) {
      options.title = kel::Utf8ToCp850(argv[++i]);
    } else if (std::strcmp(argv[i], "--second") == 0) {
      options.second = true;
    } else if (std::strcmp(argv[i], "--selection") == 0) {
      options.selection = true;
    } else {
      std::fprintf(stderr, "listprobe: unknown argument %s\n%s", argv[i], kel::kUsage);
      return 2;
    }
  }
  return kel::Run(options);
}
