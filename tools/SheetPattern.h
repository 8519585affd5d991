#pragma once
// Answer sheets as the simulated machine sees them: the marked bubbles of each
// column, and the text form in which people write sheets down for it.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace machine_sim {

// How the application has asked the machine to read marks: "m" or "g".
enum class BubbleMode { Multiple, Single };

// The marks of one column in the machine's own bit layout: bubble 1 is 0x20,
// bubble 2 is 0x10 ... bubble 6 is 0x01. Bits 6 and 7 are never set here.
using ColumnMarks = std::uint8_t;
inline constexpr int kBubbleCount = 6;
inline constexpr ColumnMarks kNoMarks = 0x00;
inline constexpr ColumnMarks kAllBubbles = 0x3F;

// The bit of bubble 1..6.
ColumnMarks BubbleBit(int bubble);

// The digits of the marked bubbles in rising order; "" for an unmarked column.
std::string MarkedDigits(ColumnMarks marks);

// One answer sheet, column 1 first.
struct Sheet {
  std::vector<ColumnMarks> columns;
  bool operator==(const Sheet&) const = default;
};

class SheetFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "1,,34,-,6": one field per column, separated by commas. A field holds the
// digits of its marked bubbles (1-6, in any order); an empty field or "-" is a
// blank column. Blanks and tabs are ignored.
Sheet ParseSheetPattern(std::string_view pattern);
std::string FormatSheetPattern(const Sheet& sheet);

// One sheet per line; empty lines and lines starting with "#" are skipped.
// Errors name the line number.
std::vector<Sheet> ParseSheetList(std::string_view text);
std::vector<Sheet> LoadSheetFile(const std::string& path);

}  // namespace machine_sim
