// SUMIF COUNTIF

#include "spreadsheet/formula/CellCriteria.h"
#include "spreadsheet/formula/functions/FunctionSupport.h"

#include <cmath>

using namespace FunctionSupport;

namespace {

// The criterion's cells: a reference's area (one sheet) or an array.
Value RangeArg(const FunctionCall& call) {
  const Value& range = call.args[0];
  if (range.IsError()) return range;
  if (range.kind == Value::Kind::Reference && (range.more || range.area.sheetFirst != range.area.sheetLast)) {
    return Value::Error(ErrorCode::Value);
  }
  if (range.kind != Value::Kind::Reference && range.kind != Value::Kind::Array) return Value::Error(ErrorCode::Value);
  return range;
}

Value CountIf(FunctionCall& call) {
  const Value range = RangeArg(call);
  if (range.IsError()) return range;
  const CellCriterion criterion(Scalar(call, 1));
  double filled = 0;
  double count = 0;
  if (range.kind != Value::Kind::Reference || !call.eval.Cells().CountMatching(range.area, criterion, filled, count)) {
    call.eval.ForEachValue(range, [&](const Value& cell, bool) {
      if (cell.kind != Value::Kind::Empty) ++filled;
      if (cell.kind != Value::Kind::Empty && criterion.Matches(cell)) ++count;
      return true;
    });
  }
  if (criterion.MatchesEmpty()) count += static_cast<double>(CellCount(range)) - filled;
  return Value::Number(count);
}

// SUMIF(range, criteria, [sum_range]): sum_range takes range's size from
// its own top-left cell.
Value SumIf(FunctionCall& call) {
  const Value range = RangeArg(call);
  if (range.IsError()) return range;
  const CellCriterion criterion(Scalar(call, 1));
  if (range.kind == Value::Kind::Array || !call.Has(2)) {
    double sum = 0;
    std::optional<Value> error;
    call.eval.ForEachValue(range, [&](const Value& cell, bool) {
      if (!criterion.Matches(cell)) return true;
      if (cell.IsError()) error = cell;
      if (cell.kind == Value::Kind::Number) sum += cell.number;
      return !error;
    });
    if (error) return *error;
    return Value::Number(sum);
  }
  const Value& sumArg = call.args[2];
  if (sumArg.IsError()) return sumArg;
  if (sumArg.kind != Value::Kind::Reference) return Value::Error(ErrorCode::Value);
  const Area& source = range.area;
  Area target = source;
  target.sheetFirst = target.sheetLast = sumArg.area.sheetFirst;
  target.rowFirst = sumArg.area.rowFirst;
  target.colFirst = sumArg.area.colFirst;
  target.rowLast = std::min<uint32_t>(0xFFFF, target.rowFirst + source.Rows() - 1);
  target.colLast = static_cast<uint16_t>(std::min<uint32_t>(0xFF, target.colFirst + source.Cols() - 1u));
  CellReader& cells = call.eval.Cells();
  double sum = 0;
  std::optional<Value> error;
  // Each number to sum, where the cell at the same place of range matches.
  cells.ForEachFilled(target, [&](uint16_t, uint32_t row, uint16_t col, const Value& value) {
    const Value key = cells.Cell(source.sheetFirst, source.rowFirst + (row - target.rowFirst),
                                 static_cast<uint16_t>(source.colFirst + (col - target.colFirst)));
    if (!criterion.Matches(key)) return true;
    if (value.IsError()) error = value;
    if (value.kind == Value::Kind::Number) sum += value.number;
    return !error;
  });
  if (error) return *error;
  return std::isfinite(sum) ? Value::Number(sum) : Value::Error(ErrorCode::Num);
}

}  // namespace

void Functions::AddCriteria(std::vector<FunctionInfo>& table) {
  table.push_back({345, "SUMIF", 2, 3, "RVR", &SumIf, false});
  table.push_back({346, "COUNTIF", 2, 2, "RV", &CountIf, false});
}
