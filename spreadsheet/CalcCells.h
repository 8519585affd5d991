#pragma once
// The cells as the formulas read them: current formula results, and for
// the columns that formulas refer to a dense copy of the values, so that a
// whole-column SUM reads memory in order instead of searching records.
// Everything else is read from the worksheets.

#include "spreadsheet/FormulaEvaluator.h"
#include "spreadsheet/XlsReader.h"

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

  void SetNames(std::vector<std::shared_ptr<const FormulaProgram>> names) { names_ = std::move(names); }

  // The formula at a cell, or -1.
  int64_t FormulaAt(uint16_t sheet, uint32_t row, uint16_t col) const;
  void AddFormula(uint32_t id);
  void RemoveFormula(uint32_t id);

  // Columns to keep dense copies of; BuildCopies reads them from the sheets.
  void KeepCopy(uint16_t sheet, uint16_t col);
  void BuildCopies();
  // A cell's content changed (it is read again), or a formula's result did.
  void Refresh(uint16_t sheet, uint32_t row, uint16_t col);
  void ResultChanged(uint32_t id);

 private:
  struct Copied {
    enum Kind : uint8_t { Empty, Number, Boolean, Error, Shared, Pooled, Formula };
    Kind kind = Empty;
    uint8_t code = 0;    // Boolean, Error
    uint32_t index = 0;  // Shared: SST index; Pooled: pool index; Formula: formula
    double number = 0;
  };
  using Column = std::vector<Copied>;

  Column* CopyOf(uint16_t sheet, uint16_t col) const;
  Value Read(const Copied& cell) const;
  Copied FromValue(const Value& value, int64_t formula);
  void CopyRecord(uint16_t sheet, const Biff::Record& record);
  void Put(uint16_t sheet, uint32_t row, uint16_t col, const Copied& cell);
  static uint64_t Key(uint32_t row, uint16_t col) { return (static_cast<uint64_t>(row) << 16) | col; }

  WorkbookParts& parts_;
  std::vector<FormulaCell>& formulas_;
  std::vector<std::shared_ptr<const FormulaProgram>> names_;
  std::vector<std::unordered_map<uint64_t, uint32_t>> formulaAt_;  // by sheet
  std::vector<std::vector<std::unique_ptr<Column>>> copies_;        // by sheet, then column
  std::vector<QString> pool_;                                       // texts not in the shared strings
  std::unordered_map<QString, uint32_t> pooled_;
};
