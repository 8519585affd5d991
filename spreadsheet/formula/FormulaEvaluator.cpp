#include "spreadsheet/formula/FormulaEvaluator.h"

#include "spreadsheet/formula/ElementChain.h"
#include "spreadsheet/formula/ElementClasses.h"
#include "spreadsheet/formula/ElementMemo.h"
#include "spreadsheet/formula/FormulaFunctions.h"
#include "spreadsheet/formula/Operators.h"

#include <algorithm>
#include <cmath>

namespace {

using Operators::Single;
using Operators::TooLarge;

bool Overlap(const Area& a, const Area& b, Area& out) {
  if (a.sheetFirst != b.sheetFirst || a.sheetLast != b.sheetLast) return false;
  out = a;
  out.rowFirst = std::max(a.rowFirst, b.rowFirst);
  out.rowLast = std::min(a.rowLast, b.rowLast);
  out.colFirst = std::max(a.colFirst, b.colFirst);
  out.colLast = std::min(a.colLast, b.colLast);
  return out.rowFirst <= out.rowLast && out.colFirst <= out.colLast;
}

}  // namespace

bool ResolveRef(const RefSpec& ref, const CellPosition& at, int sheetCount, Area& out) {
  if (ref.invalid || ref.sheetFirst == RefSpec::kBadSheet) return false;
  int32_t first = ref.sheetFirst == RefSpec::kOwnSheet ? at.sheet : ref.sheetFirst;
  int32_t last = ref.sheetLast == RefSpec::kOwnSheet ? at.sheet : ref.sheetLast;
  if (first > last) std::swap(first, last);
  if (first < 0 || last >= sheetCount) return false;
  uint32_t rows[2];
  uint32_t cols[2];
  for (int i = 0; i < 2; ++i) {
    rows[i] = ref.rowRelative[i] ? static_cast<uint32_t>(at.row + ref.row[i]) & 0xFFFF : static_cast<uint32_t>(ref.row[i]) & 0xFFFF;
    cols[i] = ref.colRelative[i] ? static_cast<uint32_t>(at.col + ref.col[i]) & 0xFF : static_cast<uint32_t>(ref.col[i]) & 0xFF;
  }
  out.sheetFirst = static_cast<uint16_t>(first);
  out.sheetLast = static_cast<uint16_t>(last);
  out.rowFirst = std::min(rows[0], rows[1]);
  out.rowLast = std::max(rows[0], rows[1]);
  out.colFirst = static_cast<uint16_t>(std::min(cols[0], cols[1]));
  out.colLast = static_cast<uint16_t>(std::max(cols[0], cols[1]));
  return true;
}

Value FormulaEvaluator::Evaluate(const FormulaProgram& program, const CellPosition& at) {
  at_ = at;
  arrayDepth_ = 0;
  nameDepth_ = 0;
  names_.clear();
  Value result = Eval(program, program.root);
  if (result.kind == Value::Kind::Reference) result = Intersect(result);
  if (result.kind == Value::Kind::Array) {
    result = result.array->Size() > 0 ? result.array->At(0) : Value::Error(ErrorCode::Value);
  }
  // A formula that points at an empty cell shows 0.
  if (result.kind == Value::Kind::Empty || result.kind == Value::Kind::Missing) return Value::Number(0);
  if (result.kind == Value::Kind::Number && !std::isfinite(result.number)) return Value::Error(ErrorCode::Num);
  return result;
}

Value FormulaEvaluator::Eval(const FormulaProgram& program, uint32_t index) {
  const FormulaNode& node = program.Node(index);
  switch (node.kind) {
    case NodeKind::Number: return Value::Number(program.numbers[node.payload]);
    case NodeKind::Text: return Value::Text(program.texts[node.payload]);
    case NodeKind::Boolean: return Value::Boolean(node.op != 0);
    case NodeKind::Error: return Value::Error(static_cast<ErrorCode>(node.op));
    case NodeKind::Missing: return Value::Missing();
    case NodeKind::Array: return Value::Array(program.arrays[node.payload]);
    case NodeKind::Reference: {
      Area area;
      if (!ResolveRef(program.refs[node.payload], at_, cells_.SheetCount(), area)) return Value::Error(ErrorCode::Ref);
      if (bound_ && area == boundArea_) return boundValue_;
      return Value::Reference(area);
    }
    case NodeKind::Name: return EvalName(node.payload);
    default: break;
  }
  Value chained;
  if (arrayDepth_ > 0 && !bound_ && EvalChainByElement(program, index, chained)) {
    return chained;
  }
  switch (node.kind) {
    case NodeKind::Unary: return EvalUnary(program, node);
    case NodeKind::Binary: return EvalBinary(program, node);
    case NodeKind::Function: return EvalFunction(program, node);
    default: return Value::Error(ErrorCode::Value);
  }
}

// The one area of more than one cell that the chain's references span;
// false when there is none, more than one, or a reference does not resolve.
bool FormulaEvaluator::ChainArea(const FormulaProgram& program, uint32_t node, Area& area) {
  bool found = false;
  for (const uint32_t ref : ChainReferences(program, node)) {
    Area resolved;
    if (!ResolveRef(program.refs[ref], at_, cells_.SheetCount(), resolved)) return false;
    if (resolved.SingleCell()) continue;
    if (found && !(resolved == area)) return false;
    area = resolved;
    found = true;
  }
  return found && area.sheetFirst == area.sheetLast && !TooLarge(area.Rows(), area.Cols());
}

namespace {

constexpr size_t kFewElements = 16;  // below this, one array per step costs no more
constexpr size_t kMaxClasses = 256;  // beyond this, values are too varied for classes to pay

}  // namespace

std::shared_ptr<const ElementClasses> FormulaEvaluator::ClassesOf(const std::shared_ptr<const Matrix>& values) {
  if (keepArrays_) {
    if (const ArrayMemo::Classes* known = arrays_.FindClasses(values)) return *known;
  }
  auto classes = std::make_shared<ElementClasses>();
  std::shared_ptr<const ElementClasses> found;
  if (ClassifyElements(*values, kMaxClasses, *classes)) found = std::move(classes);
  if (keepArrays_) arrays_.KeepClasses(values, found);
  return found;
}

// The chain for one element of its area, as a single value.
Value FormulaEvaluator::EvalChainElement(const FormulaProgram& program, uint32_t node, Value element) {
  const int depth = arrayDepth_;
  arrayDepth_ = 0;
  bound_ = true;
  boundValue_ = std::move(element);
  const Value value = Eval(program, node);
  bound_ = false;
  boundValue_ = Value();
  arrayDepth_ = depth;
  return value;
}

bool FormulaEvaluator::EvalChainByClass(const FormulaProgram& program, uint32_t node, ChainByClass& chain) {
  Area area;
  if (!IsElementChain(program, node) || !ChainArea(program, node, area)) return false;
  chain.values = ToMatrix(Value::Reference(area));
  if (chain.values->Size() < kFewElements) return false;
  boundArea_ = area;
  chain.classes = ClassesOf(chain.values);
  if (!chain.classes) return true;
  for (const size_t first : chain.classes->first) {
    chain.results.push_back(EvalChainElement(program, node, chain.values->At(first)));
    if (!chain.results.back().IsScalar()) return false;
  }
  return true;
}

bool FormulaEvaluator::EvalChainByElement(const FormulaProgram& program, uint32_t node, Value& out) {
  ChainByClass chain;
  if (!EvalChainByClass(program, node, chain)) return false;
  if (!chain.classes) return ChainByEachElement(program, node, *chain.values, out);
  auto result = std::make_shared<Matrix>(chain.values->Rows(), chain.values->Cols());
  const std::vector<uint32_t>& classOf = chain.classes->classOf;
  for (size_t at = 0; at < classOf.size(); ++at) result->Set(at, chain.results[classOf[at]]);
  out = Value::Array(std::move(result));
  return true;
}

// Values too varied for classes: each element, with the last results remembered.
bool FormulaEvaluator::ChainByEachElement(const FormulaProgram& program, uint32_t node, const Matrix& values, Value& out) {
  auto result = std::make_shared<Matrix>(values.Rows(), values.Cols());
  ElementMemo memo;
  for (size_t at = 0; at < values.Size(); ++at) {
    if (const Value* known = memo.Find(values, at)) {
      result->Set(at, *known);
      continue;
    }
    const Value value = EvalChainElement(program, node, values.At(at));
    if (!value.IsScalar()) return false;
    memo.Keep(value);
    result->Set(at, value);
  }
  out = Value::Array(std::move(result));
  return true;
}

// As SUMPRODUCT sums the chain's array: numbers added, other values 0, the
// first error in order the result. Summed class by class only where every
// term is a whole number small enough that no order of adding rounds.
bool FormulaEvaluator::SumOfChain(const FormulaProgram& program, uint32_t node, Value& out) {
  ChainByClass chain;
  if (!EvalChainByClass(program, node, chain) || !chain.classes) return false;
  const ElementClasses& classes = *chain.classes;
  const double limit = 9007199254740992.0 / static_cast<double>(classes.classOf.size());  // 2^53 over the elements
  double sum = 0;
  size_t firstError = SIZE_MAX;
  ErrorCode error = ErrorCode::Value;
  for (size_t k = 0; k < chain.results.size(); ++k) {
    const Value& result = chain.results[k];
    if (result.IsError()) {
      if (classes.first[k] < firstError) {
        firstError = classes.first[k];
        error = result.error;
      }
    } else if (result.kind == Value::Kind::Number) {
      if (std::trunc(result.number) != result.number || std::fabs(result.number) > limit) return false;
      sum += static_cast<double>(classes.count[k]) * result.number;
    }
  }
  out = firstError != SIZE_MAX ? Value::Error(error) : Value::Number(sum);
  return true;
}

Value FormulaEvaluator::EvalName(uint32_t index) {
  const uint64_t key = (uint64_t{index} << 1) | (arrayDepth_ > 0 ? 1u : 0u);
  if (const auto met = names_.find(key); met != names_.end()) {
    return met->second.pending ? Value::Error(ErrorCode::Name) : met->second.value;
  }
  const FormulaProgram* program = cells_.NameProgram(index);
  if (!program || nameDepth_ >= kMaxNameDepth) return Value::Error(ErrorCode::Name);
  names_.emplace(key, NameResult{});
  ++nameDepth_;
  Value result = Eval(*program, program->root);
  --nameDepth_;
  names_[key] = NameResult{false, result};  // looked up again: the map may have grown meanwhile
  return result;
}

Value FormulaEvaluator::Operand(const Value& value) {
  if (value.kind != Value::Kind::Reference) return value;
  if (arrayDepth_ > 0) return Value::Array(ToMatrix(value));
  return Intersect(value);
}

Value FormulaEvaluator::Intersect(const Value& reference) {
  if (reference.more || reference.area.sheetFirst != reference.area.sheetLast) return Value::Error(ErrorCode::Value);
  const Area& a = reference.area;
  if (a.rowFirst == a.rowLast && a.colFirst == a.colLast) return cells_.Cell(a.sheetFirst, a.rowFirst, a.colFirst);
  const bool rowInside = at_.row >= a.rowFirst && at_.row <= a.rowLast;
  const bool colInside = at_.col >= a.colFirst && at_.col <= a.colLast;
  if (a.colFirst == a.colLast) {
    return rowInside ? cells_.Cell(a.sheetFirst, at_.row, a.colFirst) : Value::Error(ErrorCode::Value);
  }
  if (a.rowFirst == a.rowLast) {
    return colInside ? cells_.Cell(a.sheetFirst, a.rowFirst, at_.col) : Value::Error(ErrorCode::Value);
  }
  return rowInside && colInside ? cells_.Cell(a.sheetFirst, at_.row, at_.col) : Value::Error(ErrorCode::Value);
}

std::shared_ptr<const Matrix> FormulaEvaluator::ToMatrix(const Value& value) {
  if (value.kind == Value::Kind::Array) return value.array;
  if (value.kind != Value::Kind::Reference) return Single(value.kind == Value::Kind::Missing ? Value() : value);
  if (value.more || value.area.sheetFirst != value.area.sheetLast) return Single(Value::Error(ErrorCode::Value));
  const Area& a = value.area;
  if (TooLarge(a.Rows(), a.Cols())) return Single(Value::Error(ErrorCode::Num));
  if (!keepArrays_) return ReadArea(a);
  const std::optional<uint64_t> version = cells_.AreaVersion(a);
  if (!version) return ReadArea(a);
  if (std::shared_ptr<const Matrix> kept = arrays_.FindArea(a, *version)) return kept;
  std::shared_ptr<const Matrix> m = ReadArea(a);
  arrays_.KeepArea(a, *version, m);
  return m;
}

std::shared_ptr<const Matrix> FormulaEvaluator::ReadArea(const Area& a) {
  auto m = std::make_shared<Matrix>(a.Rows(), a.Cols());
  if (cells_.ReadArea(a, *m)) return m;
  cells_.ForEachFilled(a, [&](uint16_t, uint32_t row, uint16_t col, const Value& cell) {
    m->Set(row - a.rowFirst, col - a.colFirst, cell);
    return true;
  });
  return m;
}

void FormulaEvaluator::KeepArrays(bool keep) {
  keepArrays_ = keep;
  if (!keep) arrays_.Clear();
}

void FormulaEvaluator::ForEachValue(const Value& argument, ArgVisit visit) {
  if (argument.kind == Value::Kind::Reference) {
    bool go = true;
    for (const Area& area : argument.Areas()) {
      cells_.ForEachFilled(area, [&](uint16_t, uint32_t, uint16_t, const Value& cell) { return go = visit(cell, true); });
      if (!go) return;
    }
  } else if (argument.kind == Value::Kind::Array) {
    const Matrix& m = *argument.array;
    for (size_t i = 0; i < m.Size(); ++i) {
      if (!visit(m.At(i), true)) return;
    }
  } else {
    visit(argument, false);
  }
}

Value FormulaEvaluator::EvalUnary(const FormulaProgram& program, const FormulaNode& node) {
  const Operator op = static_cast<Operator>(node.op);
  const Value operand = Operand(Eval(program, program.Child(node, 0)));
  if (operand.kind != Value::Kind::Array) return Operators::Unary(op, operand);
  return Operators::Unary(op, *operand.array);
}

Value FormulaEvaluator::EvalBinary(const FormulaProgram& program, const FormulaNode& node) {
  const Operator op = static_cast<Operator>(node.op);
  const Value left = Eval(program, program.Child(node, 0));
  const Value right = Eval(program, program.Child(node, 1));
  if (op == Operator::Range || op == Operator::Union || op == Operator::Intersect) {
    return EvalReferenceOperator(op, left, right);
  }
  const Value a = Operand(left);
  const Value b = Operand(right);
  if (a.kind != Value::Kind::Array && b.kind != Value::Kind::Array) return Operators::Binary(op, a, b);
  return CombineArrays(op, a, b);
}

Value FormulaEvaluator::CombineArrays(Operator op, const Value& a, const Value& b) {
  const std::shared_ptr<const Matrix> left = ToMatrix(a);
  const std::shared_ptr<const Matrix> right = ToMatrix(b);
  if (!keepArrays_ || !arrays_.Keeps(left, right)) return Operators::Binary(op, *left, *right);
  if (std::shared_ptr<const Matrix> kept = arrays_.FindResult(op, left, right)) return Value::Array(std::move(kept));
  Value result = Operators::Binary(op, *left, *right);
  if (result.kind == Value::Kind::Array) arrays_.KeepResult(op, left, right, result.array);
  return result;
}

Value FormulaEvaluator::EvalReferenceOperator(Operator op, const Value& left, const Value& right) {
  if (left.IsError()) return left;
  if (right.IsError()) return right;
  if (left.kind != Value::Kind::Reference || right.kind != Value::Kind::Reference) return Value::Error(ErrorCode::Value);
  std::vector<Area> areas = left.Areas();
  const std::vector<Area> others = right.Areas();
  if (op == Operator::Union) {
    areas.insert(areas.end(), others.begin(), others.end());
    return Value::Union(std::move(areas));
  }
  if (op == Operator::Intersect) {
    std::vector<Area> common;
    for (const Area& a : areas) {
      for (const Area& b : others) {
        Area overlap;
        if (Overlap(a, b, overlap)) common.push_back(overlap);
      }
    }
    return common.empty() ? Value::Error(ErrorCode::Null) : Value::Union(std::move(common));
  }
  // Range: the smallest area holding both sides, on one sheet run.
  Area span = areas.front();
  const std::vector<Area>* sides[] = {&areas, &others};
  for (const std::vector<Area>* side : sides) {
    for (const Area& a : *side) {
      if (a.sheetFirst != span.sheetFirst || a.sheetLast != span.sheetLast) return Value::Error(ErrorCode::Value);
      span.rowFirst = std::min(span.rowFirst, a.rowFirst);
      span.rowLast = std::max(span.rowLast, a.rowLast);
      span.colFirst = std::min(span.colFirst, a.colFirst);
      span.colLast = std::max(span.colLast, a.colLast);
    }
  }
  return Value::Reference(span);
}

// IF and CHOOSE evaluate only the argument they pick; inside an argument
// that takes arrays, a condition or index that is an array picks element by
// element, as LibreOffice and an array formula of the application do.
Value FormulaEvaluator::EvalChoice(const FormulaProgram& program, const FormulaNode& node) {
  const bool isIf = node.function == FunctionIds::kIf;
  Value pick = Operand(Eval(program, program.Child(node, 0)));
  if (pick.kind == Value::Kind::Array) {
    if (arrayDepth_ > 0) return EvalChoiceByElement(program, node, *pick.array);
    pick = pick.array->Size() > 0 ? pick.array->At(0) : Value::Error(ErrorCode::Value);
  }
  const uint32_t chosen = Chosen(isIf, pick, node.argc);
  if (chosen == kNoChoice) return ChoiceFailure(isIf, pick);
  if (chosen >= node.argc) return Value::Boolean(false);  // IF without its FALSE part
  const Value result = Eval(program, program.Child(node, chosen));
  return result.kind == Value::Kind::Missing ? Value::Number(0) : result;
}

uint32_t FormulaEvaluator::Chosen(bool isIf, const Value& pick, uint32_t argc) {
  if (pick.IsError()) return kNoChoice;
  if (isIf) {
    const Value condition = Coerce::ToBoolean(pick);
    if (condition.IsError()) return kNoChoice;
    return condition.boolean ? 1 : 2;
  }
  const Value number = Coerce::ToNumber(pick);
  if (number.IsError()) return kNoChoice;
  const double index = std::trunc(number.number);
  return index < 1 || index >= argc ? kNoChoice : static_cast<uint32_t>(index);
}

Value FormulaEvaluator::ChoiceFailure(bool isIf, const Value& pick) {
  if (pick.IsError()) return pick;
  const Value converted = isIf ? Coerce::ToBoolean(pick) : Coerce::ToNumber(pick);
  return converted.IsError() ? converted : Value::Error(ErrorCode::Value);
}

Value FormulaEvaluator::EvalChoiceByElement(const FormulaProgram& program, const FormulaNode& node,
                                            const Matrix& picks) {
  const bool isIf = node.function == FunctionIds::kIf;
  std::vector<std::shared_ptr<const Matrix>> choices(node.argc);
  uint32_t rows = picks.Rows();
  uint32_t cols = picks.Cols();
  for (uint32_t i = 1; i < node.argc; ++i) {
    const Value choice = Operand(Eval(program, program.Child(node, i)));
    choices[i] = ToMatrix(choice.kind == Value::Kind::Missing ? Value::Number(0) : choice);
    rows = std::max(rows, choices[i]->Rows());
    cols = std::max(cols, choices[i]->Cols());
  }
  if (TooLarge(rows, cols)) return Value::Error(ErrorCode::Num);
  auto result = std::make_shared<Matrix>(rows, cols);
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < cols; ++c) {
      const size_t at = result->Index(r, c);
      const size_t p = Operators::ElementIndex(picks, r, c);
      if (p == SIZE_MAX) {
        result->SetError(at, ErrorCode::NA);
        continue;
      }
      const Value pick = picks.At(p);
      const uint32_t chosen = Chosen(isIf, pick, node.argc);
      if (chosen == kNoChoice) {
        result->Set(at, ChoiceFailure(isIf, pick));
      } else if (chosen >= node.argc) {
        result->SetBoolean(at, false);
      } else {
        const size_t e = Operators::ElementIndex(*choices[chosen], r, c);
        if (e == SIZE_MAX) {
          result->SetError(at, ErrorCode::NA);
        } else {
          result->Set(at, choices[chosen]->At(e));
        }
      }
    }
  }
  return Value::Array(std::move(result));
}

Value FormulaEvaluator::EvalFunction(const FormulaProgram& program, const FormulaNode& node) {
  const FunctionInfo* info = FindFunction(node.function);
  if (!info) return Value::Error(ErrorCode::Name);
  if (node.function == FunctionIds::kIf || node.function == FunctionIds::kChoose) return EvalChoice(program, node);
  if (node.function == FunctionIds::kSumProduct && node.argc == 1 && !bound_) {
    Value sum;
    if (SumOfChain(program, program.Child(node, 0), sum)) return sum;
  }
  std::vector<Value> args;
  args.reserve(node.argc);
  bool anyArray = false;
  for (uint32_t i = 0; i < node.argc; ++i) {
    const char kind = info->Param(i);
    if (kind == 'A') ++arrayDepth_;
    Value arg = Eval(program, program.Child(node, i));
    if (kind == 'A') {
      arg = Value::Array(ToMatrix(arg));
      --arrayDepth_;
    } else if (kind == 'V') {
      arg = Operand(arg);
      anyArray = anyArray || arg.kind == Value::Kind::Array;
    }
    args.push_back(std::move(arg));
  }
  if (!anyArray || !info->elementwise) {
    FunctionCall call{*this, args};
    return info->impl(call);
  }
  return ApplyByElement(*info, args);
}

// An array given for a value argument: the function for each element.
Value FormulaEvaluator::ApplyByElement(const FunctionInfo& info, const std::vector<Value>& args) {
  uint32_t rows = 1;
  uint32_t cols = 1;
  for (size_t i = 0; i < args.size(); ++i) {
    if (info.Param(i) == 'V' && args[i].kind == Value::Kind::Array) {
      rows = std::max(rows, args[i].array->Rows());
      cols = std::max(cols, args[i].array->Cols());
    }
  }
  if (TooLarge(rows, cols)) return Value::Error(ErrorCode::Num);
  auto result = std::make_shared<Matrix>(rows, cols);
  // The arguments that are no arrays are the same for every element.
  std::vector<Value> single(args);
  std::vector<size_t> arrays;
  for (size_t i = 0; i < args.size(); ++i) {
    if (info.Param(i) == 'V' && args[i].kind == Value::Kind::Array) arrays.push_back(i);
  }
  FunctionCall call{*this, single};
  if (arrays.size() == 1 && args[arrays[0]].array->Rows() == rows && args[arrays[0]].array->Cols() == cols) {
    // One array, of the result's shape: each distinct element's result once.
    const size_t index = arrays[0];
    const Matrix& m = *args[index].array;
    ElementMemo memo;
    for (size_t at = 0; at < m.Size(); ++at) {
      if (const Value* known = memo.Find(m, at)) {
        result->Set(at, *known);
        continue;
      }
      single[index] = m.At(at);
      const Value value = info.impl(call);
      memo.Keep(value);
      result->Set(at, value);
    }
    return Value::Array(std::move(result));
  }
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < cols; ++c) {
      bool inside = true;
      for (size_t i : arrays) {
        const Matrix& m = *args[i].array;
        const size_t element = Operators::ElementIndex(m, r, c);
        inside = inside && element != SIZE_MAX;
        single[i] = element != SIZE_MAX ? m.At(element) : Value();
      }
      result->Set(result->Index(r, c), inside ? info.impl(call) : Value::Error(ErrorCode::NA));
    }
  }
  return Value::Array(std::move(result));
}
