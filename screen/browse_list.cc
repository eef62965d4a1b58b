#include "screen/browse_list.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "screen/browse_cache.h"
#include "screen/field_editor.h"
#include "screen/form_dialog.h"
#include "screen/form_tables.h"
#include "screen/keyboard.h"
#include "screen/screen_buffer.h"
#include "screen/windows.h"
#include "util/fixed_text.h"
#include "util/save_stack.h"
#include "util/session_context.h"

namespace kel {
namespace {

// The key that opens the second list: 3E00 as form files name F3, and 3D00
// as the terminal's F3 key arrives (scan code 3D).
constexpr std::int16_t kF3 = 0x3E00;
constexpr std::int16_t kTerminalF3 = 0x3D00;
constexpr char kListKeys[] = "d,1b,4800,5000,4900,5100,4b00,4d00";
constexpr char kSecondListKey[] = "3e00,3d00=3e00";
// Columns Left and Right move the view by.
constexpr int kSideStep = 8;

// Code page 850: the double frame line and corners, and the triangles that
// show the title continues to the left or right.
constexpr char kFrameLine = '\xCD';
constexpr char kTopLeft = '\xC9';
constexpr char kTopRight = '\xBB';
constexpr char kMoreLeft = '\x11';
constexpr char kMoreRight = '\x10';

struct Registration {
  BrowseRecordSource* source = nullptr;
  BrowseProcedures procedures;
};

Registration& Registered() {
  static Registration r;
  return r;
}

const BrowseProcedures& Procedures() {
  Registration& r = Registered();
  if (!r.procedures.prepare || !r.procedures.format_line || !r.procedures.follow_up) {
    BrowseProcedures defaults = DefaultBrowseProcedures();
    if (!r.procedures.prepare) r.procedures.prepare = std::move(defaults.prepare);
    if (!r.procedures.format_line) r.procedures.format_line = std::move(defaults.format_line);
    if (!r.procedures.follow_up) r.procedures.follow_up = std::move(defaults.follow_up);
  }
  return r.procedures;
}

std::string Int32Image(std::int32_t value) {
  const auto u = static_cast<std::uint32_t>(value);
  std::string image;
  for (int i = 0; i < 4; ++i) image.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
  return image;
}

std::int32_t Int32FromImage(std::string_view image) {
  if (image.size() != 4) return 0;
  std::uint32_t u = 0;
  for (int i = 3; i >= 0; --i) {
    u = u << 8 | static_cast<std::uint8_t>(image[static_cast<std::size_t>(i)]);
  }
  return static_cast<std::int32_t>(u);
}

std::uint8_t AttributeOf(std::string_view colour) {
  SetColour("+" + std::string(colour));
  const std::uint8_t attr = TextAttribute();
  SetColour("-");
  return attr;
}

// One open list: its page, bar, horizontal offset and cache.
class ListView {
 public:
  ListView(std::int16_t list, const MenuListEntry& def, std::string start, std::string prefix)
      : list_(list),
        file_(def.MenuEntry[0]),
        key_number_(def.MenuEntry[1]),
        top_(def.MenuEntry[2]),
        left_(def.MenuEntry[3]),
        height_(def.MenuEntry[4] - def.MenuEntry[2] - 1),
        width_(def.MenuEntry[5] - def.MenuEntry[3] - 1),
        title_(def.MenuText),
        start_(std::move(start)),
        prefix_(std::move(prefix)),
        source_(file_ != 0 ? Registered().source : nullptr) {
    normal_ = AttributeOf("h");
    bar_attr_ = AttributeOf("u");
  }

  // Runs the key loop; returns the key that ended it with *result set. The
  // cache is gone when it returns.
  std::int16_t Run(std::int16_t* result) {
    cache_.Open(Session().TempDir + kBrowseCacheFile);
    DrawTitle();
    Fill(height_);
    DrawPage();
    std::int16_t key = 0;
    for (;;) {
      DrawLine(bar_, bar_attr_);
      key = GetKey();
      DrawLine(bar_, normal_);
      if (!Act(key, result)) break;
    }
    cache_.CloseAndDelete();
    return key;
  }

  // The cache entry's record position of the line under the bar (0: none).
  std::int32_t BarRecord() const { return bar_record_; }

 private:
  int Current() const { return first_ + bar_; }
  int Lines() const { return static_cast<int>(entries_.size()); }

  // Reads until one more line is in the cache; false at the end of the list.
  bool ReadLine() {
    const auto& format = Procedures().format_line;
    while (!ended_) {
      std::int32_t record = 0;
      if (file_ == 0) {
        record = static_cast<std::int32_t>(entries_.size()) + 1;
        BrowseGlobals().LineNumber = record;
        std::string text = format(list_);
        if (text.empty()) break;
        return Keep(record, text);
      }
      if (source_ == nullptr) break;
      const bool first = !read_any_;
      const std::int16_t status =
          first ? source_->Find(file_, key_number_, start_) : source_->Step(file_);
      read_any_ = true;
      if (status != 0) break;
      // The collating form is the list's key's, so the prefix is converted
      // only once the first read has put the file on that key. An empty
      // prefix lists every record: converted, a binary segment would turn
      // it into zero bytes.
      if (first && !prefix_.empty()) sort_prefix_ = source_->SortKey(prefix_, file_);
      if (!prefix_.empty() && !source_->KeyText(file_).starts_with(sort_prefix_)) break;
      std::string text = format(list_);
      if (text.empty()) continue;
      return Keep(source_->Position(file_), text);
    }
    ended_ = true;
    return false;
  }

  bool Keep(std::int32_t record, std::string_view text) {
    const std::uint32_t at = cache_.Append(record, text);
    if (at == 0) {
      ended_ = true;
      return false;
    }
    entries_.push_back(at);
    return true;
  }

  // Makes lines 0..count - 1 (from the list's start) available as far as
  // the list goes; true when line count - 1 exists.
  bool Fill(int count) {
    while (Lines() < count && ReadLine()) {
    }
    return Lines() >= count;
  }

  void DrawTitle() const {
    std::string line(static_cast<std::size_t>(width_) + 2, kFrameLine);
    line.front() = offset_ == 1 ? kTopLeft : kMoreLeft;
    const std::size_t shown_to = static_cast<std::size_t>(offset_ - 1 + width_);
    line.back() = shown_to >= TrimRight(title_).size() ? kTopRight : kMoreRight;
    for (int i = 0; i < width_; ++i) {
      const auto at = static_cast<std::size_t>(offset_ - 1 + i);
      if (at >= title_.size()) break;
      const char c = title_[at];
      line[static_cast<std::size_t>(i) + 1] = c == ' ' ? kFrameLine : c == '_' ? ' ' : c;
    }
    PutText(top_, left_, line, normal_);
  }

  void DrawLine(int row, std::uint8_t attr) {
    std::string shown;
    const int index = first_ + row;
    BrowseEntry entry;
    if (index < Lines() && cache_.Read(entries_[static_cast<std::size_t>(index)], &entry)) {
      const auto from = static_cast<std::size_t>(offset_ - 1);
      if (from < entry.text.size()) shown = entry.text.substr(from);
      if (row == bar_) bar_record_ = entry.record;
    } else if (row == bar_) {
      bar_record_ = 0;
    }
    PutText(static_cast<std::int16_t>(top_ + 1 + row), static_cast<std::int16_t>(left_ + 1),
            FixedText(shown, static_cast<std::size_t>(width_)), attr);
  }

  void DrawPage() {
    for (int row = 0; row < height_; ++row) DrawLine(row, normal_);
  }

  // Chooses the line under the bar.
  std::int16_t Choose() {
    BrowseEntry entry;
    if (Current() >= Lines() ||
        !cache_.Read(entries_[static_cast<std::size_t>(Current())], &entry)) {
      return -1;  // an empty list: nothing to choose
    }
    if (file_ == 0) {
      BrowseGlobals().ChosenPosition = entry.record;
      BrowseGlobals().ChosenText = entry.text;
      return 0;
    }
    return source_ != nullptr ? source_->ReadAt(file_, entry.record) : -1;
  }

  // One key; false when it ends the list (*result set).
  bool Act(std::int16_t key, std::int16_t* result) {
    switch (key) {
      case keys::kLeft:
        if (offset_ > 1) {
          offset_ = std::max(1, offset_ - kSideStep);
          DrawTitle();
          DrawPage();
        }
        return true;
      case keys::kRight:
        // Without limit, as far as the offset's own type goes.
        if (offset_ <= INT16_MAX - kSideStep) {
          offset_ += kSideStep;
          DrawTitle();
          DrawPage();
        }
        return true;
      case keys::kUp:
        if (Current() > 0) {
          if (bar_ > 0) {
            --bar_;
          } else {
            --first_;
            DrawPage();
          }
        }
        return true;
      case keys::kDown:
        if (Fill(Current() + 2)) {
          if (bar_ < height_ - 1) {
            ++bar_;
          } else {
            ++first_;
            DrawPage();
          }
        }
        return true;
      case keys::kPgUp:
        if (first_ > 0) {
          int to = first_ - height_;
          if (to < 0) {
            bar_ = std::max(0, bar_ + to);
            to = 0;
          }
          first_ = to;
          DrawPage();
        }
        return true;
      case keys::kPgDn:
        if (Fill(first_ + height_ + 1)) {
          first_ += height_;
          Fill(first_ + height_);
          // The bar keeps its row, unless the last page is too short for it.
          bar_ = std::min(bar_, Lines() - first_ - 1);
          DrawPage();
        }
        return true;
      case keys::kEnter:
        *result = Choose();
        return false;
      default:
        *result = -1;
        return false;
    }
  }

  const std::int16_t list_;
  const std::int16_t file_;
  const std::int16_t key_number_;
  const std::int16_t top_;
  const std::int16_t left_;
  const int height_;
  const int width_;
  const std::string title_;
  const std::string start_;
  const std::string prefix_;  // as the preparation gave it
  BrowseRecordSource* const source_;
  std::string sort_prefix_;  // prefix_ in the collating form of the list's key
  std::uint8_t normal_ = 0;
  std::uint8_t bar_attr_ = 0;

  BrowseCache cache_;
  std::vector<std::uint32_t> entries_;  // cache positions, in list order
  bool read_any_ = false;
  bool ended_ = false;
  int first_ = 0;   // index of the line on the page's first row
  int bar_ = 0;     // the bar's row on the page, 0-based
  int offset_ = 1;  // the first column of the texts shown, 1-based
  std::int32_t bar_record_ = 0;
};

// Opens the window and runs the list in it; returns the key that ended it.
std::int16_t ShowList(std::int16_t list, const MenuListEntry& def, std::string start,
                      std::string prefix, std::int16_t* result) {
  const auto& e = def.MenuEntry;
  *result = -1;
  // A window with no line or no column inside cannot show a list.
  if (e[4] - e[2] < 2 || e[5] - e[3] < 2) return keys::kEsc;
  const std::int16_t depth_before = Screen().WindowDepth;
  SetColour("+n");
  WinPush(e[2], e[3], e[4], e[5]);
  const bool opened = Screen().WindowDepth > depth_before;
  std::int16_t key = keys::kEsc;
  if (opened) {
    DrawFrame(2);
    SetColour("h");
    SetExitKeys("+ea", kListKeys);
    if (e[7] != 0) SetExitKeys("a", kSecondListKey);
    {
      ListView view(list, def, std::move(start), std::move(prefix));
      key = view.Run(result);
      if (key == kTerminalF3) key = kF3;
      BrowseGlobals().BarPosition = view.BarRecord();
    }
    if (key == kF3 && e[7] != 0) {
      std::int16_t second = 0;
      const FormDialogState& g = FormDialogGlobals();
      const std::int16_t form = g.LastFieldForm;
      const std::int16_t field = g.LastFieldNumber;
      BrowseList(e[7], &second);
      if (second == 0) Procedures().follow_up(list, form, field);
    }
    SetExitKeys("-", "");
    WinPop();
  }
  SetColour("-");
  return key;
}

}  // namespace

BrowseProcedures DefaultBrowseProcedures() {
  BrowseProcedures p;
  p.prepare = [](std::int16_t, std::string*, std::string*) -> std::int16_t { return 0; };
  p.format_line = [](std::int16_t) { return std::string(); };
  p.follow_up = [](std::int16_t, std::int16_t, std::int16_t) {};
  return p;
}

void SetBrowseProcedures(BrowseProcedures procedures) {
  Registered().procedures = std::move(procedures);
}

void RegisterBrowseRecordSource(BrowseRecordSource* source) { Registered().source = source; }

BrowseListState& BrowseGlobals() {
  static BrowseListState state;
  return state;
}

void ResetBrowseList() {
  BrowseGlobals() = BrowseListState{};
  Registered() = Registration{};
}

void BrowseList(std::int16_t list, std::int16_t* result) {
  *result = -1;
  if (list < 1 || list > FormTables().MenuEntryCount) return;
  const MenuListEntry def = MenuEntryAt(list);  // a copy: procedures may write the tables
  BrowseListState& g = BrowseGlobals();
  // The bar position of a list this one was opened from survives it here.
  SavePush(Int32Image(g.BarPosition));

  std::int16_t key = 0;
  bool go_on = true;
  if (def.MenuEntry[6] != 0) {
    // The form is a dialog of its own, which clears the field in progress
    // when it ends; the list is still the one opened from that field, and
    // its preparation, lines and follow-up hook are told so.
    const FormDialogState opened_from = FormDialogGlobals();
    FormDialog(def.MenuEntry[6], 0, 0, &key);
    FormDialogState& f = FormDialogGlobals();
    f.LastFieldValue = opened_from.LastFieldValue;
    f.LastFieldForm = opened_from.LastFieldForm;
    f.LastFieldNumber = opened_from.LastFieldNumber;
    go_on = key != keys::kEsc;
  }
  std::string start;
  std::string prefix;
  if (go_on) {
    const std::int16_t refused = Procedures().prepare(list, &start, &prefix);
    if (refused != 0) {
      *result = refused;
      go_on = false;
    }
  }
  if (go_on) {
    const std::int16_t file = def.MenuEntry[0];
    BrowseRecordSource* source = file != 0 ? Registered().source : nullptr;
    if (source != nullptr) source->LockMode(file, "+d");
    (void)ShowList(list, def, std::move(start), std::move(prefix), result);
    if (source != nullptr) source->LockMode(file, "-");
  }
  BrowseGlobals().BarPosition = Int32FromImage(SavePop());
}

}  // namespace kel
