#pragma once
// The record the machine sends for one sheet, and the row the application
// should make of it.
//
// A record is "S" + header + "~" + data + "E\r\n" with one data byte per column,
// the last column first: the byte just before "E" is column 1. The receiver
// ends a record at the first "E" and its header at the first "~", so no header
// or data byte may be 0x45 and no header byte 0x7E; the encoder guarantees both.

#include "tools/SheetPattern.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace machine_sim {

inline constexpr char kRecordLead = 'S';
inline constexpr char kHeaderEnd = '~';
inline constexpr char kRecordEnd = 'E';
inline constexpr char kSingleModeBlank = 'B';
// The application fills every row up to this column with single spaces.
inline constexpr int kRowWidth = 66;

// What goes into the two bits that multiple-bubble mode leaves free.
enum class HighBits {
  Zero,    // 0x00-0x3F
  Ascii,   // 0x40 set: printable bytes 0x40-0x7F
  Random,  // any of the four combinations, seeded
};

struct RecordStyle {
  HighBits highBits = HighBits::Random;
  // Random header bytes instead of the sheet's four-digit sequence number.
  bool randomHeader = false;
};

// One decoded column value per spreadsheet column, column 1 first.
using ExpectedRow = std::vector<std::string>;

struct EncodedSheet {
  std::string record;
  ExpectedRow expectedRow;
};

// The data byte of a column in multiple-bubble mode: the marks in bits 5..0 and
// the given free bits 6/7, except that 0x45 becomes 0xC5 (bit 7 set as well).
std::uint8_t MultipleModeByte(ColumnMarks marks, std::uint8_t freeBits);

// The data byte in single-bubble mode: the digit of the marked bubble, "B" for
// a blank column. A column with several marks gives its lowest digit, as a
// reader that takes the first mark would.
char SingleModeByte(ColumnMarks marks);

// The row the application should write: multiple mode gives the marked digits
// in rising order, single mode the answer character; a blank becomes " ". The
// row is padded with " " up to column 66, as the application pads it.
ExpectedRow ExpectedRowOf(const Sheet& sheet, BubbleMode mode);

// The values separated by tabs, without a line end.
std::string FormatExpectedRow(const ExpectedRow& row);

class RecordEncoder {
 public:
  explicit RecordEncoder(RecordStyle style = {}, std::uint32_t seed = 1);

  // Numbers the sheets 0001, 0002, ... (wrapping after 9999) in the header.
  EncodedSheet Encode(const Sheet& sheet, BubbleMode mode);

 private:
  std::string Header();
  std::uint8_t FreeBits();

  RecordStyle style_;
  std::mt19937 rng_;
  unsigned sequence_ = 0;
};

}  // namespace machine_sim
