#pragma once
// Finds the formulas of a workbook read from a file: every worksheet's
// formula cells (shared formulas included) and the defined names, decoded
// once per distinct formula. What the evaluator cannot handle is kept with
// its stored result, and the reason is noted.

#include "spreadsheet/formula/FormulaDecoder.h"
#include "spreadsheet/recalc/CalcCells.h"

#include <QStringList>

struct LoadedFormulas {
  std::vector<FormulaCell> cells;
  std::vector<std::shared_ptr<const FormulaProgram>> names;  // by NAME record, from 1 less
  QStringList outside;  // why formulas keep their stored results, each reason once
  size_t keptCount = 0;  // formulas that keep their stored results
};

LoadedFormulas LoadFormulas(const WorkbookParts& parts);

// The workbook's sheet table for 3D references (EXTERNSHEET and SUPBOOK).
FormulaEnvironment ReadEnvironment(const WorkbookParts& parts);
