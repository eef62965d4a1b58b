#include "convert/run_messages.h"

#include <string>

#include "convert/language_text.h"

namespace kel {
namespace {

// The Catalan texts (code page 850): the keys of the language text file.
constexpr char kPlainOutput[] =
    "%1 (Una execuci\xA2 sense operador no necessita pantalla: continua amb sortida de text.)";
constexpr char kNoTerminal[] =
    "no hi ha cap terminal on mostrar el formulari (l'entrada i la sortida est\x85ndard han de "
    "ser un terminal). Executeu-lo en un terminal, o amb /AUTO per aplicar l'idioma configurat "
    "sense operador.";
constexpr char kFormFileMissing[] =
    "no es pot obrir el fitxer de formularis %1. No s'ha canviat res.";
constexpr char kFormFileDamaged[] =
    "el fitxer de formularis %1 \x82s malm\x8As: %2. No s'ha canviat res.";
constexpr char kSignalStop[] =
    "aturat per %1: els fitxers convertits fins ara conserven els textos nous i els altres "
    "s\xA2n com eren; no s'ha desat res. Una nova execuci\xA2 acaba la feina.";
constexpr char kIncomplete[] =
    "la conversi\xA2 no \x82s completa: %1; %2 de %3 registres no tenen el text nou. Una nova "
    "execuci\xA2 acaba la feina (quan els fitxers estiguin lliures).";
// The same when a file looks damaged: a new run would meet the same damage.
constexpr char kIncompleteDamaged[] =
    "la conversi\xA2 no \x82s completa: %1; %2 de %3 registres no tenen el text nou. Comproveu "
    "els fitxers malmesos amb recutil check (recutil check --repair en ref\x85 les claus) i "
    "torneu-ho a executar.";
constexpr char kIncompleteFile[] = "%1: %2 de %3 registres no tenen el text nou (%4)";
constexpr char kCloseFailed[] = "el tancament dels fitxers de dades ha fallat amb l'estat %1";
constexpr char kNotRecorded[] = "no s'ha pogut desar l'idioma a %1 (error %2).";

std::string Translated(const char* catalan, std::initializer_list<std::string_view> values) {
  return TranslatedMessage(catalan, values);
}

}  // namespace

// A stop before anything changed must leave the installation as it was: a
// missing language file is not created for these.
std::string TranslatedMessage(const char* catalan, std::initializer_list<std::string_view> values) {
  return FillPlaceholders(TranslateWithoutCreating(catalan), values);
}

std::string FillPlaceholders(std::string_view text,
                             std::initializer_list<std::string_view> values) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      const auto n = static_cast<std::size_t>(text[i + 1] - '1');
      if (n < values.size()) out.append(values.begin()[n]);
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string PlainOutputNotice(std::string_view why) { return Translated(kPlainOutput, {why}); }

std::string NoTerminalMessage() { return TranslateWithoutCreating(kNoTerminal); }

std::string FormFileStopMessage(FormFileStatus status, std::string_view path,
                                std::string_view detail) {
  if (status == FormFileStatus::kMissing) return Translated(kFormFileMissing, {path});
  return Translated(kFormFileDamaged, {path, detail});
}

std::string SignalStopMessage(std::string_view signal_name) {
  return Translated(kSignalStop, {signal_name});
}

std::string IncompleteConversionMessage(const ConversionTally& tally, std::int16_t close_status) {
  std::string details;
  for (const ConversionTally::FileProblem& f : tally.files) {
    if (!details.empty()) details += "; ";
    details += Translated(kIncompleteFile, {f.path, std::to_string(f.not_converted),
                                            std::to_string(f.records), f.reason});
  }
  if (tally.files.empty()) details = tally.first_problem;
  if (close_status != 0) {
    if (!details.empty()) details += "; ";
    details += Translated(kCloseFailed, {std::to_string(close_status)});
  }
  bool damaged = false;
  for (const ConversionTally::FileProblem& f : tally.files) damaged = damaged || f.damaged;
  return Translated(damaged ? kIncompleteDamaged : kIncomplete,
                    {details, std::to_string(tally.not_converted), std::to_string(tally.records)});
}

std::string LanguageNotRecordedMessage(std::string_view path, int error) {
  return Translated(kNotRecorded, {path, std::to_string(error)});
}

}  // namespace kel
