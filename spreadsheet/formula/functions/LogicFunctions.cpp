// AND OR NOT TRUE FALSE NA ISBLANK ISNUMBER ISTEXT ISNONTEXT ISLOGICAL ISERROR ISERR ISNA

#include "spreadsheet/formula/functions/FunctionSupport.h"

using namespace FunctionSupport;

namespace {

// AND and OR: booleans and numbers count, texts and empty cells in
// references are skipped, a text given directly must read TRUE or FALSE.
// Nothing to go by is #VALUE!.
template <bool all>
Value Logical(FunctionCall& call) {
  bool any = false;
  bool result = all;
  std::optional<Value> error;
  for (const Value& arg : call.args) {
    call.eval.ForEachValue(arg, [&](const Value& value, bool fromReference) {
      Value truth;
      if (value.IsError()) {
        error = value;
        return false;
      }
      if (value.kind == Value::Kind::Boolean || value.kind == Value::Kind::Number) {
        truth = Coerce::ToBoolean(value);
      } else if (value.kind == Value::Kind::Text && !fromReference) {
        truth = Coerce::ToBoolean(value);
        if (truth.IsError()) {
          error = truth;
          return false;
        }
      } else if (value.kind == Value::Kind::Missing) {
        truth = Value::Boolean(false);
      } else {
        return true;
      }
      any = true;
      result = all ? (result && truth.boolean) : (result || truth.boolean);
      return true;
    });
    if (error) return *error;
  }
  return any ? Value::Boolean(result) : Value::Error(ErrorCode::Value);
}

Value Not(FunctionCall& call) {
  const Value truth = BooleanArg(call, 0);
  if (truth.IsError()) return truth;
  return Value::Boolean(!truth.boolean);
}

Value True(FunctionCall&) { return Value::Boolean(true); }
Value False(FunctionCall&) { return Value::Boolean(false); }
Value NotAvailable(FunctionCall&) { return Value::Error(ErrorCode::NA); }

template <bool (*test)(const Value&)>
Value Is(FunctionCall& call) {
  return Value::Boolean(test(Scalar(call, 0)));
}

bool Blank(const Value& v) { return v.kind == Value::Kind::Empty; }
bool Number(const Value& v) { return v.kind == Value::Kind::Number; }
bool Text(const Value& v) { return v.kind == Value::Kind::Text; }
bool NonText(const Value& v) { return v.kind != Value::Kind::Text; }
bool Boolean(const Value& v) { return v.kind == Value::Kind::Boolean; }
bool AnyError(const Value& v) { return v.IsError(); }
bool ErrorButNA(const Value& v) { return v.IsError() && v.error != ErrorCode::NA; }
bool NA(const Value& v) { return v.IsError() && v.error == ErrorCode::NA; }

}  // namespace

void Functions::AddLogic(std::vector<FunctionInfo>& table) {
  table.push_back({36, "AND", 1, 30, "R", &Logical<true>, false});
  table.push_back({37, "OR", 1, 30, "R", &Logical<false>, false});
  table.push_back({38, "NOT", 1, 1, "V", &Not, true});
  table.push_back({34, "TRUE", 0, 0, "V", &True, false});
  table.push_back({35, "FALSE", 0, 0, "V", &False, false});
  table.push_back({10, "NA", 0, 0, "V", &NotAvailable, false});
  table.push_back({129, "ISBLANK", 1, 1, "V", &Is<&Blank>, true});
  table.push_back({128, "ISNUMBER", 1, 1, "V", &Is<&Number>, true});
  table.push_back({127, "ISTEXT", 1, 1, "V", &Is<&Text>, true});
  table.push_back({190, "ISNONTEXT", 1, 1, "V", &Is<&NonText>, true});
  table.push_back({198, "ISLOGICAL", 1, 1, "V", &Is<&Boolean>, true});
  table.push_back({3, "ISERROR", 1, 1, "V", &Is<&AnyError>, true});
  table.push_back({126, "ISERR", 1, 1, "V", &Is<&ErrorButNA>, true});
  table.push_back({2, "ISNA", 1, 1, "V", &Is<&NA>, true});
}
