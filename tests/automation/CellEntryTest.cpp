// Which texts put into a cell become numbers.

#include "automation/CellEntry.h"

#include <QString>

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(CellEntry, PlainDecimalNumbersBecomeNumbers) {
  const std::pair<const char*, double> numbers[] = {
      {"2", 2},       {"007", 7},     {"-3", -3},      {"+4", 4},    {"1e3", 1000}, {"1E-2", 0.01},
      {" 5 ", 5},     {"5.", 5},      {".5", 0.5},     {"-.25", -0.25}, {"2.5e+1", 25}, {"   12   ", 12},
      {"0", 0},       {"-0", 0},      {"123456789012345678", 123456789012345678.0},
  };
  for (const auto& [text, value] : numbers) {
    const std::optional<double> number = NumberFromEntry(QString::fromLatin1(text));
    ASSERT_TRUE(number.has_value()) << text;
    EXPECT_EQ(*number, value) << text;
  }
  EXPECT_FALSE(std::signbit(*NumberFromEntry(QStringLiteral("-0"))));
}

TEST(CellEntry, EverythingElseStaysText) {
  const char* const texts[] = {
      "",    " ",     "  ",   "1,5", "1-2",  "1 2", "5%",  "$5",   "0x10", "inf", "nan", "e3",  "1e",
      "1e+", ".",     "-",    "+",   "--1",  "1..2", "1.2.3", "A",  "AB",  "1A",  "\t5", "5\n", "١٢",
      "1e999", "-1e999",
  };
  for (const char* text : texts) EXPECT_FALSE(NumberFromEntry(QString::fromUtf8(text)).has_value()) << text;
}

}  // namespace
