// The texts of dates: numeric in the installation's order and separator, or
// in words in the session language.
#include <algorithm>

#include "util/dates.h"
#include "util/fixed_text.h"
#include "util/installation_settings.h"
#include "util/session_context.h"

namespace kel {
namespace {

// Words of the long form and the twelve month names (code page 850), ten
// blank-padded characters per month.
struct LanguageWords {
  const char* before_consonant_month;
  const char* before_vowel_month;
  const char* before_day_or_year;
  const char* months;
};

const LanguageWords kSpanish = {" de ", " de ", " de ",
                                "enero     febrero   marzo     abril     mayo      junio     "
                                "julio     agosto    septiembreoctubre   noviembre diciembre "};
const LanguageWords kGalician = {" de ", " de ", " do ",
                                 "janeiro   fevereiro mar\x87o     abril     maio      junho     "
                                 "julho     agosto    setembro  outubro   novembro  dezembro  "};
const LanguageWords kAranese = {
    " de ", " d'", " deth ",
    "g\x8Ar       hereu\x8Ar   mar\x87      abriu     mai       junh      "
    "junhsega  agost     seteme    octobre   noveme    deseme    "};
const LanguageWords kCatalan = {" de ", " d'", " del ",
                                "gener     febrer    mar\x87      abril     maig      juny      "
                                "juliol    agost     setembre  octubre   novembre  desembre  "};

constexpr std::size_t kMonthField = 10;

const LanguageWords& WordsOf(std::string_view language) {
  if (language == "SPA") return kSpanish;
  if (language == "GLG") return kGalician;
  if (language == "OCI") return kAranese;
  return kCatalan;
}

void LoadSettings() {
  DateSettings& s = DateGlobals();
  if (s.DateSeparator.empty() || s.DateSeparator[0] == '\0') {
    std::string value = ReadInstallationSetting("Usuari", "DatCaracter");
    char c = value.empty() ? '/' : value[0];
    s.DateSeparator = std::string(1, (c == ' ' || c == '\0') ? '/' : c);
  }
  if (s.DateOrder.empty() || s.DateOrder[0] == '\0') {
    std::string order = FixedText(ReadInstallationSetting("Usuari", "DatOrdre"), 3);
    // A leading code 0 would read as "not yet read" on every later call.
    s.DateOrder = (IsBlank(order) || order[0] == '\0') ? "DMA" : order;
  }
}

// A two-digit number without its leading zero ("04" -> "4", "00" -> "0").
std::string NumberText(std::string_view two_digits) {
  return two_digits[0] == '0' ? std::string(two_digits.substr(1)) : std::string(two_digits);
}

bool IsVowel(char c) {
  c = AsciiUpper(std::string_view(&c, 1))[0];
  return c == 'A' || c == 'E' || c == 'I' || c == 'O' || c == 'U';
}

}  // namespace

DateSettings& DateGlobals() {
  static DateSettings settings;
  return settings;
}

void ResetDates() { DateGlobals() = DateSettings(); }

std::string DateText(std::string_view date, std::int16_t style, std::string_view parts) {
  LoadSettings();
  const DateSettings& settings = DateGlobals();
  const LanguageWords& words = WordsOf(style > 0 ? Session().SessionLanguage : "CAT");

  std::string digits = ExpandDigitBytes(FixedText(date, kPackedDateSize, '\0'));
  std::string year = digits.substr(0, 4);
  if (style == -1) return year + "-" + digits.substr(4, 2) + "-" + digits.substr(6, 2);

  std::string month = NumberText(std::string_view(digits).substr(4, 2));
  std::string day = NumberText(std::string_view(digits).substr(6, 2));
  int month_number = (digits[4] - '0') * 10 + (digits[5] - '0');
  std::string wanted = AsciiUpper(parts);
  auto shows = [&](char letter) { return wanted.find(letter) != std::string::npos; };

  std::string result;
  if (month + day > "00") {
    for (char letter : settings.DateOrder) {
      if (!shows(letter)) continue;
      std::string piece;
      if (letter == 'D') {
        piece = day;
      } else if (letter == 'A') {
        piece = year;
      } else if (letter == 'M') {
        piece = month;
        if (style >= 1 && month_number >= 1 && month_number <= 12) {
          std::string_view field =
              std::string_view(words.months).substr((month_number - 1) * kMonthField, kMonthField);
          piece = style >= 2 ? std::string(TrimRight(field)) : std::string(field.substr(0, 3));
        }
      } else {
        continue;  // a letter other than D, M and A in the order shows nothing
      }
      if (!result.empty()) {
        if (style < 2) {
          result += settings.DateSeparator;
        } else if (letter == 'M') {
          result += IsVowel(piece[0]) ? words.before_vowel_month : words.before_consonant_month;
        } else {
          result += words.before_day_or_year;
        }
      }
      result += piece;
    }
  }
  if (style >= 2) return result;

  int width = (shows('M') ? style + 2 : 0) + (shows('A') ? 4 : 0) + (shows('D') ? 2 : 0) +
              static_cast<int>(parts.size()) - 1;
  return FixedText(result, static_cast<std::size_t>(std::max(width, 0)));
}

}  // namespace kel
