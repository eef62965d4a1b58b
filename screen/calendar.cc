// The calendar pop-up.
//
// Window rows (relative to the frame's top-left corner, 7 rows per month):
//   0             the frame, the year " #### " in its middle
//   1             the weekday heading, Monday first, 3 columns per day
//   2, 9, 16      the name of each of the three months, in capitals with
//                 its accents kept (C-cedilla, E-grave)
//   3..8 ...      its weeks; day d of month m at row first-row + 1 +
//                 (weekday of the 1st + d - 2) div 7, column 3 x weekday - 2
#include "screen/calendar.h"

#include <cstdio>

#include "screen/field_editor.h"
#include "screen/keyboard.h"
#include "screen/screen_buffer.h"
#include "screen/windows.h"
#include "util/dates.h"
#include "util/fixed_text.h"
#include "util/fold_case.h"
#include "util/session_context.h"

namespace kel {
namespace {

constexpr std::int16_t kTop = 1;
constexpr std::int16_t kLeft = 59;
constexpr std::int16_t kBottom = 24;
constexpr std::int16_t kRight = 80;
constexpr int kMonthsShown = 3;
constexpr int kRowsPerMonth = 7;
constexpr int kFirstYear = 1;
constexpr int kLastYear = 9999;

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

std::string PackedOf(int year, int month, int day) {
  return PackDigits(ZeroPad(year * 10000.0 + month * 100 + day, 8));
}

std::string TwoColumns(int day) {
  char text[8];
  std::snprintf(text, sizeof text, "%2d", day);
  return text;
}

const char* Heading(std::string_view language) {
  if (language == "SPA" || language == "GLG") return " L  M  X  J  V  S  D";
  if (language == "OCI") return "DL DT DC DJ DD DS DG";
  return "DL DT DC DJ DV DS DG";
}

void Write(int row, int col, const std::string& text) {
  WinLocate(static_cast<std::int16_t>(row), static_cast<std::int16_t>(col));
  WriteText(text);
}

// The weekdays of the shown year's days (1 Monday .. 7 Sunday), the months
// drawn, and where each day stands.
class CalendarPage {
 public:
  void Draw(const CalendarDate& d) {
    year_ = d.year;
    first_ = CalendarFirstMonth(d.month);
    for (int m = 1; m <= 12; ++m) {
      for (int day = 1; day <= CalendarMonthLength(year_, m); ++day) {
        weekday_[m][day] = WeekdayOf(PackedOf(year_, m, day));
      }
    }
    DrawFrame(1);
    char year[8];
    std::snprintf(year, sizeof year, " %4d ", year_);
    Write(0, (kRight - kLeft + 1 - 6) / 2, year);
    Write(1, 1, Heading(Session().SessionLanguage));
    for (int m = first_; m < first_ + kMonthsShown; ++m) {
      const int base = kRowsPerMonth * (m - first_) + 2;
      // The date text gives the name in small letters; the title shows it in
      // capitals, accents kept: the ordinary mode, since the field editor
      // folds accents only around its matching of a typed letter, never
      // across a key wait from which the calendar opens.
      Write(base, 1, FoldCase(DateText(PackedOf(year_, m, 1), 2, "m")));
      for (int day = 1; day <= CalendarMonthLength(year_, m); ++day) ShowDay(m, day);
    }
  }

  // True when `d` lies in the months drawn.
  bool Shows(const CalendarDate& d) const {
    return d.year == year_ && CalendarFirstMonth(d.month) == first_;
  }

  void ShowDay(int month, int day) {
    const int base = kRowsPerMonth * (month - first_) + 2;
    const int row = base + (weekday_[month][1] + day - 2) / 7 + 1;
    Write(row, 3 * weekday_[month][day] - 2, TwoColumns(day));
  }

 private:
  int year_ = 0;
  int first_ = 1;
  int weekday_[13][32] = {};
};

}  // namespace

int CalendarMonthLength(int year, int month) {
  if (month == 2) return 28 + (IsLeapYear(year) ? 1 : 0);
  return 30 + (month + month / 8) % 2;
}

CalendarAction ApplyCalendarKey(CalendarDate* date, std::int16_t key) {
  CalendarDate d = *date;
  CalendarAction action = CalendarAction::kMoved;
  int days = 0;
  int months = 0;
  switch (key) {
    case keys::kRight:
      days = 1;
      break;
    case keys::kLeft:
      days = -1;
      break;
    case keys::kDown:
      days = 7;
      break;
    case keys::kUp:
      days = -7;
      break;
    case keys::kPgDn:
      months = 3;
      break;
    case keys::kPgUp:
      months = -3;
      break;
    case keys::kHome:
      months = 1 - d.month;
      break;
    case keys::kEnd:
      months = 12 - d.month;
      break;
    case 'F':
    case 'f':
    case 0x2100:  // Alt+F
      return CalendarAction::kChoose;
    case keys::kEsc:
      return CalendarAction::kCancel;
    default:
      return CalendarAction::kNone;
  }
  if (days != 0) {
    d.day += days;
    if (d.day < 1) {
      if (--d.month < 1) {
        d.month = 12;
        --d.year;
      }
      d.day += CalendarMonthLength(d.year, d.month);
    } else if (d.day > CalendarMonthLength(d.year, d.month)) {
      d.day -= CalendarMonthLength(d.year, d.month);
      if (++d.month > 12) {
        d.month = 1;
        ++d.year;
      }
    }
  } else {
    action = CalendarAction::kRedraw;
    d.month += months;
    if (d.month > 12) {
      d.month -= 12;
      ++d.year;
    } else if (d.month < 1) {
      d.month += 12;
      --d.year;
    }
    // The new month's length in the new year: no 29 February in a common
    // year after a quarter move across the new year.
    const int length = CalendarMonthLength(d.year, d.month);
    if (d.day > length) d.day = length;
  }
  if (d.year < kFirstYear || d.year > kLastYear) return CalendarAction::kNone;
  *date = d;
  return action;
}

CalendarDate CalendarStartDate(std::string_view session_date, const LocalTime& today) {
  CalendarDate d{today.year, today.month, today.day};
  if (session_date.size() >= kPackedDateSize) {
    const std::string digits = ExpandDigitBytes(session_date.substr(0, kPackedDateSize));
    const int year = static_cast<int>(LeadingNumber(digits.substr(0, 4)));
    const int month = static_cast<int>(LeadingNumber(digits.substr(4, 2)));
    const int day = static_cast<int>(LeadingNumber(digits.substr(6, 2)));
    if (year >= kFirstYear && month >= 1 && month <= 12) d = CalendarDate{year, month, day};
  }
  if (d.year < kFirstYear || d.year > kLastYear || d.month < 1 || d.month > 12) {
    d = CalendarDate{2000, 1, 1};  // a clock that is not a date either
  }
  const int length = CalendarMonthLength(d.year, d.month);
  if (d.day < 1) d.day = 1;
  if (d.day > length) d.day = length;
  return d;
}

std::string CalendarPopup() {
  ScopedExitKeys exit_keys("ea", "4d00,4b00,5000,4800,5100,4900,4700,4f00,2100,1b");
  SetColour("+n");
  const bool cursor_was_visible = CursorVisible();
  SetCursorVisible(false);

  CalendarDate date = CalendarStartDate(Session().SessionDate, CurrentEnv().Now());
  std::string result;
  {
    ScopedWindow window(kTop, kLeft, kBottom, kRight);
    CalendarPage page;
    page.Draw(date);
    for (bool open = true; open;) {
      SetColour("+u");
      page.ShowDay(date.month, date.day);
      SetColour("-");
      const std::int16_t key = GetKey();
      page.ShowDay(date.month, date.day);
      switch (ApplyCalendarKey(&date, key)) {
        case CalendarAction::kNone:
          break;
        case CalendarAction::kMoved:
          if (!page.Shows(date)) page.Draw(date);
          break;
        case CalendarAction::kRedraw:
          page.Draw(date);
          break;
        case CalendarAction::kChoose:
          result = DateText(PackedOf(date.year, date.month, date.day), 0, "dma");
          open = false;
          break;
        case CalendarAction::kCancel:
          open = false;
          break;
      }
    }
  }
  SetCursorVisible(cursor_was_visible);
  SetColour("-");
  return result;
}

}  // namespace kel
