// The window stack file "WinPush.tmp" in the session's temporary directory:
// what each open window covered, so that closing it paints the screen back.
// Other programs of the family read and write the same file, so its layout
// is fixed byte for byte.
//
// File (offsets from 0; the family's own code counts positions from 1, so
// the top pointer is a 1-based position):
//
//   offset  length  content
//   0       4       top pointer: 32-bit little-endian signed, the 1-based
//                   position of the first byte after the last record;
//                   5 when the stack is empty
//   4       ...     records, oldest first
//
// Record (every number ASCII decimal, zero-padded on the left):
//
//   offset         length     content
//   0              2          cursor row when the window was opened
//   2              2          cursor column
//   4              2          previous WindowTop
//   6              2          previous WindowLeft
//   8              2          previous WindowBottom
//   10             2          previous WindowRight
//   12             2          saved rectangle: top row
//   14             2          saved rectangle: left column
//   16             2          saved rectangle: bottom row
//   18             2          saved rectangle: right column
//   20             2 x cells  the cells row by row from the top, each row
//                             left to right: character byte, attribute byte
//   20 + 2 x cells 5          the record's length (20 + 2 x cells + 5)
//
// A full 80 x 25 screen makes a record of 4025 bytes; pushed on an empty
// stack it moves the top pointer to 4030. The file is never shortened.
#ifndef KEL_SCREEN_WINDOW_STACK_FILE_H_
#define KEL_SCREEN_WINDOW_STACK_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kel {

inline constexpr char kWindowStackFile[] = "WinPush.tmp";
inline constexpr std::int32_t kEmptyStackPointer = 5;
inline constexpr int kWindowRecordHeader = 20;
inline constexpr int kWindowRecordTrailer = 5;

struct WindowRecord {
  std::int16_t cursor_row = 0;
  std::int16_t cursor_col = 0;
  std::int16_t prev_top = 0;
  std::int16_t prev_left = 0;
  std::int16_t prev_bottom = 0;
  std::int16_t prev_right = 0;
  std::int16_t top = 0;
  std::int16_t left = 0;
  std::int16_t bottom = 0;
  std::int16_t right = 0;
  std::string cells;  // 2 bytes per cell: character, attribute
};

// The record's bytes. false when a number does not fit its field (every
// coordinate 0..99, the length at most 99999) or `cells` does not hold
// exactly two bytes per cell of the rectangle.
[[nodiscard]] bool EncodeWindowRecord(const WindowRecord& record, std::string* bytes);

// Reads a whole record (`bytes` from its first byte to the end of its length
// field). false, leaving `*record` unspecified, unless every field is
// decimal digits, the length field equals the size of `bytes` and agrees
// with the rectangle, and the rectangle (top <= bottom, left <= right) lies
// inside a screen of `rows` x `cols`. A damaged or foreign file therefore
// never paints outside the screen.
[[nodiscard]] bool DecodeWindowRecord(std::string_view bytes, int rows, int cols,
                                      WindowRecord* record);

// The value of a record's 5-byte length field; -1 unless it is five decimal
// digits.
int ReadRecordLength(std::string_view five_digits);

}  // namespace kel

#endif  // KEL_SCREEN_WINDOW_STACK_FILE_H_
