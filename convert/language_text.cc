#include "convert/language_text.h"

#include "platform/system.h"
#include "startup/field_reader.h"
#include "util/session_context.h"

namespace kel {

LanguageTextState& LanguageText() {
  static LanguageTextState state;
  return state;
}

void ResetLanguageText() { LanguageText() = LanguageTextState(); }

std::string LanguageTextPath() {
  return Session().InstallRoot + "LOCALE\\" + LanguageText().LanguageFileName + ".LNG";
}

namespace {

std::string Lookup(std::string_view text, bool create_missing_file) {
  const std::string& language = Session().SessionLanguage;
  if (language == "CAT") return std::string(text);
  if (LanguageText().LanguageFileName.empty()) {
    LanguageText().LanguageFileName = Session().ProgramName;
  }
  const std::string path = LanguageTextPath();
  std::string result(text);
  if (create_missing_file && LanguageText().CreateMissingFile) {
    // A missing file is created empty, so the installation shows where its
    // translations belong.
    File create;
    (void)OpenFile(path, FileAccess::kReadWriteCreate, FileShare::kShared, &create);
  }
  FieldReader reader;
  if (reader.Open(path) != FileResult::kOk) return result;
  while (!reader.AtEnd()) {
    const std::string catalan = reader.ReadText();
    if (reader.AtEnd()) break;  // a lone last field is no record
    const std::string galician = reader.ReadText();
    const std::string aranese = reader.ReadText();
    const std::string spanish = reader.ReadText();
    if (catalan != text) continue;
    if (language == "SPA") {
      result = spanish;
    } else if (language == "GLG") {
      result = galician;
    } else if (language == "OCI") {
      result = aranese;
    }
    break;
  }
  return result;
}

}  // namespace

std::string Translate(std::string_view text) { return Lookup(text, true); }

std::string TranslateWithoutCreating(std::string_view text) { return Lookup(text, false); }

}  // namespace kel
