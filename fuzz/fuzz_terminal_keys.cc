// What a terminal sends: the input is cut at every ESC byte and each piece
// decoded as an escape sequence, the mouse button carried from one piece to
// the next as the curses backend carries it. Each byte is also taken as a
// typed character, as a function-key number and as the key after an ESC
// (Alt).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/console.h"
#include "platform/terminal_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  FuzzInput in(data, size);
  int last_button = 0;
  while (!in.empty()) {
    const std::string_view piece = in.Until('\x1b');
    InputEvent event;
    const SequenceResult result = DecodeEscapeSequence(piece, &event, &last_button);
    if (result == SequenceResult::kEvent && event.kind == InputEvent::Kind::kMouse &&
        StrictChecks()) {
      // A click is placed by its 1-based cell; the click code the screen
      // makes of it (column x 100 + row) must stay a positive position.
      Require(event.row >= 1 && event.col >= 1, "a mouse event outside the screen's cells");
    }
    if (result == SequenceResult::kEvent && event.kind == InputEvent::Kind::kKey) {
      InputEvent alt;
      (void)AltEvent(event, &alt);
    }
    // Every prefix, as the backend sees a sequence arrive byte by byte.
    for (std::size_t n = 0; n < piece.size() && n < 24; ++n) {
      InputEvent partial;
      int button = last_button;
      (void)DecodeEscapeSequence(piece.substr(0, n), &partial, &button);
    }
  }
  for (std::size_t i = 0; i < size; ++i) {
    InputEvent event;
    (void)FunctionKeyEvent(data[i], &event);
    (void)AltScanCode(data[i]);
    char32_t code_point = data[i];
    if (i + 1 < size) code_point = code_point << 8 | data[i + 1];
    if (CharacterEvent(code_point, &event)) {
      InputEvent alt;
      (void)AltEvent(event, &alt);
    }
    (void)CharacterEvent(data[i], &event);
  }
  (void)XtermModifierState(size % 20);
  return 0;
}
