#include "spreadsheet/formula/functions/FunctionSupport.h"

#include <cmath>

namespace FunctionSupport {

Value Scalar(const FunctionCall& call, size_t i) {
  if (i >= call.args.size()) return Value::Missing();
  const Value& arg = call.args[i];
  if (arg.kind == Value::Kind::Reference) return call.eval.Intersect(arg);
  if (arg.kind == Value::Kind::Array) {
    return arg.array->Size() > 0 ? arg.array->At(0) : Value::Error(ErrorCode::Value);
  }
  return arg;
}

Value NumberArg(const FunctionCall& call, size_t i) { return Coerce::ToNumber(Scalar(call, i)); }
Value TextArg(const FunctionCall& call, size_t i) { return Coerce::ToText(Scalar(call, i)); }
Value BooleanArg(const FunctionCall& call, size_t i) { return Coerce::ToBoolean(Scalar(call, i)); }

Value IntegerArg(const FunctionCall& call, size_t i, double fallback) {
  if (!call.Has(i)) return Value::Number(i < call.Count() ? 0 : fallback);
  const Value number = NumberArg(call, i);
  if (number.IsError()) return number;
  return Value::Number(std::trunc(number.number));
}

Numbers CollectNumbers(FunctionCall& call, size_t first, size_t end) {
  Numbers out;
  for (size_t i = first; i < call.Count() && i < end && !out.error; ++i) {
    const Value& arg = call.args[i];
    if (arg.kind == Value::Kind::Missing) {
      out.values.push_back(0);
      continue;
    }
    call.eval.ForEachValue(arg, [&out](const Value& value, bool fromReference) {
      if (value.IsError()) {
        out.error = value;
        return false;
      }
      if (value.kind == Value::Kind::Number) {
        out.values.push_back(value.number);
      } else if (!fromReference) {
        const Value number = Coerce::ToNumber(value);
        if (number.IsError()) {
          out.error = number;
          return false;
        }
        out.values.push_back(number.number);
      }
      return true;
    });
  }
  return out;
}

void Tally::Add(double value) {
  min = count == 0 ? value : std::min(min, value);
  max = count == 0 ? value : std::max(max, value);
  sum += value;
  ++count;
}

void Tally::Add(const AreaSummary& summary) {
  if (summary.numbers == 0) return;
  min = count == 0 ? summary.min : std::min(min, summary.min);
  max = count == 0 ? summary.max : std::max(max, summary.max);
  sum += summary.sum;
  count += summary.numbers;
}

Tally TallyNumbers(FunctionCall& call) {
  Tally tally;
  for (const Value& arg : call.args) {
    if (arg.kind == Value::Kind::Missing) {
      tally.Add(0);
      continue;
    }
    if (arg.kind == Value::Kind::Reference) {
      for (const Area& area : arg.Areas()) {
        AreaSummary summary;
        if (call.eval.Cells().Summarize(area, summary)) {
          if (summary.hasError) tally.error = Value::Error(summary.error);
          tally.Add(summary);
        } else {
          call.eval.ForEachValue(Value::Reference(area), [&tally](const Value& value, bool) {
            if (value.IsError()) tally.error = value;
            if (value.kind == Value::Kind::Number) tally.Add(value.number);
            return !tally.error;
          });
        }
        if (tally.error) return tally;
      }
      continue;
    }
    call.eval.ForEachValue(arg, [&tally](const Value& value, bool fromArray) {
      if (value.IsError()) {
        tally.error = value;
      } else if (value.kind == Value::Kind::Number) {
        tally.Add(value.number);
      } else if (!fromArray) {
        const Value number = Coerce::ToNumber(value);
        if (number.IsError()) tally.error = number;
        else tally.Add(number.number);
      }
      return !tally.error;
    });
    if (tally.error) return tally;
  }
  return tally;
}

double CountInReference(FunctionCall& call, const Value& reference, bool anything) {
  double count = 0;
  for (const Area& area : reference.Areas()) {
    AreaSummary summary;
    if (call.eval.Cells().Summarize(area, summary)) {
      count += anything ? summary.filled : summary.numbers;
      continue;
    }
    call.eval.Cells().ForEachFilled(area, [&](uint16_t, uint32_t, uint16_t, const Value& value) {
      if (anything || value.kind == Value::Kind::Number) ++count;
      return true;
    });
  }
  return count;
}

uint64_t CellCount(const Value& value) {
  if (value.kind == Value::Kind::Array) return static_cast<uint64_t>(value.array->Rows()) * value.array->Cols();
  if (value.kind != Value::Kind::Reference) return 1;
  uint64_t count = 0;
  for (const Area& a : value.Areas()) {
    count += static_cast<uint64_t>(a.Rows()) * a.Cols() * (static_cast<uint64_t>(a.sheetLast - a.sheetFirst) + 1);
  }
  return count;
}

}  // namespace FunctionSupport
