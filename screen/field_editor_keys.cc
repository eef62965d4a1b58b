// The field editor's settings: the exit-key table with its saved copies,
// the mask character and the choice list.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "screen/field_editor.h"
#include "util/fixed_text.h"

namespace kel {

namespace {

void AppendCode(std::string* table, std::uint16_t code) {
  table->push_back(static_cast<char>(code & 0xFF));
  table->push_back(static_cast<char>(code >> 8));
}

std::uint16_t CodeAt(const std::string& table, std::size_t offset) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(table[offset]) |
                                    static_cast<std::uint8_t>(table[offset + 1]) << 8);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A hexadecimal code the way the family's key lists were always read: the
// digits are appended to a "&h0" prefix, so no digit at all reads as 0 and
// the number ends at the first character that is not a digit. Blanks are
// skipped, as that reading skipped them.
std::uint16_t ParseHex(std::string_view text) {
  std::uint32_t value = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t') continue;
    int d = HexValue(c);
    if (d < 0) break;
    value = ((value << 4) | static_cast<std::uint32_t>(d)) & 0xFFFF;
  }
  return static_cast<std::uint16_t>(value);
}

struct KeyItem {
  std::uint16_t key;
  std::uint16_t result;
};

std::vector<KeyItem> ParseKeyList(std::string_view keys) {
  std::vector<KeyItem> items;
  std::size_t start = 0;
  while (start <= keys.size()) {
    std::size_t comma = keys.find(',', start);
    if (comma == std::string_view::npos) comma = keys.size();
    std::string_view item = keys.substr(start, comma - start);
    start = comma + 1;
    if (IsBlank(item)) continue;
    std::size_t eq = item.find('=');
    std::uint16_t key = ParseHex(item.substr(0, eq));
    std::uint16_t result = eq == std::string_view::npos ? key : ParseHex(item.substr(eq + 1));
    items.push_back({key, result});
  }
  return items;
}

void RemoveKey(FieldEditorState& s, std::uint16_t key) {
  for (std::size_t off = 0; off + 1 < s.ExitKeys.size();) {
    if (CodeAt(s.ExitKeys, off) == key) {
      s.ExitKeys.erase(off, 2);
      if (off < s.ExitKeyResults.size()) s.ExitKeyResults.erase(off, 2);
    } else {
      off += 2;
    }
  }
}

void SaveTable(FieldEditorState& s) {
  if (s.ExitKeyDepth == INT16_MAX) return;
  ++s.ExitKeyDepth;
  if (s.ExitKeyStack.size() < kExitKeyStackDepth) {
    s.ExitKeyStack.push_back({s.ExitKeys, s.ExitKeyResults});
  }
}

void RestoreTable(FieldEditorState& s) {
  if (s.ExitKeyDepth <= 0) return;
  // A level saved beyond the stack's room has nothing stored: the table
  // stays, and the levels below still get their own tables back.
  if (static_cast<std::size_t>(s.ExitKeyDepth) <= s.ExitKeyStack.size()) {
    s.ExitKeys = std::move(s.ExitKeyStack.back().keys);
    s.ExitKeyResults = std::move(s.ExitKeyStack.back().results);
    s.ExitKeyStack.pop_back();
  }
  --s.ExitKeyDepth;
}

}  // namespace

FieldEditorState& FieldEditor() {
  static FieldEditorState state;
  return state;
}

void ResetFieldEditor() { FieldEditor() = FieldEditorState{}; }

void SetExitKeys(std::string_view mode, std::string_view keys) {
  FieldEditorState& s = FieldEditor();
  for (char c : mode) {
    switch (c) {
      case 'e':
      case 'E':
        s.ExitKeys.clear();
        s.ExitKeyResults.clear();
        break;
      case 'a':
      case 'A':
        for (const KeyItem& item : ParseKeyList(keys)) {
          AppendCode(&s.ExitKeys, item.key);
          AppendCode(&s.ExitKeyResults, item.result);
        }
        break;
      case 'd':
      case 'D':
        for (const KeyItem& item : ParseKeyList(keys)) RemoveKey(s, item.key);
        break;
      case '+':
        SaveTable(s);
        break;
      case '-':
        RestoreTable(s);
        break;
      case 'h':
      case 'H':
        s.MaskChar = kMaskX;
        break;
      case 'v':
      case 'V':
        s.MaskChar = 0;
        break;
      default:
        break;
    }
  }
}

int FindExitKey(std::int16_t key) {
  const FieldEditorState& s = FieldEditor();
  auto code = static_cast<std::uint16_t>(key);
  // Whole entries only: a match straddling two entries is no match.
  for (std::size_t off = 0; off + 1 < s.ExitKeys.size(); off += 2) {
    if (CodeAt(s.ExitKeys, off) == code) return static_cast<int>(off);
  }
  return -1;
}

std::int16_t ExitKeyResultAt(int offset) {
  const FieldEditorState& s = FieldEditor();
  auto off = static_cast<std::size_t>(offset);
  // The two texts are written together; should the results ever be short,
  // the key itself is the safest answer.
  if (off + 1 >= s.ExitKeyResults.size()) {
    return static_cast<std::int16_t>(CodeAt(s.ExitKeys, off));
  }
  return static_cast<std::int16_t>(CodeAt(s.ExitKeyResults, off));
}

void SetChoiceList(std::string_view list) { FieldEditor().ChoiceList = std::string(list); }

std::vector<Choice> ParseChoices(std::string_view list) {
  std::vector<Choice> choices;
  std::size_t bar = list.find('|');
  while (bar != std::string_view::npos) {
    std::size_t next = list.find('|', bar + 1);
    std::string_view option = list.substr(
        bar + 1, next == std::string_view::npos ? std::string_view::npos : next - bar - 1);
    std::size_t comma = option.find(',');
    Choice c;
    c.code = std::string(option.substr(0, comma));
    if (comma != std::string_view::npos) c.text = std::string(option.substr(comma + 1));
    choices.push_back(std::move(c));
    bar = next;
  }
  return choices;
}

int FindChoice(const std::vector<Choice>& choices, std::string_view value) {
  std::string_view wanted = TrimRight(value);
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (TrimRight(choices[i].code) == wanted) return static_cast<int>(i);
  }
  return -1;
}

ScopedExitKeys::ScopedExitKeys(std::string_view mode, std::string_view keys) {
  SetExitKeys("+" + std::string(mode), keys);
}

ScopedExitKeys::~ScopedExitKeys() { SetExitKeys("-", ""); }

}  // namespace kel
