#include "datafile/notices.h"

#include <string_view>

#include "util/session_context.h"

namespace kel {
namespace {

// Texts by language, in the order Catalan, Spanish, Galician-Portuguese,
// Aranese. Bytes above 0x7F are code page 850 (0xC0, 0xC8, 0xD2).
struct FourTexts {
  const char* cat;
  const char* spa;
  const char* glg;
  const char* oci;
};

std::string Pick(const FourTexts& t) {
  const std::string_view language = Session().SessionLanguage;
  if (language == "SPA") return t.spa;
  if (language == "GLG") return t.glg;
  if (language == "OCI") return t.oci;
  return t.cat;
}

constexpr FourTexts kLockedRecord = {
    "FITXER BLOQUEJAT. ESPEREU UN MOMENT.",
    "FICHERO BLOQUEADO. ESPERE UN MOMENTO.",
    "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO.",
    "FICH\xC8R BLOQUEJAT. ESPERATZ UN MOMENT.",
};

constexpr FourTexts kOpenFailure = {
    "NO ES POT ACCEDIR AL FITXER ",
    "NO SE PUEDE ACCEDER AL FICHERO ",
    "NOM SE PODE ACEDER AO FICHEIRO ",
    "NON SE P\xD2T ACCEDIR ATH FICH\xC8R ",
};

constexpr FourTexts kLockFile = {
    "FITXER BLOQUEJAT. ESPEREU UN MOMENT",
    "FICHERO BLOQUEADO. ESPERE UN MOMENTO",
    "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO",
    "FICH\xC8R BLOQUEJAT. ESPERATZ UN MOMENT",
};

constexpr FourTexts kLockFileEsc = {
    " O POLSEU [ESC] PER A EIXIR",
    " O PULSE [ESC] PARA SALIR",
    " OU PULSE [ESC] PARA SAIR",
    " O POSSATZ [ESC] ENT\xC0 G\xC8SSER",
};

}  // namespace

std::string LockedRecordNotice() { return Pick(kLockedRecord); }
std::string OpenFailurePrefix() { return Pick(kOpenFailure); }
std::string LockFileNotice() { return Pick(kLockFile); }
std::string LockFileEscText() { return Pick(kLockFileEsc); }

}  // namespace kel
