#pragma once
// A dense copy of one column's values for the formulas that read whole
// columns, with a summary (sum, counts, extremes, first error) kept per
// block of rows: after one cell changes, SUM over 65,000 rows adds up 63
// kept summaries and one block read again.

#include "spreadsheet/formula/FormulaEvaluator.h"

#include <cstdint>
#include <vector>

struct CopiedCell {
  enum Kind : uint8_t { Empty, Number, Boolean, Error, Shared, Pooled, Formula };
  Kind kind = Empty;
  uint8_t code = 0;    // Boolean, Error
  uint32_t index = 0;  // Shared: SST index; Pooled: pool index; Formula: the formula (a text result)
  double number = 0;
};

// Adds part (cells after those of into, or in a later column) to into.
void MergeSummary(AreaSummary& into, const AreaSummary& part);

class ColumnCopy {
 public:
  size_t Size() const { return cells_.size(); }
  const CopiedCell& At(size_t row) const { return cells_[row]; }
  void Put(uint32_t row, const CopiedCell& cell);
  // Goes up with every Put: a reader that kept what it read knows it is still so.
  uint64_t Version() const { return version_; }
  // The summary of rows [first, last] (last below Size()), added to summary.
  void Summarize(uint32_t first, uint32_t last, uint16_t col, AreaSummary& summary) const;

 private:
  static constexpr uint32_t kBlockRows = 1024;
  void Scan(uint32_t first, uint32_t last, uint16_t col, AreaSummary& summary) const;

  std::vector<CopiedCell> cells_;
  uint64_t version_ = 0;
  mutable std::vector<AreaSummary> blocks_;  // kept summaries, filled when first asked for
  mutable std::vector<bool> known_;
};
