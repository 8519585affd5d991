// Sheets, their text form, and the records the machine makes of them.

#include "RecordDecoder.h"
#include "tools/SheetRecord.h"
#include "tools/SheetSource.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

using namespace machine_sim;

namespace {

Sheet Columns(std::vector<ColumnMarks> marks) { return Sheet{std::move(marks)}; }

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

TEST(SheetPattern, FieldsAreBubbleDigitsOrBlank) {
  const Sheet sheet = ParseSheetPattern(" 1, 61 ,,3456,-, 2 4");
  EXPECT_EQ(sheet, Columns({0x20, 0x21, 0x00, 0x0F, 0x00, 0x14}));
  EXPECT_EQ(FormatSheetPattern(sheet), "1,16,,3456,,24");
  EXPECT_EQ(ParseSheetPattern(FormatSheetPattern(sheet)), sheet);
  EXPECT_EQ(ParseSheetPattern(","), Columns({0, 0}));
  // A lone blank column must not come back as an empty, skipped line.
  EXPECT_EQ(FormatSheetPattern(Columns({0})), "-");
  EXPECT_EQ(ParseSheetPattern("-"), Columns({0}));
}

TEST(SheetPattern, RefusesWhatIsNotABubble) {
  for (const char* bad : {"", "   ", "7", "1,0", "1,a", "1-", "-1", "--"})
    EXPECT_THROW(ParseSheetPattern(bad), SheetFormatError) << bad;
}

TEST(SheetPattern, ListSkipsCommentsAndBlankLinesAndNamesTheBadLine) {
  const auto sheets = ParseSheetList("# class 7a\n1,2\n\n  \n3,,4\r\n# end\n");
  ASSERT_EQ(sheets.size(), 2u);
  EXPECT_EQ(sheets[1], Columns({0x08, 0x00, 0x04}));
  try {
    ParseSheetList("1\n# ok\n2,x\n");
    FAIL() << "no error";
  } catch (const SheetFormatError& e) {
    EXPECT_NE(std::string(e.what()).find("line 3"), std::string::npos) << e.what();
  }
}

TEST(SheetPattern, FileWithoutSheetsOrMissingIsAnError) {
  const std::string path = ::testing::TempDir() + "/sheets-empty.txt";
  std::ofstream(path) << "# nothing here\n";
  EXPECT_THROW(LoadSheetFile(path), SheetFormatError);
  EXPECT_THROW(LoadSheetFile(path + ".missing"), SheetFormatError);
  std::ofstream(path) << "1,2\n,3\n";
  EXPECT_EQ(LoadSheetFile(path).size(), 2u);
}

TEST(SheetSource, ListedSheetsComeInOrderAndStartOver) {
  SheetSource source = SheetSource::FromList({Columns({0x20}), Columns({0x10})});
  EXPECT_EQ(source.ListedCount(), 2u);
  EXPECT_EQ(source.Next(), Columns({0x20}));
  EXPECT_EQ(source.Next(), Columns({0x10}));
  EXPECT_EQ(source.Next(), Columns({0x20}));
  EXPECT_THROW(SheetSource::FromList({}), std::invalid_argument);
  EXPECT_THROW(SheetSource::Random(1, 0), std::invalid_argument);
}

TEST(SheetSource, RandomSheetsAreReproducibleAndVaried) {
  SheetSource a = SheetSource::Random(42);
  SheetSource b = SheetSource::Random(42);
  SheetSource c = SheetSource::Random(43);
  EXPECT_FALSE(a.ListedCount());
  std::set<ColumnMarks> seen;
  bool differs = false;
  for (int i = 0; i < 50; ++i) {
    const Sheet sa = a.Next();
    EXPECT_EQ(sa, b.Next());
    differs = differs || sa != c.Next();
    ASSERT_EQ(sa.columns.size(), 66u);
    for (ColumnMarks m : sa.columns) {
      EXPECT_EQ(m & ~kAllBubbles, 0);
      seen.insert(m);
    }
  }
  EXPECT_TRUE(differs);
  EXPECT_TRUE(seen.count(kNoMarks));  // blanks occur
  EXPECT_GT(seen.size(), 12u);        // and multiple marks
  EXPECT_EQ(SheetSource::Random(1, 5).Next().columns.size(), 5u);
}

TEST(SheetRecord, LastColumnTravelsFirstInBothModes) {
  RecordEncoder zero({HighBits::Zero, false});
  const Sheet sheet = ParseSheetPattern("1,,34,16");
  EXPECT_EQ(zero.Encode(sheet, BubbleMode::Multiple).record, "S0001~" + Bytes({0x21, 0x0C, 0x00, 0x20}) + "E\r\n");
  // Single mode sends the digit; a double mark gives its lowest digit.
  EXPECT_EQ(zero.Encode(sheet, BubbleMode::Single).record, "S0002~13B1E\r\n");
  RecordEncoder ascii({HighBits::Ascii, false});
  EXPECT_EQ(ascii.Encode(sheet, BubbleMode::Multiple).record, "S0001~" + Bytes({0x61, 0x4C, 0x40, 0x60}) + "E\r\n");
}

TEST(SheetRecord, SequenceNumberWrapsAfter9999) {
  RecordEncoder encoder({HighBits::Zero, false});
  const Sheet sheet = Columns({0x20});
  for (int i = 1; i < 9999; ++i) encoder.Encode(sheet, BubbleMode::Single);
  EXPECT_EQ(encoder.Encode(sheet, BubbleMode::Single).record.substr(0, 5), "S9999");
  EXPECT_EQ(encoder.Encode(sheet, BubbleMode::Single).record.substr(0, 5), "S0001");
}

TEST(SheetRecord, MultipleModeByteNeverHits0x45AndKeepsTheMarks) {
  for (int marks = 0; marks <= kAllBubbles; ++marks) {
    for (int free = 0; free < 4; ++free) {
      const std::uint8_t byte = MultipleModeByte(static_cast<ColumnMarks>(marks), static_cast<std::uint8_t>(free << 6));
      EXPECT_NE(byte, 0x45) << marks << "/" << free;
      EXPECT_EQ(byte & kAllBubbles, marks);
    }
  }
  EXPECT_EQ(MultipleModeByte(0x05, 0x40), 0xC5);  // bubbles 4 and 6 with bit 6
  EXPECT_EQ(SingleModeByte(kNoMarks), 'B');
}

// Every record, whatever the sheet, header and free bits: one "E" (the
// terminator), the first "~" right before the data, and the application's own
// reading gives back exactly the expected row.
TEST(SheetRecord, RoundTripThroughTheApplicationsReading) {
  for (const bool randomHeader : {false, true}) {
    for (const BubbleMode mode : {BubbleMode::Multiple, BubbleMode::Single}) {
      RecordEncoder encoder({HighBits::Random, randomHeader}, 7);
      SheetSource source = SheetSource::Random(11, 70);
      std::set<unsigned char> dataBytes;
      for (int i = 0; i < 400; ++i) {
        const Sheet sheet = source.Next();
        const EncodedSheet encoded = encoder.Encode(sheet, mode);
        const std::string& r = encoded.record;
        ASSERT_EQ(r.front(), 'S');
        ASSERT_EQ(r.substr(r.size() - 3), "E\r\n");
        ASSERT_EQ(r.find('E'), r.size() - 3) << "an early E cuts the record";
        const std::size_t dataStart = r.size() - 3 - sheet.columns.size();
        ASSERT_EQ(r.find('~'), dataStart - 1) << "a ~ in the header moves the data";
        for (std::size_t k = dataStart; k < r.size() - 3; ++k) dataBytes.insert(static_cast<unsigned char>(r[k]));

        const auto decoded = DecodeRecordAsApplication(r, mode == BubbleMode::Multiple);
        ASSERT_EQ(decoded.size(), sheet.columns.size());
        EXPECT_EQ(encoded.expectedRow, decoded);
        EXPECT_EQ(encoded.expectedRow, ExpectedRowOf(sheet, mode));
        if (mode == BubbleMode::Multiple)
          for (std::size_t c = 0; c < sheet.columns.size(); ++c) {
            const std::string digits = MarkedDigits(sheet.columns[c]);
            EXPECT_EQ(decoded[c], digits.empty() ? " " : digits);
          }
      }
      // All four free-bit combinations occur, so the reader's masking is exercised.
      if (mode == BubbleMode::Multiple) {
        std::set<int> freeBits;
        for (unsigned char b : dataBytes) freeBits.insert(b >> 6);
        EXPECT_EQ(freeBits.size(), 4u);
      }
    }
  }
}

TEST(SheetRecord, ExpectedRowIsPaddedTo66AndTabSeparated) {
  const ExpectedRow row = ExpectedRowOf(ParseSheetPattern("12,,6"), BubbleMode::Multiple);
  ASSERT_EQ(row.size(), 66u);
  EXPECT_EQ(row[0], "12");
  EXPECT_EQ(row[1], " ");
  EXPECT_EQ(row[2], "6");
  EXPECT_EQ(row[65], " ");
  const std::string line = FormatExpectedRow(row);
  EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 65);
  EXPECT_EQ(line.substr(0, 7), "12\t \t6\t");
  // Single mode: the blank "B" is written as a space too; long sheets keep all columns.
  Sheet wide;
  wide.columns.assign(70, 0x04);
  const ExpectedRow single = ExpectedRowOf(wide, BubbleMode::Single);
  EXPECT_EQ(single.size(), 70u);
  EXPECT_EQ(single[69], "4");
  EXPECT_EQ(ExpectedRowOf(Columns({0}), BubbleMode::Single)[0], " ");
}

}  // namespace
