#include "platform/console_text.h"

#include "util/cp850.h"

namespace kel {
namespace {

// The glyphs the text screen shows for the bytes 0x00..0x1F.
constexpr char16_t kLowGlyphs[32] = {
    u' ',      u'\u263A', u'\u263B', u'\u2665', u'\u2666', u'\u2663', u'\u2660', u'\u2022',
    u'\u25D8', u'\u25CB', u'\u25D9', u'\u2642', u'\u2640', u'\u266A', u'\u266B', u'\u263C',
    u'\u25BA', u'\u25C4', u'\u2195', u'\u203C', u'\u00B6', u'\u00A7', u'\u25AC', u'\u21A8',
    u'\u2191', u'\u2193', u'\u2192', u'\u2190', u'\u221F', u'\u2194', u'\u25B2', u'\u25BC'};

}  // namespace

char32_t CellGlyph(std::uint8_t byte) {
  if (byte < 0x20) return kLowGlyphs[byte];
  if (byte == 0x7F) return U'\u2302';
  return Cp850ToUnicode(byte);
}

int TerminalColour(int pc_colour) {
  int c = pc_colour & 15;
  return (c & 8) | ((c & 1) << 2) | (c & 2) | ((c & 4) >> 2);
}

TerminalAttribute MapAttribute(std::uint8_t attr, int colours, bool blink_for_bright_background) {
  TerminalAttribute t;
  int fg = attr & 15;
  int bg = attr >> 4;
  if (colours >= 16) {
    t.foreground = TerminalColour(fg);
    t.background = TerminalColour(bg);
    return t;
  }
  t.foreground = TerminalColour(fg & 7);
  t.background = TerminalColour(bg & 7);
  t.bold = (fg & 8) != 0;
  t.blink = (bg & 8) != 0 && blink_for_bright_background;
  return t;
}

std::string PlainTextLine(std::string_view cp850) {
  std::string out;
  out.reserve(cp850.size());
  for (char c : cp850) {
    auto byte = static_cast<std::uint8_t>(c);
    if (byte == '\r') continue;
    if (byte == '\t') {
      out.push_back('\t');
      continue;
    }
    AppendUtf8(CellGlyph(byte), &out);
  }
  return out;
}

std::string PlainCp850Line(std::string_view cp850) {
  std::string out;
  out.reserve(cp850.size());
  for (char c : cp850) {
    auto byte = static_cast<std::uint8_t>(c);
    if (byte == '\r') continue;
    if (byte == 0) {
      out.push_back(' ');
    } else if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
      out.push_back('?');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16 |
                      static_cast<std::uint8_t>(bytes[i + 1]) << 8 |
                      static_cast<std::uint8_t>(bytes[i + 2]);
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
    out += kDigits[v & 63];
  }
  std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += rest == 2 ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace kel
