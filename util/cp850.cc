#include "util/cp850.h"

#include <array>

namespace kel {
namespace {

constexpr std::array<char16_t, 256> kToUnicode = {
#include "util/cp850_table.inc"
};

// Reverse lookup, built once: sorted pairs would do, but a direct table of
// the Basic Multilingual Plane's first 0x2600 code points covers every
// character of the code page and keeps the lookup one load.
struct ReverseTable {
  static constexpr char32_t kLimit = 0x2600;
  std::array<std::int16_t, kLimit> byte_of{};
  ReverseTable() {
    byte_of.fill(-1);
    for (int b = 255; b >= 0; --b) byte_of[kToUnicode[b]] = static_cast<std::int16_t>(b);
  }
};

const ReverseTable& Reverse() {
  static const ReverseTable table;
  return table;
}

}  // namespace

char32_t Cp850ToUnicode(std::uint8_t byte) { return kToUnicode[byte]; }

namespace {

// (small, capital) pairs of the accented letters of code page 850.
constexpr unsigned char kCasePairs[][2] = {
    {0x81, 0x9A}, {0x82, 0x90}, {0x83, 0xB6}, {0x84, 0x8E}, {0x85, 0xB7}, {0x86, 0x8F},
    {0x87, 0x80}, {0x88, 0xD2}, {0x89, 0xD3}, {0x8A, 0xD4}, {0x8B, 0xD8}, {0x8C, 0xD7},
    {0x8D, 0xDE}, {0x91, 0x92}, {0x93, 0xE2}, {0x94, 0x99}, {0x95, 0xE3}, {0x96, 0xEA},
    {0x97, 0xEB}, {0xA0, 0xB5}, {0xA1, 0xD6}, {0xA2, 0xE0}, {0xA3, 0xE9}, {0xA4, 0xA5},
    {0xC6, 0xC7}, {0xD0, 0xD1}, {0xE4, 0xE5}, {0xEC, 0xED}};

}  // namespace

std::uint8_t Cp850ToLower(std::uint8_t byte) {
  if (byte >= 'A' && byte <= 'Z') return static_cast<std::uint8_t>(byte + 32);
  for (const auto& p : kCasePairs) {
    if (byte == p[1]) return p[0];
  }
  return byte;
}

std::uint8_t Cp850ToUpper(std::uint8_t byte) {
  if (byte >= 'a' && byte <= 'z') return static_cast<std::uint8_t>(byte - 32);
  for (const auto& p : kCasePairs) {
    if (byte == p[0]) return p[1];
  }
  return byte;
}

bool UnicodeToCp850(char32_t code_point, std::uint8_t* byte) {
  if (code_point >= ReverseTable::kLimit) return false;
  std::int16_t b = Reverse().byte_of[code_point];
  if (b < 0) return false;
  *byte = static_cast<std::uint8_t>(b);
  return true;
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

char32_t DecodeUtf8(std::string_view s, std::size_t* pos) {
  auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
  std::size_t i = *pos;
  std::uint8_t b0 = byte(i);
  int extra;
  char32_t cp;
  if (b0 < 0x80) {
    *pos = i + 1;
    return b0;
  } else if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    *pos = i + 1;
    return 0xFFFD;
  }
  if (i + extra >= s.size()) {
    *pos = i + 1;
    return 0xFFFD;
  }
  for (int k = 1; k <= extra; ++k) {
    std::uint8_t b = byte(i + k);
    if ((b & 0xC0) != 0x80) {
      *pos = i + 1;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    *pos = i + 1;
    return 0xFFFD;
  }
  *pos = i + 1 + extra;
  return cp;
}

std::string Cp850ToUtf8(std::string_view cp850) {
  std::string out;
  out.reserve(cp850.size() * 2);
  for (char c : cp850) AppendUtf8(kToUnicode[static_cast<std::uint8_t>(c)], &out);
  return out;
}

std::string Utf8ToCp850(std::string_view utf8, char fallback) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t cp = DecodeUtf8(utf8, &pos);
    std::uint8_t b;
    out.push_back(UnicodeToCp850(cp, &b) ? static_cast<char>(b) : fallback);
  }
  return out;
}

}  // namespace kel
