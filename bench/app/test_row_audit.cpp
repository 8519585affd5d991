// The audit decides what the scanning benchmark calls lost or merged; these
// cases hold it to that on rows made up by hand.
#include "bench/app/RowAudit.h"

#include <gtest/gtest.h>

namespace scan_bench {
namespace {

using std::chrono::milliseconds;

const Clock::time_point kStart{};

// A sheet whose every column holds `mark`, padded as the writer pads rows.
std::vector<std::string> SheetOf(const std::string& mark) { return std::vector<std::string>(kSheetColumns, mark); }

QStringList ValuesOf(const std::vector<std::string>& sheet) {
  QStringList values;
  for (const std::string& v : sheet) values << QString::fromStdString(v);
  return values;
}

class AuditTest : public ::testing::Test {
 protected:
  // Sheet i delivered at 700 ms * i, holding the digit i + 1 in every column.
  void Deliver(int count) {
    for (int i = 0; i < count; ++i) delivered.push_back({SheetOf(std::to_string(i + 1)), kStart + milliseconds(700 * i)});
  }
  // A row holding the given delivered sheets, in that order, completed at `ms`.
  void Write(std::initializer_list<int> sheets, std::optional<int> ms) {
    WrittenRow row;
    row.row = static_cast<int>(rows.size()) + 1;
    for (int s : sheets) row.values += ValuesOf(delivered[static_cast<size_t>(s)].expected);
    if (ms) row.completedAt = kStart + milliseconds(*ms);
    rows.push_back(row);
  }

  std::vector<DeliveredSheet> delivered;
  std::vector<WrittenRow> rows;
};

TEST_F(AuditTest, EverySheetInItsOwnRowIsMatchedWithItsLatency) {
  Deliver(3);
  Write({0}, 510);
  Write({1}, 1205);
  Write({2}, 1930);
  const AuditResult r = AuditRows(delivered, rows);
  EXPECT_EQ(r.sheetsMatched, 3);
  EXPECT_EQ(r.sheetsLost + r.sheetsMerged + r.rowsMerged + r.blocksUnmatched, 0);
  EXPECT_EQ(r.latencyMs, (std::vector<double>{510, 505, 530}));
  EXPECT_EQ(r.latencySheet, (std::vector<int>{0, 1, 2}));
}

TEST_F(AuditTest, SheetsThatPiledUpInOneRowAreMerged) {
  Deliver(4);
  Write({0}, 500);
  Write({1, 2}, 2000);  // 132 values: the writer merged two records
  Write({3}, 2600);
  const AuditResult r = AuditRows(delivered, rows);
  EXPECT_EQ(r.rowsWritten, 3);
  EXPECT_EQ(r.sheetsMatched, 4);
  EXPECT_EQ(r.sheetsMerged, 1);
  EXPECT_EQ(r.rowsMerged, 1);
  EXPECT_EQ(r.sheetsLost, 0);
  // Both merged sheets waited for the same row.
  EXPECT_EQ(r.latencyMs[1], 1300);
  EXPECT_EQ(r.latencyMs[2], 600);
  ASSERT_EQ(r.findings.size(), 1u) << "only the merged row is a finding";
  EXPECT_EQ(r.findings[0].row, 2);
  EXPECT_EQ(r.findings[0].values, 2 * kSheetColumns);
  EXPECT_EQ(r.findings[0].sheets, (std::vector<int>{1, 2}));
}

TEST_F(AuditTest, SkippedAndTrailingSheetsAreLost) {
  Deliver(5);
  Write({0}, 500);
  Write({2}, 1900);  // sheet 1 never got a row
  Write({3}, 2600);  // sheet 4 neither
  const AuditResult r = AuditRows(delivered, rows);
  EXPECT_EQ(r.sheetsMatched, 3);
  EXPECT_EQ(r.sheetsLost, 2);
  EXPECT_EQ(r.latencySheet, (std::vector<int>{0, 2, 3}));
}

TEST_F(AuditTest, ARowOfWrongValuesMatchesNothingAndItsSheetIsLost) {
  Deliver(3);
  Write({0}, 500);
  WrittenRow mangled{2, ValuesOf(SheetOf(" ")), kStart + milliseconds(1200)};
  mangled.values[0] = QStringLiteral("2");  // right lead value, wrong rest
  rows.push_back(mangled);
  Write({2}, 1900);
  const AuditResult r = AuditRows(delivered, rows);
  EXPECT_EQ(r.blocksUnmatched, 1);
  EXPECT_EQ(r.sheetsMatched, 2);
  EXPECT_EQ(r.sheetsLost, 1);
  ASSERT_EQ(r.findings.size(), 1u);
  EXPECT_EQ(r.findings[0].row, 2);
  EXPECT_TRUE(r.findings[0].sheets.empty());
  EXPECT_EQ(r.findings[0].unmatchedBlocks, 1);
  EXPECT_TRUE(r.findings[0].firstValues.startsWith("2| | "));
}

TEST_F(AuditTest, ASheetOutOfOrderOrTooFarAheadIsNotTakenForAMatch) {
  Deliver(4);
  Write({1}, 1200);
  Write({0}, 1300);  // behind the one already matched: order counts
  const AuditResult r = AuditRows(delivered, rows, 64);
  EXPECT_EQ(r.sheetsMatched, 1);
  EXPECT_EQ(r.blocksUnmatched, 1);
  EXPECT_EQ(r.sheetsLost, 3);

  rows.clear();
  Write({3}, 2600);
  EXPECT_EQ(AuditRows(delivered, rows, 2).blocksUnmatched, 1) << "three sheets ahead, looking two ahead";
  EXPECT_EQ(AuditRows(delivered, rows, 3).sheetsMatched, 1);
}

TEST_F(AuditTest, ASheetInAnotherRowThanItsPlaceIsMisplaced) {
  Deliver(3);
  Write({0}, 500);
  rows.push_back({});  // row 2 left empty: a gap in the workbook
  rows.back().row = 2;
  rows.back().values = ValuesOf(SheetOf(""));
  Write({1}, 1200);  // row 3
  Write({2}, 1900);  // row 4
  const AuditResult r = AuditRows(delivered, rows, 64, 1);
  EXPECT_EQ(r.sheetsMatched, 3);
  EXPECT_EQ(r.sheetsMisplaced, 2) << "sheets 2 and 3 belong in rows 2 and 3";
  EXPECT_EQ(AuditRows(delivered, rows, 64, 0).sheetsMisplaced, 0) << "not checked without a first row";
  rows.erase(rows.begin() + 1);
  for (size_t i = 0; i < rows.size(); ++i) rows[i].row = static_cast<int>(i) + 10;
  EXPECT_EQ(AuditRows(delivered, rows, 64, 10).sheetsMisplaced, 0);
}

TEST_F(AuditTest, ARowWithoutACompletionTimeCountsButHasNoLatency) {
  Deliver(2);
  Write({0}, std::nullopt);
  Write({1}, 1200);
  const AuditResult r = AuditRows(delivered, rows);
  EXPECT_EQ(r.sheetsMatched, 2);
  EXPECT_EQ(r.latencySheet, (std::vector<int>{1}));
}

TEST(SheetBlocksTest, CutsEvery66Values) {
  QStringList values;
  for (int i = 0; i < 136; ++i) values << QString::number(i);
  const std::vector<QStringList> blocks = SheetBlocks(values);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[1].front(), "66");
  EXPECT_EQ(blocks[2], QStringList({"132", "133", "134", "135"}));
  EXPECT_TRUE(SheetBlocks({}).empty());
}

TEST(SummariseTest, NearestRankPercentiles) {
  std::vector<double> samples;
  for (int i = 100; i >= 1; --i) samples.push_back(i);
  const Summary s = Summarise(samples);
  EXPECT_EQ(s.count, 100);
  EXPECT_EQ(s.median, 50);
  EXPECT_EQ(s.p99, 99);
  EXPECT_EQ(s.max, 100);
  const Summary one = Summarise({7});
  EXPECT_EQ(one.median, 7);
  EXPECT_EQ(one.p99, 7);
  EXPECT_EQ(Summarise({}).count, 0);
}

}  // namespace
}  // namespace scan_bench
