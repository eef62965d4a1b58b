#include "screen/popups.h"

#include "screen/calculator.h"
#include "screen/calendar.h"
#include "screen/keyboard.h"

namespace kel {

void RegisterStandardPopups() {
  RegisterCalculatorPopup(&CalculatorPopup);
  RegisterCalendarPopup(&CalendarPopup);
}

}  // namespace kel
