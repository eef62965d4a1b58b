#include "screen/window_stack_file.h"

namespace kel {
namespace {

// Appends `value` as `width` zero-padded decimal digits; false if it does
// not fit.
bool AppendDigits(int value, int width, std::string* out) {
  int limit = 1;
  for (int i = 0; i < width; ++i) limit *= 10;
  if (value < 0 || value >= limit) return false;
  std::string digits(static_cast<std::size_t>(width), '0');
  for (int i = width - 1; i >= 0; --i) {
    digits[static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out->append(digits);
  return true;
}

// The value of `width` decimal digits at `pos`; -1 if any is not a digit.
int ReadDigits(std::string_view bytes, std::size_t pos, int width) {
  if (pos + static_cast<std::size_t>(width) > bytes.size()) return -1;
  int value = 0;
  for (int i = 0; i < width; ++i) {
    char c = bytes[pos + static_cast<std::size_t>(i)];
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

long CellCount(int top, int left, int bottom, int right) {
  return static_cast<long>(bottom - top + 1) * (right - left + 1);
}

}  // namespace

bool EncodeWindowRecord(const WindowRecord& r, std::string* bytes) {
  if (r.top > r.bottom || r.left > r.right) return false;
  long cells = CellCount(r.top, r.left, r.bottom, r.right);
  if (static_cast<long>(r.cells.size()) != 2 * cells) return false;
  long length = kWindowRecordHeader + 2 * cells + kWindowRecordTrailer;
  std::string out;
  out.reserve(static_cast<std::size_t>(length));
  const std::int16_t fields[10] = {r.cursor_row,  r.cursor_col, r.prev_top, r.prev_left,
                                   r.prev_bottom, r.prev_right, r.top,      r.left,
                                   r.bottom,      r.right};
  for (std::int16_t f : fields) {
    if (!AppendDigits(f, 2, &out)) return false;
  }
  out.append(r.cells);
  if (!AppendDigits(static_cast<int>(length), 5, &out)) return false;
  *bytes = std::move(out);
  return true;
}

int ReadRecordLength(std::string_view five_digits) {
  if (five_digits.size() != 5) return -1;
  return ReadDigits(five_digits, 0, 5);
}

bool DecodeWindowRecord(std::string_view bytes, int rows, int cols, WindowRecord* r) {
  if (bytes.size() < static_cast<std::size_t>(kWindowRecordHeader + kWindowRecordTrailer)) {
    return false;
  }
  int length = ReadRecordLength(bytes.substr(bytes.size() - kWindowRecordTrailer));
  if (length < 0 || static_cast<std::size_t>(length) != bytes.size()) return false;
  int fields[10];
  for (int i = 0; i < 10; ++i) {
    fields[i] = ReadDigits(bytes, static_cast<std::size_t>(2 * i), 2);
    if (fields[i] < 0) return false;
  }
  int top = fields[6], left = fields[7], bottom = fields[8], right = fields[9];
  if (top < 1 || left < 1 || bottom > rows || right > cols || top > bottom || left > right) {
    return false;
  }
  long cells = CellCount(top, left, bottom, right);
  if (kWindowRecordHeader + 2 * cells + kWindowRecordTrailer != length) return false;
  r->cursor_row = static_cast<std::int16_t>(fields[0]);
  r->cursor_col = static_cast<std::int16_t>(fields[1]);
  r->prev_top = static_cast<std::int16_t>(fields[2]);
  r->prev_left = static_cast<std::int16_t>(fields[3]);
  r->prev_bottom = static_cast<std::int16_t>(fields[4]);
  r->prev_right = static_cast<std::int16_t>(fields[5]);
  r->top = static_cast<std::int16_t>(top);
  r->left = static_cast<std::int16_t>(left);
  r->bottom = static_cast<std::int16_t>(bottom);
  r->right = static_cast<std::int16_t>(right);
  r->cells.assign(bytes.substr(kWindowRecordHeader, static_cast<std::size_t>(2 * cells)));
  return true;
}

}  // namespace kel
