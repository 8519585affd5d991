#pragma once
// Writing decoded sheets into the first sheet of a workbook, through the
// spreadsheet's late-bound calls only: the search for the first empty row
// where scanning starts, and the writing of one row.

#include "automation/OleVariant.h"

#include <QStringList>

#include <optional>
#include <stdexcept>

inline constexpr int kRowSearchLimit = 65500;  // the search never accepts this row
inline constexpr int kFilledColumns = 66;      // rows are filled up to column BN
inline constexpr int kSheetColumns = 256;      // the columns of an .xls worksheet
inline constexpr int kSheetRows = 65536;       // and its rows

class EImportSheetFull : public std::runtime_error {
 public:
  EImportSheetFull() : std::runtime_error("Import sheet is full, cannot enter scanning mode.") {}
};

// Takes the active workbook's sheet collection afresh into workSheets,
// unprotects sheet 1 and returns the first row (1..65499) whose column A is
// empty. Only emptiness counts: a single space is a filled cell.
int FindFirstEmptyRow(const OleVariant& excelApp, OleVariant& workSheets);

// Writes the values into the row of sheet 1 of the workbook whose sheet
// collection is given, column 1 first, as text, then single spaces up to
// column 66. The collection belongs to one workbook, so the row goes there
// whichever workbook the application has made active meanwhile. The row's
// first cell is read back last: a server that gathers a row's cells into one
// write does it then, so a failure belongs to this row.
void WriteSheetRow(const OleVariant& workSheets, int row, const QStringList& values);

// The first row from `row` on whose column A is empty (kSheetRows + 1 when
// none is): the user may type into the sheet in the spreadsheet application
// while sheets arrive, and a row is never written over what is there.
int FirstFreeRowFrom(const OleVariant& workSheets, int row);

// Why the values can never be written into that row, or nullopt: more values
// than a worksheet has columns, a row outside the sheet, a workbook that is gone.
// A server that has gone (EServerGone) is not such a reason: that is thrown.
std::optional<QString> LastingRowProblem(const OleVariant& workSheets, int row, const QStringList& values);
