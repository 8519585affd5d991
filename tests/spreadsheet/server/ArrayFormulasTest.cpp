// Array formulas over long columns through the late-bound calls, where the
// server takes its quicker paths: a chain of element functions worked out
// once per distinct value, and arrays that several formulas of one
// recalculation share. Each result is checked against the same formula
// over blocks too short for those paths, or against a count made here from
// the values put.

#include "SpreadsheetTestSupport.h"
#include "automation/ComObj.h"
#include "spreadsheet/server/SpreadsheetServer.h"

#include <QStringList>

namespace {

using SheetTest::ScratchDir;

constexpr int kRows = 300;  // long enough that the server keeps a copy of the column
constexpr int kBlock = 10;  // short enough for the plain array paths

class ArrayFormulas : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterSpreadsheetServer();
    excel_ = CreateOleObject("Excel.Application");
    excel_.Get("Workbooks").Get("Add").Call("SaveAs", {dir_.Path(QStringLiteral("arrays.xls"))});
  }
  void TearDown() override {
    if (!excel_.IsEmpty()) {
      excel_.Get("ActiveWorkBook").Call("Close", {false});
      excel_.Call("Quit");
    }
  }
  OleVariant Cell(int row, int col) const { return excel_.Get("ActiveWorkBook").Get("Worksheets", {1}).Get("Cells", {row, col}); }
  OleVariant Result(const QString& formula, int row) const {
    const OleVariant cell = Cell(row, 5);
    cell.Put("Formula", formula);
    return cell.Get("Value");
  }
  // The formula with "%1" standing for the area, over the whole column and
  // as the sum of its blocks.
  std::pair<OleVariant, OleVariant> WholeAndBlocks(const QString& pattern, int row) const {
    QStringList blocks;
    for (int first = 1; first <= kRows; first += kBlock) {
      blocks << pattern.arg(QStringLiteral("$A$%1:$A$%2").arg(first).arg(first + kBlock - 1));
    }
    const OleVariant whole = Result(QLatin1Char('=') + pattern.arg(QStringLiteral("$A$1:$A$%1").arg(kRows)), row);
    const OleVariant summed = Result(QLatin1Char('=') + blocks.join(QLatin1Char('+')), row + 1);
    return {whole, summed};
  }

  void FillColumn() const {
    for (int row = 1; row <= kRows; ++row) {
      const QString entry = kEntries[(row * 7) % kEntries.size()];
      if (!entry.isEmpty()) Cell(row, 1).Put("Value", entry);
    }
  }

  // What a column of answers holds, and what trips text functions up: case,
  // numbers that are not whole, negative ones, booleans and empty cells.
  inline static const QStringList kEntries{"1", "24", "135", " ", "ab", "AB", "a2b", "2.5", "-3", "TRUE", "", "6", "24", "x"};

  ScratchDir dir_;
  OleVariant excel_;
};

TEST_F(ArrayFormulas, ElementChainsGiveWhatEachCellGivesAlone) {
  FillColumn();
  Cell(1, 2).Put("Value", "a");
  const QStringList patterns{
      "SUMPRODUCT(ISNUMBER(FIND(\"2\",%1))*1)",
      "SUMPRODUCT(LEN(%1)-LEN(SUBSTITUTE(%1,\"a\",\"\")))",
      "SUMPRODUCT((LEN(%1)>1)*1)",
      "SUMPRODUCT(ISNUMBER(SEARCH($B$1,%1))*1)",  // a single cell beside the area
      "SUMPRODUCT((UPPER(%1)=\"AB\")+0)",
      "SUMPRODUCT(ISNUMBER(FIND(\"a\",%1&\"\"))*1)",
  };
  int row = 1;
  for (const QString& pattern : patterns) {
    const auto [whole, blocks] = WholeAndBlocks(pattern, row);
    EXPECT_EQ(whole.kind(), OleVariant::Kind::Double) << pattern.toStdString() << ": " << whole.ToText().toStdString();
    EXPECT_EQ(whole.ToText(), blocks.ToText()) << pattern.toStdString();
    row += 2;
  }
  // Terms that are not whole are added cell by cell, in order, as the plain array path adds them.
  double tenths = 0;
  for (int r = 1; r <= kRows; ++r) {
    bool number = false;
    kEntries[(r * 7) % kEntries.size()].toDouble(&number);
    tenths += number ? 0.1 : 0.0;
  }
  const OleVariant summed = Result(QStringLiteral("=SUMPRODUCT(ISNUMBER($A$1:$A$%1)*0.1)").arg(kRows), row);
  EXPECT_EQ(summed.ToDouble(), tenths);
  // Errors in the column: the first in order is what the chain gives, as it is cell by cell.
  Cell(kRows / 2, 1).Put("Formula", "=1/0");
  Cell(kRows / 3, 1).Put("Formula", "=SQRT(-1)");
  const auto [whole, blocks] = WholeAndBlocks(patterns[1], row);
  EXPECT_EQ(whole.ToText(), blocks.ToText());
  EXPECT_EQ(whole.ToText(), QStringLiteral("#NUM!"));
}

TEST_F(ArrayFormulas, CountsOfDigitsFoundMatchTheEntries) {
  FillColumn();
  for (const QString digit : {"1", "2", "3", "5"}) {
    int expected = 0;
    for (int row = 1; row <= kRows; ++row) expected += kEntries[(row * 7) % kEntries.size()].contains(digit) ? 1 : 0;
    const OleVariant found = Result(QStringLiteral("=SUMPRODUCT(ISNUMBER(FIND(\"%1\",$A$1:$A$%2))*1)").arg(digit).arg(kRows), 1);
    EXPECT_EQ(found.ToDouble(), expected) << digit.toStdString();
  }
}

// Several formulas compare one column with different values in one
// recalculation; each must get its own comparison, and all of them must
// follow a change of the column, of the values, and of a formula inside it.
TEST_F(ArrayFormulas, ComparisonsSharedByFormulasFollowEveryChange) {
  std::vector<double> column(kRows);
  for (int row = 1; row <= kRows; ++row) {
    column[row - 1] = row % 5;
    Cell(row, 1).Put("Value", QString::number(column[row - 1]));
  }
  Cell(1, 2).Put("Value", "3");
  Cell(2, 2).Put("Value", "4");
  const QString area = QStringLiteral("$A$1:$A$%1").arg(kRows);
  const QStringList formulas{
      QStringLiteral("=SUMPRODUCT((%1=$B$1)*1)").arg(area), QStringLiteral("=SUMPRODUCT((%1=$B$2)*1)").arg(area),
      QStringLiteral("=SUMPRODUCT((%1=$B$1)*(%1>=2))").arg(area), QStringLiteral("=SUMPRODUCT((%1>=2)*%1)").arg(area),
      QStringLiteral("=SUMPRODUCT((%1<>\"\")*1)").arg(area)};
  for (int i = 0; i < formulas.size(); ++i) Cell(i + 1, 3).Put("Formula", formulas[i]);
  const auto check = [&](double b1, double b2, const char* when) {
    double equalB1 = 0, equalB2 = 0, equalB1AndLarge = 0, largeSum = 0, filled = 0;
    for (const double v : column) {
      equalB1 += v == b1 ? 1 : 0;
      equalB2 += v == b2 ? 1 : 0;
      equalB1AndLarge += v == b1 && v >= 2 ? 1 : 0;
      largeSum += v >= 2 ? v : 0;
      filled += 1;
    }
    EXPECT_EQ(Cell(1, 3).Get("Value").ToDouble(), equalB1) << when;
    EXPECT_EQ(Cell(2, 3).Get("Value").ToDouble(), equalB2) << when;
    EXPECT_EQ(Cell(3, 3).Get("Value").ToDouble(), equalB1AndLarge) << when;
    EXPECT_EQ(Cell(4, 3).Get("Value").ToDouble(), largeSum) << when;
    EXPECT_EQ(Cell(5, 3).Get("Value").ToDouble(), filled) << when;
  };
  check(3, 4, "at first");
  column[9] = 4;
  Cell(10, 1).Put("Value", "4");
  check(3, 4, "after a cell of the column changed");
  Cell(1, 2).Put("Value", "4");
  check(4, 4, "after the value compared with changed");
  // A formula inside the column, whose result changes with B2.
  Cell(kRows, 1).Put("Formula", "=$B$2");
  column[kRows - 1] = 4;
  check(4, 4, "with a formula in the column");
  Cell(2, 2).Put("Value", "1");
  column[kRows - 1] = 1;
  check(4, 1, "after the formula in the column changed");
}

}  // namespace
