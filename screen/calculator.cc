// The calculator pop-up: the box on the screen and its key loop. The
// arithmetic is calculator_state.cc.
//
// Screen rows of the box (columns left .. left + 25):
//   first - 1   top border "┌──┐" (only when the tape is not empty)
//   first..22   tape lines: "│" number(22) " " operator "│"
//   23          "├──┤" under a tape, "┌──┐" when it is empty
//   24          the entry: "│" number(22) "  │"
//   25          "└──┘"
// Rows above the tape show the screen beneath. Tape line 1 is kept but
// never shown: the tape reaches row 2 at the highest.
#include "screen/calculator.h"

#include "platform/system.h"
#include "screen/field_editor.h"
#include "screen/keyboard.h"
#include "screen/screen_buffer.h"
#include "screen/windows.h"
#include "util/number_picture.h"
#include "util/session_context.h"

namespace kel {
namespace {

constexpr char kVertical = '\xB3';
constexpr std::int16_t kLastRow = 25;
constexpr std::int16_t kTotalsRow = 23;
constexpr std::int16_t kEntryRow = 24;

std::string Border(char left, char right) {
  return left + std::string(kCalculatorWidth - 2, '\xC4') + right;
}

std::string Number(double value, bool decimal_point, int decimals) {
  return FormatNumberPicture(CalculatorPicture(decimal_point, decimals), value);
}

class CalculatorBox {
 public:
  explicit CalculatorBox(const CalculatorState* state) : state_(state) { Open(); }
  ~CalculatorBox() { WinPop(); }
  CalculatorBox(const CalculatorBox&) = delete;
  CalculatorBox& operator=(const CalculatorBox&) = delete;

  // The screen beneath back, then the box anew (at its current column).
  void Reopen() {
    WinPop();
    Open();
  }

  void DrawAll() {
    const CalculatorState& s = *state_;
    const bool has_tape = s.first_tape_row < kEmptyTapeRow;
    if (has_tape) Put(s.first_tape_row - 1, Border('\xDA', '\xBF'));
    for (int row = s.first_tape_row; row <= kTapeLines; ++row) {
      const TapeLine& line = s.tape[static_cast<std::size_t>(row - 1)];
      Put(row, kVertical + Number(line.value, line.decimal_point, line.decimals) + ' ' + line.op +
                   kVertical);
    }
    Put(kTotalsRow, has_tape ? Border('\xC3', '\xB4') : Border('\xDA', '\xBF'));
    DrawEntry();
    Put(kLastRow, Border('\xC0', '\xD9'));
  }

  void DrawEntry() {
    const CalculatorState& s = *state_;
    Put(kEntryRow, kVertical + Number(s.entry, s.decimal_point, s.decimals) + "  " + kVertical);
  }

 private:
  void Open() {
    WinPush(1, state_->left_column, kLastRow,
            static_cast<std::int16_t>(state_->left_column + kCalculatorWidth - 1));
    SetColour("n");  // the restored cells left their own attribute behind
  }
  void Put(int row, const std::string& text) {
    PutText(static_cast<std::int16_t>(row), state_->left_column, text, TextAttribute());
  }

  const CalculatorState* state_;
};

bool WriteWhole(const std::string& path, std::string_view bytes) {
  File file;
  if (OpenFile(path, FileAccess::kWriteTruncate, FileShare::kNotShared, &file) != FileResult::kOk) {
    return false;
  }
  bool ok = file.WriteAt(0, bytes.data(), bytes.size()) && file.Sync();
  file.Close();
  return ok;
}

std::string DirectoryOf(std::string_view path) {
  std::size_t end = path.size();
  while (end > 0 && path[end - 1] != '\\' && path[end - 1] != '/' && path[end - 1] != ':') --end;
  return std::string(path.substr(0, end));
}

}  // namespace

CalculatorState LoadCalculatorState(std::string_view path) {
  std::string bytes;
  if (!ReadWholeFile(path, &bytes)) return CalculatorState();
  return ParseCalculatorState(bytes);
}

bool SaveCalculatorState(std::string_view path, const CalculatorState& state) {
  // One temporary name per process: two stations sharing a temporary
  // directory never write into each other's file.
  const std::string temporary =
      std::string(path) + "." + std::to_string(CurrentEnv().ProcessId() % 100000);
  if (!WriteWhole(temporary, CalculatorStateText(state))) {
    DeleteFile(temporary);
    return false;
  }
  if (!RenameFile(temporary, path)) {
    DeleteFile(temporary);
    return false;
  }
  SyncDirectory(DirectoryOf(path));
  return true;
}

std::string CalculatorPopup() {
  ScopedExitKeys exit_keys("e", "");
  SetColour("+n");
  const bool cursor_was_visible = CursorVisible();
  SetCursorVisible(false);

  const std::string path = Session().TempDir + kCalculatorStateFile;
  {
    File touch;  // the file exists from the first use on
    if (OpenFile(path, FileAccess::kAppend, FileShare::kShared, &touch) == FileResult::kOk) {
      touch.Close();
    }
  }
  CalculatorState state = LoadCalculatorState(path);
  const int max_left = ScreenCols() - kCalculatorWidth + 1;
  if (state.left_column > max_left) state.left_column = 1;

  std::string result;
  {
    CalculatorBox box(&state);
    box.DrawAll();
    for (bool open = true; open;) {
      box.DrawEntry();
      const CalculatorOutcome out = ApplyCalculatorKey(&state, GetKey(), ScreenCols());
      if (out.refused) Beep();
      switch (out.action) {
        case CalculatorAction::kNone:
          break;
        case CalculatorAction::kRedraw:
          box.DrawAll();
          break;
        case CalculatorAction::kRedrawAll:
        case CalculatorAction::kMove:
          box.Reopen();
          box.DrawAll();
          break;
        case CalculatorAction::kFinish:
          result = CalculatorResultText(state);
          open = false;
          break;
        case CalculatorAction::kCancel:
          open = false;
          break;
      }
    }
  }
  // A state that cannot be written is lost; the calculator starts afresh
  // next time, which is all it can do.
  (void)SaveCalculatorState(path, state);
  SetColour("-");
  SetCursorVisible(cursor_was_visible);
  return result;
}

}  // namespace kel
