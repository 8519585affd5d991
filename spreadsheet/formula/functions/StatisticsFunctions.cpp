// STDEV STDEVP VAR VARP SUMSQ CORREL PEARSON

#include "spreadsheet/formula/functions/FunctionSupport.h"

#include <cmath>

using namespace FunctionSupport;

namespace {

// The sum of squared deviations from the mean, in two passes as the
// application does: one pass would lose digits on large, close values.
double SquaredDeviations(const std::vector<double>& values) {
  double sum = 0;
  for (double v : values) sum += v;
  const double mean = sum / static_cast<double>(values.size());
  double squares = 0;
  for (double v : values) squares += (v - mean) * (v - mean);
  return squares;
}

// VAR and STDEV divide by n - 1 (a sample), VARP and STDEVP by n.
template <bool sample, bool root>
Value Spread(FunctionCall& call) {
  const Numbers numbers = CollectNumbers(call);
  if (numbers.error) return *numbers.error;
  const size_t n = numbers.values.size();
  if (n < (sample ? 2u : 1u)) return Value::Error(ErrorCode::Div0);
  const double variance = SquaredDeviations(numbers.values) / static_cast<double>(sample ? n - 1 : n);
  return Value::Number(root ? std::sqrt(variance) : variance);
}

Value SumSquares(FunctionCall& call) {
  const Numbers numbers = CollectNumbers(call);
  if (numbers.error) return *numbers.error;
  double sum = 0;
  for (double v : numbers.values) sum += v * v;
  return std::isfinite(sum) ? Value::Number(sum) : Value::Error(ErrorCode::Num);
}

// CORREL and PEARSON: the pairs where both values are numbers; arrays of
// different sizes are #N/A, too few pairs or no spread #DIV/0!.
Value Correlation(FunctionCall& call) {
  const Matrix& xs = *call.args[0].array;
  const Matrix& ys = *call.args[1].array;
  if (xs.Size() != ys.Size()) return Value::Error(ErrorCode::NA);
  std::vector<std::pair<double, double>> pairs;
  for (size_t i = 0; i < xs.Size(); ++i) {
    if (xs.KindAt(i) == Value::Kind::Error) return xs.At(i);
    if (ys.KindAt(i) == Value::Kind::Error) return ys.At(i);
    if (xs.KindAt(i) == Value::Kind::Number && ys.KindAt(i) == Value::Kind::Number) {
      pairs.emplace_back(xs.NumberAt(i), ys.NumberAt(i));
    }
  }
  if (pairs.size() < 2) return Value::Error(ErrorCode::Div0);
  double sumX = 0;
  double sumY = 0;
  for (const auto& [x, y] : pairs) {
    sumX += x;
    sumY += y;
  }
  const double meanX = sumX / static_cast<double>(pairs.size());
  const double meanY = sumY / static_cast<double>(pairs.size());
  double sxy = 0;
  double sxx = 0;
  double syy = 0;
  for (const auto& [x, y] : pairs) {
    sxy += (x - meanX) * (y - meanY);
    sxx += (x - meanX) * (x - meanX);
    syy += (y - meanY) * (y - meanY);
  }
  if (sxx == 0 || syy == 0) return Value::Error(ErrorCode::Div0);
  return Value::Number(sxy / std::sqrt(sxx * syy));
}

}  // namespace

void Functions::AddStatistics(std::vector<FunctionInfo>& table) {
  table.push_back({12, "STDEV", 1, 30, "R", &Spread<true, true>, false});
  table.push_back({193, "STDEVP", 1, 30, "R", &Spread<false, true>, false});
  table.push_back({46, "VAR", 1, 30, "R", &Spread<true, false>, false});
  table.push_back({194, "VARP", 1, 30, "R", &Spread<false, false>, false});
  table.push_back({321, "SUMSQ", 1, 30, "R", &SumSquares, false});
  table.push_back({307, "CORREL", 2, 2, "A", &Correlation, false});
  table.push_back({312, "PEARSON", 2, 2, "A", &Correlation, false});
}
