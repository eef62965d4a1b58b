#include "tools/mkinstall/field_codec.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "util/cp850.h"

namespace kel {
namespace {

bool AllDigits(std::string_view s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Built by appending: GCC 12 warns falsely (-Wrestrict) about "\"" + string.
std::string Quoted(std::string_view value) {
  std::string out(1, '"');
  out.append(value);
  out.push_back('"');
  return out;
}

// Packs a text of exactly 2 x n digits into n bytes.
void PackDigitPairs(std::string_view digits, char* out) {
  for (std::size_t k = 0; k < digits.size() / 2; ++k) {
    int tens = digits[2 * k] - '0';
    int units = digits[2 * k + 1] - '0';
    out[k] = static_cast<char>(128 + 10 * tens + units);
  }
}

void StoreLittleEndian(long long value, int width, char* out) {
  auto bits = static_cast<unsigned long long>(value);
  for (int i = 0; i < width; ++i) {
    out[i] = static_cast<char>(bits & 0xFF);
    bits >>= 8;
  }
}

// Parses an optional sign and decimal digits, with up to `decimals` digits
// after a "." (scaled into the result). false on anything else or overflow.
bool ParseScaled(std::string_view s, int decimals, long long* result) {
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  std::string_view whole = s, fraction;
  if (std::size_t dot = s.find('.'); dot != std::string_view::npos) {
    if (decimals == 0) return false;
    whole = s.substr(0, dot);
    fraction = s.substr(dot + 1);
  }
  if (whole.empty() || !AllDigits(whole) || !AllDigits(fraction) ||
      fraction.size() > static_cast<std::size_t>(decimals)) {
    return false;
  }
  long long value = 0;
  constexpr long long kMax = std::numeric_limits<long long>::max() / 10 - 9;
  auto push = [&](char c) {
    if (value > kMax) return false;
    value = value * 10 + (c - '0');
    return true;
  };
  for (char c : whole) {
    if (!push(c)) return false;
  }
  for (int i = 0; i < decimals; ++i) {
    if (!push(i < static_cast<int>(fraction.size()) ? fraction[i] : '0')) return false;
  }
  *result = negative ? -value : value;
  return true;
}

bool FitsSigned(long long value, int width) {
  if (width >= 8) return true;
  long long limit = 1LL << (8 * width - 1);
  return value >= -limit && value < limit;
}

}  // namespace

bool StrictUtf8ToCp850(std::string_view utf8, std::string* cp850, std::string* error) {
  cp850->clear();
  cp850->reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    std::size_t start = pos;
    char32_t cp = DecodeUtf8(utf8, &pos);
    std::uint8_t byte = 0;
    if (cp == 0xFFFD) {
      *error = "malformed UTF-8 at byte " + std::to_string(start);
      return false;
    }
    if ((cp < 0x20 && cp != '\n') || cp == 0x7F) {
      *error = "control character " + std::to_string(static_cast<int>(cp)) + " at byte " +
               std::to_string(start);
      return false;
    }
    if (!UnicodeToCp850(cp, &byte)) {
      *error = Quoted(utf8.substr(start, pos - start)) + " does not exist in code page 850";
      return false;
    }
    cp850->push_back(static_cast<char>(byte));
  }
  return true;
}

bool EncodeField(const LayoutField& field, std::string_view value, char* out, std::string* error) {
  const int width = field.width;
  switch (field.type) {
    case FieldType::kText: {
      std::string text;
      if (!StrictUtf8ToCp850(value, &text, error)) return false;
      if (text.find('\n') != std::string::npos) {
        *error = "a line break cannot stand in a field";
        return false;
      }
      if (text.size() > static_cast<std::size_t>(width)) {
        *error = Quoted(value) + " is " + std::to_string(text.size()) +
                 " characters long; the field holds " + std::to_string(width);
        return false;
      }
      std::memcpy(out, text.data(), text.size());
      std::memset(out + text.size(), ' ', width - text.size());
      return true;
    }
    case FieldType::kDigits: {
      std::string_view digits = value.empty() ? std::string_view("0") : value;
      if (!AllDigits(digits) || digits.size() > static_cast<std::size_t>(2 * width)) {
        *error =
            Quoted(value) + " is not a number of at most " + std::to_string(2 * width) + " digits";
        return false;
      }
      std::string padded(2 * width - digits.size(), '0');
      padded += digits;
      PackDigitPairs(padded, out);
      return true;
    }
    case FieldType::kDate: {
      if (value.empty()) {
        std::memset(out, 0, width);
        return true;
      }
      bool valid = value.size() == 8 && AllDigits(value);
      if (valid) {
        int month = (value[4] - '0') * 10 + (value[5] - '0');
        int day = (value[6] - '0') * 10 + (value[7] - '0');
        valid = month >= 1 && month <= 12 && day >= 1 && day <= 31;
      }
      if (!valid) {
        *error = Quoted(value) + " is not a date written YYYYMMDD";
        return false;
      }
      PackDigitPairs(value, out);
      return true;
    }
    case FieldType::kInt:
    case FieldType::kAmount: {
      long long number = 0;
      int decimals = field.type == FieldType::kAmount ? 2 : 0;
      if (value.empty()) value = "0";
      if (!ParseScaled(value, decimals, &number) || !FitsSigned(number, width)) {
        *error = Quoted(value) + " is not " + (decimals ? "an amount" : std::string("an integer")) +
                 " that fits " + std::to_string(width) + " bytes";
        return false;
      }
      StoreLittleEndian(number, width, out);
      return true;
    }
    case FieldType::kFlag: {
      if (value != "S" && value != "N" && !value.empty()) {
        *error = Quoted(value) + " is not a flag (S or N)";
        return false;
      }
      StoreLittleEndian(value == "S" ? -1 : 0, width, out);
      return true;
    }
    case FieldType::kFill: {
      if (!value.empty()) {
        *error = "a reserved field takes no value";
        return false;
      }
      std::memset(out, 0, width);
      return true;
    }
  }
  *error = "unknown field type";
  return false;
}

bool FieldTypeFromName(std::string_view name, FieldType* type) {
  static constexpr struct {
    const char* name;
    FieldType type;
  } kTypes[] = {{"text", FieldType::kText},     {"digits", FieldType::kDigits},
                {"date", FieldType::kDate},     {"int", FieldType::kInt},
                {"amount", FieldType::kAmount}, {"flag", FieldType::kFlag},
                {"fill", FieldType::kFill}};
  for (const auto& entry : kTypes) {
    if (name == entry.name) {
      *type = entry.type;
      return true;
    }
  }
  return false;
}

const char* FieldTypeName(FieldType type) {
  switch (type) {
    case FieldType::kText:
      return "text";
    case FieldType::kDigits:
      return "digits";
    case FieldType::kDate:
      return "date";
    case FieldType::kInt:
      return "int";
    case FieldType::kAmount:
      return "amount";
    case FieldType::kFlag:
      return "flag";
    case FieldType::kFill:
      return "fill";
  }
  return "?";
}

}  // namespace kel
