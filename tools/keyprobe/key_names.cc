#include "tools/keyprobe/key_names.h"

#include <cstdio>

namespace kel {
namespace {

struct Named {
  std::uint16_t code;
  const char* name;
};

constexpr Named kNames[] = {
    {8, "Backspace"},      {9, "Tab"},
    {13, "Enter"},         {27, "Esc"},
    {32, "Space"},         {213, "Alt+E"},
    {0x0F00, "Shift+Tab"}, {0x4700, "Home"},
    {0x4800, "Up"},        {0x4900, "PgUp"},
    {0x4B00, "Left"},      {0x4C00, "Keypad 5"},
    {0x4D00, "Right"},     {0x4F00, "End"},
    {0x5000, "Down"},      {0x5100, "PgDn"},
    {0x5200, "Ins"},       {0x5300, "Del"},
    {0x7300, "Ctrl+Left"}, {0x7400, "Ctrl+Right"},
    {0x7700, "Ctrl+Home"}, {0x0E00, "Alt+Backspace"},
    {0x1C00, "Alt+Enter"}, {0x8500, "F11"},
    {0x8600, "F12"},       {0x8700, "Shift+F11"},
    {0x8800, "Shift+F12"}, {0x8900, "Ctrl+F11"},
    {0x8A00, "Ctrl+F12"},  {0x8B00, "Alt+F11"},
    {0x8C00, "Alt+F12"},
};

// Alt+key scan codes of a US keyboard.
const char* AltKeyOf(int scan) {
  static const char* const kRow1 = "QWERTYUIOP[]";
  static const char* const kRow2 = "ASDFGHJKL;'`";
  static const char* const kRow3 = "\\ZXCVBNM,./";
  static const char* const kDigits = "1234567890-=";
  static char out[2] = {0, 0};
  if (scan >= 0x10 && scan < 0x10 + 12) {
    out[0] = kRow1[scan - 0x10];
  } else if (scan >= 0x1E && scan < 0x1E + 12) {
    out[0] = kRow2[scan - 0x1E];
  } else if (scan >= 0x2B && scan < 0x2B + 11) {
    out[0] = kRow3[scan - 0x2B];
  } else if (scan >= 0x78 && scan < 0x78 + 12) {
    out[0] = kDigits[scan - 0x78];
  } else {
    return nullptr;
  }
  return out;
}

}  // namespace

std::string KeyHex(std::int16_t key) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(static_cast<std::uint16_t>(key)));
  return buf;
}

std::string KeyName(std::int16_t key) {
  const auto code = static_cast<std::uint16_t>(key);
  for (const Named& n : kNames) {
    if (n.code == code) return n.name;
  }
  if (code >= 0x3B00 && code <= 0x7100 && (code & 0xFF) == 0) {
    int scan = code >> 8;
    static const char* const kGroups[] = {"", "Shift+", "Ctrl+", "Alt+"};
    static const int kFirst[] = {0x3B, 0x54, 0x5E, 0x68};
    for (int g = 0; g < 4; ++g) {
      if (scan >= kFirst[g] && scan < kFirst[g] + 10) {
        return std::string(kGroups[g]) + "F" + std::to_string(scan - kFirst[g] + 1);
      }
    }
  }
  if ((code & 0xFF) == 0 && code != 0) {
    if (const char* k = AltKeyOf(code >> 8)) return std::string("Alt+") + k;
    return "";
  }
  if (code >= 1 && code < 32) return std::string("Ctrl+") + static_cast<char>('A' + code - 1);
  return "";
}

}  // namespace kel
