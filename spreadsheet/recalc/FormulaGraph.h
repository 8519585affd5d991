#pragma once
// Which formulas read which cells. A formula filled down a column (the
// same program in consecutive rows) is one run: its references are kept
// once, relative to the row, and a changed cell finds the rows of the run
// that read it by searching the run, not by visiting each formula. Other
// formulas keep their own areas. Both sit in a DependencyIndex.

#include "spreadsheet/recalc/CalcCells.h"
#include "spreadsheet/recalc/DependencyIndex.h"

#include <utility>
#include <vector>

class FormulaGraph {
 public:
  FormulaGraph(const std::vector<FormulaCell>& formulas, const CalcCells& cells, int sheetCount);

  // Calls visit(id) for every formula that reads the cell (the same
  // formula may come more than once; formulas written over come too).
  template <typename Visit>
  void ForEachReader(uint16_t sheet, uint32_t row, uint16_t col, Visit visit) const {
    index_.ForEachReader(sheet, row, col, [&](uint32_t target) {
      if (!(target & kRunEntry)) {
        visit(target);
        return;
      }
      const RunRef& entry = runRefs_[target & ~kRunEntry];
      const Run& run = runs_[entry.run];
      uint32_t first = 0;
      uint32_t last = 0;
      if (!RowsReading(run, entry.ref, sheet, row, col, first, last)) return;
      for (uint32_t f = first; f <= last; ++f) {
        const uint32_t id = run.ids[f - run.firstRow];
        if (id != kGone) visit(id);
      }
    });
  }

  // A formula put since the graph was made, and one written over.
  void AddFormula(uint32_t id) { AddSingle(id); }
  void RemoveFormula(uint32_t id);

  // Cells read by areas of many rows, summed by sheet and column: the
  // columns worth a dense copy.
  const std::vector<std::vector<uint64_t>>& ColumnReads() const { return columnReads_; }
  // Whether ColumnReads grew since the last call.
  bool TakeReadsGrew() { return std::exchange(readsGrew_, false); }

 private:
  static constexpr uint32_t kRunEntry = 0x80000000u;
  static constexpr uint32_t kGone = UINT32_MAX;  // a run's member written over

  struct Run {
    uint16_t sheet = 0;
    uint16_t col = 0;
    uint32_t firstRow = 0;
    std::vector<uint32_t> ids;  // by row from firstRow
    std::vector<RefSpec> refs;  // what each row reads, relative to it
  };
  struct RunRef {
    uint32_t run = 0;
    RefSpec ref;
  };

  std::vector<RefSpec> References(const FormulaProgram& program) const;
  void AddSingle(uint32_t id);
  bool AddRun(const std::vector<uint32_t>& ids);
  void CountReads(const Area& area, uint64_t times);
  // The rows [first, last] of the run whose ref holds the cell; false when none.
  bool RowsReading(const Run& run, const RefSpec& ref, uint16_t sheet, uint32_t row, uint16_t col, uint32_t& first,
                   uint32_t& last) const;

  const std::vector<FormulaCell>& formulas_;
  const CalcCells& cells_;
  int sheetCount_;
  DependencyIndex index_;
  std::vector<Run> runs_;
  std::vector<RunRef> runRefs_;
  std::vector<std::vector<uint64_t>> columnReads_;
  std::vector<std::pair<uint32_t, uint32_t>> runMember_;  // by formula: its run and row in it, or kGone
  bool readsGrew_ = false;
};
