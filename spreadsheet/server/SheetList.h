#pragma once
// The sheets of a workbook as the automation calls change them: new
// worksheets put anywhere in the order, and names checked as the
// spreadsheet application checks them.

#include "spreadsheet/model/WorkbookParts.h"

#include <QString>

namespace SheetList {

constexpr qsizetype kMaxNameLength = 31;

// Why name cannot be a sheet's name, or empty when it can. index: the
// sheet being renamed (it may keep or change the case of its own name), or
// -1 for a new sheet.
QString NameProblem(const WorkbookParts& parts, int index, const QString& name);

// "Sheet<n>" for the first n from the count of sheets plus one that no
// sheet has.
QString NewName(const WorkbookParts& parts);

// A new, empty worksheet at position (0 .. count). The sheet numbers after
// it move up wherever the workbook keeps them: the table of sheet spans,
// the names of single sheets, the active sheet.
void Insert(WorkbookParts& parts, int position, const QString& name);

}  // namespace SheetList
