// Arrays kept across the formulas of one recalculation: a reader that
// versions its areas, formulas that compare one column with different
// values, and changes between them that must be seen.

#include "FormulaTestKit.h"

#include <gtest/gtest.h>

namespace {

using namespace FormulaKit;

// Cells in a map whose areas on sheet 0 carry one version, raised by every change.
class VersionedCells : public MapCells {
 public:
  void Change(uint32_t row, uint16_t col, Value value) {
    Set(0, row, col, std::move(value));
    ++version_;
  }
  std::optional<uint64_t> AreaVersion(const Area& area) override {
    if (area.sheetFirst != 0 || area.sheetLast != 0) return std::nullopt;
    return version_;
  }

 private:
  uint64_t version_ = 0;
};

constexpr uint16_t kRows = 40;

double Result(FormulaEvaluator& evaluator, const Rpn& rpn) {
  const DecodedFormula decoded = Decode(rpn, {0, 100, 5});
  EXPECT_TRUE(decoded.program);
  const Value v = evaluator.Evaluate(*decoded.program, {0, 100, 5});
  EXPECT_EQ(v.kind, Value::Kind::Number) << int(v.kind);
  return v.number;
}

// =SUMPRODUCT((A1:A40=B1)*1), with the cell compared with given.
Rpn CountEqual(uint16_t compareRow) {
  return Rpn().Area(0, 0, kRows - 1, 0, kA).Ref(compareRow, 1, kA, false).Op(Ptg::kEq).Int(1).Op(Ptg::kMul).FuncVar(228, 1);
}

// =SUMPRODUCT(ISNUMBER(FIND("2",A1:A40))*1): a chain of element functions.
Rpn CountWithDigitTwo() {
  return Rpn().Str("2").Area(0, 0, kRows - 1, 0, kV).FuncVar(124, 2).Func(128).Int(1).Op(Ptg::kMul).FuncVar(228, 1);
}

TEST(KeptArrays, FormulasComparingOneColumnEachGetTheirOwnAndFollowChanges) {
  VersionedCells cells;
  for (uint16_t r = 0; r < kRows; ++r) cells.Set(0, r, 0, Value::Number(r % 4));
  cells.Set(0, 0, 1, Value::Number(1));
  cells.Set(0, 1, 1, Value::Number(2));
  FormulaEvaluator evaluator(cells);
  evaluator.KeepArrays(true);
  EXPECT_EQ(Result(evaluator, CountEqual(0)), 10);
  EXPECT_EQ(Result(evaluator, CountEqual(1)), 10);
  const int reads = cells.reads;
  EXPECT_EQ(Result(evaluator, CountEqual(0)), 10);
  EXPECT_LE(cells.reads - reads, 1);  // the column is not read again, only the cell compared with
  // A change in the column, and one of the value compared with.
  cells.Change(3, 0, Value::Number(1));
  EXPECT_EQ(Result(evaluator, CountEqual(0)), 11);
  cells.Change(0, 1, Value::Number(3));
  EXPECT_EQ(Result(evaluator, CountEqual(0)), 9);
  EXPECT_EQ(Result(evaluator, CountEqual(1)), 10);
}

TEST(KeptArrays, ChainsOverAKeptColumnFollowItsChanges) {
  VersionedCells cells;
  for (uint16_t r = 0; r < kRows; ++r) cells.Set(0, r, 0, r % 2 ? Value::Number(24) : Value::Text(QStringLiteral(" ")));
  FormulaEvaluator evaluator(cells);
  evaluator.KeepArrays(true);
  EXPECT_EQ(Result(evaluator, CountWithDigitTwo()), kRows / 2);
  cells.Change(0, 0, Value::Number(12));
  cells.Change(1, 0, Value::Text(QStringLiteral("x")));
  EXPECT_EQ(Result(evaluator, CountWithDigitTwo()), kRows / 2);
  cells.Change(2, 0, Value::Number(135));
  cells.Change(4, 0, Value::Text(QStringLiteral("a2")));
  EXPECT_EQ(Result(evaluator, CountWithDigitTwo()), kRows / 2 + 1);
  // Let go, the arrays are read as they are now.
  evaluator.KeepArrays(false);
  cells.Set(0, 6, 0, Value::Number(2));  // with no new version
  EXPECT_EQ(Result(evaluator, CountWithDigitTwo()), kRows / 2 + 2);
}

}  // namespace
