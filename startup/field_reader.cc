#include "startup/field_reader.h"

#include <algorithm>
#include <limits>

namespace kel {
namespace {

constexpr char kCr = '\r';
constexpr char kLf = '\n';
constexpr char kTab = '\t';
constexpr char kQuote = '"';
constexpr char kComma = ',';
constexpr std::size_t kWindowBytes = 64 * 1024;

}  // namespace

FieldReader::FieldReader(std::string_view bytes)
    : window_(bytes), size_(static_cast<std::int64_t>(bytes.size())) {}

FileResult FieldReader::Open(std::string_view path) {
  file_.Close();
  from_file_ = false;
  window_.clear();
  window_start_ = size_ = pos_ = 0;
  overlong_ = false;
  const FileResult result = OpenFile(path, FileAccess::kRead, FileShare::kShared, &file_);
  if (result != FileResult::kOk) return result;
  const std::int64_t size = file_.Size();
  if (size < 0) {
    file_.Close();
    return FileResult::kIoError;
  }
  from_file_ = true;
  size_ = size;
  return FileResult::kOk;
}

bool FieldReader::Fill() {
  // Only a file reader gets here: the window is moved to the read position.
  window_.resize(kWindowBytes);
  const std::int64_t n = file_.ReadAt(pos_, window_.data(), window_.size());
  if (n <= 0) {
    // The file shrank or cannot be read any more: it ends here.
    window_.clear();
    window_start_ = pos_;
    size_ = pos_;
    return false;
  }
  window_.resize(static_cast<std::size_t>(n));
  window_start_ = pos_;
  return true;
}

int FieldReader::Peek() {
  if (pos_ >= size_) return -1;
  if (pos_ < window_start_ || pos_ >= window_start_ + static_cast<std::int64_t>(window_.size())) {
    if (!from_file_ || !Fill()) return -1;
  }
  return static_cast<unsigned char>(window_[static_cast<std::size_t>(pos_ - window_start_)]);
}

bool FieldReader::AtEnd() { return Peek() < 0; }

void FieldReader::Seek(std::int64_t position) {
  pos_ = std::clamp<std::int64_t>(position, 0, size_);
}

bool FieldReader::ConsumeLineEnd() {
  const int c = Peek();
  if (c == kLf) {
    Advance();
    return true;
  }
  if (c != kCr) return false;
  Advance();
  if (Peek() == kLf) Advance();
  return true;
}

void FieldReader::SkipBlanks() {
  for (int c = Peek(); c == ' ' || c == kTab; c = Peek()) Advance();
}

void FieldReader::Keep(std::string* field, char c) {
  if (field->size() < kMaxFieldBytes) {
    field->push_back(c);
  } else {
    overlong_ = true;
  }
}

std::string FieldReader::ReadText() {
  std::string field;
  overlong_ = false;
  SkipBlanks();
  if (Peek() == kQuote) {
    Advance();
    for (int c = Peek(); c >= 0 && c != kQuote && c != kCr && c != kLf; c = Peek()) {
      Advance();
      if (c != kTab) Keep(&field, static_cast<char>(c));
    }
    if (Peek() == kQuote) Advance();
    // What follows the closing quote up to the delimiter is not part of
    // the field.
    for (int c = Peek(); c >= 0 && c != kComma && c != kCr && c != kLf; c = Peek()) Advance();
  } else {
    for (int c = Peek(); c >= 0 && c != kComma && c != kCr && c != kLf; c = Peek()) {
      Advance();
      if (c != kTab) Keep(&field, static_cast<char>(c));
    }
  }
  if (Peek() == kComma) {
    Advance();
  } else {
    ConsumeLineEnd();
  }
  return field;
}

std::int16_t FieldReader::ReadNumber(NumberField* what) {
  std::string text;
  overlong_ = false;
  SkipBlanks();
  for (int c = Peek(); c >= 0 && c != kComma && c != kCr && c != kLf && c != ' '; c = Peek()) {
    Advance();
    if (c != kTab) Keep(&text, static_cast<char>(c));
  }
  // A number ended by a blank: the blanks after it and one delimiter go
  // with it, so "3 ,4" and "3 4" read as 3 then 4.
  SkipBlanks();
  if (Peek() == kComma) {
    Advance();
  } else {
    ConsumeLineEnd();
  }

  NumberField result = NumberField::kOk;
  std::int64_t value = 0;
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Digits cut at the field limit are no number that can be trusted.
  if ((i == text.size() && !text.empty()) || overlong_) result = NumberField::kNotANumber;
  for (; i < text.size() && result == NumberField::kOk; ++i) {
    if (text[i] < '0' || text[i] > '9') {
      result = NumberField::kNotANumber;
    } else if (value <= std::numeric_limits<std::int16_t>::max() + 1) {
      value = value * 10 + (text[i] - '0');
    }
  }
  if (negative) value = -value;
  if (result == NumberField::kNotANumber) value = 0;
  if (value < std::numeric_limits<std::int16_t>::min() ||
      value > std::numeric_limits<std::int16_t>::max()) {
    result = NumberField::kOutOfRange;
    value = std::clamp<std::int64_t>(value, std::numeric_limits<std::int16_t>::min(),
                                     std::numeric_limits<std::int16_t>::max());
  }
  if (what != nullptr) *what = result;
  return static_cast<std::int16_t>(value);
}

bool FieldReader::LineStartsWith(char c) {
  const std::int64_t start = pos_;
  SkipBlanks();
  const bool starts = Peek() == static_cast<unsigned char>(c);
  pos_ = start;
  return starts;
}

bool FieldReader::ReadLine(std::string* line) {
  line->clear();
  if (AtEnd()) return false;
  for (int c = Peek(); c >= 0 && c != kCr && c != kLf; c = Peek()) {
    Advance();
    // Cut like a field, but a line is no field: the flag stays as it was.
    if (line->size() < kMaxFieldBytes) line->push_back(static_cast<char>(c));
  }
  ConsumeLineEnd();
  return true;
}

int FieldReader::LineNumber() {
  const std::int64_t target = pos_;
  int line = 1;
  pos_ = 0;
  while (pos_ < target) {
    const int c = Peek();
    if (c < 0) break;
    if (c == kCr || c == kLf) {
      ConsumeLineEnd();
      if (pos_ <= target) ++line;
    } else {
      Advance();
    }
  }
  pos_ = target;
  return line;
}

}  // namespace kel
