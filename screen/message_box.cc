#include "screen/message_box.h"

#include <algorithm>
#include <vector>

#include "screen/keyboard.h"
#include "screen/screen_buffer.h"
#include "screen/windows.h"
#include "util/fixed_text.h"

namespace kel {
namespace {

bool IsControl(char c) { return static_cast<std::uint8_t>(c) < 32; }

// Spreads blanks between the words of `line` until it is `width` long. The
// leading blanks (an indent) stay as they are; a line of one word is padded
// on the right.
std::string Justify(std::string line, int width) {
  line.resize(TrimRight(line).size());
  int missing = width - static_cast<int>(line.size());
  if (missing <= 0) return line;
  std::size_t first_word = line.find_first_not_of(' ');
  std::vector<std::size_t> gaps;  // where each inner run of blanks starts
  for (std::size_t i = first_word + 1; i < line.size(); ++i) {
    if (line[i] == ' ' && line[i - 1] != ' ') gaps.push_back(i);
  }
  if (gaps.empty()) return line + std::string(static_cast<std::size_t>(missing), ' ');
  std::string out;
  std::size_t from = 0;
  const int each = missing / static_cast<int>(gaps.size());
  int extra = missing % static_cast<int>(gaps.size());
  for (std::size_t g : gaps) {
    out.append(line, from, g - from);
    int add = each + (extra > 0 ? 1 : 0);
    if (extra > 0) --extra;
    out.append(static_cast<std::size_t>(add), ' ');
    from = g;
  }
  out.append(line, from, std::string::npos);
  return out;
}

std::string Align(const std::string& line, int width, char alignment, bool last_line) {
  const int missing = std::max(0, width - static_cast<int>(line.size()));
  const auto pad = [](int n, char c) { return std::string(static_cast<std::size_t>(n), c); };
  switch (alignment) {
    case 'E':
    case 'L':
    case 'I':
      return line + pad(missing, ' ');
    case 'N':
      return line + pad(missing, '-');
    case 'D':
    case 'R':
      return pad(missing, ' ') + line;
    case 'C':
      return pad(missing / 2, ' ') + line + pad((missing + 1) / 2, ' ');
    case 'A':
    case 'B':
      return last_line ? line : Justify(line, width);
    default:
      return line;
  }
}

}  // namespace

std::string WrapText(std::string_view text, std::int16_t indent, std::int16_t width,
                     char alignment) {
  const char align =
      (alignment >= 'a' && alignment <= 'z') ? static_cast<char>(alignment - 32) : alignment;
  const std::size_t len = text.size();
  std::string out;
  std::size_t p = 0;
  bool first = true;
  while (p < len) {
    int ind = 0;
    if (indent > 0 && first) ind = indent;
    if (indent < 0 && !first) ind = -indent;
    first = false;
    int w = std::max(1, width - ind);
    // Take characters until w of them count; control characters take no
    // room.
    std::size_t j = 0;
    while (j < static_cast<std::size_t>(w) && p + j < len) {
      if (IsControl(text[p + j])) ++w;
      ++j;
    }
    // Control characters right after a word stay with it.
    if (j > 0 && text[p + j - 1] != ' ') {
      while (p + j < len && IsControl(text[p + j])) {
        ++j;
        ++w;
      }
    }
    // A word goes on past the line: end the line before the blank in front
    // of it.
    if (p + j < len && text[p + j] != ' ' && !IsControl(text[p + j])) {
      const std::size_t taken = j;
      while (j > 0 && text[p + j] != ' ' && !IsControl(text[p + j])) --j;
      if (j < taken && IsControl(text[p + j])) --w;
    }
    if (p + j < len && IsControl(text[p + j])) {
      while (j > 0 && text[p + j - 1] == ' ') --j;
    }
    // One word longer than the line: cut it.
    if (j == 0) j = std::min(static_cast<std::size_t>(w), len - p);
    std::string line(static_cast<std::size_t>(ind), ' ');
    line.append(text.substr(p, j));
    int controls = static_cast<int>(std::count_if(line.begin(), line.end(), IsControl));
    p += j;
    while (p < len && text[p] == ' ') ++p;
    out += Align(line, width + controls, align, p >= len);
  }
  return out;
}

void MessageBox(std::int16_t row, std::string* text) {
  // Each line feed starts a new line of the box, and a new line of the log.
  std::string lines;
  for (std::size_t start = 0;;) {
    const std::size_t end = text->find('\n', start);
    const std::string_view part =
        std::string_view(*text).substr(start, end == std::string::npos ? end : end - start);
    if (part.empty() && start > 0 && end == std::string::npos) break;  // a final line feed
    TranscriptLine(TrimRight(part));
    std::string wrapped = WrapText(part, 0, kMessageLineWidth, 'i');
    // An empty part between two line feeds is a blank line.
    if (wrapped.empty() && end != std::string::npos) wrapped.assign(kMessageLineWidth, ' ');
    lines += wrapped;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  SetColour("+rh");
  // Every caller closes the box with WinPop, so a box is always opened: an
  // empty text gets one blank line, an overlong one keeps the lines that fit.
  if (lines.empty()) lines.assign(kMessageLineWidth, ' ');
  const int rows = ScreenRows(), cols = ScreenCols();
  int n = static_cast<int>(lines.size()) / kMessageLineWidth;
  if (n < 1) {
    lines.resize(kMessageLineWidth, ' ');
    n = 1;
  }
  const int max_lines = std::max(1, rows - 2);
  if (n > max_lines) n = max_lines;
  lines.resize(static_cast<std::size_t>(n) * kMessageLineWidth);
  *text = lines;

  int top = std::max(1, row - (n + 1) / 2 - 2);
  int bottom = top + n + 1;
  if (bottom > rows) {
    bottom = rows;
    top = std::max(1, bottom - n - 1);
  }
  int left = 0, right = 0;
  for (int k = 0; k < n; ++k) {
    int m = static_cast<int>(
        TrimRight(std::string_view(lines).substr(static_cast<std::size_t>(k) * kMessageLineWidth,
                                                 kMessageLineWidth))
            .size());
    if (right - left < m + 4) {
      left = 41 - (m + 1) / 2 - 2;
      right = m / 2 + 42;
    }
  }
  // Only a console narrower than the 80 columns the box is centred for
  // needs this.
  left = std::max(left, 1);
  right = std::min(right, cols);
  WinPush(static_cast<std::int16_t>(top), static_cast<std::int16_t>(left),
          static_cast<std::int16_t>(bottom), static_cast<std::int16_t>(right));
  DrawFrame(1);
  const std::size_t room = static_cast<std::size_t>(std::max(0, right - left - 2));
  for (int k = 0; k < n; ++k) {
    std::string_view line = TrimRight(std::string_view(lines).substr(
        static_cast<std::size_t>(k) * kMessageLineWidth, kMessageLineWidth));
    WinLocate(static_cast<std::int16_t>(k + 1), 2);
    WriteText(line.substr(0, std::min(room, line.size())));
  }
  SetColour("-");
}

std::int16_t AcknowledgeMessage(std::string_view text) {
  // Keys typed while the work ran are discarded before the box can be seen:
  // the screen may be drawn as soon as the box is (and the beep draws it),
  // and a key pressed once the box shows must count.
  FlushKeys();
  std::string shown(text);
  MessageBox(12, &shown);
  Beep();
  std::int16_t key = GetKey();
  WinPop();
  return key;
}

ScopedMessageBox::ScopedMessageBox(std::int16_t row, std::string_view text) {
  std::string shown(text);
  MessageBox(row, &shown);
}

ScopedMessageBox::~ScopedMessageBox() { WinPop(); }

}  // namespace kel
