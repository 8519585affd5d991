#pragma once
// What the worksheet functions share: reading their arguments as numbers,
// texts and conditions the way the application does.

#include "spreadsheet/formula/FormulaEvaluator.h"
#include "spreadsheet/formula/FormulaFunctions.h"

#include <optional>
#include <vector>

namespace FunctionSupport {

// Argument i as a single value (arrays give their first element); the
// error to return when it is one.
Value Scalar(const FunctionCall& call, size_t i);
// Argument i as a number, text or condition; an error value on failure.
Value NumberArg(const FunctionCall& call, size_t i);
Value TextArg(const FunctionCall& call, size_t i);
Value BooleanArg(const FunctionCall& call, size_t i);
// Argument i as a whole number (truncated), with a default when it is left
// out; an error value on failure.
Value IntegerArg(const FunctionCall& call, size_t i, double fallback);

// The numbers of arguments [first, end) as SUM, AVERAGE, MIN and MAX see
// them: numbers in references and arrays (their texts, booleans and empty
// cells skipped); numbers, booleans and numeric texts given directly (any
// other text is #VALUE!). The first error met is returned instead.
struct Numbers {
  std::vector<double> values;
  std::optional<Value> error;
};
Numbers CollectNumbers(FunctionCall& call, size_t first = 0, size_t end = SIZE_MAX);

// The same numbers summed, counted and ranged without keeping them (SUM,
// AVERAGE, MIN, MAX); a reference's areas are summarized by the reader
// where it can.
struct Tally {
  double sum = 0;
  double count = 0;
  double min = 0;
  double max = 0;
  std::optional<Value> error;
  void Add(double value);
  void Add(const AreaSummary& summary);
};
Tally TallyNumbers(FunctionCall& call);

// What COUNT (numbers) and COUNTA (anything) count in a reference argument.
double CountInReference(FunctionCall& call, const Value& reference, bool anything);

// Number of cells of a reference or elements of an array.
uint64_t CellCount(const Value& value);

}  // namespace FunctionSupport
