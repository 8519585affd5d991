#pragma once
// What keeping results current needs, made from the workbook on first
// use: every formula with its program and result, the cells as formulas
// read them, which formulas read which cells, and the formulas waiting to
// be worked out. A change marks what it reaches; Recalculate works them
// out, each once, in order, and only where something they read changed.

#include "spreadsheet/formula/FormulaEvaluator.h"
#include "spreadsheet/recalc/CalcCells.h"
#include "spreadsheet/recalc/FormulaGraph.h"

#include <QStringList>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class RecalcEngine {
 public:
  explicit RecalcEngine(WorkbookParts& parts);

  // A cell's content changed: a formula written over is gone, a formula
  // written there is added, and whatever reads the cell waits.
  void CellChanged(uint16_t sheet, uint32_t row, uint16_t col);
  bool HasPending() const { return !pending_.empty(); }
  // Works out every formula waiting and what they reach.
  void RecalculatePending();
  void RecalculateEverything();

  std::vector<FormulaCell>& Formulas() { return formulas_; }
  const std::vector<FormulaCell>& Formulas() const { return formulas_; }
  const QStringList& Outside() const { return outside_; }
  std::vector<CellPosition>& Changed() { return changed_; }
  size_t Evaluations() const { return evaluations_; }

 private:
  void Recalculate(const std::vector<uint32_t>& roots, bool everything);
  bool Evaluate(uint32_t id);
  void AddWritten(uint16_t sheet, uint32_t row, uint16_t col);
  void Remove(uint32_t id);
  void Wait(uint32_t id);
  void ChooseCopies();
  std::shared_ptr<const FormulaProgram> Decode(const Biff::Bytes& relative, const Biff::Bytes& extra, QString& outside);

  WorkbookParts& parts_;
  std::vector<FormulaCell> formulas_;
  CalcCells cells_;
  std::unique_ptr<FormulaGraph> graph_;
  FormulaEvaluator evaluator_;
  QStringList outside_;
  std::vector<CellPosition> changed_;
  size_t evaluations_ = 0;
  uint64_t copyBudget_;

  std::vector<uint32_t> freeIds_;   // of formulas written over
  std::vector<uint32_t> pending_;   // waiting to be worked out
  std::vector<bool> isPending_;     // by formula
  // Programs of written formulas by their tokens, while some formula uses
  // them: formulas rewritten as a class grows leave programs nobody uses.
  std::unordered_map<std::string, std::weak_ptr<const FormulaProgram>> programs_;
  size_t programsAtLastSweep_ = 64;
  std::vector<uint32_t> stamp_;  // per formula: the recalculation that last reached it
  std::vector<uint32_t> local_;  // per formula: its place in that recalculation
  uint32_t epoch_ = 0;
};
