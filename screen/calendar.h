// The calendar pop-up (Alt+C from any key wait): three months of a quarter
// at the right edge of the screen, a marker on the current day that the
// arrows, PgUp/PgDn and Home/End move, and the chosen day handed back as a
// numeric date in the installation's order and separator.
#ifndef KEL_SCREEN_CALENDAR_H_
#define KEL_SCREEN_CALENDAR_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/system.h"

namespace kel {

struct CalendarDate {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..length of the month
};

// Days of a month: 30 + ((m + m div 8) mod 2), February 28 or 29 (a year
// divisible by 4 and either not by 100 or by 400).
int CalendarMonthLength(int year, int month);

// The first month shown with `month`: the first of its quarter.
inline int CalendarFirstMonth(int month) { return (month - 1) / 3 * 3 + 1; }

enum class CalendarAction {
  kNone,    // nothing changed
  kMoved,   // the day changed (the months shown may have changed too)
  kRedraw,  // Home, End, PgUp, PgDn: the months are drawn again
  kChoose,  // "F", "f", Alt+F
  kCancel,  // Esc
};

// One key on `*date`:
//   Right/Left  one day on or back, Down/Up one week, across months and years
//   PgDn/PgUp   the same day three months on or back (next/previous
//               quarter), cut to the new month's last day in its own year
//   Home/End    the same day in January / December
// Other keys change nothing. A move that would leave the years 1..9999 is
// refused (kNone).
CalendarAction ApplyCalendarKey(CalendarDate* date, std::int16_t key);

// The day the calendar opens on: `SessionDate` (a packed date), or `today`
// when that is not a date (empty, month outside 1..12, year 0); the day is
// kept within its month.
CalendarDate CalendarStartDate(std::string_view session_date, const LocalTime& today);

// Runs the calendar and returns the chosen date as DateText style 0, parts
// "dma" ("5/4/2024  " with the default settings), or "" after Esc. Called by
// the key reader (register it with RegisterCalendarPopup).
//
// The window takes rows 1..24, columns 59..80, single frame, the year on the
// top frame line; the weekday heading follows `SessionLanguage`. Reads keys
// with GetKey, so Alt+X opens the calculator over it. Exit-key table and
// colour saved on entry and restored on leaving, with the screen beneath and
// the cursor's visibility.
// Reads: `SessionDate`, `SessionLanguage`, the date settings (DateText).
std::string CalendarPopup();

}  // namespace kel

#endif  // KEL_SCREEN_CALENDAR_H_
