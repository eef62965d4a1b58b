// The hot-key pop-ups of every key wait: Alt+X the calculator, Alt+C the
// calendar. The key reader only knows them through its registration points
// (keyboard.h), so that its own tests can run without them; a program
// registers them once at start-up.
#ifndef KEL_SCREEN_POPUPS_H_
#define KEL_SCREEN_POPUPS_H_

namespace kel {

// Registers CalculatorPopup (calculator.h) for Alt+X and CalendarPopup
// (calendar.h) for Alt+C with the key reader.
void RegisterStandardPopups();

}  // namespace kel

#endif  // KEL_SCREEN_POPUPS_H_
