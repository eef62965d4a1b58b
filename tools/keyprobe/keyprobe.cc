// keyprobe: shows an administrator what this program receives from the
// terminal and how it draws: the 16-bit key code of every key (as the
// program's key lists write them), mouse clicks with their position, all
// 16 x 16 colour pairs, the frame styles and the box-drawing characters.
//
//   keyprobe            run on the terminal; Esc twice in a row ends it
//   keyprobe --help     this text
//
// It goes through the same screen and keyboard code as the program, so a
// key that shows the wrong code here arrives wrongly in the forms too. With
// standard output not a terminal it takes the program's unattended path:
// text lines, then a stop with exit code 66 at the first key wait.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/console.h"
#include "screen/keyboard.h"
#include "screen/message_box.h"
#include "screen/screen_buffer.h"
#include "tools/keyprobe/key_names.h"

namespace kel {
namespace {

constexpr std::uint8_t kNormal = 0x07;
constexpr std::uint8_t kTitle = 0x70;
constexpr std::uint8_t kBright = 0x0F;

const char kUsage[] =
    "usage: keyprobe\n"
    "Shows the key codes (hexadecimal, as the program's key lists write them),\n"
    "mouse clicks, the 16 x 16 colour pairs, the frame styles and the box-drawing\n"
    "characters as the KEL programs receive and draw them. Press Esc twice in a\n"
    "row to leave. Needs a terminal of at least 80 x 25 and a UTF-8 locale.\n";

char HexDigit(int v) { return "0123456789ABCDEF"[v & 15]; }

void Text(int row, int col, std::string_view text, std::uint8_t attr = kNormal) {
  PutText(static_cast<std::int16_t>(row), static_cast<std::int16_t>(col), text, attr);
}

// Rows 3..19, columns 1..50: every attribute, background by row and
// foreground by column, each cell showing its own attribute in hex.
void DrawColourGrid() {
  Text(2, 1, "bg\\fg");
  for (int fg = 0; fg < 16; ++fg) Text(3, 4 + 3 * fg, std::string(" ") + HexDigit(fg));
  for (int bg = 0; bg < 16; ++bg) {
    Text(4 + bg, 1, std::string(" ") + HexDigit(bg));
    for (int fg = 0; fg < 16; ++fg) {
      auto attr = static_cast<std::uint8_t>(fg + 16 * bg);
      Text(4 + bg, 4 + 3 * fg, std::string{HexDigit(bg), HexDigit(fg)}, attr);
    }
  }
}

// Columns 53..80: a box in each frame style (1 single, 2 double, 0 blank
// in reverse video), then the box-drawing set (0xB0..0xDF) and the glyphs
// of the bytes below 0x20.
void DrawFramesAndCharacters() {
  const int lefts[3] = {53, 62, 71};
  static const unsigned char kFrames[3][6] = {{0xDA, 0xBF, 0xC0, 0xD9, 0xC4, 0xB3},
                                              {0xC9, 0xBB, 0xC8, 0xBC, 0xCD, 0xBA},
                                              {' ', ' ', ' ', ' ', ' ', ' '}};
  for (int i = 0; i < 3; ++i) {
    const unsigned char* k = kFrames[i];
    std::uint8_t attr = i == 2 ? kTitle : kNormal;
    std::string top(1, static_cast<char>(k[0])), mid(1, static_cast<char>(k[5])),
        bottom(1, static_cast<char>(k[2]));
    top.append(6, static_cast<char>(k[4]));
    bottom.append(6, static_cast<char>(k[4]));
    top.push_back(static_cast<char>(k[1]));
    bottom.push_back(static_cast<char>(k[3]));
    mid += "style" + std::to_string(i == 2 ? 0 : i + 1);
    mid.push_back(static_cast<char>(k[5]));
    Text(3, lefts[i], top, attr);
    Text(4, lefts[i], mid, attr);
    Text(5, lefts[i], bottom, attr);
  }
  for (int block = 0; block < 3; ++block) {
    int first = 0xB0 + 16 * block;
    std::string line = std::string{HexDigit(first >> 4), HexDigit(first)} + " ";
    for (int c = first; c < first + 16; ++c) line.push_back(static_cast<char>(c));
    Text(7 + block, 53, line);
  }
  for (int block = 0; block < 2; ++block) {
    int first = 16 * block;
    std::string line = std::string{HexDigit(first >> 4), HexDigit(first)} + " ";
    for (int c = first; c < first + 16; ++c) line.push_back(static_cast<char>(c));
    Text(11 + block, 53, line);
  }
  Text(13, 53, std::string("7F ") + '\x7F' + "  FF " + '\xFF' + "|");
}

void DrawStatic() {
  SetTextAttribute(kNormal);
  ClearScreen();
  std::string title = " KEYPROBE  key codes, mouse and colours as the KEL programs see them";
  title.resize(80, ' ');
  Text(1, 1, title, kTitle);
  DrawColourGrid();
  DrawFramesAndCharacters();
  Text(15, 53, "Keys: hex as in key lists", kNormal);
  Text(16, 53, "Mouse: click anywhere", kNormal);
  Text(17, 53, "Leave: Esc twice", kBright);
  Text(21, 1, "Last:");
  Text(22, 1, "Mouse:");
  Text(23, 1, "Recent:");
}

class Probe {
 public:
  void Show(std::int16_t key, std::int16_t button, std::int16_t row, std::int16_t col) {
    ++count_;
    std::string line = "#" + std::to_string(count_) + " ";
    if (button != 0) {
      auto code =
          static_cast<std::int16_t>(static_cast<std::uint16_t>(col * 256 + button * 64 + row));
      line += "click row=" + std::to_string(row) + " col=" + std::to_string(col) +
              " button=" + std::to_string(button) + " code " + KeyHex(code);
      std::string mouse = line;
      mouse.resize(74, ' ');
      Text(22, 8, mouse, kBright);
    } else {
      line += "key " + KeyHex(key);
      std::string name = KeyName(key);
      if (name.empty() && key > 32 && key < 256)
        name = std::string("'") + static_cast<char>(key) + "'";
      if (!name.empty()) line += " " + name;
    }
    std::string last = line;
    last.resize(74, ' ');
    Text(21, 8, last, kBright);
    recent_.insert(recent_.begin(), button != 0 ? "click" : KeyHex(key));
    if (recent_.size() > 12) recent_.pop_back();
    std::string history;
    for (const std::string& r : recent_) history += r + " ";
    history.resize(72, ' ');
    Text(23, 9, history);
  }

 private:
  int count_ = 0;
  std::vector<std::string> recent_;
};

int Run() {
  SelectConsoleOrExit(DetectConsoleKind());
  const bool plain = ScreenConsole().Kind() == ConsoleKind::kPlain;
  if (plain) {
    ConsolePrintLine("keyprobe: standard output is not a terminal; the screen is kept in memory.");
  }
  SetCursorVisible(false);
  DrawStatic();
  if (plain) {
    AcknowledgeMessage("KEYPROBE NEEDS A TERMINAL TO READ KEYS FROM");
    return 0;
  }
  Text(25, 1, "Ready. Press keys or click; Esc twice in a row to leave.");
  Probe probe;
  bool escape_before = false;
  for (;;) {
    std::int16_t key = 0, button = 0, row = 0, col = 0;
    WaitKeyOrClick(&key, &button, &row, &col);
    probe.Show(key, button, row, col);
    if (button == 0 && key == keys::kEsc) {
      if (escape_before) break;
      escape_before = true;
    } else {
      escape_before = false;
    }
  }
  SetTextAttribute(kNormal);
  ClearScreen();
  SetCursorVisible(true);
  return 0;
}

}  // namespace
}  // namespace kel

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kel::kUsage, stdout);
      return 0;
    }
    std::fprintf(stderr, "keyprobe: unknown argument %s\n%s", argv[i], kel::kUsage);
    return 2;
  }
  return kel::Run();
}
