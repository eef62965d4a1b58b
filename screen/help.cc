#include "screen/help.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/system.h"
#include "screen/keyboard.h"
#include "screen/screen_buffer.h"
#include "screen/windows.h"
#include "util/fixed_text.h"
#include "util/session_context.h"

namespace kel {
namespace {

// The style bytes of a help line.
constexpr char kHighlight = 30;
constexpr char kUnderline = 31;
constexpr char kReverse = 16;

constexpr std::int16_t kHelpTop = 4;

bool SameTopic(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    if (up(a[i]) != up(b[i])) return false;
  }
  return true;
}

std::uint8_t AttributeOf(std::string_view colour) {
  SetColour("+" + std::string(colour));
  const std::uint8_t attr = TextAttribute();
  SetColour("-");
  return attr;
}

// Help reads its keys without the calculator and calendar hot keys: while
// it waits both pop-ups count as open, so the keyboard does not start them.
class HotKeysOff {
 public:
  HotKeysOff() : calculator_(Keyboard().CalculatorOpen), calendar_(Keyboard().CalendarOpen) {
    Keyboard().CalculatorOpen = true;
    Keyboard().CalendarOpen = true;
  }
  ~HotKeysOff() {
    Keyboard().CalculatorOpen = calculator_;
    Keyboard().CalendarOpen = calendar_;
  }
  HotKeysOff(const HotKeysOff&) = delete;
  HotKeysOff& operator=(const HotKeysOff&) = delete;

 private:
  const bool calculator_;
  const bool calendar_;
};

class TextViewer {
 public:
  explicit TextViewer(std::string_view topic)
      : topic_(topic),
        record_length_(ScreenCols()),
        bottom_(static_cast<std::int16_t>(ScreenRows() - 3)),
        right_(ScreenCols()),
        visible_(bottom_ - kHelpTop - 1) {}

  void Run() {
    if (visible_ < 1 || record_length_ < 1) return;
    // A missing or unreadable page has no lines: an empty window.
    if (OpenFile("AJUDA\\" + topic_ + ".HLP", FileAccess::kRead, FileShare::kShared, &file_) ==
        FileResult::kOk) {
      const std::int64_t size = file_.Size();
      lines_ = size > 0 ? size / record_length_ : 0;
    }
    SetColour("+h");
    const std::int16_t depth_before = Screen().WindowDepth;
    WinPush(kHelpTop, 1, bottom_, right_);
    if (Screen().WindowDepth > depth_before) {
      DrawFrame(2);
      SetColour("n");
      normal_ = TextAttribute();
      highlight_ = AttributeOf("h");
      underline_ = AttributeOf("u");
      reverse_ = AttributeOf("r");
      last_ = visible_;
      DrawPage();
      KeyLoop();
      file_.Close();
      WinPop();
    }
    SetColour("-");
  }

 private:
  void KeyLoop() {
    for (;;) {
      std::int16_t key = 0;
      {
        HotKeysOff hot_keys_off;
        key = GetKey();
      }
      switch (key) {
        case keys::kDown:
          if (last_ + 1 <= lines_) {
            ScrollRect(kHelpTop, 1, static_cast<std::int16_t>(bottom_ - 2),
                       static_cast<std::int16_t>(right_ - 2), 1);
            ++last_;
            DrawLine(visible_, last_);
          }
          break;
        case keys::kUp:
          if (last_ - visible_ + 1 > 1) {
            ScrollRect(kHelpTop, 1, static_cast<std::int16_t>(bottom_ - 2),
                       static_cast<std::int16_t>(right_ - 2), -1);
            --last_;
            DrawLine(1, last_ - visible_ + 1);
          }
          break;
        case keys::kPgDn:
          ShowTo(std::min(last_ + visible_, lines_));
          break;
        case keys::kPgUp:
          ShowTo(last_ - visible_);
          break;
        case keys::kHome:
          ShowTo(visible_);
          break;
        case keys::kEnd:
          ShowTo(lines_);
          break;
        case keys::kF1:
          if (!SameTopic(topic_, kGeneralHelpTopic)) ShowHelp(kGeneralHelpTopic);
          break;
        case keys::kEsc:
          return;
        default:
          break;
      }
    }
  }

  // Shows the page whose last window line is `last` (never above the
  // window's height: the first page always starts at line 1).
  void ShowTo(std::int64_t last) {
    last = std::max<std::int64_t>(last, visible_);
    if (last == last_) return;
    last_ = last;
    DrawPage();
  }

  void DrawPage() {
    for (int row = 1; row <= visible_; ++row) DrawLine(row, last_ - visible_ + row);
  }

  // Draws page line `line` (1-based; blank when the page has no such line)
  // on window line `row`.
  void DrawLine(int row, std::int64_t line) {
    const auto screen_row = static_cast<std::int16_t>(kHelpTop + row);
    PutText(screen_row, 2, std::string(static_cast<std::size_t>(right_ - 2), ' '), normal_);
    if (line < 1 || line > lines_) return;
    std::string record(static_cast<std::size_t>(record_length_), ' ');
    const std::int64_t got =
        file_.ReadAt((line - 1) * record_length_, record.data(), record.size());
    if (got <= 0) return;
    record.resize(static_cast<std::size_t>(got));

    bool highlighted = false;
    bool underlined = false;
    bool reversed = false;
    std::uint8_t attr = normal_;
    std::size_t shown = 0;
    auto col = static_cast<std::int16_t>(3);
    for (char c : record) {
      if (c == kHighlight) {
        if (!underlined) {
          highlighted = !highlighted;
          attr = highlighted ? highlight_ : normal_;
        }
        continue;
      }
      if (c == kUnderline) {
        underlined = !underlined;
        attr = underlined ? underline_ : normal_;
        continue;
      }
      if (c == kReverse) {
        reversed = !reversed;
        attr = reversed ? reverse_ : normal_;
        continue;
      }
      if (shown == kHelpLineColumns) break;
      PutText(screen_row, col, std::string_view(&c, 1), attr);
      ++col;
      ++shown;
    }
  }

  const std::string topic_;
  const std::int64_t record_length_;
  const std::int16_t bottom_;
  const std::int16_t right_;
  const int visible_;
  File file_;
  std::int64_t lines_ = 0;
  std::int64_t last_ = 0;  // the page line on the window's last line
  std::uint8_t normal_ = 0;
  std::uint8_t highlight_ = 0;
  std::uint8_t underline_ = 0;
  std::uint8_t reverse_ = 0;
};

}  // namespace

std::string HelpLauncherCommand(std::string_view comspec, std::string_view topic) {
  std::string command(comspec);
  command += " /C VOPRUN AJUDA\\";
  command += topic;
  command += ".HTM";
  return command;
}

void ShowHelp(std::string_view topic) {
  if (TrimRight(Session().PlatformKind) == "WIN") {
    // The launcher's exit code says nothing the operator needs.
    (void)RunCommandLine(HelpLauncherCommand(CurrentEnv().GetVariable("COMSPEC"), topic));
    return;
  }
  TextViewer viewer(topic);
  viewer.Run();
}

}  // namespace kel
