#include "screen/field_editor.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "screen/keyboard.h"
#include "screen/screen_buffer.h"
#include "util/fixed_text.h"
#include "util/fold_case.h"

namespace kel {

namespace {

// The glyphs of these bytes are the left- and right-pointing triangles.
constexpr char kLeftTriangle = '\x11';
constexpr char kRightTriangle = '\x10';

constexpr std::int16_t kCtrlC = 3;
constexpr std::int16_t kCtrlV = 22;
constexpr std::int16_t kCtrlY = 25;
constexpr std::int16_t kCtrlF4 = 0x6100;
constexpr std::int16_t kAltF4 = 0x6B00;

// Cursor heights that show the Insert toggle.
constexpr std::int16_t kInsertCursor = 50;
constexpr std::int16_t kOverwriteCursor = 100;

bool IsWordSeparator(char c) { return c == ' ' || c == ',' || c == '.' || c == ';' || c == ':'; }

bool IsPrintable(std::int16_t key) {
  return (key >= 32 && key <= 126) || (key >= 128 && key <= 254);
}

// Window-relative to absolute, as WinLocate places; 0 is the cursor's own.
std::int16_t AbsoluteRow(std::int16_t row) {
  if (row == 0) return CursorRow();
  const ScreenState& s = Screen();
  return static_cast<std::int16_t>(s.WindowDepth > 0 ? s.WindowTop + row : row);
}

std::int16_t AbsoluteCol(std::int16_t col) {
  if (col == 0) return CursorCol();
  const ScreenState& s = Screen();
  return static_cast<std::int16_t>(s.WindowDepth > 0 ? s.WindowLeft + col : col);
}

// Translates a key as the end check does, then decides: true when the edit
// ends, with *key the code to return.
bool EndCheck(std::int16_t* key) {
  std::int16_t k = *key;
  // In this order: a Tab goes all the way to End, as Enter does.
  if (k == keys::kShiftTab) k = keys::kUp;
  if (k == keys::kTab) k = keys::kEnter;
  if (k == keys::kEnter && FindExitKey(keys::kEnd) >= 0) k = keys::kEnd;
  if (k == kCtrlF4 || k == kAltF4) k = keys::kEsc;
  *key = k;
  if (FieldEditor().ExitKeys.empty()) return true;
  int offset = FindExitKey(k);
  if (offset >= 0) {
    *key = ExitKeyResultAt(offset);
    return true;
  }
  return false;  // not an exit key: ignored
}

class Editor {
 public:
  Editor(std::int16_t row, std::int16_t col, std::int16_t width, std::string* value,
         std::int16_t pos)
      : value_(*value), n_(static_cast<int>(value->size())) {
    top_ = AbsoluteRow(row);
    left_ = AbsoluteCol(col);
    width_ = width > 0 ? width : n_ + 1;
    lines_ = n_ == 0 ? 1 : (n_ + width_ - 1) / width_;
    pos_ = std::clamp<int>(pos, 1, n_ + 1);
    choices_ = ParseChoices(FieldEditor().ChoiceList);
    mask_ = static_cast<char>(FieldEditor().MaskChar & 0xFF);
    insert_ = InsertToggle();
  }

  int pos() const { return pos_; }

  std::int16_t Run() {
    const bool was_visible = CursorVisible();
    if (selector()) StartSelector();
    SetColour("u");
    if (!selector()) SetCursorSize(insert_ ? kInsertCursor : kOverwriteCursor);
    std::int16_t key = 0;
    bool redraw = true;
    for (;;) {
      if (redraw) Draw();
      redraw = false;
      PlaceCursor();
      SetCursorVisible(true);
      std::int16_t button = 0, mouse_row = 0, mouse_col = 0;
      WaitKeyOrClick(&key, &button, &mouse_row, &mouse_col);
      SetCursorVisible(false);
      // A click is told by its event: keys from 0x8000 up (F11, F12 and
      // their forms, Alt+0, Alt+-, Alt+=) are negative too.
      const bool click = button != 0;
      if (click) key = static_cast<std::int16_t>(-(mouse_col * 100 + mouse_row));
      const std::string before = value_;
      if (click) {
        key = Click(key);
        if (key < 0) break;      // outside the field: the edit ends
        if (key == 0) continue;  // handled
      }
      if (Handle(key)) {
        redraw = value_ != before || selector();
        continue;
      }
      if (EndCheck(&key)) break;
    }
    SetColour("h");
    if (selector()) {
      PutText(top_, static_cast<std::int16_t>(left_ - 1), " ", TextAttribute());
      PutText(top_, static_cast<std::int16_t>(left_ + w_), " ", TextAttribute());
    }
    MoveCursor(top_, left_);
    SetCursorVisible(was_visible);
    return key;
  }

 private:
  bool selector() const { return !choices_.empty(); }

  void StartSelector() {
    current_ = FindChoice(choices_, value_);
    if (current_ < 0) {
      // What is shown is what is returned: the first option, the default.
      current_ = 0;
      SelectOption(0);
    }
    w_ = 0;
    for (const Choice& c : choices_) w_ = std::max(w_, static_cast<int>(c.text.size()));
    PutText(top_, static_cast<std::int16_t>(left_ - 1), std::string(1, kLeftTriangle),
            TextAttribute());
    PutText(top_, static_cast<std::int16_t>(left_ + w_), std::string(1, kRightTriangle),
            TextAttribute());
  }

  void SelectOption(int index) {
    current_ = index;
    value_ =
        FixedText(choices_[static_cast<std::size_t>(index)].code, static_cast<std::size_t>(n_));
  }

  void Draw() {
    const std::uint8_t attr = TextAttribute();
    if (mask_ != 0) {
      int count = std::clamp(width_ - 1, 0, n_);
      PutText(top_, left_, std::string(static_cast<std::size_t>(count), mask_), attr);
    } else if (selector()) {
      PutText(top_, left_,
              FixedText(choices_[static_cast<std::size_t>(current_)].text,
                        static_cast<std::size_t>(w_)),
              attr);
    } else {
      for (int line = 0; line < lines_; ++line) {
        std::size_t from = static_cast<std::size_t>(line) * static_cast<std::size_t>(width_);
        PutText(static_cast<std::int16_t>(top_ + line), left_,
                value_.substr(from, static_cast<std::size_t>(width_)), attr);
      }
    }
  }

  void PlaceCursor() {
    int p = selector() ? 1 : pos_;
    int line = (p - 1) / width_;
    int column = (p - 1) % width_;
    // Just past a full last line, the cursor waits at that line's end
    // rather than on the line below the field.
    if (p == n_ + 1 && column == 0 && line > 0 && line >= lines_) {
      line = lines_ - 1;
      column = width_;
    }
    MoveCursor(static_cast<std::int16_t>(top_ + line), static_cast<std::int16_t>(left_ + column));
  }

  // A click -(column x 100 + row): 0 when handled here, the key it stands
  // for (the selector's triangles), or the click itself when it ends the
  // edit.
  std::int16_t Click(std::int16_t key) {
    int code = -static_cast<int>(key);
    int row = code % 100;
    int col = code / 100;
    if (selector()) {
      if (row == top_ && col == left_ - 1) return keys::kLeft;
      if (row == top_ && col == left_ + w_) return keys::kRight;
      if (row == top_ && col > left_ - 1 && col < left_ + w_) return 0;
      return key;
    }
    if (row >= top_ && row < top_ + lines_ && col >= left_ && col < left_ + width_) {
      pos_ = std::min((row - top_) * width_ + (col - left_) + 1, n_ + 1);
      return 0;
    }
    return key;
  }

  // Editing keys. true when the key was an editing key (the edit goes on);
  // false when it goes to the end check.
  bool Handle(std::int16_t key) {
    if (key == keys::kIns) {
      insert_ = !insert_;
      SetInsertToggle(insert_);
      if (!selector()) SetCursorSize(insert_ ? kInsertCursor : kOverwriteCursor);
      return true;
    }
    return selector() ? HandleSelector(key) : HandleText(key);
  }

  bool HandleSelector(std::int16_t key) {
    const int count = static_cast<int>(choices_.size());
    if (IsPrintable(key) && key != ' ') {
      ScopedFoldAccents folding;
      std::uint8_t typed = FoldCaseByte(static_cast<std::uint8_t>(key));
      for (int i = 1; i <= count; ++i) {
        int index = (current_ + i) % count;
        const std::string& text = choices_[static_cast<std::size_t>(index)].text;
        if (!text.empty() && FoldCaseByte(static_cast<std::uint8_t>(text[0])) == typed) {
          SelectOption(index);
          break;
        }
      }
      return true;
    }
    switch (key) {
      case keys::kLeft:
        SelectOption(current_ == 0 ? count - 1 : current_ - 1);
        return true;
      case keys::kRight:
      case ' ':
        SelectOption(current_ == count - 1 ? 0 : current_ + 1);
        return true;
      case kCtrlC:
        (void)SetClipboard(choices_[static_cast<std::size_t>(current_)].text);
        return true;
      case keys::kEnd:
        pos_ = static_cast<int>(TrimRight(value_).size()) + 1;
        return true;
      case keys::kHome:
        pos_ = 1;
        return true;
      case keys::kBackspace:
      case keys::kCtrlHome:
      case kCtrlY:
      case keys::kDel:
      case kCtrlV:
        return true;
      default:
        return false;
    }
  }

  bool HandleText(std::int16_t key) {
    if (IsPrintable(key)) {
      TypeCharacter(static_cast<char>(key));
      return true;
    }
    switch (key) {
      case keys::kLeft:
        if (pos_ > 1) --pos_;
        return true;
      case keys::kRight:
        if (pos_ <= n_) ++pos_;
        return true;
      case keys::kBackspace:
        if (pos_ > 1) {
          --pos_;
          DeleteAt(pos_);
        }
        return true;
      case keys::kEnd:
        pos_ = static_cast<int>(TrimRight(value_).size()) + 1;
        return true;
      case keys::kHome:
        pos_ = 1;
        return true;
      case keys::kCtrlHome:
      case kCtrlY:
        value_.assign(static_cast<std::size_t>(n_), ' ');
        pos_ = 1;
        return true;
      case keys::kDel:
        if (pos_ <= n_) DeleteAt(pos_);
        return true;
      case keys::kUp:
      case keys::kShiftTab:
        if (pos_ <= width_) return false;
        pos_ -= width_;
        return true;
      case keys::kDown:
        if (pos_ > n_ + 1 - width_) return false;
        pos_ += width_;
        return true;
      case keys::kCtrlLeft:
        if (pos_ == 1) return false;
        pos_ = PreviousWordStart();
        return true;
      case keys::kCtrlRight:
        if (pos_ > n_) return false;
        pos_ = NextWordStart();
        return true;
      case kCtrlC:
        // A hidden entry is a secret: it does not go to the clipboard.
        if (mask_ == 0) (void)SetClipboard(Trim(value_));
        return true;
      case kCtrlV:
        Paste();
        return true;
      default:
        return false;
    }
  }

  void TypeCharacter(char c) {
    if (insert_) {
      // Only a blank at the end can make room; nothing typed is lost.
      if (n_ > 0 && value_.back() == ' ' && pos_ <= n_) {
        value_.insert(static_cast<std::size_t>(pos_ - 1), 1, c);
        value_.pop_back();
        ++pos_;
      }
    } else if (pos_ <= n_) {
      value_[static_cast<std::size_t>(pos_ - 1)] = c;
      ++pos_;
    }
  }

  void DeleteAt(int p) {
    value_.erase(static_cast<std::size_t>(p - 1), 1);
    value_.push_back(' ');
  }

  char At(int p) const { return value_[static_cast<std::size_t>(p - 1)]; }

  int PreviousWordStart() const {
    int i = pos_ - 1;
    while (i >= 1 && IsWordSeparator(At(i))) --i;
    while (i >= 1 && !IsWordSeparator(At(i))) --i;
    return i + 1;
  }

  int NextWordStart() const {
    int i = pos_;
    while (i <= n_ && !IsWordSeparator(At(i))) ++i;
    while (i <= n_ && IsWordSeparator(At(i))) ++i;
    return i;
  }

  void Paste() {
    std::string clip;
    if (!GetClipboard(&clip)) return;
    std::string text;
    for (char c : clip) {
      auto u = static_cast<std::uint8_t>(c);
      if (u < 32 || u == 127 || u == 255) continue;
      text.push_back(c);
    }
    std::string_view trimmed = Trim(text);
    for (std::size_t i = 0; i < trimmed.size() && pos_ + static_cast<int>(i) <= n_; ++i) {
      value_[static_cast<std::size_t>(pos_ - 1) + i] = trimmed[i];
    }
  }

  std::string& value_;
  const int n_;
  std::int16_t top_ = 1;
  std::int16_t left_ = 1;
  int width_ = 1;
  int lines_ = 1;
  int pos_ = 1;
  std::vector<Choice> choices_;
  int current_ = 0;  // the option shown (selector)
  int w_ = 0;        // the widest option text (selector)
  char mask_ = 0;
  bool insert_ = false;
};

}  // namespace

void EditField(std::int16_t row, std::int16_t col, std::int16_t width, std::string* value,
               std::int16_t* pos, std::int16_t* key) {
  Editor editor(row, col, width, value, *pos);
  *key = editor.Run();
  *pos = static_cast<std::int16_t>(editor.pos());
}

}  // namespace kel
