// What a terminal sends: the input is cut at every ESC byte and each piece
// decoded as an escape sequence, the mouse button carried from one piece to
// the next as the curses backend carries it; a piece that is no sequence is
// an Alt key (ESC and the key at once) followed by typed characters. The
// events then go through the keyboard reader as the program reads them, the
// calculator (Alt+X) and calendar (Alt+C) pop-ups included. Each byte is
// also taken as a function-key number and as a typed character.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/console.h"
#include "platform/console_memory.h"
#include "platform/terminal_keys.h"
#include "screen/keyboard.h"
#include "screen/popups.h"
#include "screen/screen_buffer.h"
#include "util/session_context.h"

namespace kel {
namespace {

// Key releases the reader may wait for (Alt+keypad) beyond the input.
constexpr int kMostReleases = 64;

std::vector<InputEvent> Decode(FuzzInput in) {
  std::vector<InputEvent> events;
  int last_button = 0;
  bool first = true;
  while (!in.empty()) {
    const std::string_view piece = in.Until('\x1b');
    InputEvent event;
    const SequenceResult result =
        first ? SequenceResult::kUnknown : DecodeEscapeSequence(piece, &event, &last_button);
    if (result == SequenceResult::kEvent) {
      if (event.kind == InputEvent::Kind::kMouse) {
        // A click is placed by its 1-based cell; the click code the screen
        // makes of it (column x 100 + row) must stay a positive position.
        Require(event.row >= 1 && event.row <= 25 && event.col >= 1 && event.col <= 80,
                "a mouse event outside the screen's cells");
      }
      events.push_back(event);
    } else if (result != SequenceResult::kIgnored) {
      std::string_view rest = piece;
      if (!first) {
        // ESC and a key at once: the key's Alt form, or Esc and the key.
        InputEvent plain;
        InputEvent alt;
        if (!rest.empty() && CharacterEvent(static_cast<unsigned char>(rest[0]), &plain) &&
            AltEvent(plain, &alt)) {
          events.push_back(alt);
          rest.remove_prefix(1);
        } else if (CharacterEvent(0x1B, &plain)) {
          events.push_back(plain);
        }
      }
      for (char c : rest) {
        if (CharacterEvent(static_cast<unsigned char>(c), &event)) events.push_back(event);
      }
    }
    // Every prefix, as the backend sees a sequence arrive byte by byte.
    for (std::size_t n = 0; n < piece.size() && n < 24; ++n) {
      InputEvent partial;
      int button = last_button;
      (void)DecodeEscapeSequence(piece.substr(0, n), &partial, &button);
    }
    first = false;
  }
  return events;
}

}  // namespace
}  // namespace kel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  FuzzInput in(data, size);
  const std::vector<InputEvent> events = Decode(in);

  // Alt+X and Alt+C open the calculator and the calendar, as in the program.
  static const bool registered = [] {
    RegisterStandardPopups();
    return true;
  }();
  (void)registered;
  ResetSession();
  Session().TempDir = SessionDir();
  MemoryConsole& con = UseMemoryConsole();
  ResetKeyboard();
  con.SetMouseInput(true);
  for (const InputEvent& e : events) con.QueueEvent(e);
  int releases = 0;
  con.SetExhaustedHandler([&releases](MemoryConsole& c) {
    // A wait beyond the input: the operator lets go of every key (an
    // Alt+keypad entry ends) and presses Esc (a pop-up closes).
    Require(++releases <= kMostReleases, "the keyboard waits without end");
    c.QueueEvent(InputEvent());
    c.QueueKey(keys::kEsc);
    return true;
  });
  for (std::size_t reads = 0; reads < events.size() + 8; ++reads) {
    std::int16_t key = 0, button = 0, row = 0, col = 0;
    ReadKey(&key, &button, &row, &col);
    if (button != 0) {
      Require(row >= 1 && col >= 1, "a click outside the screen's cells");
    }
    if (key == 0 && button == 0 && con.QueuedEvents() == 0 && Keyboard().PendingKeys.empty()) {
      break;
    }
  }

  for (std::size_t i = 0; i < size; ++i) {
    InputEvent event;
    (void)FunctionKeyEvent(data[i], &event);
    (void)AltScanCode(data[i]);
    char32_t code_point = data[i];
    if (i + 1 < size) code_point = code_point << 8 | data[i + 1];
    (void)CharacterEvent(code_point, &event);
  }
  (void)XtermModifierState(static_cast<int>(size % 20));
  return 0;
}
