// Formulas from their tokens: decoding (damaged streams included), the
// operators and references as the spreadsheet application evaluates them.

#include "FormulaTestKit.h"
#include "spreadsheet/formula/FormulaFunctions.h"
#include "spreadsheet/formula/Operators.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace FormulaKit;

Value Eval(const Rpn& rpn, MapCells& cells, const CellPosition& at = {}) {
  const DecodedFormula decoded = Decode(rpn, at);
  EXPECT_TRUE(decoded.program) << decoded.outside.toStdString();
  if (!decoded.program) return Value::Error(ErrorCode::Name);
  FormulaEvaluator evaluator(cells);
  return evaluator.Evaluate(*decoded.program, at);
}

Value Eval(const Rpn& rpn) {
  MapCells cells;
  return Eval(rpn, cells);
}

void ExpectNumber(const Value& v, double expected) {
  ASSERT_EQ(v.kind, Value::Kind::Number) << "got " << Coerce::ToText(v).text.toStdString() << " error " << int(v.error);
  EXPECT_DOUBLE_EQ(v.number, expected);
}
void ExpectText(const Value& v, const char* expected) {
  ASSERT_EQ(v.kind, Value::Kind::Text) << "kind " << int(v.kind);
  EXPECT_EQ(v.text, QString::fromUtf8(expected));
}
void ExpectBoolean(const Value& v, bool expected) {
  ASSERT_EQ(v.kind, Value::Kind::Boolean) << "kind " << int(v.kind);
  EXPECT_EQ(v.boolean, expected);
}
void ExpectError(const Value& v, ErrorCode expected) {
  ASSERT_EQ(v.kind, Value::Kind::Error) << "kind " << int(v.kind) << " " << Coerce::ToText(v).text.toStdString();
  EXPECT_EQ(v.error, expected);
}

TEST(FormulaOperators, ArithmeticPercentAndUnaryMinusWithTextAndEmptyOperands) {
  ExpectNumber(Eval(Rpn().Int(7).Int(2).Op(Ptg::kSub).Op(Ptg::kUminus)), -5);
  ExpectNumber(Eval(Rpn().Int(50).Op(Ptg::kPercent).Int(3).Op(Ptg::kMul)), 1.5);
  ExpectNumber(Eval(Rpn().Int(2).Int(10).Op(Ptg::kPower)), 1024);
  ExpectNumber(Eval(Rpn().Str("3").Int(1).Op(Ptg::kAdd)), 4);            // "3"+1
  ExpectNumber(Eval(Rpn().Str(" 1,000 ").Int(1).Op(Ptg::kAdd)), 1001);   // grouping read
  ExpectNumber(Eval(Rpn().Str("50%").Int(2).Op(Ptg::kMul)), 1);
  ExpectError(Eval(Rpn().Str("1,00").Int(1).Op(Ptg::kAdd)), ErrorCode::Value);
  ExpectError(Eval(Rpn().Str("abc").Int(1).Op(Ptg::kAdd)), ErrorCode::Value);
  ExpectNumber(Eval(Rpn().Bool(true).Int(1).Op(Ptg::kAdd)), 2);
  ExpectError(Eval(Rpn().Int(1).Int(0).Op(Ptg::kDiv)), ErrorCode::Div0);
  ExpectError(Eval(Rpn().Int(0).Int(0).Op(Ptg::kPower)), ErrorCode::Num);
  ExpectError(Eval(Rpn().Num(1e300).Num(1e300).Op(Ptg::kMul)), ErrorCode::Num);
  // The left operand's error comes first.
  ExpectError(Eval(Rpn().Err(ErrorCode::Ref).Err(ErrorCode::NA).Op(Ptg::kAdd)), ErrorCode::Ref);
  MapCells cells;
  ExpectNumber(Eval(Rpn().Ref(5, 5).Int(4).Op(Ptg::kAdd), cells), 4);  // an empty cell is 0
  ExpectNumber(Eval(Rpn().Ref(5, 5), cells), 0);                       // and a formula showing it shows 0
}

TEST(FormulaOperators, ConcatenationWritesBooleansAndNumbersAsTheApplicationDoes) {
  ExpectText(Eval(Rpn().Str("x").Bool(true).Op(Ptg::kConcat)), "xTRUE");
  ExpectText(Eval(Rpn().Int(1).Int(2).Op(Ptg::kEq).Str("!").Op(Ptg::kConcat)), "FALSE!");
  ExpectText(Eval(Rpn().Num(0.1).Num(0.2).Op(Ptg::kAdd).Str("").Op(Ptg::kConcat)), "0.3");
  ExpectText(Eval(Rpn().Int(1).Int(3).Op(Ptg::kDiv).Str("").Op(Ptg::kConcat)), "0.333333333333333");
  ExpectText(Eval(Rpn().Num(1e20).Str("").Op(Ptg::kConcat)), "1E+20");
  ExpectText(Eval(Rpn().Num(-2.5).Str("").Op(Ptg::kConcat)), "-2.5");
  MapCells cells;
  ExpectText(Eval(Rpn().Str("<").Ref(0, 0).Op(Ptg::kConcat).Str(">").Op(Ptg::kConcat), cells), "<>");
}

TEST(FormulaOperators, NumbersTurnIntoGeneralText) {
  const std::pair<double, const char*> cases[] = {
      {6, "6"},          {-0.0, "0"},       {123456789012345, "123456789012345"}, {1e15, "1E+15"},
      {1234567890123456789.0, "1.23456789012346E+18"}, {0.00001, "0.00001"}, {1e-10, "1E-10"},
      {2.5e-12, "2.5E-12"}, {100, "100"}, {1.0 / 7, "0.142857142857143"},
  };
  for (const auto& [number, text] : cases) EXPECT_EQ(Coerce::NumberText(number), QString::fromLatin1(text)) << text;
}

TEST(FormulaOperators, ComparisonsOrderNumbersBeforeTextsBeforeBooleans) {
  ExpectBoolean(Eval(Rpn().Bool(true).Int(1).Op(Ptg::kEq)), false);
  ExpectBoolean(Eval(Rpn().Bool(true).Int(100).Op(Ptg::kGt)), true);
  ExpectBoolean(Eval(Rpn().Str("x").Bool(false).Op(Ptg::kLt)), true);
  ExpectBoolean(Eval(Rpn().Int(999).Str("1").Op(Ptg::kLt)), true);
  ExpectBoolean(Eval(Rpn().Str("apple").Str("APPLE").Op(Ptg::kEq)), true);
  ExpectBoolean(Eval(Rpn().Str("a").Str("B").Op(Ptg::kLt)), true);
  MapCells cells;  // an empty cell equals 0, "" and FALSE
  ExpectBoolean(Eval(Rpn().Ref(1, 1).Int(0).Op(Ptg::kEq), cells), true);
  ExpectBoolean(Eval(Rpn().Ref(1, 1).Str("").Op(Ptg::kEq), cells), true);
  ExpectBoolean(Eval(Rpn().Ref(1, 1).Bool(false).Op(Ptg::kEq), cells), true);
  ExpectBoolean(Eval(Rpn().Ref(1, 1).Ref(2, 2).Op(Ptg::kNe), cells), false);
}

// Arrays are combined element by element on a quick path for numbers,
// booleans and plain comparisons; every element must come out as the
// scalar operator gives it, whatever the mix of kinds and shapes.
TEST(FormulaOperators, ArraysCombineElementByElementAsScalarsDo) {
  const Value kinds[] = {Value(), Value::Number(3), Value::Number(-0.5), Value::Number(0), Value::Text(QStringLiteral("a")),
                         Value::Text(QStringLiteral("B")), Value::Text(QString()), Value::Text(QStringLiteral("3")),
                         Value::Boolean(true), Value::Boolean(false), Value::Error(ErrorCode::NA)};
  const Operator ops[] = {Operator::Add, Operator::Subtract, Operator::Multiply, Operator::Divide, Operator::Power,
                          Operator::Concat, Operator::Less, Operator::LessEqual, Operator::Equal, Operator::GreaterEqual,
                          Operator::Greater, Operator::NotEqual};
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    // Shapes: equal, a row against a column, a single value, unequal.
    const uint32_t shapes[][2] = {{3, 4}, {1, 4}, {3, 1}, {1, 1}, {2, 2}};
    const auto& sa = shapes[random() % 5];
    const auto& sb = shapes[random() % 5];
    Matrix a(sa[0], sa[1]);
    Matrix b(sb[0], sb[1]);
    for (size_t i = 0; i < a.Size(); ++i) a.Set(i, kinds[random() % std::size(kinds)]);
    for (size_t i = 0; i < b.Size(); ++i) b.Set(i, kinds[random() % std::size(kinds)]);
    for (const Operator op : ops) {
      const Value result = Operators::Binary(op, a, b);
      ASSERT_EQ(result.kind, Value::Kind::Array);
      const Matrix& m = *result.array;
      for (uint32_t r = 0; r < m.Rows(); ++r) {
        for (uint32_t c = 0; c < m.Cols(); ++c) {
          const size_t i = Operators::ElementIndex(a, r, c);
          const size_t j = Operators::ElementIndex(b, r, c);
          const Value expected = i == SIZE_MAX || j == SIZE_MAX ? Value::Error(ErrorCode::NA)
                                                                : Operators::Binary(op, a.At(i), b.At(j));
          EXPECT_TRUE(Coerce::SameResult(m.At(r, c), expected))
              << "op " << int(op) << " at " << r << "," << c << ": " << Coerce::ToText(m.At(r, c)).text.toStdString()
              << " against " << Coerce::ToText(expected).text.toStdString();
        }
      }
    }
    const Value negated = Operators::Unary(Operator::Minus, a);
    for (size_t i = 0; i < a.Size(); ++i) {
      EXPECT_TRUE(Coerce::SameResult(negated.array->At(i), Operators::Unary(Operator::Minus, a.At(i))));
    }
  }
}

TEST(FormulaReferences, AnAreaGivesTheValueInTheFormulasRowOrColumn) {
  MapCells cells;
  for (uint16_t r = 0; r < 5; ++r) cells.Set(0, r, 0, Value::Number(10 + r));
  for (uint16_t c = 0; c < 5; ++c) cells.Set(0, 9, c, Value::Number(100 + c));
  // =A1:A5+0 in C3 reads A3; in C8 the column has no row 8.
  ExpectNumber(Eval(Rpn().Area(0, 0, 4, 0, kV).Int(0).Op(Ptg::kAdd), cells, {0, 2, 2}), 12);
  ExpectError(Eval(Rpn().Area(0, 0, 4, 0, kV).Int(0).Op(Ptg::kAdd), cells, {0, 7, 2}), ErrorCode::Value);
  // =A10:E10 in D1 reads D10.
  ExpectNumber(Eval(Rpn().Area(9, 0, 9, 4, kV), cells, {0, 0, 3}), 103);
  // A two-dimensional area outside the formula's row and column.
  ExpectError(Eval(Rpn().Area(0, 0, 4, 4, kV), cells, {0, 20, 20}), ErrorCode::Value);
  // Through SUM the whole area counts, also as a union of two areas.
  ExpectNumber(Eval(Rpn().Area(0, 0, 4, 0).AttrSum(), cells), 60);
  ExpectNumber(Eval(Rpn().Area(0, 0, 1, 0).Area(9, 0, 9, 1).Op(Ptg::kUnion).AttrSum(), cells), 10 + 11 + 100 + 101);
  // Intersection and range operators.
  ExpectNumber(Eval(Rpn().Area(0, 0, 4, 0).Area(2, 0, 2, 4).Op(Ptg::kIsect).AttrSum(), cells), 12);
  ExpectError(Eval(Rpn().Area(0, 0, 1, 0).Area(9, 0, 9, 1).Op(Ptg::kIsect).AttrSum(), cells), ErrorCode::Null);
  ExpectNumber(Eval(Rpn().Ref(0, 0, kR).Ref(1, 0, kR).Op(Ptg::kRange).AttrSum(), cells), 21);
}

TEST(FormulaReferences, RelativeCoordinatesFollowTheCellAndWrapAtTheSheetEdge) {
  // =A1*2 written in B1 and filled down: every copy is the same program.
  const CellPosition b1{0, 0, 1};
  const CellPosition b7{0, 6, 1};
  const auto first = Ptg::RelativeForm(Rpn().Ref(0, 0).Int(2).Op(Ptg::kMul).Bytes(), b1);
  const auto seventh = Ptg::RelativeForm(Rpn().Ref(6, 0).Int(2).Op(Ptg::kMul).Bytes(), b7);
  ASSERT_TRUE(first && seventh);
  EXPECT_EQ(*first, *seventh);
  EXPECT_NE(*first, *Ptg::RelativeForm(Rpn().Ref(0, 0, kV, false).Int(2).Op(Ptg::kMul).Bytes(), b7));

  MapCells cells;
  cells.Set(0, 6, 0, Value::Number(21));
  cells.Set(0, 0, 255, Value::Number(5));
  const DecodedFormula shared = DecodeFormula(Rpn().RefN(0, -1).Int(2).Op(Ptg::kMul).Bytes(), {}, ThreeSheets());
  ASSERT_TRUE(shared.program);
  FormulaEvaluator evaluator(cells);
  ExpectNumber(evaluator.Evaluate(*shared.program, b7), 42);
  // One column left of A1 is IV1; one row above row 1 is row 65536.
  ExpectNumber(evaluator.Evaluate(*shared.program, {0, 0, 0}), 10);
  cells.Set(0, 65535, 0, Value::Number(3));
  const DecodedFormula above = DecodeFormula(Rpn().RefN(-1, 0).Bytes(), {}, ThreeSheets());
  ASSERT_TRUE(above.program);
  ExpectNumber(evaluator.Evaluate(*above.program, {0, 0, 0}), 3);
}

TEST(FormulaReferences, ThreeDimensionalReferencesAndBrokenOnes) {
  MapCells cells;
  for (uint16_t s = 0; s < 3; ++s) cells.Set(s, 0, 0, Value::Number(s + 1));
  ExpectNumber(Eval(Rpn().Area3d(1, 0, 0, 0, 0).AttrSum(), cells), 6);    // SUM(Sheet1:Sheet3!A1)
  ExpectNumber(Eval(Rpn().Ref3d(0, 0, 0), cells, {2, 4, 4}), 1);          // Sheet1!A1 from the third sheet
  ExpectError(Eval(Rpn().Area3d(1, 0, 0, 0, 0, kV), cells), ErrorCode::Value);  // no single value across sheets
  ExpectError(Eval(Rpn().Ref3d(2, 0, 0), cells), ErrorCode::Ref);          // a deleted sheet
  ExpectError(Eval(Rpn().Byte(kV | Ptg::kRefErr).Zero(4), cells), ErrorCode::Ref);
  // Another workbook is not evaluated: the formula keeps its stored result.
  const DecodedFormula external = Decode(Rpn().Ref3d(3, 0, 0));
  EXPECT_FALSE(external.program);
  EXPECT_TRUE(external.outside.contains(QStringLiteral("another workbook")));
}

TEST(FormulaReferences, NamesAreEvaluatedWhereTheyAreUsedAndSelfReferenceStops) {
  MapCells cells;
  cells.Set(0, 3, 1, Value::Number(8));
  // Name 1: the cell left of where it is used (relative, as names store it).
  cells.SetName(1, DecodeFormula(Rpn().RefN(0, -1).Bytes(), {}, ThreeSheets()).program);
  // Name 2 uses itself.
  cells.SetName(2, DecodeFormula(Rpn().Name(2).Int(1).Op(Ptg::kAdd).Bytes(), {}, ThreeSheets()).program);
  ExpectNumber(Eval(Rpn().Name(1, kV).Int(2).Op(Ptg::kMul), cells, {0, 3, 2}), 16);
  ExpectError(Eval(Rpn().Name(2, kV), cells), ErrorCode::Name);
  ExpectError(Eval(Rpn().Name(9, kV), cells), ErrorCode::Name);  // no such name
}

// A name used twice by the name it stands in, level after level, is worked
// out once per level: 2^29 evaluations would never end. The same holds for
// a name that uses itself twice (found by the fuzzer: =COUNT(self, self)).
TEST(FormulaReferences, NamesUsedTwicePerLevelCostOnceAndCircularOnesStop) {
  MapCells cells;
  constexpr uint16_t kChain = 30;  // within the nesting bound of names
  for (uint16_t n = 10; n < 10 + kChain - 1; ++n) {
    cells.SetName(n, DecodeFormula(Rpn().Name(n + 1, kV).Name(n + 1, kV).FuncVar(4, 2).Bytes(), {}, ThreeSheets()).program);
  }
  cells.SetName(10 + kChain - 1, DecodeFormula(Rpn().Int(1).Bytes(), {}, ThreeSheets()).program);
  ExpectNumber(Eval(Rpn().Name(10, kV), cells), 536870912);  // 2^29
  cells.SetName(3, DecodeFormula(Rpn().Name(3, kV).Name(3, kV).FuncVar(0, 2).Bytes(), {}, ThreeSheets()).program);
  ExpectNumber(Eval(Rpn().Name(3, kV), cells), 0);  // COUNT of two #NAME? errors
}

TEST(FormulaArrays, SumProductEvaluatesItsArgumentsAsArrays) {
  MapCells cells;
  const char* const fruit[] = {"apple", "pear", "Apple", "fig"};
  for (uint16_t r = 0; r < 4; ++r) {
    cells.Set(0, r, 0, Value::Text(QString::fromLatin1(fruit[r])));
    cells.Set(0, r, 1, Value::Number(r + 1));
  }
  // =SUMPRODUCT((A1:A4="apple")*B1:B4) and =SUMPRODUCT(--(A1:A4="apple"))
  ExpectNumber(Eval(Rpn().Area(0, 0, 3, 0, kA).Str("apple").Op(Ptg::kEq).Area(0, 1, 3, 1, kA).Op(Ptg::kMul)
                        .FuncVar(228, 1), cells, {0, 10, 5}), 4);
  ExpectNumber(Eval(Rpn().Area(0, 0, 3, 0, kA).Str("apple").Op(Ptg::kEq).Op(Ptg::kUminus).Op(Ptg::kUminus)
                        .FuncVar(228, 1), cells, {0, 10, 5}), 2);
  // A single row broadcasts down; sizes that do not match are #VALUE!.
  ExpectNumber(Eval(Rpn().Area(0, 1, 3, 1, kA).Array().ArrayData(1, 1, {10}).Op(Ptg::kMul).FuncVar(228, 1), cells), 100);
  ExpectError(Eval(Rpn().Area(0, 1, 3, 1, kA).Area(0, 1, 2, 1, kA).FuncVar(228, 2), cells), ErrorCode::Value);
  // LEN over an array inside SUMPRODUCT: element by element.
  ExpectNumber(Eval(Rpn().Area(0, 0, 3, 0, kA).Func(32).FuncVar(228, 1), cells), 5 + 4 + 5 + 3);
}

TEST(FormulaFunctionsLazy, IfAndChooseEvaluateOnlyTheArgumentTheyPick) {
  MapCells cells;
  cells.Set(0, 0, 0, Value::Number(1));
  // =IF(TRUE,1,SUM(B1:B999)) must not read B1:B999.
  const Rpn ifTrue = Rpn().Bool(true).AttrIf(7).Int(1).AttrGoto(13).Area(0, 1, 998, 1).AttrSum().AttrGoto(3).FuncVar(1, 3);
  ExpectNumber(Eval(ifTrue, cells), 1);
  EXPECT_EQ(cells.reads, 0);
  ExpectBoolean(Eval(Rpn().Bool(false).Int(1).FuncVar(1, 2)), false);  // IF(FALSE,1)
  ExpectNumber(Eval(Rpn().Bool(true).Missing().Int(2).FuncVar(1, 3)), 0);  // IF(TRUE,,2)
  ExpectError(Eval(Rpn().Str("maybe").Int(1).Int(2).FuncVar(1, 3)), ErrorCode::Value);
  ExpectNumber(Eval(Rpn().Num(2.9).Int(10).Int(20).Int(30).FuncVar(100, 4)), 20);  // CHOOSE truncates
  ExpectError(Eval(Rpn().Int(4).Int(10).Int(20).Int(30).FuncVar(100, 4)), ErrorCode::Value);
  // The branch given as a reference stays one: SUM(IF(TRUE,A1:A3,0)).
  cells.Set(0, 1, 0, Value::Number(2));
  ExpectNumber(Eval(Rpn().Bool(true).Area(0, 0, 2, 0).Int(0).FuncVar(1, 3, kR).AttrSum(), cells), 3);
}

TEST(FormulaLookups, ExactApproximateAndDescendingMatchesAndIndexIntoReferences) {
  MapCells cells;
  // A1:B5: a sorted key column with a text in the middle, values beside it.
  const Value keys[] = {Value::Number(10), Value::Number(20), Value::Text(QStringLiteral("n/a")), Value::Number(30),
                        Value::Number(40)};
  for (uint16_t r = 0; r < 5; ++r) {
    cells.Set(0, r, 0, keys[r]);
    cells.Set(0, r, 1, Value::Text(QStringLiteral("v%1").arg(r + 1)));
  }
  // VLOOKUP(25,A1:B5,2): the last key not above 25, passing over the text.
  ExpectText(Eval(Rpn().Int(25).Area(0, 0, 4, 1).Int(2).FuncVar(102, 3), cells), "v2");
  ExpectText(Eval(Rpn().Int(35).Area(0, 0, 4, 1).Int(2).FuncVar(102, 3), cells), "v4");
  ExpectError(Eval(Rpn().Int(5).Area(0, 0, 4, 1).Int(2).FuncVar(102, 3), cells), ErrorCode::NA);
  ExpectError(Eval(Rpn().Int(25).Area(0, 0, 4, 1).Int(2).Bool(false).FuncVar(102, 4), cells), ErrorCode::NA);
  ExpectText(Eval(Rpn().Str("N/*").Area(0, 0, 4, 1).Int(2).Bool(false).FuncVar(102, 4), cells), "v3");
  ExpectError(Eval(Rpn().Int(10).Area(0, 0, 4, 1).Int(3).FuncVar(102, 3), cells), ErrorCode::Ref);
  ExpectError(Eval(Rpn().Int(10).Area(0, 0, 4, 1).Int(0).FuncVar(102, 3), cells), ErrorCode::Value);
  // MATCH with -1 over a descending list: the smallest value not below the key.
  for (uint16_t c = 0; c < 4; ++c) cells.Set(1, 0, c, Value::Number(40 - 10 * c));  // 40 30 20 10 in A1:D1 of sheet 2
  ExpectNumber(Eval(Rpn().Int(25).Area(0, 0, 0, 3).Int(1).Op(Ptg::kUminus).FuncVar(64, 3), cells, {1, 5, 5}), 2);
  ExpectNumber(Eval(Rpn().Int(20).Area(0, 0, 0, 3).Int(0).FuncVar(64, 3), cells, {1, 5, 5}), 3);
  // INDEX gives a reference: SUM(INDEX(A1:D1,0,2)) on sheet 2, and a cell of a single row.
  ExpectNumber(Eval(Rpn().Area(0, 0, 0, 3).Int(0).Int(2).FuncVar(29, 3, kR).AttrSum(), cells, {1, 5, 5}), 30);
  ExpectNumber(Eval(Rpn().Area(0, 0, 0, 3).Int(4).FuncVar(29, 2), cells, {1, 5, 5}), 10);
  ExpectError(Eval(Rpn().Area(0, 0, 0, 3).Int(1).Int(5).FuncVar(29, 3), cells, {1, 5, 5}), ErrorCode::Ref);
}

// The functions evaluated beyond those scoring workbooks use most.
TEST(FormulaFunctionsMore, StatisticsPowersTextsPositionsAndTypeTests) {
  MapCells cells;
  const double data[] = {4, 1, 7, 2};
  for (uint16_t r = 0; r < 4; ++r) cells.Set(0, r, 0, Value::Number(data[r]));
  cells.Set(0, 4, 0, Value::Text(QStringLiteral("x")));
  ExpectNumber(Eval(Rpn().Area(0, 0, 4, 0).FuncVar(227, 1), cells), 3);      // MEDIAN: texts skipped
  ExpectNumber(Eval(Rpn().Area(0, 0, 2, 0).FuncVar(227, 1), cells), 4);
  ExpectNumber(Eval(Rpn().Area(0, 0, 3, 0).Int(2).FuncVar(183, 2), cells), 112);  // PRODUCT
  ExpectNumber(Eval(Rpn().Num(-2.5).Func(26)), -1);                          // SIGN
  ExpectNumber(Eval(Rpn().Int(16).Func(20)), 4);                             // SQRT
  ExpectError(Eval(Rpn().Int(4).Op(Ptg::kUminus).Func(20)), ErrorCode::Num);
  ExpectNumber(Eval(Rpn().Int(2).Int(3).Func(337)), 8);                      // POWER
  ExpectText(Eval(Rpn().Str("ab").Int(3).Func(30)), "ababab");               // REPT
  ExpectError(Eval(Rpn().Str("ab").Int(20000).Func(30)), ErrorCode::Value);  // longer than a cell holds
  ExpectNumber(Eval(Rpn().FuncVar(8, 0), cells, {0, 41, 3}), 42);            // ROW()
  ExpectNumber(Eval(Rpn().Ref(5, 7, kR).FuncVar(9, 1)), 8);                  // COLUMN(H6)
  ExpectNumber(Eval(Rpn().Area(2, 1, 9, 3).Func(76)), 8);                    // ROWS(B3:D10)
  ExpectNumber(Eval(Rpn().Area(2, 1, 9, 3).Func(77)), 3);                    // COLUMNS
  ExpectBoolean(Eval(Rpn().Func(10).Func(126)), false);                      // ISERR(NA())
  ExpectBoolean(Eval(Rpn().Int(1).Int(0).Op(Ptg::kDiv).Func(126)), true);
  ExpectBoolean(Eval(Rpn().Int(1).Func(190)), true);                         // ISNONTEXT
  ExpectBoolean(Eval(Rpn().Func(34).Func(198)), true);                       // ISLOGICAL(TRUE())
  ExpectBoolean(Eval(Rpn().Func(35)), false);
  ExpectError(Eval(Rpn().Func(10)), ErrorCode::NA);
}

TEST(FormulaDecoding, WhatIsNotEvaluatedSaysWhy) {
  EXPECT_TRUE(Decode(Rpn().FuncVar(221, 0)).outside.contains(QStringLiteral("function number 221")));  // TODAY
  EXPECT_TRUE(Decode(Rpn().Str("x").FuncVar(255, 1)).outside.contains(QStringLiteral("add-in")));
  EXPECT_TRUE(Decode(Rpn().Byte(Ptg::kExp).U16(0).U16(0)).outside.contains(QStringLiteral("array formula")));
  EXPECT_TRUE(Decode(Rpn().Byte(Ptg::kExtended).Byte(0x0A).Zero(4)).outside.contains(QStringLiteral("token")));
}

// A constant reference expression keeps its areas in the data after the
// tokens, before an array constant's values: both are read in their order.
TEST(FormulaDecoding, AnArrayConstantAfterAConstantReferenceKeepsItsValues) {
  Rpn rpn;
  rpn.Byte(kV + Ptg::kMemArea).Zero(4).U16(19);  // tMemArea with one area, 19 bytes of tokens follow
  rpn.Area(0, 0, 1, 0).Area(1, 0, 2, 0).Op(Ptg::kIsect).AttrSum().Array(kA).ArrayData(2, 1, {5, 7});
  rpn.FuncVar(FunctionIds::kSum, 2);
  Biff::Bytes extra = {1, 0};  // the area list: one area, A2:A2
  extra.insert(extra.end(), {1, 0, 1, 0, 0, 0, 0, 0});
  extra.insert(extra.end(), rpn.Extra().begin(), rpn.Extra().end());
  const DecodedFormula decoded = DecodeFormula(rpn.Bytes(), extra, ThreeSheets());
  ASSERT_TRUE(decoded.program) << decoded.outside.toStdString();
  MapCells cells;
  cells.Set(0, 1, 0, Value::Number(100));
  FormulaEvaluator evaluator(cells);
  ExpectNumber(evaluator.Evaluate(*decoded.program, {}), 112);
}

TEST(FormulaDecoding, DamagedTokenStreamsDecodeToNothing) {
  const Rpn damaged[] = {
      Rpn(),                                                // no tokens
      Rpn().Byte(Ptg::kNum).Zero(3),                        // a number cut short
      Rpn().Byte(Ptg::kStr).Byte(40).Byte(0).Zero(5),       // a text longer than the tokens
      Rpn().Op(Ptg::kAdd),                                  // an operator without operands
      Rpn().Int(1).Int(2),                                  // two results
      Rpn().Int(1).FuncVar(4, 31),                          // SUM with more arguments than it takes
      Rpn().Int(1).Func(4),                                 // SUM as a fixed-argument call
      Rpn().Byte(Ptg::kErr).Byte(0x99),                     // no such error
      Rpn().Array(),                                        // an array without its values
      Rpn().Array().ArrayData(1, 1, {}),                    // values cut short
      Rpn().Num(std::numeric_limits<double>::quiet_NaN()),  // not a number
      Rpn().Ref3d(77, 0, 0),                                // no such sheet table entry
  };
  for (size_t i = 0; i < std::size(damaged); ++i) {
    const DecodedFormula decoded = Decode(damaged[i]);
    EXPECT_FALSE(decoded.program) << "case " << i;
    EXPECT_FALSE(decoded.outside.isEmpty()) << "case " << i;
  }
  // A huge array size with a few bytes of data allocates nothing.
  Rpn huge = Rpn().Array();
  huge.ArrayData(1, 1, {1});
  Biff::Bytes extra = huge.Extra();
  extra[0] = 0xFF;
  extra[1] = extra[2] = 0xFF;
  EXPECT_FALSE(DecodeFormula(huge.Bytes(), extra, ThreeSheets()).program);
}

TEST(FormulaDecoding, DeepNestingIsRefusedAndLongSumsAreNot) {
  Rpn deep = Rpn().Int(1);
  for (int i = 0; i < 5000; ++i) deep.Op(Ptg::kUminus);
  const DecodedFormula refused = Decode(deep);
  EXPECT_FALSE(refused.program);
  EXPECT_TRUE(refused.outside.contains(QStringLiteral("nested")));
  Rpn sum = Rpn().Int(1);
  for (int i = 0; i < 300; ++i) sum.Int(1).Op(Ptg::kAdd);  // =1+1+...+1
  ExpectNumber(Eval(sum), 301);
}

// Random bytes either decode or not; what decodes evaluates; nothing crashes.
TEST(FormulaDecoding, RandomTokenStreamsNeverCrash) {
  std::mt19937 random(20240613);
  MapCells cells;
  cells.Set(0, 0, 0, Value::Number(1));
  cells.Set(1, 2, 3, Value::Text(QStringLiteral("t")));
  const uint8_t interesting[] = {0x03, 0x05, 0x08, 0x0B, 0x10, 0x11, 0x13, 0x15, 0x16, 0x17, 0x19, 0x1C, 0x1D, 0x1E,
                                 0x1F, 0x21, 0x22, 0x23, 0x24, 0x25, 0x2C, 0x3A, 0x3B, 0x40, 0x41, 0x42, 0x44, 0x45, 0x65};
  int decoded = 0;
  for (int round = 0; round < 20000; ++round) {
    Biff::Bytes tokens(random() % 40);
    for (uint8_t& b : tokens) b = random() % 3 == 0 ? interesting[random() % std::size(interesting)] : static_cast<uint8_t>(random());
    Biff::Bytes extra(random() % 24);
    for (uint8_t& b : extra) b = static_cast<uint8_t>(random() % 5 == 0 ? 1 : random());
    const DecodedFormula result = DecodeFormula(tokens, extra, ThreeSheets());
    if (!result.program) continue;
    ++decoded;
    FormulaEvaluator evaluator(cells);
    const Value value = evaluator.Evaluate(*result.program, {0, static_cast<uint32_t>(random() % 65536), 3});
    EXPECT_TRUE(value.IsScalar());
  }
  EXPECT_GT(decoded, 100);
}

}  // namespace
