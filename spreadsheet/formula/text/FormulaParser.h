#pragma once
// Formula text in the spreadsheet application's English syntax ("=SUM(
// Sheet1!B2:E2)", "','" between arguments, A1 references) read into the
// parsed-expression tokens a FORMULA record holds: the form the server
// evaluates and writes, and other programs read.
//
// Takes references with $ marks, areas, whole columns and rows, other
// sheets (Sheet!A1, 'Sheet name'!A1:B9, Jan:Mar!A1), numbers, "texts" with
// doubled quotes, TRUE and FALSE, the seven error constants, array
// constants ({1,2;3,4}), the operators (unary - + %, ^ * / + - & and the
// comparisons, ":" and the blank between references, "," as union inside
// parentheses), the workbook's defined names, and the functions the server
// evaluates, named in any letter case.

#include "spreadsheet/formula/text/FormulaLexer.h"
#include "spreadsheet/formula/text/FormulaTree.h"
#include "spreadsheet/model/WorkbookLinks.h"

#include <QString>
#include <QStringView>

#include <vector>

// What formula text may refer to: the sheets by name (in order), the
// workbook's table of sheet spans (a reference to another sheet adds its
// entry) and defined names, and the sheet the formula is on.
struct FormulaScope {
  const std::vector<QString>& sheets;
  WorkbookLinks& links;
  int ownSheet = 0;
};

// text: the whole formula with its leading "=". Throws FormulaTextError
// with the place and the reason: a syntax error, a function that does not
// exist or that the server does not evaluate, a sheet or a name the
// workbook does not have, a formula too long for a cell.
FormulaTokens ParseFormula(QStringView text, FormulaScope& scope);
