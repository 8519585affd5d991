#pragma once
// Evaluates a decoded formula for one cell, reading the workbook's cells
// through a CellReader. References stay references until an operator or a
// function needs values; then a reference gives its value by implicit
// intersection with the formula's row or column, or, inside an argument
// that takes arrays (SUMPRODUCT), all its values as an array.

#include "spreadsheet/formula/ArrayMemo.h"
#include "spreadsheet/formula/FormulaProgram.h"
#include "spreadsheet/formula/FunctionRef.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class CellCriterion;
struct FunctionInfo;

// What SUM, COUNT and their kin need of an area.
struct AreaSummary {
  double sum = 0;
  double numbers = 0;  // cells holding a number
  double filled = 0;   // cells holding anything
  double min = 0;      // of the numbers, when there are any
  double max = 0;
  bool hasError = false;
  ErrorCode error = ErrorCode::NA;  // the first, row by row
  uint32_t errorRow = 0;
  uint16_t errorCol = 0;
};

// What a formula reads of the workbook.
class CellReader {
 public:
  virtual ~CellReader() = default;
  virtual int SheetCount() const = 0;
  // A cell's current value: Empty, Number, Text, Boolean or Error.
  virtual Value Cell(uint16_t sheet, uint32_t row, uint16_t col) = 0;
  // Every cell of the area that is not empty, sheet by sheet and row by
  // row, until visit returns false.
  using Visit = FunctionRef<bool(uint16_t sheet, uint32_t row, uint16_t col, const Value& value)>;
  virtual void ForEachFilled(const Area& area, Visit visit) = 0;
  // The formula of a defined name (1-based), or nullptr when there is none.
  virtual const FormulaProgram* NameProgram(uint32_t index) = 0;
  // The summary of an area when the reader has a quicker way to it than
  // visiting each cell; false otherwise.
  virtual bool Summarize(const Area& /*area*/, AreaSummary& /*summary*/) { return false; }
  // Every cell of a one-sheet area into m (of the area's size), when the
  // reader has a quicker way than visiting each cell; false otherwise.
  virtual bool ReadArea(const Area& /*area*/, Matrix& /*m*/) { return false; }
  // A number that changes whenever a cell of the one-sheet area changes, for
  // a reader that can tell; nullopt otherwise.
  virtual std::optional<uint64_t> AreaVersion(const Area& /*area*/) { return std::nullopt; }
  // COUNTIF's count over an area (filled cells, and those that match) when
  // the reader has a quicker way than visiting each cell; false otherwise.
  virtual bool CountMatching(const Area& /*area*/, const CellCriterion& /*criterion*/, double& /*filled*/,
                             double& /*matching*/) {
    return false;
  }
};

class FormulaEvaluator {
 public:
  explicit FormulaEvaluator(CellReader& cells) : cells_(cells) {}

  // The formula's result for the cell at: a scalar, as the cell shows it.
  Value Evaluate(const FormulaProgram& program, const CellPosition& at);
  // While on, the arrays that formulas read and compare alike are made once
  // (see ArrayMemo); turning it off lets them go. For a recalculation, where
  // many formulas read the same columns.
  void KeepArrays(bool keep);

  // For the functions.
  CellReader& Cells() { return cells_; }
  const CellPosition& Position() const { return at_; }
  // A value for a scalar argument: a reference by implicit intersection
  // (or, inside an array argument, as an array); anything else unchanged.
  Value Operand(const Value& value);
  // A reference's value at the formula's row or column; #VALUE! when the
  // area does not cross it.
  Value Intersect(const Value& reference);
  // Any value as a rectangle of scalars.
  std::shared_ptr<const Matrix> ToMatrix(const Value& value);
  // Everything an argument holds, as the aggregate functions see it:
  // visit(value, fromReference) for every value, in order, until it returns
  // false. Empty cells of references are skipped.
  using ArgVisit = FunctionRef<bool(const Value& value, bool fromReference)>;
  void ForEachValue(const Value& argument, ArgVisit visit);

 private:
  Value Eval(const FormulaProgram& program, uint32_t node);
  Value EvalUnary(const FormulaProgram& program, const FormulaNode& node);
  Value EvalBinary(const FormulaProgram& program, const FormulaNode& node);
  Value EvalReferenceOperator(Operator op, const Value& left, const Value& right);
  Value EvalFunction(const FormulaProgram& program, const FormulaNode& node);
  Value EvalChoice(const FormulaProgram& program, const FormulaNode& node);
  Value EvalChoiceByElement(const FormulaProgram& program, const FormulaNode& node, const Matrix& picks);
  Value ApplyByElement(const FunctionInfo& info, const std::vector<Value>& args);
  // The argument IF or CHOOSE takes for pick, or kNoChoice.
  static constexpr uint32_t kNoChoice = UINT32_MAX;
  static uint32_t Chosen(bool isIf, const Value& pick, uint32_t argc);
  static Value ChoiceFailure(bool isIf, const Value& pick);
  Value EvalName(uint32_t index);

  Value CombineArrays(Operator op, const Value& a, const Value& b);
  // An element chain (see ElementChain.h) inside an array argument, once per
  // distinct value of its area; false when it does not apply here.
  bool EvalChainByElement(const FormulaProgram& program, uint32_t node, Value& out);
  bool ChainArea(const FormulaProgram& program, uint32_t node, Area& area);
  // The chain's area, its values and their classes, and its result for each
  // class; false when the chain does not apply or gives no single values.
  struct ChainByClass {
    std::shared_ptr<const Matrix> values;
    std::shared_ptr<const ElementClasses> classes;  // nullptr: too many to be worth it
    std::vector<Value> results;
  };
  bool EvalChainByClass(const FormulaProgram& program, uint32_t node, ChainByClass& chain);
  Value EvalChainElement(const FormulaProgram& program, uint32_t node, Value element);
  bool ChainByEachElement(const FormulaProgram& program, uint32_t node, const Matrix& values, Value& out);
  // SUMPRODUCT of one chain, summed over its classes where that is exact.
  bool SumOfChain(const FormulaProgram& program, uint32_t node, Value& out);
  std::shared_ptr<const ElementClasses> ClassesOf(const std::shared_ptr<const Matrix>& values);
  std::shared_ptr<const Matrix> ReadArea(const Area& area);

  CellReader& cells_;
  CellPosition at_;
  bool keepArrays_ = false;
  // While a chain is worked out for one element: references to its area give that element.
  bool bound_ = false;
  Area boundArea_;
  Value boundValue_;
  ArrayMemo arrays_;
  int arrayDepth_ = 0;  // > 0 inside an argument that takes arrays
  int nameDepth_ = 0;   // names within names, bounded
  // The names met while evaluating one formula. Within one formula a name
  // has one value per context (inside an array argument or not), so it is
  // worked out once: a name used twice by the name it stands in would
  // otherwise cost twice per level. One met again while still being worked
  // out is a circular name.
  struct NameResult {
    bool pending = true;
    Value value;
  };
  std::unordered_map<uint64_t, NameResult> names_;
};
