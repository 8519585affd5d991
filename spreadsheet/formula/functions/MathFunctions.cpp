// ABS INT MOD ROUND ROUNDUP ROUNDDOWN SIGN SQRT POWER CEILING FLOOR

#include "spreadsheet/formula/functions/FunctionSupport.h"

#include <cmath>

using namespace FunctionSupport;

namespace {

enum class Rounding { HalfAwayFromZero, AwayFromZero, TowardZero };

// The application keeps 15 significant digits: 2.675 is 2.675, not the
// nearest double below it, when it is rounded to two places.
double Significant15(double value) { return QString::number(value, 'g', 15).toDouble(); }

double Round(double value, double places, Rounding mode) {
  if (value == 0 || !std::isfinite(places)) return value;
  const int digits = static_cast<int>(std::max(-330.0, std::min(330.0, std::trunc(places))));
  const double scale = std::pow(10.0, std::abs(digits));
  const double scaled = digits >= 0 ? value * scale : value / scale;
  // Beyond 15 digits there is nothing left to round.
  if (!std::isfinite(scaled) || std::fabs(scaled) >= 1e15) return value;
  const double exact = Significant15(scaled);
  double rounded = 0;
  switch (mode) {
    case Rounding::HalfAwayFromZero: rounded = std::round(exact); break;
    case Rounding::AwayFromZero: rounded = exact < 0 ? std::floor(exact) : std::ceil(exact); break;
    case Rounding::TowardZero: rounded = std::trunc(exact); break;
  }
  const double result = digits >= 0 ? rounded / scale : rounded * scale;
  return result == 0 ? 0.0 : result;
}

template <Rounding mode>
Value RoundFunction(FunctionCall& call) {
  const Value number = NumberArg(call, 0);
  if (number.IsError()) return number;
  const Value places = NumberArg(call, 1);
  if (places.IsError()) return places;
  return Value::Number(Round(number.number, places.number, mode));
}

template <double (*apply)(double)>
Value OneNumber(FunctionCall& call) {
  const Value number = NumberArg(call, 0);
  if (number.IsError()) return number;
  const double result = apply(number.number);
  return std::isfinite(result) ? Value::Number(result) : Value::Error(ErrorCode::Num);
}

double Absolute(double x) { return std::fabs(x); }
double Floor(double x) { return std::floor(x); }
double Sign(double x) { return x > 0 ? 1 : (x < 0 ? -1 : 0); }
double Root(double x) { return x < 0 ? NAN : std::sqrt(x); }

Value Mod(FunctionCall& call) {
  const Value number = NumberArg(call, 0);
  if (number.IsError()) return number;
  const Value divisor = NumberArg(call, 1);
  if (divisor.IsError()) return divisor;
  if (divisor.number == 0) return Value::Error(ErrorCode::Div0);
  // The result takes the divisor's sign.
  const double result = number.number - divisor.number * std::floor(number.number / divisor.number);
  return std::isfinite(result) ? Value::Number(result == 0 ? 0.0 : result) : Value::Error(ErrorCode::Num);
}

Value Power(FunctionCall& call) {
  const Value base = NumberArg(call, 0);
  if (base.IsError()) return base;
  const Value exponent = NumberArg(call, 1);
  if (exponent.IsError()) return exponent;
  if (base.number == 0 && exponent.number == 0) return Value::Error(ErrorCode::Num);
  if (base.number == 0 && exponent.number < 0) return Value::Error(ErrorCode::Div0);
  const double result = std::pow(base.number, exponent.number);
  return std::isfinite(result) ? Value::Number(result) : Value::Error(ErrorCode::Num);
}

// CEILING and FLOOR(number, significance): to a multiple of significance,
// up (away from zero for a negative significance) or down; a positive
// number with a negative significance is #NUM!. The quotient is taken to
// 15 digits first, so that 0.3/0.1 is 3 and not just under it.
template <bool up>
Value ToMultiple(FunctionCall& call) {
  const Value number = NumberArg(call, 0);
  if (number.IsError()) return number;
  const Value significance = NumberArg(call, 1);
  if (significance.IsError()) return significance;
  const double x = number.number;
  const double s = significance.number;
  if (x == 0) return Value::Number(0);
  if (s == 0) return up ? Value::Number(0) : Value::Error(ErrorCode::Div0);
  if (x > 0 && s < 0) return Value::Error(ErrorCode::Num);
  const double quotient = Significant15(x / s);
  const double result = (up ? std::ceil(quotient) : std::floor(quotient)) * s;
  return std::isfinite(result) ? Value::Number(result == 0 ? 0.0 : result) : Value::Error(ErrorCode::Num);
}

}  // namespace

void Functions::AddMath(std::vector<FunctionInfo>& table) {
  table.push_back({24, "ABS", 1, 1, "V", &OneNumber<&Absolute>, true});
  table.push_back({25, "INT", 1, 1, "V", &OneNumber<&Floor>, true});
  table.push_back({26, "SIGN", 1, 1, "V", &OneNumber<&Sign>, true});
  table.push_back({20, "SQRT", 1, 1, "V", &OneNumber<&Root>, true});
  table.push_back({27, "ROUND", 2, 2, "V", &RoundFunction<Rounding::HalfAwayFromZero>, true});
  table.push_back({212, "ROUNDUP", 2, 2, "V", &RoundFunction<Rounding::AwayFromZero>, true});
  table.push_back({213, "ROUNDDOWN", 2, 2, "V", &RoundFunction<Rounding::TowardZero>, true});
  table.push_back({39, "MOD", 2, 2, "V", &Mod, true});
  table.push_back({337, "POWER", 2, 2, "V", &Power, true});
  table.push_back({288, "CEILING", 2, 2, "V", &ToMultiple<true>, true});
  table.push_back({285, "FLOOR", 2, 2, "V", &ToMultiple<false>, true});
}
