#pragma once
// Keeps a workbook's formula results current. The results a file stores
// are taken as current when it is opened, as the spreadsheet application
// takes them from a file it calculated itself; opening costs nothing more.
// The first change of a cell reads the formulas and what they depend on.
// From then on a change (a value, a formula put) marks the formulas that
// read the cell as waiting; they are worked out when a formula cell is read
// next (the sheets ask first, see PendingResults), when the workbook is
// saved, or when Settle is called: the formulas that read the changed
// cells, and the formulas that read those, in order, each once however
// many changes came before, and only where something they read did change.
//
// Formulas outside what the evaluator handles (other functions, array
// formulas, data tables, other workbooks) keep the result stored with them.
// Formulas that read themselves, directly or through others (circular
// references), are not evaluated either: as in the spreadsheet application
// without iteration, they keep their last result, and the formulas that
// read them use that.

#include "spreadsheet/formula/FormulaProgram.h"
#include "spreadsheet/model/WorkbookParts.h"

#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class RecalcEngine;

class Calculation : public PendingResults {
 public:
  explicit Calculation(WorkbookParts& parts);
  ~Calculation() override;
  Calculation(const Calculation&) = delete;
  Calculation& operator=(const Calculation&) = delete;

  // Works out every formula that waits after a change.
  void Settle() override;

  // The cells whose results changed since the last call (0-based).
  std::vector<CellPosition> TakeChangedResults();
  // Called after a Settle that changed results, with those cells (which
  // TakeChangedResults then no longer gives).
  void SetResultListener(std::function<void(const std::vector<CellPosition>&)> listener) {
    resultListener_ = std::move(listener);
  }

  // Evaluates every formula, as for a file whose stored results are not to
  // be trusted.
  void RecalculateEverything();

  // Whether some stored results cannot be vouched for: formulas outside
  // the evaluated set, or circular ones.
  bool HasKeptResults() const;
  // Why formulas keep their stored results, each reason once.
  QStringList OutsideReasons() const;
  size_t FormulaCount() const;
  size_t CircularCount() const;
  // Formula evaluations so far: how much the changes cost.
  size_t EvaluationCount() const;

 private:
  RecalcEngine& Ready() const;
  void CellChanged(uint16_t sheet, uint32_t row, uint16_t col);

  WorkbookParts& parts_;
  mutable std::unique_ptr<RecalcEngine> engine_;  // made on first use
  std::function<void(const std::vector<CellPosition>&)> resultListener_;
};
