#include "util/fold_case.h"

#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"

namespace kel {
namespace {

// The expected tables for all 256 codes, written from the character lists
// rather than as the implementation's arrays.
std::vector<int> ExpectedUpper() {
  std::vector<int> t(256);
  for (int c = 0; c < 256; ++c) t[c] = c >= 'a' && c <= 'z' ? c - 32 : c;
  const int pairs[][2] = {{129, 154}, {130, 144}, {131, 182}, {132, 142}, {133, 183}, {134, 143},
                          {135, 128}, {136, 210}, {137, 211}, {138, 212}, {139, 216}, {140, 215},
                          {141, 222}, {145, 146}, {147, 226}, {148, 153}, {149, 227}, {150, 234},
                          {151, 235}, {160, 181}, {161, 214}, {162, 224}, {163, 233}, {164, 165},
                          {198, 199}, {208, 209}, {228, 229}, {236, 237}};
  for (const auto& p : pairs) t[p[0]] = p[1];
  return t;
}

std::vector<int> ExpectedFold() {
  std::vector<int> t(256);
  for (int c = 0; c < 256; ++c) t[c] = c >= 64 && c <= 237 ? ' ' : c;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = t[c + 32] = c;
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
  void TearDown() override { ResetFoldCase(); }
};

TEST_F(FoldCaseTest, BothModesMatchTheirTablesForAllBytes) {
  const std::vector<int> upper = ExpectedUpper();
  const std::vector<int> fold = ExpectedFold();
  for (int c = 0; c < 256; ++c) {
    const std::string in(1, static_cast<char>(c));
    FoldCaseGlobals().FoldAccents = 0;
    EXPECT_EQ(static_cast<std::uint8_t>(FoldCase(in)[0]), upper[c]) << "code " << c;
    FoldCaseGlobals().FoldAccents = -1;
    EXPECT_EQ(static_cast<std::uint8_t>(FoldCase(in)[0]), fold[c]) << "code " << c;
    EXPECT_EQ(FoldCaseByte(static_cast<std::uint8_t>(c)), fold[c]) << "code " << c;
    // The ordinary table stays reachable whatever the switch holds.
    EXPECT_EQ(static_cast<std::uint8_t>(UpperCaseText(in)[0]), upper[c]) << "code " << c;
  }
}

TEST_F(FoldCaseTest, Texts) {
  struct Case {
    std::string in, ordinary, folded;
  } cases[] = {
      {"\x87\x61", "\x80\x41", "CA"},                 // ça
      {"\xD4l\xFAlia", "\xD4L\xFALIA", "EL\xFALIA"},  // Èl·lia: the middle dot lies above the range
      {"\x98\x9B", "\x98\x9B", "YO"},                 // ÿø
      {"@[x]", "@[X]", "  X "},
      {"09 .\xF8\xFD", "09 .\xF8\xFD", "09 .\xF8\xFD"},  // degree sign, superscript two
      {"", "", ""},
      {std::string("a\0b", 3), std::string("A\0B", 3), std::string("A\0B", 3)},
  };
  for (const auto& c : cases) {
    for (std::int16_t mode : {0, 1, -2}) {  // only -1 selects folding
      FoldCaseGlobals().FoldAccents = mode;
      EXPECT_EQ(FoldCase(c.in), c.ordinary) << c.in << " mode " << mode;
    }
    ScopedFoldAccents folding;
    EXPECT_EQ(FoldCase(c.in), c.folded) << c.in;
  }
  EXPECT_EQ(FoldCaseGlobals().FoldAccents, 0);  // the guard put it back
}

}  // namespace
}  // namespace kel
