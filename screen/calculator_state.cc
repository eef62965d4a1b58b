// The adding machine: keys, operations and the state file's text.
#include "screen/calculator_state.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "screen/keyboard.h"

namespace kel {
namespace {

// Significant digits the entry keeps after an operation.
constexpr int kSignificantDigits = 15;

double PowerOfTen(int n) { return std::pow(10.0, n); }

// trunc(x) of a value that should be whole but may carry binary noise:
// 0.29 x 100 is 28.999999999999996, which must give 29, not 28. The value
// is first taken to 15 significant digits, which is all a double holds.
double TruncClean(double x) {
  if (!std::isfinite(x)) return 0;
  // From 10^15 on a double has no fraction digits to be noisy in.
  if (std::fabs(x) >= 1e15) return std::trunc(x);
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", x);
  return std::trunc(std::strtod(text, nullptr));
}

void StartEntryUnlessTyping(CalculatorState* s) {
  if (s->entry_in_progress) return;
  s->entry = 0;
  s->decimal_point = false;
  s->decimals = 0;
}

// The entry to at most 15 significant digits, its trailing zero decimals
// dropped; decimals and the decimal point follow.
void Normalise(CalculatorState* s) {
  double x = std::isfinite(s->entry) ? s->entry : 0;
  int integer_digits = 0;
  for (double t = std::fabs(x); std::trunc(t) > 0; t /= 10) ++integer_digits;
  int decimals = 0;
  double m = x;
  while (m != std::trunc(m) && integer_digits + decimals < kSignificantDigits) {
    m *= 10;
    ++decimals;
  }
  m = std::round(m);
  while (decimals > 0 && std::fmod(m, 10.0) == 0) {
    m /= 10;
    --decimals;
  }
  s->entry = m / PowerOfTen(decimals);
  s->decimals = static_cast<std::int16_t>(decimals);
  s->decimal_point = decimals > 0;
}

void AddTapeLine(CalculatorState* s, double value, bool decimal_point, std::int16_t decimals,
                 const std::string& op) {
  if (s->first_tape_row > kTopTapeRow) --s->first_tape_row;
  for (int k = 0; k + 1 < kTapeLines; ++k) s->tape[k] = s->tape[k + 1];
  s->tape[kTapeLines - 1] = TapeLine{value, decimal_point, decimals, op.empty() ? ' ' : op[0]};
}

void AddEntryToTape(CalculatorState* s) {
  AddTapeLine(s, s->entry, s->decimal_point, s->decimals, s->last_operator);
}

// Performs `last_operator`.
CalculatorOutcome Perform(CalculatorState* s) {
  CalculatorOutcome out{CalculatorAction::kRedraw, false};
  const std::string& op = s->last_operator;
  if (op == "C") {
    if (s->entry_in_progress) {  // abandon the entry typed
      s->entry = s->accumulator;
      s->decimal_point = false;
      s->decimals = 0;
      s->last_operator = s->pending_operator;
      s->entry_in_progress = false;
    } else if (!s->cleared) {  // clear everything but the tape
      s->entry = s->accumulator = 0;
      s->decimal_point = false;
      s->decimals = 0;
      s->last_operator.clear();
      // A pending "*" would otherwise multiply the next number by the
      // cleared accumulator.
      s->pending_operator.clear();
      s->cleared = true;
    } else {  // cleared twice: the tape goes too
      s->first_tape_row = kEmptyTapeRow;
      out.action = CalculatorAction::kRedrawAll;
    }
    return out;
  }
  if (op == "R") {  // round to cents, half to even
    if (!std::isfinite(100 * s->entry)) return {CalculatorAction::kNone, true};
    double x = std::trunc(100 * s->entry);
    double f = 100 * s->entry - x;
    if (f > 0.5 || (f == 0.5 && std::fmod(x, 2.0) != 0)) x += 1;
    s->entry = x / 100;
    s->accumulator = s->entry;
    s->decimal_point = true;
    s->decimals = 2;
    AddEntryToTape(s);
    return out;
  }
  if (op == "%") {
    AddEntryToTape(s);
    const std::string& pending = s->pending_operator;
    double x =
        (pending == "+" || pending == "-") ? s->accumulator / 100 * s->entry : s->entry / 100;
    if (std::isfinite(x)) {
      s->entry = x;
    } else {
      out.refused = true;
    }
    Normalise(s);
    return out;
  }

  // + - * / =: the pending operator is applied to the accumulator.
  const std::string& pending = s->pending_operator;
  double result = s->accumulator;
  if (pending == "+") {
    result = s->accumulator + s->entry;
  } else if (pending == "-") {
    result = s->accumulator - s->entry;
  } else if (pending == "*") {
    result = s->accumulator * s->entry;
  } else if (pending == "/") {
    result = s->accumulator / s->entry;
  } else if (pending.empty()) {
    result = s->entry;
  }
  // A division by zero (or an overflow) keeps the accumulator as it was:
  // an infinite value could be neither shown nor computed with.
  if (std::isfinite(result)) {
    s->accumulator = result;
  } else {
    out.refused = true;
  }
  AddEntryToTape(s);
  s->entry = s->accumulator;
  Normalise(s);
  s->entry_in_progress = false;
  if (op == "=") {
    s->last_operator.clear();
    AddTapeLine(s, s->entry, s->decimal_point, s->decimals, "");  // the total
  }
  s->cleared = false;
  s->pending_operator = s->last_operator;
  return out;
}

CalculatorOutcome TypeDigit(CalculatorState* s, int digit) {
  StartEntryUnlessTyping(s);
  // After "T" the digits extend a negative number.
  const double sign = std::signbit(s->entry) ? -1.0 : 1.0;
  if (!s->decimal_point) {
    double next = s->entry * 10 + sign * digit;
    if (!std::isfinite(next)) return {};
    s->entry = next;
  } else {
    if (s->decimals >= kMaxCalculatorDecimals) return {};
    ++s->decimals;
    s->entry += sign * digit / PowerOfTen(s->decimals);
  }
  s->entry_in_progress = true;
  return {};
}

CalculatorOutcome Backspace(CalculatorState* s) {
  if (!s->decimal_point) {
    s->entry = std::trunc(s->entry / 10);
  } else if (--s->decimals < 0) {
    s->decimal_point = false;
    s->decimals = 0;
  } else {
    const double scale = PowerOfTen(s->decimals);
    s->entry = TruncClean(s->entry * scale) / scale;
  }
  s->entry_in_progress = s->entry_in_progress && s->entry != 0;
  return {};
}

char UpperAscii(int c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); }

// The digits of a non-negative whole number; "" for 0.
std::string WholeDigits(double n) {
  if (n < 1) return "";
  char text[400];
  std::snprintf(text, sizeof text, "%.0f", n);
  return text;
}

// ---------------------------------------------------------------------------
// The state file

std::vector<std::string_view> Lines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  while (!bytes.empty()) {
    std::size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    bytes.remove_prefix(end + 1);
  }
  return lines;
}

std::string_view TrimBlanks(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  return t;
}

// A field is a quoted text (up to the next quote) or the text up to the
// next comma. `quoted` tells which, so that a number in quotes is refused.
struct Field {
  std::string_view text;
  bool quoted = false;
};

std::vector<Field> Fields(std::string_view line) {
  std::vector<Field> fields;
  std::size_t pos = 0;
  for (;;) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    Field f;
    if (pos < line.size() && line[pos] == '"') {
      std::size_t close = line.find('"', pos + 1);
      if (close == std::string_view::npos) close = line.size();
      f.text = line.substr(pos + 1, close - pos - 1);
      f.quoted = true;
      pos = close < line.size() ? close + 1 : close;
      std::size_t comma = line.find(',', pos);
      pos = comma == std::string_view::npos ? line.size() + 1 : comma + 1;
    } else {
      std::size_t comma = line.find(',', pos);
      std::size_t end = comma == std::string_view::npos ? line.size() : comma;
      f.text = TrimBlanks(line.substr(pos, end - pos));
      pos = comma == std::string_view::npos ? line.size() + 1 : comma + 1;
    }
    fields.push_back(f);
    if (pos > line.size()) break;
  }
  return fields;
}

bool ReadNumber(const std::vector<Field>& fields, std::size_t index, double* out) {
  if (index >= fields.size() || fields[index].quoted) return false;
  std::string_view t = fields[index].text;
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  if (t.empty()) return false;
  double v = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool ReadInteger(const std::vector<Field>& fields, std::size_t index, int low, int high,
                 std::int16_t* out) {
  double v = 0;
  if (!ReadNumber(fields, index, &v) || v != std::trunc(v) || v < low || v > high) return false;
  *out = static_cast<std::int16_t>(v);
  return true;
}

void ReadFlag(const std::vector<Field>& fields, std::size_t index, bool* out) {
  std::int16_t v = 0;
  if (ReadInteger(fields, index, -1, 0, &v)) *out = v != 0;
}

void ReadDouble(const std::vector<Field>& fields, std::size_t index, double* out) {
  double v = 0;
  if (ReadNumber(fields, index, &v)) *out = v;
}

void ReadOperator(const std::vector<Field>& fields, std::size_t index, std::string* out) {
  if (index >= fields.size() || !fields[index].quoted) return;
  std::string_view t = fields[index].text;
  if (t.empty() ||
      (t.size() == 1 && std::string_view("+-*/%RC=").find(t[0]) != std::string_view::npos)) {
    *out = std::string(t);
  }
}

void ReadTapeLine(const std::vector<Field>& fields, TapeLine* line) {
  ReadDouble(fields, 0, &line->value);
  ReadFlag(fields, 1, &line->decimal_point);
  std::int16_t decimals = 0;
  if (ReadInteger(fields, 2, 0, kMaxCalculatorDecimals, &decimals)) line->decimals = decimals;
  if (!line->decimal_point) line->decimals = 0;
  if (fields.size() > 3 && fields[3].quoted) {
    std::string_view t = fields[3].text;
    char op = t.empty() ? ' ' : t[0];
    if (std::string_view(" +-*/%RC=").find(op) != std::string_view::npos) line->op = op;
  }
}

std::string NumberText(double v) {
  char text[64];
  auto [end, ec] = std::to_chars(text, text + sizeof text, v);
  return ec == std::errc() ? std::string(text, end) : "0";
}

std::string FlagText(bool b) { return b ? "-1" : "0"; }

std::string Quoted(std::string_view t) { return "\"" + std::string(t) + "\""; }

}  // namespace

CalculatorOutcome ApplyCalculatorKey(CalculatorState* s, std::int16_t key, int screen_cols) {
  const int max_left = screen_cols - kCalculatorWidth + 1;
  const int code = key;
  if (code > 255 || code < -255) {
    switch (key) {
      case keys::kLeft:
      case keys::kCtrlLeft:
        s->left_column =
            static_cast<std::int16_t>(s->left_column <= 1 ? max_left : s->left_column - 1);
        return {CalculatorAction::kMove, false};
      case keys::kRight:
      case keys::kCtrlRight:
        s->left_column =
            static_cast<std::int16_t>(s->left_column >= max_left ? 1 : s->left_column + 1);
        return {CalculatorAction::kMove, false};
      case 0x2100:  // Alt+F
        return {CalculatorAction::kFinish, false};
      default:
        return {};
    }
  }
  if (code <= 0) return {};
  const char c = UpperAscii(code);
  if (c >= '0' && c <= '9') return TypeDigit(s, c - '0');
  switch (c) {
    case '.':
      StartEntryUnlessTyping(s);
      if (!s->decimal_point) {
        s->decimal_point = true;
        s->decimals = 0;
      }
      s->entry_in_progress = true;
      return {};
    case keys::kBackspace:
      return Backspace(s);
    case '+':
    case '-':
    case '*':
    case '/':
    case '%':
    case 'R':
    case 'C':
      s->last_operator = std::string(1, c);
      return Perform(s);
    case '=':
    case keys::kEnter:
      if (!s->entry_in_progress) return {};
      s->last_operator = "=";
      return Perform(s);
    case 'T':
      s->entry = -s->entry;
      return {};
    case 'F':
      return {CalculatorAction::kFinish, false};
    case keys::kEsc:
      return {CalculatorAction::kCancel, false};
    default:
      return {};
  }
}

std::string CalculatorResultText(const CalculatorState& s) {
  const int d = s.decimals > 2 ? s.decimals : 2;
  const double value = s.entry_in_progress ? s.entry : s.accumulator;
  std::string digits = WholeDigits(TruncClean(std::fabs(value) * PowerOfTen(d)));
  if (digits.empty()) digits = "0";
  // Enough digits for the ones that follow the ".", so that 0.00001 gives
  // ".001" and not "1".
  if (static_cast<int>(digits.size()) < d - 2) {
    digits.insert(0, static_cast<std::size_t>(d - 2) - digits.size(), '0');
  }
  const std::size_t head = digits.size() - static_cast<std::size_t>(d - 2);
  std::string text = digits.substr(0, head);
  if (d > 2) text += '.' + digits.substr(head);
  return text;
}

std::string CalculatorPicture(bool decimal_point, int decimals) {
  std::string body = "Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9";
  if (decimal_point) body += '.';
  if (decimals > 0) body.append(static_cast<std::size_t>(decimals), '9');
  return "-" + body.substr(body.size() - 21);
}

CalculatorState ParseCalculatorState(std::string_view bytes) {
  CalculatorState s;
  const std::vector<std::string_view> lines = Lines(bytes);
  if (lines.size() > 0) {
    std::vector<Field> f = Fields(lines[0]);
    std::int16_t v = 0;
    if (ReadInteger(f, 0, 1, 80 - kCalculatorWidth + 1, &v)) s.left_column = v;
    if (ReadInteger(f, 1, kTopTapeRow, kEmptyTapeRow, &v)) s.first_tape_row = v;
    ReadDouble(f, 2, &s.entry);
    ReadDouble(f, 3, &s.accumulator);
  }
  if (lines.size() > 1) {
    std::vector<Field> f = Fields(lines[1]);
    ReadFlag(f, 0, &s.cleared);
    ReadFlag(f, 1, &s.entry_in_progress);
    ReadFlag(f, 2, &s.decimal_point);
    std::int16_t v = 0;
    if (ReadInteger(f, 3, 0, kMaxCalculatorDecimals, &v)) s.decimals = v;
    if (!s.decimal_point) s.decimals = 0;
  }
  if (lines.size() > 2) {
    std::vector<Field> f = Fields(lines[2]);
    ReadOperator(f, 0, &s.last_operator);
    ReadOperator(f, 1, &s.pending_operator);
  }
  for (std::size_t k = 0; k < static_cast<std::size_t>(kTapeLines) && k + 3 < lines.size(); ++k) {
    ReadTapeLine(Fields(lines[k + 3]), &s.tape[k]);
  }
  return s;
}

std::string CalculatorStateText(const CalculatorState& s) {
  std::string text;
  text += std::to_string(s.left_column) + "," + std::to_string(s.first_tape_row) + "," +
          NumberText(s.entry) + "," + NumberText(s.accumulator) + "\r\n";
  text += FlagText(s.cleared) + "," + FlagText(s.entry_in_progress) + "," +
          FlagText(s.decimal_point) + "," + std::to_string(s.decimals) + "\r\n";
  text += Quoted(s.last_operator) + "," + Quoted(s.pending_operator) + "\r\n";
  for (const TapeLine& line : s.tape) {
    text += NumberText(line.value) + "," + FlagText(line.decimal_point) + "," +
            std::to_string(line.decimals) + "," + Quoted(std::string(1, line.op)) + "\r\n";
  }
  return text;
}

}  // namespace kel
