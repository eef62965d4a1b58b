// The window stack file "WinPush.tmp", which the family's other programs
// write too. The first input byte chooses the screen size; the rest is a
// stack file found at start, or put in place by another program while this
// one has windows open, and also a lone record for the record decoder.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "screen/message_box.h"
#include "screen/screen_buffer.h"
#include "screen/window_stack_file.h"
#include "screen/windows.h"
#include "util/session_context.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  FuzzInput in(data, size);
  const std::uint8_t shape = in.Byte();
  const int rows = 25 + (shape & 7);
  const int cols = 80 + ((shape >> 3) & 7);
  const std::string_view file = in.Rest();

  // The decoder on its own: an accepted record reads back as its own bytes.
  WindowRecord record;
  if (DecodeWindowRecord(file, rows, cols, &record)) {
    std::string again;
    Require(EncodeWindowRecord(record, &again) && again == file,
            "an accepted window record does not encode to its bytes");
  }
  (void)ReadRecordLength(file.substr(0, 5));

  ResetSession();
  Session().TempDir = SessionDir();
  (void)UseMemoryConsole(rows, cols);
  WriteScratchFile(kWindowStackFile, file);
  // Windows opened over a stack file that was there before.
  WinPush(2, 2, 10, 40);
  WinPush(5, 5, 7, 60);
  WinPop();
  // Another program replaces the file while a window of this one is open.
  WriteScratchFile(kWindowStackFile, file);
  WinPush(static_cast<std::int16_t>(1 + (shape & 3)), 1, static_cast<std::int16_t>(rows),
          static_cast<std::int16_t>(cols));
  WinPop();
  WinPop();
  Require(Screen().WindowDepth == 0, "windows left open after as many pops as pushes");

  // The file is replaced under an open window: its pop restores whatever
  // the foreign record says the window below was, and drawing goes on there.
  WriteScratchFile(kWindowStackFile, "");
  WinPush(3, 3, 12, 50);
  WinPush(4, 4, 8, 30);
  WriteScratchFile(kWindowStackFile, file);
  WinPop();
  DrawFrame(2);
  WinLocate(1, 1);
  WriteText("Texte");
  std::string text = "FITXER BLOQUEJAT. ESPEREU UN MOMENT.";
  MessageBox(24, &text);
  WinPop();
  WinPop();
  WinPop();
  while (Screen().WindowDepth > 0) WinPop();
  return 0;
}
