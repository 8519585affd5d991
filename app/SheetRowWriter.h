#pragma once
// Writing decoded sheets into the first sheet of the active workbook, through
// the spreadsheet's late-bound calls only: the search for the first empty row
// where scanning starts, and the writing of one row.

#include "automation/OleVariant.h"

#include <QStringList>

#include <stdexcept>

inline constexpr int kRowSearchLimit = 65500;  // the search never accepts this row
inline constexpr int kFilledColumns = 66;      // rows are filled up to column BN

class EImportSheetFull : public std::runtime_error {
 public:
  EImportSheetFull() : std::runtime_error("Import sheet is full, cannot enter scanning mode.") {}
};

// Takes the active workbook's sheet collection afresh into workSheets,
// unprotects sheet 1 and returns the first row (1..65499) whose column A is
// empty. Only emptiness counts: a single space is a filled cell.
int FindFirstEmptyRow(const OleVariant& excelApp, OleVariant& workSheets);

// Writes the values into the row, column 1 first, as text, then single spaces
// up to column 66. Every cell is reached afresh from the application, so the
// row goes to sheet 1 of whichever workbook is active now.
void WriteSheetRow(const OleVariant& excelApp, int row, const QStringList& values);
