#pragma once
// A formula's parsed-expression tokens printed as the spreadsheet
// application shows the formula: A1 references with their $ marks, other
// sheets by their current name (quoted where needed), whole columns and
// rows, upper-case function names, "," between arguments, the parentheses
// the formula was written with.

#include "spreadsheet/formula/FormulaProgram.h"
#include "spreadsheet/model/BiffRecords.h"
#include "spreadsheet/model/WorkbookLinks.h"

#include <QString>

#include <optional>
#include <vector>

struct PrintScope {
  const std::vector<QString>& sheets;
  const WorkbookLinks& links;
};

// The formula's text with its leading "=". at: the cell the formula is
// printed for (shared formulas keep their references as offsets from it).
// nullopt for tokens that cannot be read (damaged, or a function this
// table does not know).
std::optional<QString> PrintFormula(Biff::ByteView rgce, Biff::ByteView extra, const CellPosition& at,
                                    const PrintScope& scope);
