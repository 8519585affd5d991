#pragma once
// Cell and sheet names as the spreadsheet application's English formula
// syntax writes them: A1 references with "$" marks and quoted sheet names.

#include <QString>

// In a namespace of its own: other parts of the program have helpers of the same names.
namespace CellNames {

// "A" for 1, "Z" for 26, "AA" for 27.
QString ColumnLetters(int column);
// "$B$5", or "B5" with relative parts as asked.
QString CellName(int row, int column, bool absoluteRow = true, bool absoluteColumn = true);
// "$B$1:$B$250"
QString AreaName(int firstRow, int firstColumn, int lastRow, int lastColumn);
// "'Sheet 1'!" : a sheet name always quoted, its own quotes doubled.
QString SheetPrefix(const QString& sheetName);

}  // namespace CellNames
