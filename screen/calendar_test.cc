#include "screen/calendar.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "screen/calculator.h"
#include "screen/field_editor.h"
#include "screen/keyboard.h"
#include "screen/screen_test_support.h"
#include "util/dates.h"
#include "util/installation_settings.h"
#include "util/number_picture.h"

namespace kel {
namespace {

using keys::kDown;
using keys::kEnd;
using keys::kEnter;
using keys::kEsc;
using keys::kHome;
using keys::kLeft;
using keys::kPgDn;
using keys::kPgUp;
using keys::kRight;
using keys::kUp;

std::string Show(const CalendarDate& d) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
  return text;
}

TEST(CalendarKeys, MovesAcrossMonthsQuartersAndYears) {
  struct Case {
    CalendarDate from;
    std::vector<std::int16_t> keys;
    const char* to;
  } cases[] = {
      {{2024, 1, 31}, {kRight}, "2024-02-01"},
      {{2024, 1, 1}, {kLeft}, "2023-12-31"},
      {{2024, 12, 31}, {kRight}, "2025-01-01"},
      {{2024, 3, 3}, {kUp}, "2024-02-25"},
      {{2023, 3, 3}, {kUp}, "2023-02-24"},
      {{2024, 2, 28}, {kDown}, "2024-03-06"},
      {{2100, 2, 28}, {kDown}, "2100-03-07"},
      {{2024, 12, 29}, {kDown}, "2025-01-05"},
      {{2024, 2, 28}, {kRight}, "2024-02-29"},  // leap days: 2000 and 2024, not 1900 or 2100
      {{2000, 2, 28}, {kRight}, "2000-02-29"},
      {{1900, 2, 28}, {kRight}, "1900-03-01"},
      {{2100, 2, 28}, {kRight}, "2100-03-01"},
      {{2024, 1, 31}, {kPgDn}, "2024-04-30"},
      {{2024, 10, 15}, {kPgDn}, "2025-01-15"},
      {{2024, 1, 15}, {kPgUp}, "2023-10-15"},
      {{2024, 5, 31}, {kPgUp}, "2024-02-29"},
      {{2100, 5, 31}, {kPgUp}, "2100-02-28"},
      {{2023, 11, 30}, {kPgDn}, "2024-02-29"},  // the new year's February
      {{2024, 11, 30}, {kPgDn}, "2025-02-28"},  // never 29 February in a common year
      {{2024, 8, 31}, {kHome}, "2024-01-31"},
      {{2024, 8, 31}, {kEnd}, "2024-12-31"},
      {{2024, 6, 15}, {kEnter, 'x', keys::kF1, keys::kAltX}, "2024-06-15"},
      {{1, 1, 1}, {kLeft}, "0001-01-01"},  // the years end at 1 and 9999
      {{9999, 12, 31}, {kRight}, "9999-12-31"},
      {{9999, 11, 1}, {kPgDn}, "9999-11-01"},
  };
  for (const auto& c : cases) {
    CalendarDate d = c.from;
    for (std::int16_t key : c.keys) (void)ApplyCalendarKey(&d, key);
    EXPECT_EQ(Show(d), c.to) << Show(c.from) << " key " << c.keys[0];
  }
  CalendarDate d{2024, 6, 15};
  EXPECT_EQ(ApplyCalendarKey(&d, 'f'), CalendarAction::kChoose);
  EXPECT_EQ(ApplyCalendarKey(&d, 'F'), CalendarAction::kChoose);
  EXPECT_EQ(ApplyCalendarKey(&d, 0x2100), CalendarAction::kChoose);
  EXPECT_EQ(ApplyCalendarKey(&d, kEsc), CalendarAction::kCancel);
  EXPECT_EQ(ApplyCalendarKey(&d, kEnter), CalendarAction::kNone);
  EXPECT_EQ(ApplyCalendarKey(&d, kPgDn), CalendarAction::kRedraw);
  EXPECT_EQ(ApplyCalendarKey(&d, kRight), CalendarAction::kMoved);
}

TEST(CalendarKeys, MonthLengthsAndTheStartingDay) {
  const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int m = 1; m <= 12; ++m) EXPECT_EQ(CalendarMonthLength(2023, m), lengths[m - 1]) << m;
  EXPECT_EQ(CalendarMonthLength(2000, 2), 29);
  EXPECT_EQ(CalendarMonthLength(1900, 2), 28);

  LocalTime today;
  today.year = 2026;
  today.month = 12;
  today.day = 9;
  struct Case {
    std::string session_date;
    const char* start;
  } cases[] = {
      {PackDigits("20240131"), "2024-01-31"},
      {"", "2026-12-09"},  // no working date configured: today
      {PackDigits("00000000"), "2026-12-09"},
      {PackDigits("20241301"), "2026-12-09"},  // no such month
      {PackDigits("20230231"), "2023-02-28"},  // the day kept within its month
      {PackDigits("20230200"), "2023-02-01"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(CalendarStartDate(c.session_date, today)), c.start)
        << ExpandDigitBytes(c.session_date);
  }
}

// ---------------------------------------------------------------------------
// The pop-up on the screen

std::string g_separator, g_order;
std::string FakeSetting(std::string_view section, std::string_view key) {
  if (section != "Usuari") return "";
  return key == "DatCaracter" ? g_separator : key == "DatOrdre" ? g_order : "";
}

const std::string kBar = "\xB3";

class CalendarTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    ResetDates();
    ResetNumberPictures();
    ResetFieldEditor();
    g_separator = g_order = "";
    SetInstallationSettingReader(&FakeSetting);
    Session().SessionDate = PackDigits("20240131");
    SetSessionLanguage("CAT");
    for (int r = 1; r <= 25; ++r) {
      PutText(static_cast<std::int16_t>(r), 1, std::string(80, static_cast<char>('A' + r)), 0x1E);
    }
    beneath_ = Screenful();
  }
  void TearDown() override {
    EXPECT_EQ(FieldEditor().ExitKeyDepth, 0) << "the exit-key table was left saved";
    SetInstallationSettingReader(nullptr);
    ResetDates();
    ScreenTest::TearDown();
  }

  // Runs the calendar; before each batch of keys after the first the
  // screen (and its attributes) is kept, as the operator saw it then.
  std::string Run(std::vector<std::vector<std::int16_t>> batches) {
    shots_.clear();
    attrs_.clear();
    std::size_t next = 1;
    for (std::int16_t k : batches[0]) con().QueueKey(k);
    con().SetExhaustedHandler([&](MemoryConsole& c) {
      if (next >= batches.size()) return false;
      shots_.push_back(Screenful());
      attrs_.push_back(Attrs());
      for (std::int16_t k : batches[next++]) c.QueueKey(k);
      return true;
    });
    std::string result = CalendarPopup();
    con().SetExhaustedHandler(nullptr);
    EXPECT_EQ(next, batches.size()) << "keys left over";
    return result;
  }
  // Columns 59..80 of a row of a snapshot.
  static std::string Box(const std::string& shot, int row) {
    return shot.substr(static_cast<std::size_t>(row - 1) * 81 + 58, 22);
  }
  // The attribute of a cell of a snapshot of Attrs().
  static int AttrAt(const std::string& attrs, int row, int col) {
    return static_cast<std::uint8_t>(attrs[static_cast<std::size_t>((row - 1) * 80 + col - 1)]);
  }
  static std::string Inside(const std::string& text) {
    return kBar + text + std::string(20 - text.size(), ' ') + kBar;
  }

  std::string beneath_;
  std::vector<std::string> shots_, attrs_;
};

TEST_F(CalendarTest, OpensOnTheSessionDateWithTheQuarterShown) {
  EXPECT_EQ(Run({{}, {kEsc}}), "");
  ASSERT_EQ(shots_.size(), 1u);
  const std::string& s = shots_[0];
  const std::string dash7(7, '\xC4');
  EXPECT_EQ(Box(s, 1), "\xDA" + dash7 + " 2024 " + dash7 + "\xBF");
  EXPECT_EQ(Box(s, 2), Inside("DL DT DC DJ DV DS DG"));
  EXPECT_EQ(Box(s, 3), Inside("GENER"));
  EXPECT_EQ(Box(s, 4), Inside(" 1  2  3  4  5  6  7"));  // 1 January 2024 is a Monday
  EXPECT_EQ(Box(s, 8), Inside("29 30 31"));
  EXPECT_EQ(Box(s, 9), Inside(""));
  EXPECT_EQ(Box(s, 10), Inside("FEBRER"));
  EXPECT_EQ(Box(s, 11), Inside("          1  2  3  4"));
  EXPECT_EQ(Box(s, 15), Inside("26 27 28 29"));
  EXPECT_EQ(Box(s, 17), Inside("MAR\x80"));
  EXPECT_EQ(Box(s, 18), Inside("             1  2  3"));
  EXPECT_EQ(Box(s, 23), Inside(""));
  EXPECT_EQ(Box(s, 24), "\xC0" + std::string(20, '\xC4') + "\xD9");
  EXPECT_EQ(s.substr(0, 58), beneath_.substr(0, 58));
  EXPECT_EQ(s.substr(24 * 81), beneath_.substr(24 * 81)) << "row 25 stays";
  // The marker on 31 January (a Wednesday): columns 66 and 67 in "u".
  EXPECT_EQ(AttrAt(attrs_[0], 8, 66), 0x70);
  EXPECT_EQ(AttrAt(attrs_[0], 8, 67), 0x70);
  EXPECT_EQ(AttrAt(attrs_[0], 8, 63), 0x07);
  EXPECT_EQ(Screenful(), beneath_);
  EXPECT_TRUE(CursorVisible());
}

TEST_F(CalendarTest, MovingRedrawsTheMonthsAndChoosingTypesTheDate) {
  EXPECT_EQ(Run({{}, {kRight}, {kLeft}, {kPgDn}, {kEnter}, {'f'}}), "30/4/2024 ");
  ASSERT_EQ(shots_.size(), 5u);
  EXPECT_EQ(AttrAt(attrs_[1], 11, 69), 0x70) << "1 February, a Thursday";
  EXPECT_EQ(AttrAt(attrs_[1], 8, 66), 0x07) << "31 January back in the normal colour";
  EXPECT_EQ(shots_[2], shots_[0]) << "back on 31 January";
  EXPECT_EQ(Box(shots_[3], 3), Inside("ABRIL"));
  EXPECT_EQ(Box(shots_[3], 10), Inside("MAIG"));
  EXPECT_EQ(Box(shots_[3], 17), Inside("JUNY"));
  EXPECT_EQ(Box(shots_[3], 8), Inside("29 30"));
  EXPECT_EQ(AttrAt(attrs_[3], 8, 63), 0x70) << "30 April, a Tuesday";
  EXPECT_EQ(shots_[4], shots_[3]) << "Enter does nothing";
  EXPECT_EQ(attrs_[4], attrs_[3]);
  EXPECT_EQ(Screenful(), beneath_);
}

TEST_F(CalendarTest, LeftFromTheFirstOfJanuaryShowsThePreviousYear) {
  Session().SessionDate = PackDigits("20240101");
  EXPECT_EQ(Run({{}, {kLeft}, {kEsc}}), "");
  EXPECT_EQ(Box(shots_[1], 1).substr(8, 6), " 2023 ");
  EXPECT_EQ(Box(shots_[1], 3), Inside("OCTUBRE"));
  EXPECT_EQ(Box(shots_[1], 17), Inside("DESEMBRE"));
  // 31 December 2023 is a Sunday: row 17 + 1 + (5 + 31 - 2) / 7 = 22.
  EXPECT_EQ(Box(shots_[1], 22), Inside("25 26 27 28 29 30 31"));
  EXPECT_EQ(AttrAt(attrs_[1], 22, 78), 0x70);
}

TEST_F(CalendarTest, HeadingAndNamesFollowTheSessionLanguage) {
  struct Case {
    const char* language;
    const char* heading;
    const char* january;
  } cases[] = {
      {"SPA", " L  M  X  J  V  S  D", "ENERO"},
      {"GLG", " L  M  X  J  V  S  D", "JANEIRO"},
      {"OCI", "DL DT DC DJ DD DS DG", "G\xD4R"},
      {"CAT", "DL DT DC DJ DV DS DG", "GENER"},
  };
  for (const auto& c : cases) {
    SetSessionLanguage(c.language);
    EXPECT_EQ(Run({{}, {kEsc}}), "");
    EXPECT_EQ(Box(shots_[0], 2), Inside(c.heading)) << c.language;
    EXPECT_EQ(Box(shots_[0], 3), Inside(c.january)) << c.language;
  }
}

// The month names were shown as the date texts give them, in small letters;
// they are capitalised in the ordinary mode, accents kept, in every language.
TEST_F(CalendarTest, MonthNamesAreInCapitalsWithTheirAccents) {
  struct Case {
    const char* language;
    const char* first_quarter[3];
    const char* third_quarter[3];
  } cases[] = {
      {"CAT", {"GENER", "FEBRER", "MAR\x80"}, {"JULIOL", "AGOST", "SETEMBRE"}},
      {"SPA", {"ENERO", "FEBRERO", "MARZO"}, {"JULIO", "AGOSTO", "SEPTIEMBRE"}},
      {"GLG", {"JANEIRO", "FEVEREIRO", "MAR\x80O"}, {"JULHO", "AGOSTO", "SETEMBRO"}},
      {"OCI", {"G\xD4R", "HEREU\xD4R", "MAR\x80"}, {"JUNHSEGA", "AGOST", "SETEME"}},
  };
  for (const auto& c : cases) {
    SetSessionLanguage(c.language);
    EXPECT_EQ(Run({{}, {kPgDn}, {kPgDn}, {kEsc}}), "");
    ASSERT_EQ(shots_.size(), 3u);
    for (int m = 0; m < 3; ++m) {
      EXPECT_EQ(Box(shots_[0], 3 + 7 * m), Inside(c.first_quarter[m])) << c.language << " " << m;
      EXPECT_EQ(Box(shots_[2], 3 + 7 * m), Inside(c.third_quarter[m])) << c.language << " " << m;
    }
  }
}

TEST_F(CalendarTest, TheDateFollowsTheInstallationsSeparatorAndOrder) {
  g_separator = "-";
  g_order = "AMD";
  Session().SessionDate = PackDigits("20241231");
  EXPECT_EQ(Run({{'F'}}), "2024-12-31");
  ResetDates();
  g_separator = ".";
  g_order = "DMA";
  EXPECT_EQ(Run({{keys::kHome, 0x2100}}), "31.1.2024 ");
}

TEST_F(CalendarTest, HotKeyOpensOneCalendarAndTypesTheDate) {
  RegisterCalendarPopup(&CalendarPopup);
  con().QueueKey(keys::kAltC, kLeftAltPressed);
  con().QueueKey(keys::kAltC, kLeftAltPressed);  // inside: no second calendar
  con().QueueKey(kRight);
  con().QueueText("f");
  EXPECT_EQ(GetKey(), keys::kAltC);
  EXPECT_FALSE(Keyboard().CalendarOpen);
  std::string typed;
  while (!Keyboard().PendingKeys.empty()) typed.push_back(static_cast<char>(GetKey()));
  EXPECT_EQ(typed, "1/2/2024  ");
  RegisterCalendarPopup(nullptr);
}

// Each pop-up reads its keys through the key reader, so each opens over
// the other; the inner one's result is typed into the outer one.
TEST_F(CalendarTest, TheCalculatorOpensOverTheCalendarAndTheOtherWayRound) {
  RegisterCalendarPopup(&CalendarPopup);
  RegisterCalculatorPopup(&CalculatorPopup);
  int depth_inside = 0;
  con().QueueKey(keys::kAltC, kLeftAltPressed);
  con().QueueKey(keys::kAltX, kLeftAltPressed);  // the calculator over the calendar
  con().SetExhaustedHandler([&](MemoryConsole& c) {
    if (depth_inside != 0) return false;
    depth_inside = Screen().WindowDepth;
    c.QueueText("2*3F");  // "300" goes to the calendar, which ignores digits
    c.QueueText("f");
    return true;
  });
  EXPECT_EQ(GetKey(), keys::kAltC);
  con().SetExhaustedHandler(nullptr);
  EXPECT_EQ(depth_inside, 2);
  std::string typed;
  while (!Keyboard().PendingKeys.empty()) typed.push_back(static_cast<char>(GetKey()));
  EXPECT_EQ(typed, "31/1/2024 ");

  // And the calendar over the calculator: its date is typed into it.
  con().QueueKey(keys::kAltX, kLeftAltPressed);
  con().QueueText("C");
  con().QueueText("C");
  con().QueueKey(keys::kAltC, kLeftAltPressed);
  con().QueueText("f");  // "31/1/2024 ": 31 / 1 / 2024, the blank ignored
  con().QueueText("=F");
  EXPECT_EQ(GetKey(), keys::kAltX);
  typed.clear();
  while (!Keyboard().PendingKeys.empty()) typed.push_back(static_cast<char>(GetKey()));
  EXPECT_EQ(typed, "1.5316205533596");  // 31 / 1 / 2024 = 0.0153162...: in hundredths
  EXPECT_FALSE(Keyboard().CalculatorOpen || Keyboard().CalendarOpen);
  RegisterCalendarPopup(nullptr);
  RegisterCalculatorPopup(nullptr);
}

}  // namespace
}  // namespace kel
