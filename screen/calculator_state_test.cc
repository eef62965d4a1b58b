#include "screen/calculator_state.h"

#include <cmath>
#include <random>
#include <string>

#include "gtest/gtest.h"
#include "screen/keyboard.h"

namespace kel {
namespace {

// Types `text` (one key per character, "\b" Backspace, "\r" Enter, "\x1b"
// Esc) and returns the last outcome.
CalculatorOutcome Type(CalculatorState* s, std::string_view text) {
  CalculatorOutcome out;
  for (char c : text) out = ApplyCalculatorKey(s, static_cast<std::uint8_t>(c), 80);
  return out;
}

// The tape's newest lines, oldest first, as "value op" (op "_" for a total).
std::string Newest(const CalculatorState& s, int n) {
  std::string out;
  for (int k = kTapeLines - n; k < kTapeLines; ++k) {
    const TapeLine& line = s.tape[static_cast<std::size_t>(k)];
    char value[64];
    std::snprintf(value, sizeof value, "%.15g", line.value);
    out += (out.empty() ? "" : " | ") + std::string(value) + (line.op == ' ' ? '_' : line.op);
  }
  return out;
}

TEST(CalculatorKeys, OperationsAndTheirTape) {
  struct Case {
    const char* keys;
    double entry, accumulator;
    const char* tape;  // the newest lines
    int lines;         // lines added, so first row = 23 - lines
    const char* result;
  } cases[] = {
      {"12.5+3=", 15.5, 15.5, "12.5+ | 3= | 15.5_", 3, "1550"},
      {"12.5", 12.5, 0, "0_", 0, "1250"},
      {"0.125", 0.125, 0, "0_", 0, "12.5"},
      {"200+10%", 20, 200, "200+ | 10%", 2, "2000"},
      {"200+10%=", 220, 220, "10% | 20= | 220_", 4, "22000"},
      {"50*10%=", 5, 5, "10% | 0.1= | 5_", 4, "500"},  // % without + or -: a hundredth
      {"0.125R", 0.12, 0.12, "0.12R", 1, "12"},        // half to even
      {"0.375R", 0.38, 0.38, "0.38R", 1, "38"},
      {"0.125TR", -0.12, -0.12, "-0.12R", 1, "12"},  // negatives are truncated
      {"10-2.5*2=", 15, 15, "2.5* | 2= | 15_", 4, "1500"},
      {"1/3=", 0.333333333333333, 1.0 / 3, "1/ | 3= | 0.333333333333333_", 3, "33.3333333333333"},
      {"2/3=", 0.666666666666667, 2.0 / 3, "2/ | 3= | 0.666666666666667_", 3, "66.6666666666667"},
      {"0.1+0.2=", 0.3, 0.3, "0.1+ | 0.2= | 0.3_", 3, "30"},  // normalised to 15 digits
      {"0.29", 0.29, 0, "0_", 0, "29"},                       // 28.999... hundredths is 29
      {"5+=", 5, 5, "5+", 1, "500"},                          // "=" needs an entry typed
      {"5+7C3=", 8, 8, "5+ | 3= | 8_", 3, "800"},             // C abandons the 7
      {"5*C7=", 7, 7, "5* | 7= | 7_", 3, "700"},              // C forgets the pending "*"
      {"12T3", -123, 0, "0_", 0, "12300"},                    // digits extend the negative
      {"123\b", 12, 0, "0_", 0, "1200"},
      {"1.25\b", 1.2, 0, "0_", 0, "120"},
      {"1.25\b\b\b", 1, 0, "0_", 0, "100"},
      {"0.00001", 0.00001, 0, "0_", 0, ".001"},
  };
  for (const auto& c : cases) {
    CalculatorState s;
    Type(&s, c.keys);
    EXPECT_DOUBLE_EQ(s.entry, c.entry) << c.keys;
    EXPECT_DOUBLE_EQ(s.accumulator, c.accumulator) << c.keys;
    EXPECT_EQ(Newest(s, c.lines == 0 ? 1 : std::min(c.lines, 3)), c.tape) << c.keys;
    EXPECT_EQ(s.first_tape_row, kEmptyTapeRow - c.lines) << c.keys;
    EXPECT_EQ(CalculatorResultText(s), c.result) << c.keys;
  }
}

TEST(CalculatorKeys, ClearThenClearAgainEmptiesTheTape) {
  CalculatorState s;
  Type(&s, "12.5+3=");
  EXPECT_FALSE(s.cleared);
  EXPECT_EQ(Type(&s, "c").action, CalculatorAction::kRedraw);  // letters in either case
  EXPECT_EQ(s.entry, 0);
  EXPECT_EQ(s.accumulator, 0);
  EXPECT_TRUE(s.cleared);
  EXPECT_EQ(s.first_tape_row, 20) << "the first clear keeps the tape";
  EXPECT_EQ(Type(&s, "C").action, CalculatorAction::kRedrawAll);
  EXPECT_EQ(s.first_tape_row, kEmptyTapeRow);
  Type(&s, "4+");
  EXPECT_EQ(s.first_tape_row, 22);
  EXPECT_EQ(Newest(s, 1), "4+");
}

TEST(CalculatorKeys, TheTapeKeepsTwentyTwoLinesAndShowsTwentyOne) {
  CalculatorState s;
  for (int n = 1; n <= 30; ++n) Type(&s, std::to_string(n) + "+");
  EXPECT_EQ(s.first_tape_row, kTopTapeRow);
  EXPECT_EQ(s.tape[0].value, 9);
  EXPECT_EQ(s.tape[kTapeLines - 1].value, 30);
  EXPECT_EQ(s.accumulator, 465);
}

TEST(CalculatorKeys, DivisionByZeroKeepsAFiniteAccumulator) {
  for (const char* keys : {"5/0=", "5/0+", "0/0=", "9/0=/0="}) {
    CalculatorState s;
    CalculatorOutcome out = Type(&s, keys);
    EXPECT_TRUE(std::isfinite(s.accumulator)) << keys;
    EXPECT_TRUE(std::isfinite(s.entry)) << keys;
    EXPECT_EQ(s.accumulator, keys[0] - '0') << keys;
    (void)out;
  }
  CalculatorState s;
  Type(&s, "5/");
  EXPECT_TRUE(Type(&s, "0=").refused);
  EXPECT_EQ(CalculatorResultText(s), "500");
}

TEST(CalculatorKeys, EndlessDigitsStayFiniteAndWithinFifteenDecimals) {
  CalculatorState s;
  Type(&s, std::string(400, '9'));
  EXPECT_TRUE(std::isfinite(s.entry));
  Type(&s, "*");
  Type(&s, std::string(400, '9') + "=");
  EXPECT_TRUE(std::isfinite(s.accumulator));
  CalculatorState r;  // rounding a huge entry to cents
  Type(&r, std::string(308, '9'));
  EXPECT_TRUE(Type(&r, "R").refused);
  EXPECT_TRUE(std::isfinite(r.entry) && std::isfinite(r.accumulator));
  CalculatorState big;  // sixteen digits come back as they are
  Type(&big, "12345678901234.56");
  EXPECT_EQ(CalculatorResultText(big), "1234567890123456");
  CalculatorState d;
  Type(&d, "0." + std::string(40, '1'));
  EXPECT_EQ(d.decimals, kMaxCalculatorDecimals);
}

TEST(CalculatorKeys, MovingWrapsAtTheScreenEdges) {
  CalculatorState s;
  EXPECT_EQ(ApplyCalculatorKey(&s, keys::kLeft, 80).action, CalculatorAction::kMove);
  EXPECT_EQ(s.left_column, 55);
  ApplyCalculatorKey(&s, keys::kRight, 80);
  EXPECT_EQ(s.left_column, 1);
  ApplyCalculatorKey(&s, keys::kCtrlRight, 80);
  EXPECT_EQ(s.left_column, 2);
  ApplyCalculatorKey(&s, keys::kCtrlLeft, 80);
  ApplyCalculatorKey(&s, keys::kCtrlLeft, 80);
  EXPECT_EQ(s.left_column, 55);
}

TEST(CalculatorKeys, FinishCancelAndIgnoredKeys) {
  CalculatorState s;
  EXPECT_EQ(ApplyCalculatorKey(&s, 'f', 80).action, CalculatorAction::kFinish);
  EXPECT_EQ(ApplyCalculatorKey(&s, 0x2100, 80).action, CalculatorAction::kFinish);
  EXPECT_EQ(ApplyCalculatorKey(&s, keys::kEsc, 80).action, CalculatorAction::kCancel);
  const CalculatorState before = s;
  for (std::int16_t key : {keys::kAltX, keys::kAltC, keys::kF1, keys::kUp, KeyCode(0x8500),
                           std::int16_t{'x'}, std::int16_t{' '}, std::int16_t{0x1D46}}) {
    EXPECT_EQ(ApplyCalculatorKey(&s, key, 80).action, CalculatorAction::kNone) << key;
  }
  EXPECT_EQ(CalculatorStateText(s), CalculatorStateText(before));
}

TEST(CalculatorPictures, TapeAndEntryPictures) {
  EXPECT_EQ(CalculatorPicture(false, 0), "-Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9");
  EXPECT_EQ(CalculatorPicture(true, 1), "-ZZZ,ZZZ,ZZZ,ZZZ,ZZ9.9");
  EXPECT_EQ(CalculatorPicture(true, 0), "-,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9.");
  EXPECT_EQ(CalculatorPicture(true, 15), "-Z,ZZ9.999999999999999");
}

// ---------------------------------------------------------------------------
// The state file

TEST(CalculatorStateFile, TextOfTheInitialStateAndARoundTrip) {
  const std::string initial = CalculatorStateText(CalculatorState());
  std::string expected = "1,23,0,0\r\n-1,0,0,0\r\n\"\",\"\"\r\n";
  for (int k = 0; k < kTapeLines; ++k) expected += "0,0,0,\" \"\r\n";
  EXPECT_EQ(initial, expected);

  CalculatorState s;
  Type(&s, "12.5+3=7.25*2");
  s.left_column = 40;
  const std::string text = CalculatorStateText(s);
  const CalculatorState back = ParseCalculatorState(text);
  EXPECT_EQ(CalculatorStateText(back), text);
  EXPECT_EQ(back.entry, 2);
  EXPECT_EQ(back.accumulator, 7.25);
  EXPECT_TRUE(back.entry_in_progress);
  EXPECT_EQ(back.pending_operator, "*");
  EXPECT_EQ(Newest(back, 4), "12.5+ | 3= | 15.5_ | 7.25*");
  // Line ends without CR read the same.
  std::string lf = text;
  for (std::size_t p; (p = lf.find('\r')) != std::string::npos;) lf.erase(p, 1);
  EXPECT_EQ(CalculatorStateText(ParseCalculatorState(lf)), text);
}

TEST(CalculatorStateFile, DamagedFilesKeepWhatIsSound) {
  const std::string tape_line = "1.5,-1,1,\"+\"\r\n";
  std::string many = "5,2,0,0\r\n0,0,0,0\r\n\"\",\"\"\r\n";
  for (int k = 1; k <= 30; ++k) many += std::to_string(k) + ",0,0,\"+\"\r\n";
  struct Case {
    const char* name;
    std::string bytes;
    std::string expected_head;  // the first three records as written back
  } cases[] = {
      {"empty", "", "1,23,0,0\r\n-1,0,0,0\r\n\"\",\"\"\r\n"},
      {"garbage", "\x01\xff\"garbage,,\"\"\n\n", "1,23,0,0\r\n-1,0,0,0\r\n\"\",\"\"\r\n"},
      {"missing fields", "30,20\r\n0\r\n", "30,20,0,0\r\n0,0,0,0\r\n\"\",\"\"\r\n"},
      {"left column off the screen", "70,1,1e999,nan\r\n", "1,23,0,0\r\n-1,0,0,0\r\n\"\",\"\"\r\n"},
      {"flags and decimals out of range", "2,22,1.5,3\r\n7,1,-1,99\r\n\"X\",\"++\"\r\n",
       "2,22,1.5,3\r\n-1,0,-1,0\r\n\"\",\"\"\r\n"},
      {"decimals without a point", "1,23,1.5,0\r\n0,-1,0,3\r\n\"+\",\"-\"\r\n",
       "1,23,1.5,0\r\n0,-1,0,0\r\n\"+\",\"-\"\r\n"},
      {"numbers in quotes, texts without", "\"4\",22,0,0\r\n0,0,0,0\r\n+,-\r\n",
       "1,22,0,0\r\n0,0,0,0\r\n\"\",\"\"\r\n"},
      {"leading plus and blanks", " +3 , 21 , -2.5 ,+1e3\r\n",
       "3,21,-2.5,1000\r\n-1,0,0,0\r\n\"\",\"\"\r\n"},
  };
  for (const auto& c : cases) {
    std::string text = CalculatorStateText(ParseCalculatorState(c.bytes));
    EXPECT_EQ(text.substr(0, c.expected_head.size()), c.expected_head) << c.name;
  }

  CalculatorState s = ParseCalculatorState(many);
  EXPECT_EQ(s.left_column, 5);
  EXPECT_EQ(s.tape[0].value, 1);
  EXPECT_EQ(s.tape[kTapeLines - 1].value, 22) << "lines beyond the 22nd are ignored";

  CalculatorState short_tape =
      ParseCalculatorState("1,21,0,0\r\n0,0,0,0\r\n\"\",\"\"\r\n" + tape_line + "x,5,-1,\"?\"\r\n");
  EXPECT_EQ(short_tape.tape[0].value, 1.5);
  EXPECT_TRUE(short_tape.tape[0].decimal_point);
  EXPECT_EQ(short_tape.tape[0].op, '+');
  EXPECT_EQ(short_tape.tape[1].value, 0);
  EXPECT_EQ(short_tape.tape[1].op, ' ');
  EXPECT_EQ(short_tape.tape[2].value, 0);
}

// Whatever the bytes, the state read is one the calculator can draw and
// compute with.
TEST(CalculatorStateFile, AnyBytesGiveADrawableState) {
  std::mt19937 rng(3);
  const std::string alphabet = "0123456789,.-+eE\"\r\n \x01\xffnaifCR=%";
  std::string sound = CalculatorStateText(ParseCalculatorState("9,5,12.5,7\r\n0,-1,-1,1\r\n"));
  for (int n = 0; n < 2000; ++n) {
    std::string bytes = n % 2 == 0 ? sound : "";
    std::uniform_int_distribution<int> len(0, 300), pick(0, static_cast<int>(alphabet.size()) - 1);
    const int extra = len(rng);
    for (int i = 0; i < extra; ++i) {
      char c = alphabet[static_cast<std::size_t>(pick(rng))];
      if (!bytes.empty() && i % 3 == 0) {
        bytes[static_cast<std::size_t>(rng() % bytes.size())] = c;
      } else {
        bytes += c;
      }
    }
    const CalculatorState s = ParseCalculatorState(bytes);
    ASSERT_GE(s.left_column, 1);
    ASSERT_LE(s.left_column, 55);
    ASSERT_GE(s.first_tape_row, kTopTapeRow);
    ASSERT_LE(s.first_tape_row, kEmptyTapeRow);
    ASSERT_TRUE(std::isfinite(s.entry) && std::isfinite(s.accumulator));
    ASSERT_GE(s.decimals, 0);
    ASSERT_LE(s.decimals, kMaxCalculatorDecimals);
    for (const TapeLine& line : s.tape) {
      ASSERT_TRUE(std::isfinite(line.value));
      ASSERT_LE(line.decimals, kMaxCalculatorDecimals);
      ASSERT_NE(std::string_view(" +-*/%RC=").find(line.op), std::string_view::npos);
    }
  }
}

}  // namespace
}  // namespace kel
