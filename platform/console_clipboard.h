// The desktop clipboard through the usual command-line tools, for the curses
// backend. A terminal can be told to set the clipboard (OSC 52) but rarely
// lets a program read it back; where a desktop session is reachable
// (WAYLAND_DISPLAY with wl-copy/wl-paste, DISPLAY with xclip or xsel) these
// tools give real two-way access.
#ifndef KEL_PLATFORM_CONSOLE_CLIPBOARD_H_
#define KEL_PLATFORM_CONSOLE_CLIPBOARD_H_

#include <string>
#include <string_view>

namespace kel {

// The tool pair in reach, as argument vectors for copying and for pasting;
// empty when none is (no display, or no tool on PATH).
struct ClipboardTools {
  std::string copy[4];
  std::string paste[4];
  bool available() const { return !copy[0].empty(); }
};
ClipboardTools FindClipboardTools();

// How long a clipboard tool may take, writing or reading; one that is still
// running then (a display that does not answer) is killed.
inline constexpr int kClipboardToolMillis = 2000;

// Runs the copy tool with `utf8` on its standard input. false on failure,
// and when the tool has not taken the text and ended within `limit_ms`.
bool ExternalClipboardWrite(const ClipboardTools& tools, std::string_view utf8,
                            int limit_ms = kClipboardToolMillis);
// Runs the paste tool and returns its output (at most 1 MB, the tool ended
// within `limit_ms`). false on failure.
bool ExternalClipboardRead(const ClipboardTools& tools, std::string* utf8,
                           int limit_ms = kClipboardToolMillis);

// The OSC 52 sequence that asks the terminal to put `utf8` on the clipboard.
std::string Osc52Sequence(std::string_view utf8);

}  // namespace kel

#endif  // KEL_PLATFORM_CONSOLE_CLIPBOARD_H_
