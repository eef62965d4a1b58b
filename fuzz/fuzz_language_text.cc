// The language text file "LOCALE\TAVIRENO.LNG": the first input byte picks
// the session language, the rest is the file. Translate looks up texts the
// program really asks for, the file's own first field (so that a match is
// found) and an empty text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "convert/language_text.h"
#include "fuzz/fuzz_support.h"
#include "util/session_context.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  static const char* const kLanguages[] = {"SPA", "GLG", "OCI", "CAT"};
  FuzzInput in(data, size);
  ResetSession();
  ResetLanguageText();
  Session().InstallRoot = SessionDir();
  Session().ProgramName = "TAVIRENO";
  Session().SessionLanguage = kLanguages[in.Byte() % 4];
  const std::string_view file = in.Rest();
  WriteScratchFile("LOCALE/TAVIRENO.LNG", file);

  const std::string own_first(file.substr(0, file.find_first_of(",\r\n")));
  for (const std::string& text :
       {std::string("Idioma per defecte:  "), std::string("S'HA CANVIAT L'IDIOMA PER DEFECTE A "),
        own_first, std::string()}) {
    const std::string result = Translate(text);
    if (Session().SessionLanguage == "CAT") Require(result == text, "CAT changed a text");
  }
  return 0;
}
