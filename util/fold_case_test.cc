#include "util/fold_case.h"

#include <map>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kel {
namespace {

// The expected tables, written from the character lists rather than as the
// 174-entry arrays of the implementation.
std::map<int, int> ExpectedUpper() {
  std::map<int, int> t;
  for (int c = 0; c < 256; ++c) t[c] = c;
  for (int c = 'a'; c <= 'z'; ++c) t[c] = c - 'a' + 'A';
  const int pairs[][2] = {{129, 154}, {130, 144}, {131, 182}, {132, 142}, {133, 183}, {134, 143},
                          {135, 128}, {136, 210}, {137, 211}, {138, 212}, {139, 216}, {140, 215},
                          {141, 222}, {145, 146}, {147, 226}, {148, 153}, {149, 227}, {150, 234},
                          {151, 235}, {160, 181}, {161, 214}, {162, 224}, {163, 233}, {164, 165},
                          {198, 199}, {208, 209}, {228, 229}, {236, 237}};
  for (const auto& p : pairs) t[p[0]] = p[1];
  return t;
}

std::map<int, int> ExpectedFold() {
  std::map<int, int> t;
  for (int c = 0; c < 256; ++c) t[c] = (c >= 64 && c <= 237) ? ' ' : c;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = c;
  for (int c = 'a'; c <= 'z'; ++c) t[c] = c - 'a' + 'A';
  const std::vector<std::pair<char, std::vector<int>>> letters = {
      {'A', {131, 132, 133, 134, 142, 143, 145, 146, 160, 166, 181, 182, 183, 198, 199}},
      {'C', {128, 135}},
      {'D', {208, 209}},
      {'E', {130, 136, 137, 138, 144, 210, 211, 212, 213}},
      {'I', {139, 140, 141, 161, 214, 215, 216, 222}},
      {'N', {164, 165}},
      {'O', {147, 148, 149, 153, 155, 157, 162, 167, 224, 226, 227, 228, 229}},
      {'S', {225}},
      {'T', {231, 232}},
      {'U', {129, 150, 151, 154, 163, 233, 234, 235}},
      {'Y', {152, 236, 237}}};
  for (const auto& [letter, codes] : letters) {
    for (int c : codes) t[c] = letter;
  }
  return t;
}

class FoldCaseTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFoldCase(); }
  void TearDown() override { ResetFoldCase(); }
};

TEST_F(FoldCaseTest, OrdinaryModeMatchesTheTableForAllBytes) {
  std::map<int, int> expected = ExpectedUpper();
  int changed = 0;
  for (int c = 0; c < 256; ++c) {
    std::string in(1, static_cast<char>(c));
    std::string out = FoldCase(in);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(static_cast<std::uint8_t>(out[0]), expected[c]) << "code " << c;
    EXPECT_EQ(FoldCaseByte(static_cast<std::uint8_t>(c)), expected[c]) << "code " << c;
    EXPECT_EQ(UpperCaseText(in), out) << "code " << c;
    if (expected[c] != c) ++changed;
  }
  EXPECT_EQ(changed, 54);
}

TEST_F(FoldCaseTest, FoldingModeMatchesTheTableForAllBytes) {
  std::map<int, int> expected = ExpectedFold();
  std::map<int, int> upper = ExpectedUpper();
  FoldCaseGlobals().FoldAccents = -1;
  for (int c = 0; c < 256; ++c) {
    std::string in(1, static_cast<char>(c));
    EXPECT_EQ(static_cast<std::uint8_t>(FoldCase(in)[0]), expected[c]) << "code " << c;
    // The ordinary table stays reachable whatever the switch holds.
    EXPECT_EQ(static_cast<std::uint8_t>(UpperCaseText(in)[0]), upper[c]) << "code " << c;
  }
}

TEST_F(FoldCaseTest, TextCases) {
  struct Case {
    std::string in;
    std::string ordinary;
    std::string folded;
  } cases[] = {
      {"\x87\x61", "\x80\x41", "CA"},                 // ça
      {"\xD4l\xFAlia", "\xD4L\xFALIA", "EL\xFALIA"},  // Èl·lia, middle dot above range
      {"\x98\x9B", "\x98\x9B", "YO"},                 // ÿø
      {"@[x]", "@[X]", "  X "},
      {"0123456789 .", "0123456789 .", "0123456789 ."},
      {"\xF8\xFD", "\xF8\xFD", "\xF8\xFD"},  // degree, superscript two
      {"", "", ""},
      {std::string("a\0b", 3), std::string("A\0B", 3), std::string("A\0B", 3)},
  };
  for (const auto& c : cases) {
    FoldCaseGlobals().FoldAccents = 0;
    EXPECT_EQ(FoldCase(c.in), c.ordinary) << c.in;
    FoldCaseGlobals().FoldAccents = -1;
    EXPECT_EQ(FoldCase(c.in), c.folded) << c.in;
  }
}

TEST_F(FoldCaseTest, OnlyMinusOneSelectsFolding) {
  for (std::int16_t v : {0, 1, 2, -2, 32767}) {
    FoldCaseGlobals().FoldAccents = v;
    EXPECT_EQ(FoldCase("\x87\x61@"), "\x80\x41@") << v;
  }
}

TEST_F(FoldCaseTest, ArgumentIsNotChangedAndGuardRestores) {
  std::string text = "\x87\x61";
  {
    ScopedFoldAccents folding;
    EXPECT_EQ(FoldCase(text), "CA");
  }
  EXPECT_EQ(text, "\x87\x61");
  EXPECT_EQ(FoldCaseGlobals().FoldAccents, 0);
}

}  // namespace
}  // namespace kel
