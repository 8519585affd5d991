#include "spreadsheet/formula/Operators.h"

#include <algorithm>
#include <cmath>

namespace Operators {

namespace {

bool IsArithmetic(Operator op) { return op >= Operator::Add && op <= Operator::Power; }
bool IsComparison(Operator op) { return op >= Operator::Less && op <= Operator::NotEqual; }

// false with error set when the operation fails.
bool Arithmetic(Operator op, double a, double b, double& out, ErrorCode& error) {
  switch (op) {
    case Operator::Add: out = a + b; break;
    case Operator::Subtract: out = a - b; break;
    case Operator::Multiply: out = a * b; break;
    case Operator::Divide:
      if (b == 0) {
        error = ErrorCode::Div0;
        return false;
      }
      out = a / b;
      break;
    case Operator::Power:
      if (a == 0 && b <= 0) {
        error = b == 0 ? ErrorCode::Num : ErrorCode::Div0;
        return false;
      }
      out = std::pow(a, b);
      break;
    default:
      error = ErrorCode::Value;
      return false;
  }
  if (std::isfinite(out)) return true;
  error = ErrorCode::Num;
  return false;
}

bool Compared(Operator op, int order) {
  switch (op) {
    case Operator::Less: return order < 0;
    case Operator::LessEqual: return order <= 0;
    case Operator::Equal: return order == 0;
    case Operator::GreaterEqual: return order >= 0;
    case Operator::Greater: return order > 0;
    default: return order != 0;
  }
}

// An element that arithmetic reads as a number without converting text:
// a number, a boolean (1 or 0) or an empty cell (0).
bool PlainNumber(const Matrix& m, size_t i, double& out) {
  switch (m.KindAt(i)) {
    case Value::Kind::Number: out = m.NumberAt(i); return true;
    case Value::Kind::Boolean: out = m.BooleanAt(i) ? 1 : 0; return true;
    case Value::Kind::Empty: out = 0; return true;
    default: return false;
  }
}

// The order of comparison of two elements as Coerce::Compare gives it
// (numbers before texts before booleans, texts without regard to case, an
// empty element the other's kind), without making values of them. Neither
// may be an error.
int CompareElements(const Matrix& a, size_t i, const Matrix& b, size_t j) {
  Value::Kind ka = a.KindAt(i);
  Value::Kind kb = b.KindAt(j);
  if (ka == Value::Kind::Empty && kb == Value::Kind::Empty) return 0;
  const auto rank = [](Value::Kind kind) {
    return kind == Value::Kind::Number ? 0 : kind == Value::Kind::Text ? 1 : 2;
  };
  const Value::Kind kind = ka == Value::Kind::Empty ? kb : ka;
  const int ra = rank(kind);
  const int rb = rank(kb == Value::Kind::Empty ? ka : kb);
  if (ra != rb) return ra < rb ? -1 : 1;
  switch (kind) {
    case Value::Kind::Number: {
      const double x = ka == Value::Kind::Empty ? 0 : a.NumberAt(i);
      const double y = kb == Value::Kind::Empty ? 0 : b.NumberAt(j);
      return x < y ? -1 : (x > y ? 1 : 0);
    }
    case Value::Kind::Text: {
      static const QString kNone;
      const QString& x = ka == Value::Kind::Empty ? kNone : a.TextAt(i);
      const QString& y = kb == Value::Kind::Empty ? kNone : b.TextAt(j);
      const int c = x.compare(y, Qt::CaseInsensitive);
      return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    default: {
      const bool x = ka != Value::Kind::Empty && a.BooleanAt(i);
      const bool y = kb != Value::Kind::Empty && b.BooleanAt(j);
      return x == y ? 0 : (x ? 1 : -1);
    }
  }
}

}  // namespace

Value Binary(Operator op, const Value& left, const Value& right) {
  if (left.IsError()) return left;
  if (right.IsError()) return right;
  if (op == Operator::Concat) {
    const Value a = Coerce::ToText(left);
    const Value b = Coerce::ToText(right);
    return Value::Text(a.text + b.text);
  }
  if (IsComparison(op)) return Value::Boolean(Compared(op, Coerce::Compare(left, right)));
  const Value a = Coerce::ToNumber(left);
  if (a.IsError()) return a;
  const Value b = Coerce::ToNumber(right);
  if (b.IsError()) return b;
  double out = 0;
  ErrorCode error = ErrorCode::Value;
  return Arithmetic(op, a.number, b.number, out, error) ? Value::Number(out) : Value::Error(error);
}

Value Unary(Operator op, const Value& operand) {
  if (operand.IsError()) return operand;
  if (op == Operator::Plus) return operand.kind == Value::Kind::Missing ? Value() : operand;
  const Value number = Coerce::ToNumber(operand);
  if (number.IsError()) return number;
  if (op == Operator::Percent) return Value::Number(number.number / 100);
  return Value::Number(number.number == 0 ? 0.0 : -number.number);
}

size_t ElementIndex(const Matrix& m, uint32_t row, uint32_t col) {
  const uint32_t r = m.Rows() == 1 ? 0 : row;
  const uint32_t c = m.Cols() == 1 ? 0 : col;
  if (r >= m.Rows() || c >= m.Cols()) return SIZE_MAX;
  return m.Index(r, c);
}

namespace {

// One element of the result from element i of a and j of b.
inline void Combine(Operator op, bool arithmetic, bool comparison, const Matrix& a, size_t i, const Matrix& b, size_t j,
                    Matrix& result, size_t at) {
  const Value::Kind ka = a.KindAt(i);
  const Value::Kind kb = b.KindAt(j);
  if (ka == Value::Kind::Error) {
    result.SetError(at, a.ErrorAt(i));
    return;
  }
  if (kb == Value::Kind::Error) {
    result.SetError(at, b.ErrorAt(j));
    return;
  }
  double x = 0;
  double y = 0;
  if (arithmetic && PlainNumber(a, i, x) && PlainNumber(b, j, y)) {
    double out = 0;
    ErrorCode error = ErrorCode::Value;
    if (Arithmetic(op, x, y, out, error)) {
      result.SetNumber(at, out);
    } else {
      result.SetError(at, error);
    }
  } else if (comparison) {
    result.SetBoolean(at, Compared(op, CompareElements(a, i, b, j)));
  } else {
    result.Set(at, Binary(op, a.At(i), b.At(j)));
  }
}

// An array compared with one number (a range with a key, scores with a
// cutoff): texts and booleans rank above every number, an empty element is 0.
void CompareWithNumber(Operator op, const Matrix& array, double number, bool numberFirst, Matrix& result) {
  for (size_t at = 0; at < array.Size(); ++at) {
    double x = 0;
    switch (array.KindAt(at)) {
      case Value::Kind::Error: result.SetError(at, array.ErrorAt(at)); continue;
      case Value::Kind::Number: x = array.NumberAt(at); break;
      case Value::Kind::Empty: break;
      default: result.SetBoolean(at, Compared(op, numberFirst ? -1 : 1)); continue;
    }
    const double left = numberFirst ? number : x;
    const double right = numberFirst ? x : number;
    result.SetBoolean(at, Compared(op, left < right ? -1 : (left > right ? 1 : 0)));
  }
}

// +, - and * of two arrays of one size, or of an array and one value.
template <typename Apply>
void ArithmeticByElement(Operator op, const Matrix& a, bool aWhole, const Matrix& b, bool bWhole, Matrix& result,
                         Apply apply) {
  for (size_t at = 0; at < result.Size(); ++at) {
    const size_t i = aWhole ? at : 0;
    const size_t j = bWhole ? at : 0;
    double x = 0;
    double y = 0;
    if (PlainNumber(a, i, x) && PlainNumber(b, j, y)) {
      const double out = apply(x, y);
      if (std::isfinite(out)) {
        result.SetNumber(at, out);
      } else {
        result.SetError(at, ErrorCode::Num);
      }
    } else {
      Combine(op, true, false, a, i, b, j, result, at);
    }
  }
}

// The usual shapes (two arrays of one size, an array and a single value)
// without working out where each element is; false for other operators.
bool CombineAligned(Operator op, const Matrix& a, bool aWhole, const Matrix& b, bool bWhole, Matrix& result) {
  switch (op) {
    case Operator::Add: ArithmeticByElement(op, a, aWhole, b, bWhole, result, [](double x, double y) { return x + y; }); return true;
    case Operator::Subtract: ArithmeticByElement(op, a, aWhole, b, bWhole, result, [](double x, double y) { return x - y; }); return true;
    case Operator::Multiply: ArithmeticByElement(op, a, aWhole, b, bWhole, result, [](double x, double y) { return x * y; }); return true;
    default: break;
  }
  if (IsComparison(op) && aWhole != bWhole) {
    const Matrix& single = aWhole ? b : a;
    if (single.KindAt(0) == Value::Kind::Number) {
      CompareWithNumber(op, aWhole ? a : b, single.NumberAt(0), !aWhole, result);
      return true;
    }
  }
  return false;
}

}  // namespace

Value Binary(Operator op, const Matrix& a, const Matrix& b) {
  const uint32_t rows = std::max(a.Rows(), b.Rows());
  const uint32_t cols = std::max(a.Cols(), b.Cols());
  if (TooLarge(rows, cols)) return Value::Error(ErrorCode::Num);
  auto result = std::make_shared<Matrix>(rows, cols);
  const bool arithmetic = IsArithmetic(op);
  const bool comparison = IsComparison(op);
  const bool aWhole = a.Rows() == rows && a.Cols() == cols;
  const bool bWhole = b.Rows() == rows && b.Cols() == cols;
  // The usual shapes (two arrays of one size, an array and a single value)
  // go element by element without working out where each element is.
  if ((aWhole || a.Size() == 1) && (bWhole || b.Size() == 1)) {
    if (CombineAligned(op, a, aWhole, b, bWhole, *result)) return Value::Array(std::move(result));
    for (size_t at = 0; at < result->Size(); ++at) {
      Combine(op, arithmetic, comparison, a, aWhole ? at : 0, b, bWhole ? at : 0, *result, at);
    }
    return Value::Array(std::move(result));
  }
  for (uint32_t row = 0; row < rows; ++row) {
    for (uint32_t col = 0; col < cols; ++col) {
      const size_t at = result->Index(row, col);
      const size_t i = ElementIndex(a, row, col);
      const size_t j = ElementIndex(b, row, col);
      if (i == SIZE_MAX || j == SIZE_MAX) {
        result->SetError(at, ErrorCode::NA);
      } else {
        Combine(op, arithmetic, comparison, a, i, b, j, *result, at);
      }
    }
  }
  return Value::Array(std::move(result));
}

Value Unary(Operator op, const Matrix& m) {
  auto result = std::make_shared<Matrix>(m.Rows(), m.Cols());
  for (size_t i = 0; i < m.Size(); ++i) {
    double x = 0;
    if (op != Operator::Plus && PlainNumber(m, i, x)) {
      result->SetNumber(i, op == Operator::Percent ? x / 100 : (x == 0 ? 0.0 : -x));
    } else {
      result->Set(i, Unary(op, m.At(i)));
    }
  }
  return Value::Array(std::move(result));
}

std::shared_ptr<const Matrix> Single(const Value& scalar) {
  auto m = std::make_shared<Matrix>(1, 1);
  m->Set(0, scalar);
  return m;
}

}  // namespace Operators
