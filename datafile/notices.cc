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

// The network file system's name goes between the two parts.
constexpr FourTexts kNetworkFileSystemBefore = {
    "El fitxer \x82s en un sistema de fitxers de xarxa (",
    "El fichero est\xA0 en un sistema de ficheros de red (",
    "O ficheiro est\xA0 num sistema de ficheiros de rede (",
    "Eth fich\x8Ar ei en un sist\x8Ama de fich\x8Ars de ret (",
};

constexpr FourTexts kNetworkFileSystemAfter = {
    "), on els fitxers SQLite no es poden compartir entre ordinadors: cal un servidor "
    "([Dades] Servidor a Nuri.ini) o, si nom\x82s aquest ordinador fa servir la carpeta "
    "compartida, [Dades] XarxaLocal=1.",
    "), donde los ficheros SQLite no se pueden compartir entre ordenadores: hace falta un "
    "servidor ([Dades] Servidor en Nuri.ini) o, si solo este ordenador usa la carpeta "
    "compartida, [Dades] XarxaLocal=1.",
    "), onde os ficheiros SQLite nom se podem partilhar entre computadores: fai falta um "
    "servidor ([Dades] Servidor em Nuri.ini) ou, se s\xA2 este computador usa a pasta "
    "partilhada, [Dades] XarxaLocal=1.",
    "), a on es fich\x8Ars SQLite non se p\x95" "den compartir entre ordenadors: cau un servidor "
    "([Dades] Servidor en Nuri.ini) o, se sonque aguest ordenador utilize era carpeta "
    "compartida, [Dades] XarxaLocal=1.",
};

constexpr FourTexts kServerUnreachable = {
    "No es pot connectar amb el servidor: ",
    "No se puede conectar con el servidor: ",
    "Nom se pode conectar com o servidor: ",
    "Non se p\x95t connectar damb eth servidor: ",
};

// The library's name follows; then ": " and the system's reason.
constexpr FourTexts kManagerCannotLoad = {
    "No es pot carregar la biblioteca del gestor de registres ([Dades] Gestor) ",
    "No se puede cargar la biblioteca del gestor de registros ([Dades] Gestor) ",
    "Nom se pode carregar a biblioteca do gestor de registos ([Dades] Gestor) ",
    "Non se p\x95t cargar era biblioteca deth gestor de registres ([Dades] Gestor) ",
};

constexpr FourTexts kManagerNoEntryPoint = {
    "La biblioteca del gestor de registres ([Dades] Gestor) no t\x82 el punt d'entrada BTRCALL: ",
    "La biblioteca del gestor de registros ([Dades] Gestor) no tiene el punto de entrada BTRCALL: ",
    "A biblioteca do gestor de registos ([Dades] Gestor) nom tem o ponto de entrada BTRCALL: ",
    "Era biblioteca deth gestor de registres ([Dades] Gestor) non a eth punt d'entrada BTRCALL: ",
};

constexpr FourTexts kManagerAlsoServer = {
    "Nuri.ini [Dades] indica alhora un gestor de registres (Gestor o KELBTR) i un servidor "
    "(Servidor o KELDB): els fitxers de dades s\xA2n en un sol lloc; cal treure'n un.",
    "Nuri.ini [Dades] indica a la vez un gestor de registros (Gestor o KELBTR) y un servidor "
    "(Servidor o KELDB): los ficheros de datos est\xA0n en un solo lugar; hay que quitar uno.",
    "Nuri.ini [Dades] indica ao mesmo tempo um gestor de registos (Gestor ou KELBTR) e um "
    "servidor (Servidor ou KELDB): os ficheiros de dados est\xC6o num s\xA2 lugar; cumpre tirar um.",
    "Nuri.ini [Dades] indique ath madeish temps un gestor de registres (Gestor o KELBTR) e un "
    "servidor (Servidor o KELDB): es fich\x8Ars de dades s\xA2n en un solet lo\x87; cau tr\x82ir-ne un.",
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
std::string NetworkFileSystemReason(std::string_view file_system) {
  std::string text = Pick(kNetworkFileSystemBefore);
  text.append(file_system);
  return text + Pick(kNetworkFileSystemAfter);
}
std::string ServerUnreachablePrefix() { return Pick(kServerUnreachable); }

std::string ManagerCannotLoadReason(std::string_view library, std::string_view why) {
  std::string text = Pick(kManagerCannotLoad);
  text.append(library);
  if (!why.empty()) text.append(": ").append(why);
  return text;
}

std::string ManagerNoEntryPointReason(std::string_view library, std::string_view why) {
  std::string text = Pick(kManagerNoEntryPoint);
  text.append(library);
  if (!why.empty()) text.append(": ").append(why);
  return text;
}

std::string ManagerAlsoServerReason() { return Pick(kManagerAlsoServer); }
std::string LockFileNotice() { return Pick(kLockFile); }
std::string LockFileEscText() { return Pick(kLockFileEsc); }

}  // namespace kel
