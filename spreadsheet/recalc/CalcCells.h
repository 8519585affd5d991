#pragma once
// The cells as the formulas read them: current formula results, and for
// the columns that formulas refer to a dense copy of the values, so that a
// whole-column SUM reads memory in order instead of searching records.
// Everything else is read from the worksheets.

#include "spreadsheet/formula/FormulaEvaluator.h"
#include "spreadsheet/model/WorkbookParts.h"
#include "spreadsheet/recalc/ColumnCopy.h"

#include <QHash>

#include <memory>
#include <unordered_map>
#include <vector>

struct FormulaCell {
  uint16_t sheet = 0;
  uint16_t col = 0;
  uint32_t row = 0;
  std::shared_ptr<const FormulaProgram> program;  // nullptr: keeps the result stored with it
  Value value;                                    // the current result
  bool alive = true;                              // false once written over
  bool circular = false;                          // reads itself: keeps its last result
};

Value ToFormulaValue(const CellValue& cell);
CellValue ToCellValue(const Value& value);

class CalcCells : public CellReader {
 public:
  CalcCells(WorkbookParts& parts, std::vector<FormulaCell>& formulas);

  int SheetCount() const override { return static_cast<int>(parts_.sheets.size()); }
  Value Cell(uint16_t sheet, uint32_t row, uint16_t col) override;
  void ForEachFilled(const Area& area, Visit visit) override;
  const FormulaProgram* NameProgram(uint32_t index) override { return Name(index); }
  const FormulaProgram* Name(uint32_t index) const;
  bool Summarize(const Area& area, AreaSummary& summary) override;
  bool CountMatching(const Area& area, const CellCriterion& criterion, double& filled, double& matching) override;
  bool ReadArea(const Area& area, Matrix& m) override;
  std::optional<uint64_t> AreaVersion(const Area& area) override;

  void SetNames(std::vector<std::shared_ptr<const FormulaProgram>> names) { names_ = std::move(names); }

  // The formula at a cell, or -1.
  int64_t FormulaAt(uint16_t sheet, uint32_t row, uint16_t col) const;
  void AddFormula(uint32_t id);
  void RemoveFormula(uint32_t id);

  // Columns to keep dense copies of; BuildCopies reads those not yet read
  // from the sheets, one pass over each sheet's records.
  void KeepCopy(uint16_t sheet, uint16_t col);
  bool HasCopy(uint16_t sheet, uint16_t col) const { return CopyOf(sheet, col) != nullptr; }
  void BuildCopies();
  // A cell's content changed (it is read again), or a formula's result did.
  void Refresh(uint16_t sheet, uint32_t row, uint16_t col);
  void ResultChanged(uint32_t id);

 private:
  using Copied = CopiedCell;
  using Column = ColumnCopy;

  Column* CopyOf(uint16_t sheet, uint16_t col) const;
  // The rows held for the area's columns on a sheet, or -1 when one of
  // them has no copy.
  int64_t CopiedRows(uint16_t sheet, const Area& area) const;
  Value Read(const Copied& cell) const;
  void ReadInto(const Copied& cell, Value& out) const;
  Copied FromValue(const Value& value, int64_t formula);
  void CopyRecord(uint16_t sheet, const Biff::Record& record, const std::vector<bool>& columns);
  // A shared string as a text value, made once: reading a column of texts
  // does not make a string per cell.
  const QString& SharedText(uint32_t index) const;
  void Put(uint16_t sheet, uint32_t row, uint16_t col, const Copied& cell);
  static uint64_t Key(uint32_t row, uint16_t col) { return (static_cast<uint64_t>(row) << 16) | col; }

  WorkbookParts& parts_;
  std::vector<FormulaCell>& formulas_;
  std::vector<std::shared_ptr<const FormulaProgram>> names_;
  std::vector<std::unordered_map<uint64_t, uint32_t>> formulaAt_;  // by sheet
  std::vector<std::vector<std::unique_ptr<Column>>> copies_;        // by sheet, then column
  std::vector<QString> pool_;                                       // texts not in the shared strings
  std::unordered_map<QString, uint32_t> pooled_;
  std::vector<std::pair<uint16_t, uint16_t>> unbuilt_;              // copies kept but not yet read
  mutable std::vector<QString> sharedTexts_;
  mutable std::vector<bool> sharedKnown_;
};
