// SUM COUNT COUNTA COUNTBLANK AVERAGE MIN MAX LARGE SMALL RANK SUMPRODUCT PRODUCT MEDIAN

#include "spreadsheet/formula/functions/FunctionSupport.h"

#include <algorithm>
#include <cmath>

using namespace FunctionSupport;

namespace {

Value Sum(FunctionCall& call) {
  const Tally tally = TallyNumbers(call);
  if (tally.error) return *tally.error;
  return std::isfinite(tally.sum) ? Value::Number(tally.sum) : Value::Error(ErrorCode::Num);
}

Value Product(FunctionCall& call) {
  const Numbers numbers = CollectNumbers(call);
  if (numbers.error) return *numbers.error;
  if (numbers.values.empty()) return Value::Number(0);
  double product = 1;
  for (double value : numbers.values) product *= value;
  return std::isfinite(product) ? Value::Number(product) : Value::Error(ErrorCode::Num);
}

Value Average(FunctionCall& call) {
  const Tally tally = TallyNumbers(call);
  if (tally.error) return *tally.error;
  if (tally.count == 0) return Value::Error(ErrorCode::Div0);
  return Value::Number(tally.sum / tally.count);
}

template <bool largest>
Value Extreme(FunctionCall& call) {
  const Tally tally = TallyNumbers(call);
  if (tally.error) return *tally.error;
  if (tally.count == 0) return Value::Number(0);
  return Value::Number(largest ? tally.max : tally.min);
}

Value Median(FunctionCall& call) {
  Numbers numbers = CollectNumbers(call);
  if (numbers.error) return *numbers.error;
  if (numbers.values.empty()) return Value::Error(ErrorCode::Num);
  std::vector<double>& v = numbers.values;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return Value::Number(n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

Value Count(FunctionCall& call) {
  double count = 0;
  for (const Value& arg : call.args) {
    if (arg.kind == Value::Kind::Reference) {
      count += CountInReference(call, arg, false);
      continue;
    }
    call.eval.ForEachValue(arg, [&count](const Value& value, bool fromArray) {
      if (value.kind == Value::Kind::Number) {
        ++count;
      } else if (!fromArray && (value.kind == Value::Kind::Boolean ||
                                (value.kind == Value::Kind::Text && Coerce::NumberFromText(value.text)))) {
        ++count;
      }
      return true;
    });
  }
  return Value::Number(count);
}

Value CountA(FunctionCall& call) {
  double count = 0;
  for (const Value& arg : call.args) {
    if (arg.kind == Value::Kind::Missing) continue;
    if (arg.kind == Value::Kind::Reference) {
      count += CountInReference(call, arg, true);
      continue;
    }
    call.eval.ForEachValue(arg, [&count](const Value& value, bool) {
      if (value.kind != Value::Kind::Empty) ++count;
      return true;
    });
  }
  return Value::Number(count);
}

// Empty cells and cells showing "" count as blank.
Value CountBlank(FunctionCall& call) {
  const Value& arg = call.args[0];
  if (arg.kind != Value::Kind::Reference) return arg.IsError() ? arg : Value::Error(ErrorCode::Value);
  uint64_t filled = 0;
  call.eval.ForEachValue(arg, [&filled](const Value& value, bool) {
    if (!(value.kind == Value::Kind::Text && value.text.isEmpty())) ++filled;
    return true;
  });
  return Value::Number(static_cast<double>(CellCount(arg) - filled));
}

// LARGE(array, k) and SMALL(array, k): k counts from 1, fractions round up.
template <bool largest>
Value KthValue(FunctionCall& call) {
  Numbers numbers = CollectNumbers(call, 0, 1);
  if (numbers.error) return *numbers.error;
  const Value k = NumberArg(call, 1);
  if (k.IsError()) return k;
  const double position = std::ceil(k.number);
  std::vector<double>& v = numbers.values;
  if (position < 1 || position > static_cast<double>(v.size())) return Value::Error(ErrorCode::Num);
  const size_t index = static_cast<size_t>(position) - 1;
  if (largest) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(index), v.end(), std::greater<>());
  } else {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(index), v.end());
  }
  return Value::Number(v[index]);
}

// RANK(number, ref, [order]): 1 for the largest (order 0) or the smallest.
Value Rank(FunctionCall& call) {
  const Value number = NumberArg(call, 0);
  if (number.IsError()) return number;
  const Value& ref = call.args[1];
  if (ref.IsError()) return ref;
  if (ref.kind != Value::Kind::Reference) return Value::Error(ErrorCode::Value);
  const Value order = IntegerArg(call, 2, 0);
  if (order.IsError()) return order;
  const Numbers numbers = CollectNumbers(call, 1, 2);
  if (numbers.error) return *numbers.error;
  double before = 0;
  bool found = false;
  for (double value : numbers.values) {
    if (value == number.number) found = true;
    if (order.number == 0 ? value > number.number : value < number.number) ++before;
  }
  return found ? Value::Number(before + 1) : Value::Error(ErrorCode::NA);
}

// SUMPRODUCT: arrays of one size multiplied element by element and summed;
// anything that is no number counts as 0.
Value SumProduct(FunctionCall& call) {
  const Matrix& first = *call.args[0].array;
  for (const Value& arg : call.args) {
    if (arg.array->Rows() != first.Rows() || arg.array->Cols() != first.Cols()) return Value::Error(ErrorCode::Value);
  }
  double sum = 0;
  const size_t count = first.Size();
  for (size_t i = 0; i < count; ++i) {
    double product = 1;
    for (const Value& arg : call.args) {
      const Matrix& m = *arg.array;
      switch (m.KindAt(i)) {
        case Value::Kind::Number: product *= m.NumberAt(i); break;
        case Value::Kind::Error: return Value::Error(m.ErrorAt(i));
        default: product = 0; break;
      }
    }
    sum += product;
  }
  return std::isfinite(sum) ? Value::Number(sum) : Value::Error(ErrorCode::Num);
}

}  // namespace

void Functions::AddAggregate(std::vector<FunctionInfo>& table) {
  table.push_back({FunctionIds::kSum, "SUM", 1, 30, "R", &Sum, false});
  table.push_back({FunctionIds::kCount, "COUNT", 1, 30, "R", &Count, false});
  table.push_back({169, "COUNTA", 1, 30, "R", &CountA, false});
  table.push_back({347, "COUNTBLANK", 1, 1, "R", &CountBlank, false});
  table.push_back({5, "AVERAGE", 1, 30, "R", &Average, false});
  table.push_back({6, "MIN", 1, 30, "R", &Extreme<false>, false});
  table.push_back({7, "MAX", 1, 30, "R", &Extreme<true>, false});
  table.push_back({183, "PRODUCT", 1, 30, "R", &Product, false});
  table.push_back({227, "MEDIAN", 1, 30, "R", &Median, false});
  table.push_back({325, "LARGE", 2, 2, "RV", &KthValue<true>, false});
  table.push_back({326, "SMALL", 2, 2, "RV", &KthValue<false>, false});
  table.push_back({216, "RANK", 2, 3, "VRV", &Rank, false});
  table.push_back({FunctionIds::kSumProduct, "SUMPRODUCT", 1, 30, "A", &SumProduct, false});
}
