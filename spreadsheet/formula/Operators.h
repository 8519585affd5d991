#pragma once
// The operators of formulas on values: on two scalars as the spreadsheet
// application computes them, and element by element on arrays, where
// numbers (and the booleans comparisons give) are combined without making
// a value of each element.

#include "spreadsheet/formula/FormulaProgram.h"

#include <memory>

namespace Operators {

// Arrays larger than this (64 whole columns) are #NUM!, not gigabytes.
constexpr uint64_t kMaxArrayCells = uint64_t{1} << 22;
inline bool TooLarge(uint64_t rows, uint64_t cols) { return rows * cols > kMaxArrayCells; }

// A binary operator other than the reference operators on two scalars.
Value Binary(Operator op, const Value& left, const Value& right);
// Unary plus, minus and percent on a scalar.
Value Unary(Operator op, const Value& operand);

// The same element by element. A single row or column repeats along the
// other operand; positions beyond the smaller one are #N/A.
Value Binary(Operator op, const Matrix& left, const Matrix& right);
Value Unary(Operator op, const Matrix& operand);

// The index of the element of m that a result position takes, or SIZE_MAX
// beyond its edge.
size_t ElementIndex(const Matrix& m, uint32_t row, uint32_t col);

// A scalar as a one-element array.
std::shared_ptr<const Matrix> Single(const Value& scalar);

}  // namespace Operators
