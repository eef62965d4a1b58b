// The calculator's state file "KELCALC.TMP", which every program of the
// family that opens the calculator reads and writes: the whole input is the
// file. The state read from it is written out and read again, then the
// input's first bytes are typed into it as keys.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "screen/calculator_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CalculatorState state = ParseCalculatorState(bytes);
  const std::string text = CalculatorStateText(state);
  Require(CalculatorStateText(ParseCalculatorState(text)) == text,
          "a written calculator state does not read back as itself");

  constexpr int kScreenCols = 80;
  for (std::size_t i = 0; i < size && i < 64; ++i) {
    // Bytes as characters, and every eighth one as an extended key.
    const std::int16_t key =
        i % 8 == 7 ? static_cast<std::int16_t>(data[i] << 8) : static_cast<std::int16_t>(data[i]);
    (void)ApplyCalculatorKey(&state, key, kScreenCols);
    Require(state.left_column >= 1 && state.left_column <= kScreenCols - kCalculatorWidth + 1,
            "the calculator box left the screen");
    (void)CalculatorResultText(state);
  }
  (void)CalculatorPicture(state.decimal_point, state.decimals);
  (void)CalculatorStateText(state);
  return 0;
}
