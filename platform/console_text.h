// What the terminal backends share and tests check directly: how a cell's
// byte and attribute become a glyph and terminal colours, and the text forms
// of what leaves the program (plain output lines, the OSC 52 clipboard).
#ifndef KEL_PLATFORM_CONSOLE_TEXT_H_
#define KEL_PLATFORM_CONSOLE_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

// The character a cell shows. Code page 850 bytes 0x20..0xFE are their
// Unicode characters; bytes below 0x20 and 0x7F are the classic text-screen
// glyphs (0x01 smiling face, 0x10 right-pointing triangle, 0x7F house),
// never control codes; 0x00 shows as a blank.
char32_t CellGlyph(std::uint8_t byte);

// The terminal's number of a text-screen colour. The text screen orders the
// colour bits blue-green-red (1 blue, 4 red); terminals red-green-blue (1
// red, 4 blue): bits 0 and 2 swap, the bright bit (8) stays.
int TerminalColour(int pc_colour);

// How one attribute is drawn on a terminal with `colours` colours (8 or 16
// and more). With 8 colours a bright foreground is drawn bold and a bright
// background either blinking (`blink_for_bright_background`, the Linux
// console's way) or dark.
struct TerminalAttribute {
  int foreground = 7;  // terminal colour numbers
  int background = 0;
  bool bold = false;
  bool blink = false;
};
TerminalAttribute MapAttribute(std::uint8_t attr, int colours, bool blink_for_bright_background);

// A code page 850 text as a UTF-8 line for a log: every byte as the screen
// shows it (CellGlyph), except that carriage returns are dropped and tabs
// kept. No terminal control sequence can come out of it.
std::string PlainTextLine(std::string_view cp850);

// A code page 850 text as a line of code page 850 bytes for a log (the
// plain console's output on Windows), without its line end: carriage
// returns are dropped and tabs kept, NUL becomes a blank and the other
// control bytes (below 0x20, and 0x7F) "?", so that nothing in it can act
// on a console it is shown on.
std::string PlainCp850Line(std::string_view cp850);

// Standard base64 (RFC 4648, with padding), for the OSC 52 clipboard.
std::string Base64(std::string_view bytes);

}  // namespace kel

#endif  // KEL_PLATFORM_CONSOLE_TEXT_H_
