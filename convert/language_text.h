// The language text file: the program's own texts (form labels, choice
// lists, list titles, the banner, the closing message) are written in
// Catalan, and Translate turns one into the session language by looking it
// up in this file, which holds every text once per language.
//
// Path: Session().InstallRoot + "LOCALE\" + LanguageFileName + ".LNG". Code
// page 850 text read field by field like the form file
// (startup/field_reader.h); records of four fields follow each other, on one
// line or several, without header, comments or count:
//   1. the Catalan text, exactly as the program uses it (the lookup key)
//   2. the Galician-Portuguese text ("GLG")
//   3. the Aranese text ("OCI")
//   4. the Spanish text ("SPA")
// An empty line reads as one empty field and shifts every later record.
//
// Nothing is cached: every call that needs the file opens, scans and closes
// it, so a change of `SessionLanguage` during the run takes effect at once.
//
// Globals: LanguageText() (`LanguageFileName`); reads Session().InstallRoot,
// SessionLanguage and ProgramName.
#ifndef KEL_CONVERT_LANGUAGE_TEXT_H_
#define KEL_CONVERT_LANGUAGE_TEXT_H_

#include <string>
#include <string_view>

namespace kel {

struct LanguageTextState {
  // Base name of the language text file; empty until the first Translate
  // that needs the file sets it to `ProgramName`.
  std::string LanguageFileName;
  // false in a run that must write nothing (the census, the command line's
  // help): a missing file is then left missing, and every text stays in
  // Catalan.
  bool CreateMissingFile = true;
};

LanguageTextState& LanguageText();
// Back to the state at start (tests).
void ResetLanguageText();

// The file's system path for the current `LanguageFileName`.
std::string LanguageTextPath();

// The session-language version of the Catalan program text `text`:
// - with `SessionLanguage` "CAT" the text itself; the file is not touched;
// - otherwise the file is first created empty when it does not exist
//   (unless `CreateMissingFile` is false), then
//   scanned from the start: the first record whose Catalan text equals
//   `text` byte for byte (letter case and blanks included) gives its
//   Spanish text for "SPA", its Galician-Portuguese text for "GLG", its
//   Aranese text for "OCI" (an empty text in the file gives an empty
//   result), and `text` for any other code. A Catalan text that is the last
//   field of the file is not compared; a record cut short by the end of the
//   file has empty texts for its missing fields.
// Without a match, or when the file (or its directory) cannot be opened or
// created, the result is `text`; nothing is reported.
std::string Translate(std::string_view text);

// Translate without creating a missing file (its result is then `text`): for
// the messages of a program that stops before it has changed anything,
// which must leave the installation as it found it.
std::string TranslateWithoutCreating(std::string_view text);

}  // namespace kel

#endif  // KEL_CONVERT_LANGUAGE_TEXT_H_
