#pragma once
// Keeps a workbook's formula results current. On opening, every formula is
// evaluated; after that, a change of a cell recalculates the formulas that
// read it, and the formulas that read those, in order, each once, and only
// where something they read did change.
//
// Formulas outside what the evaluator handles (other functions, array
// formulas, data tables, other workbooks) keep the result stored with them.
// Formulas that read themselves, directly or through others (circular
// references), are not evaluated either: as in the spreadsheet application
// without iteration, they keep their last result (the stored one), and the
// formulas that read them use that.

#include "spreadsheet/CalcCells.h"
#include "spreadsheet/DependencyIndex.h"

#include <QStringList>

#include <memory>
#include <vector>

class Calculation {
 public:
  explicit Calculation(WorkbookParts& parts);
  ~Calculation();
  Calculation(const Calculation&) = delete;
  Calculation& operator=(const Calculation&) = delete;

  // The cells whose results changed since the last call (0-based).
  std::vector<CellPosition> TakeChangedResults();

  // Whether some stored results cannot be vouched for: formulas outside
  // the evaluated set, or circular ones.
  bool HasKeptResults() const;
  // Why formulas keep their stored results, each reason once.
  const QStringList& OutsideReasons() const { return outside_; }
  size_t FormulaCount() const { return formulas_.size(); }
  // Formula evaluations so far (opening included): how much a change cost.
  size_t EvaluationCount() const { return evaluations_; }
  size_t CircularCount() const;

 private:
  void CellChanged(uint16_t sheet, uint32_t row, uint16_t col);
  void Index(uint32_t id);
  void ChooseCopies(const std::vector<std::vector<uint64_t>>& reads);
  std::vector<Area> Precedents(const FormulaCell& cell) const;
  void Recalculate(const std::vector<uint32_t>& roots, bool everything);
  bool Evaluate(uint32_t id);

  WorkbookParts& parts_;
  std::vector<FormulaCell> formulas_;
  CalcCells cells_;
  DependencyIndex index_;
  FormulaEvaluator evaluator_;
  QStringList outside_;
  std::vector<CellPosition> changed_;
  std::vector<uint32_t> stamp_;  // per formula: the recalculation that last reached it
  std::vector<uint32_t> local_;  // per formula: its place in that recalculation
  uint32_t epoch_ = 0;
  size_t evaluations_ = 0;
};
