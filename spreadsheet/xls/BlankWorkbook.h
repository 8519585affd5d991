#pragma once
// The workbook stream of a new, empty workbook: the globals that other
// spreadsheet programs expect (fonts, the built-in cell formats, the Normal
// style, window settings) and one empty worksheet.

#include "spreadsheet/model/BiffRecords.h"

#include <QString>

Biff::Bytes BlankWorkbookStream(const QString& sheetName = QStringLiteral("Sheet1"));

// The substream of a new, empty worksheet added to a workbook: not the
// selected one. Its stream positions count from its own start.
Biff::Bytes BlankSheetStream();
