// VLOOKUP HLOOKUP MATCH INDEX ROW COLUMN ROWS COLUMNS

#include "spreadsheet/formula/CellCriteria.h"
#include "spreadsheet/formula/functions/FunctionSupport.h"

#include <cmath>

using namespace FunctionSupport;

namespace {

// A table to look in: a reference's area on one sheet, or an array.
class Table {
 public:
  Table(FunctionCall& call, const Value& source) : cells_(call.eval.Cells()) {
    if (source.kind == Value::Kind::Reference && !source.more && source.area.sheetFirst == source.area.sheetLast) {
      area_ = source.area;
      rows_ = area_.Rows();
      cols_ = area_.Cols();
      valid_ = true;
    } else if (source.kind == Value::Kind::Array) {
      array_ = source.array;
      rows_ = array_->Rows();
      cols_ = array_->Cols();
      valid_ = true;
    } else if (source.IsScalar() && !source.IsError()) {
      array_ = call.eval.ToMatrix(source);
      rows_ = cols_ = 1;
      valid_ = true;
    }
  }
  bool Valid() const { return valid_; }
  uint32_t Rows() const { return rows_; }
  uint32_t Cols() const { return cols_; }
  Value At(uint32_t row, uint32_t col) const {
    if (array_) return array_->At(row, col);
    return cells_.Cell(area_.sheetFirst, area_.rowFirst + row, static_cast<uint16_t>(area_.colFirst + col));
  }
  bool IsReference() const { return !array_; }
  const Area& Region() const { return area_; }

 private:
  CellReader& cells_;
  Area area_;
  std::shared_ptr<const Matrix> array_;
  uint32_t rows_ = 0;
  uint32_t cols_ = 0;
  bool valid_ = false;
};

bool SameType(const Value& a, const Value& b) { return a.kind == b.kind; }

// The position of key among count values read by at(i), or -1.
//   exact: the first equal value of the same type (texts without regard to
//          case, with wildcards);
//   ascending: the last value not above key, of key's type, before the
//          first one above it (the sorted data this is meant for gives the
//          same answer as a binary search);
//   descending: the last value not below key before the first one below it.
enum class MatchMode { Exact, Ascending, Descending };

template <typename At>
int64_t Find(const Value& key, uint32_t count, At at, MatchMode mode) {
  int64_t found = -1;
  for (uint32_t i = 0; i < count; ++i) {
    const Value value = at(i);
    if (!SameType(value, key)) continue;
    if (mode == MatchMode::Exact) {
      const bool equal = key.kind == Value::Kind::Text ? WildcardMatch(key.text, value.text) : Coerce::Compare(value, key) == 0;
      if (equal) return i;
      continue;
    }
    const int order = Coerce::Compare(value, key);
    if (mode == MatchMode::Ascending ? order > 0 : order < 0) break;
    found = i;
  }
  return found;
}

Value LookupKey(const FunctionCall& call) {
  Value key = Scalar(call, 0);
  if (key.kind == Value::Kind::Empty || key.kind == Value::Kind::Missing) key = Value::Number(0);
  return key;
}

// VLOOKUP and HLOOKUP(key, table, index, [approximate = TRUE]).
template <bool vertical>
Value Lookup(FunctionCall& call) {
  const Value key = LookupKey(call);
  if (key.IsError()) return key;
  if (call.args[1].IsError()) return call.args[1];
  const Table table(call, call.args[1]);
  if (!table.Valid()) return Value::Error(ErrorCode::Value);
  const Value index = IntegerArg(call, 2, 1);
  if (index.IsError()) return index;
  bool approximate = true;
  if (call.Count() > 3) {
    const Value flag = BooleanArg(call, 3);
    if (flag.IsError()) return flag;
    approximate = flag.boolean;
  }
  const uint32_t along = vertical ? table.Rows() : table.Cols();
  const uint32_t across = vertical ? table.Cols() : table.Rows();
  if (index.number < 1) return Value::Error(ErrorCode::Value);
  if (index.number > across) return Value::Error(ErrorCode::Ref);
  const auto at = [&](uint32_t i) { return vertical ? table.At(i, 0) : table.At(0, i); };
  const int64_t found = Find(key, along, at, approximate ? MatchMode::Ascending : MatchMode::Exact);
  if (found < 0) return Value::Error(ErrorCode::NA);
  const uint32_t pick = static_cast<uint32_t>(index.number) - 1;
  return vertical ? table.At(static_cast<uint32_t>(found), pick) : table.At(pick, static_cast<uint32_t>(found));
}

// MATCH(key, row or column, [type = 1]): the 1-based position.
Value Match(FunctionCall& call) {
  const Value key = LookupKey(call);
  if (key.IsError()) return key;
  if (call.args[1].IsError()) return call.args[1];
  const Table table(call, call.args[1]);
  if (!table.Valid() || (table.Rows() > 1 && table.Cols() > 1)) return Value::Error(ErrorCode::NA);
  const Value type = IntegerArg(call, 2, 1);
  if (type.IsError()) return type;
  const MatchMode mode = type.number == 0 ? MatchMode::Exact : (type.number > 0 ? MatchMode::Ascending : MatchMode::Descending);
  const bool column = table.Cols() == 1;
  const auto at = [&](uint32_t i) { return column ? table.At(i, 0) : table.At(0, i); };
  const int64_t found = Find(key, column ? table.Rows() : table.Cols(), at, mode);
  return found < 0 ? Value::Error(ErrorCode::NA) : Value::Number(static_cast<double>(found + 1));
}

// INDEX(table, row, [column], [area]): a reference into a reference, a
// value of an array; 0 for row or column takes the whole column or row.
Value Index(FunctionCall& call) {
  Value source = call.args[0];
  if (source.IsError()) return source;
  if (source.kind == Value::Kind::Reference && source.more) {
    const Value area = IntegerArg(call, 3, 1);
    if (area.IsError()) return area;
    const std::vector<Area> areas = source.Areas();
    if (area.number < 1 || area.number > static_cast<double>(areas.size())) return Value::Error(ErrorCode::Ref);
    source = Value::Reference(areas[static_cast<size_t>(area.number) - 1]);
  }
  const Table table(call, source);
  if (!table.Valid()) return Value::Error(ErrorCode::Value);
  Value row = IntegerArg(call, 1, 0);
  if (row.IsError()) return row;
  Value col = IntegerArg(call, 2, 0);
  if (col.IsError()) return col;
  // One row or column: the single number counts along it.
  if (call.Count() < 3 && table.Rows() == 1 && table.Cols() > 1) std::swap(row, col);
  if (row.number < 0 || col.number < 0 || row.number > table.Rows() || col.number > table.Cols()) {
    return Value::Error(ErrorCode::Ref);
  }
  const uint32_t r = static_cast<uint32_t>(row.number);
  const uint32_t c = static_cast<uint32_t>(col.number);
  if (!table.IsReference()) {
    if (r == 0 || c == 0) {
      if (table.Rows() == 1 || table.Cols() == 1) return table.At(r == 0 ? 0 : r - 1, c == 0 ? 0 : c - 1);
      return Value::Error(ErrorCode::Value);
    }
    return table.At(r - 1, c - 1);
  }
  Area area = table.Region();
  if (r > 0) area.rowFirst = area.rowLast = area.rowFirst + r - 1;
  if (c > 0) area.colFirst = area.colLast = static_cast<uint16_t>(area.colFirst + c - 1);
  return Value::Reference(area);
}

// ROW and COLUMN of a reference's first cell, or of the formula's cell.
template <bool rows>
Value Position(FunctionCall& call) {
  if (call.Count() == 0 || call.args[0].kind == Value::Kind::Missing) {
    return Value::Number(rows ? call.eval.Position().row + 1.0 : call.eval.Position().col + 1.0);
  }
  const Value& ref = call.args[0];
  if (ref.IsError()) return ref;
  if (ref.kind != Value::Kind::Reference) return Value::Error(ErrorCode::Value);
  return Value::Number(rows ? ref.area.rowFirst + 1.0 : ref.area.colFirst + 1.0);
}

template <bool rows>
Value Extent(FunctionCall& call) {
  const Value& source = call.args[0];
  if (source.IsError()) return source;
  if (source.kind == Value::Kind::Reference) {
    if (source.more) return Value::Error(ErrorCode::Ref);
    return Value::Number(rows ? source.area.Rows() : source.area.Cols());
  }
  if (source.kind == Value::Kind::Array) return Value::Number(rows ? source.array->Rows() : source.array->Cols());
  return Value::Number(1);
}

}  // namespace

void Functions::AddLookup(std::vector<FunctionInfo>& table) {
  table.push_back({102, "VLOOKUP", 3, 4, "VRRV", &Lookup<true>, false});
  table.push_back({101, "HLOOKUP", 3, 4, "VRRV", &Lookup<false>, false});
  table.push_back({64, "MATCH", 2, 3, "VRR", &Match, false});
  table.push_back({29, "INDEX", 2, 4, "RVVV", &Index, false, 'R'});
  table.push_back({8, "ROW", 0, 1, "R", &Position<true>, false});
  table.push_back({9, "COLUMN", 0, 1, "R", &Position<false>, false});
  table.push_back({76, "ROWS", 1, 1, "R", &Extent<true>, false});
  table.push_back({77, "COLUMNS", 1, 1, "R", &Extent<false>, false});
}
