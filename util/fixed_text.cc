#include "util/fixed_text.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace kel {

std::string FixedText(std::string_view text, std::size_t width, char pad) {
  std::string out(text.substr(0, std::min(text.size(), width)));
  out.resize(width, pad);
  return out;
}

void StoreFixed(std::string_view text, char* field, std::size_t width) {
  std::size_t n = std::min(text.size(), width);
  if (n > 0) std::memcpy(field, text.data(), n);
  if (width > n) std::memset(field + n, ' ', width - n);
}

std::string_view TrimRight(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  return text.substr(0, end);
}

std::string_view TrimLeft(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && text[start] == ' ') ++start;
  return text.substr(start);
}

std::string_view Trim(std::string_view text) { return TrimLeft(TrimRight(text)); }

bool IsBlank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' '; });
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AsciiUpper(a) == AsciiUpper(b);
}

std::string DecimalText(long long value) { return std::to_string(value); }

long long LeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  constexpr long long kMax = std::numeric_limits<long long>::max();
  long long value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    int digit = text[i] - '0';
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    ++i;
  }
  return negative ? -value : value;
}

}  // namespace kel
