#include "screen/calculator.h"

#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "screen/field_editor.h"
#include "screen/keyboard.h"
#include "screen/screen_test_support.h"
#include "screen/windows.h"
#include "util/number_picture.h"

namespace kel {
namespace {

const std::string kTop = "\xDA" + std::string(24, '\xC4') + "\xBF";
const std::string kMiddle = "\xC3" + std::string(24, '\xC4') + "\xB4";
const std::string kBottom = "\xC0" + std::string(24, '\xC4') + "\xD9";
const std::string kBar = "\xB3";

class CalculatorTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    ResetNumberPictures();
    ResetFieldEditor();
    // Something beneath the calculator, to see it restored.
    for (int r = 1; r <= 25; ++r) {
      PutText(static_cast<std::int16_t>(r), 1, std::string(80, static_cast<char>('a' + r % 26)),
              0x1E);
    }
    beneath_ = Screenful();
    beneath_attrs_ = Attrs();
  }
  void TearDown() override {
    EXPECT_EQ(FieldEditor().ExitKeyDepth, 0) << "the exit-key table was left saved";
    ScreenTest::TearDown();
  }

  // Runs the calculator on `batches` of keys; before each batch after the
  // first, the screen is kept in snapshots_ (what the operator saw then).
  std::string Run(std::vector<std::string> batches) {
    snapshots_.clear();
    std::size_t next = 1;
    con().QueueText(batches[0]);
    con().SetExhaustedHandler([&](MemoryConsole& c) {
      if (next >= batches.size()) return false;
      snapshots_.push_back(Screenful());
      c.QueueText(batches[next++]);
      return true;
    });
    std::string result = CalculatorPopup();
    con().SetExhaustedHandler(nullptr);
    EXPECT_EQ(next, batches.size()) << "keys left over";
    return result;
  }

  static std::string Line(const std::string& screen, int row, int left) {
    std::size_t start = static_cast<std::size_t>(row - 1) * 81;
    return screen.substr(start + static_cast<std::size_t>(left - 1), 26);
  }
  std::string StateFile() const { return dir_ + "/" + kCalculatorStateFile; }

  std::string beneath_, beneath_attrs_;
  std::vector<std::string> snapshots_;
};

TEST_F(CalculatorTest, AddingShowsTheTapeAndFinishTypesTheTotalInHundredths) {
  EXPECT_EQ(Run({"12.5+3=", "F"}), "1550");
  ASSERT_EQ(snapshots_.size(), 1u);
  const std::string& s = snapshots_[0];
  EXPECT_EQ(Line(s, 19, 1), kTop);
  EXPECT_EQ(Line(s, 20, 1), kBar + std::string(18, ' ') + "12'5 +" + kBar);
  EXPECT_EQ(Line(s, 21, 1), kBar + std::string(21, ' ') + "3 =" + kBar);
  EXPECT_EQ(Line(s, 22, 1), kBar + std::string(18, ' ') + "15'5  " + kBar);
  EXPECT_EQ(Line(s, 23, 1), kMiddle);
  EXPECT_EQ(Line(s, 24, 1), kBar + std::string(18, ' ') + "15'5  " + kBar);
  EXPECT_EQ(Line(s, 25, 1), kBottom);
  EXPECT_EQ(s.substr(18 * 81 - 81, 80), beneath_.substr(18 * 81 - 81, 80))
      << "rows above the tape show the screen beneath";
  EXPECT_EQ(s.substr(19 * 81 - 81 + 26, 54), beneath_.substr(19 * 81 - 81 + 26, 54));
  EXPECT_EQ(Screenful(), beneath_);
  EXPECT_EQ(Attrs(), beneath_attrs_);
  EXPECT_TRUE(CursorVisible()) << "the cursor is shown again";
}

TEST_F(CalculatorTest, TheStateSurvivesAndClearTwiceEmptiesTheTape) {
  EXPECT_EQ(Run({"12.5+3=\x1b"}), "");
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(StateFile(), &bytes));
  EXPECT_EQ(bytes.substr(0, 13), "1,20,15.5,15.") << "written afresh on leaving";
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{kCalculatorStateFile}) << "no temporary left behind";

  // Reopened: the same tape; then C clears, C again empties the tape.
  EXPECT_EQ(Run({"", "C", "C", "\x1b"}), "");
  ASSERT_EQ(snapshots_.size(), 3u);
  EXPECT_EQ(Line(snapshots_[0], 19, 1), kTop);
  EXPECT_EQ(Line(snapshots_[0], 22, 1), kBar + std::string(18, ' ') + "15'5  " + kBar);
  EXPECT_EQ(Line(snapshots_[1], 24, 1), kBar + std::string(21, ' ') + "0  " + kBar)
      << "the cleared entry";
  EXPECT_EQ(Line(snapshots_[1], 20, 1).substr(0, 1), kBar) << "the first C keeps the tape";
  EXPECT_EQ(Line(snapshots_[2], 23, 1), kTop);
  for (int row = 19; row <= 22; ++row) {
    EXPECT_EQ(Line(snapshots_[2], row, 1),
              beneath_.substr(static_cast<std::size_t>(row - 1) * 81, 26))
        << "the emptied tape gives the screen back, row " << row;
  }
  EXPECT_EQ(Screenful(), beneath_);
}

TEST_F(CalculatorTest, ArrowsSlideTheBox) {
  con().QueueText("7");
  con().QueueKey(keys::kLeft);
  std::vector<std::string> seen;
  con().SetExhaustedHandler([&](MemoryConsole& c) {
    seen.push_back(Screenful());
    if (seen.size() == 1) c.QueueKey(keys::kCtrlRight);
    if (seen.size() == 2) c.QueueKey(keys::kEsc);
    return seen.size() <= 2;
  });
  EXPECT_EQ(CalculatorPopup(), "");
  con().SetExhaustedHandler(nullptr);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(Line(seen[0], 25, 55), kBottom);
  EXPECT_EQ(Line(seen[0], 24, 55), kBar + std::string(21, ' ') + "7  " + kBar);
  EXPECT_EQ(seen[0].substr(24 * 81, 54), beneath_.substr(24 * 81, 54)) << "column 1 given back";
  EXPECT_EQ(Line(seen[1], 25, 1), kBottom) << "from column 55 right wraps to column 1";
  EXPECT_EQ(Screenful(), beneath_);
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(StateFile(), &bytes));
  EXPECT_EQ(bytes.substr(0, 2), "1,");
}

TEST_F(CalculatorTest, HotKeyOpensOneCalculatorAndTypesItsResult) {
  RegisterCalculatorPopup(&CalculatorPopup);
  con().QueueKey(keys::kAltX, kLeftAltPressed);
  con().QueueKey(keys::kAltX, kLeftAltPressed);  // inside: no second calculator
  con().QueueText("0.125f");
  EXPECT_EQ(GetKey(), keys::kAltX);
  EXPECT_EQ(Screen().WindowDepth, 0);
  std::string typed;
  while (!Keyboard().PendingKeys.empty()) typed.push_back(static_cast<char>(GetKey()));
  EXPECT_EQ(typed, "12.5");
  EXPECT_FALSE(Keyboard().CalculatorOpen);
  RegisterCalculatorPopup(nullptr);
}

TEST_F(CalculatorTest, DamagedStateFileStartsFromWhatIsSound) {
  const std::string damaged =
      "70,5,1e999,12\r\n\x01\x02garbage\r\n\"\",\"*\"\r\n" + std::string(3000, 'x') + "\r\n";
  File f;
  ASSERT_EQ(OpenFile(StateFile(), FileAccess::kWriteTruncate, FileShare::kShared, &f),
            FileResult::kOk);
  ASSERT_TRUE(f.Append(damaged));
  f.Close();
  // The column is off the screen: the box stands at column 1. The
  // accumulator (12) and the pending "*" were sound.
  EXPECT_EQ(Run({"", "2=", "F"}), "2400");
  EXPECT_EQ(Line(snapshots_[0], 25, 1), kBottom);
  EXPECT_EQ(Line(snapshots_[0], 23, 1), kMiddle) << "first tape row 5 is sound";
  EXPECT_EQ(Line(snapshots_[0], 4, 1), kTop);
}

TEST_F(CalculatorTest, DivisionByZeroBeepsAndShowsAFiniteTotal) {
  EXPECT_EQ(Run({"9/0=", "F"}), "900");
  EXPECT_EQ(con().beeps(), 1);
  EXPECT_EQ(Line(snapshots_[0], 24, 1), kBar + std::string(21, ' ') + "9  " + kBar);
}

// The file is replaced through a temporary file: when that cannot be
// written, the old state stays whole.
TEST_F(CalculatorTest, AFailedSaveLeavesTheOldStateWhole) {
  FakeEnv env;  // process id 0: the temporary is KELCALC.TMP.0
  ScopedEnv scoped(&env);
  CalculatorState state;
  state.accumulator = 42;
  ASSERT_TRUE(SaveCalculatorState(Session().TempDir + kCalculatorStateFile, state));
  std::string before;
  ASSERT_TRUE(ReadWholeFile(StateFile(), &before));
  ASSERT_TRUE(MakeDirectory(Session().TempDir + kCalculatorStateFile + ".0"));  // the temporary
  state.accumulator = 7;
  EXPECT_FALSE(SaveCalculatorState(Session().TempDir + kCalculatorStateFile, state));
  std::string after;
  ASSERT_TRUE(ReadWholeFile(StateFile(), &after));
  EXPECT_EQ(after, before);
  EXPECT_EQ(LoadCalculatorState(Session().TempDir + kCalculatorStateFile).accumulator, 42);
}

}  // namespace
}  // namespace kel
