#include "tools/SheetRecord.h"

#include <algorithm>
#include <cstdio>

namespace machine_sim {

namespace {

constexpr std::uint8_t kForbiddenData = 0x45;  // "E" would end the record early
constexpr std::uint8_t kSpareBit = 0x80;

}  // namespace

std::uint8_t MultipleModeByte(ColumnMarks marks, std::uint8_t freeBits) {
  const auto byte = static_cast<std::uint8_t>((marks & kAllBubbles) | (freeBits & 0xC0));
  // Only 0x40 | bubbles 4 and 6 hits "E"; another free bit keeps the marks intact.
  return byte == kForbiddenData ? static_cast<std::uint8_t>(byte | kSpareBit) : byte;
}

char SingleModeByte(ColumnMarks marks) {
  const std::string digits = MarkedDigits(marks);
  return digits.empty() ? kSingleModeBlank : digits.front();
}

ExpectedRow ExpectedRowOf(const Sheet& sheet, BubbleMode mode) {
  ExpectedRow row;
  row.reserve(std::max<std::size_t>(sheet.columns.size(), kRowWidth));
  for (ColumnMarks marks : sheet.columns) {
    std::string value = mode == BubbleMode::Multiple ? MarkedDigits(marks) : std::string(1, SingleModeByte(marks));
    const bool blank = value.empty() || value == "B";
    row.push_back(blank ? std::string(1, ' ') : std::move(value));
  }
  while (row.size() < static_cast<std::size_t>(kRowWidth)) row.emplace_back(" ");
  return row;
}

std::string FormatExpectedRow(const ExpectedRow& row) {
  std::string line;
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i > 0) line += '\t';
    line += row[i];
  }
  return line;
}

RecordEncoder::RecordEncoder(RecordStyle style, std::uint32_t seed) : style_(style), rng_(seed) {}

EncodedSheet RecordEncoder::Encode(const Sheet& sheet, BubbleMode mode) {
  EncodedSheet out;
  out.record.reserve(sheet.columns.size() + 16);
  out.record += kRecordLead;
  out.record += Header();
  out.record += kHeaderEnd;
  // The last column travels first.
  for (auto it = sheet.columns.rbegin(); it != sheet.columns.rend(); ++it) {
    const char byte = mode == BubbleMode::Multiple ? static_cast<char>(MultipleModeByte(*it, FreeBits()))
                                                   : SingleModeByte(*it);
    out.record += byte;
  }
  out.record += kRecordEnd;
  out.record += "\r\n";
  out.expectedRow = ExpectedRowOf(sheet, mode);
  return out;
}

std::string RecordEncoder::Header() {
  sequence_ = sequence_ % 9999 + 1;
  if (!style_.randomHeader) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04u", sequence_);
    return digits;
  }
  std::uniform_int_distribution<int> length(0, 8);
  std::uniform_int_distribution<int> value(0, 255);
  std::string header;
  for (int n = length(rng_); n > 0; --n) {
    const auto byte = static_cast<char>(value(rng_));
    if (byte != kRecordEnd && byte != kHeaderEnd) header += byte;
  }
  return header;
}

std::uint8_t RecordEncoder::FreeBits() {
  switch (style_.highBits) {
    case HighBits::Zero: return 0x00;
    case HighBits::Ascii: return 0x40;
    case HighBits::Random: break;
  }
  std::uniform_int_distribution<int> pick(0, 3);
  return static_cast<std::uint8_t>(pick(rng_) << 6);
}

}  // namespace machine_sim
