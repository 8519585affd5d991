#pragma once
// Which spreadsheet server a workbook goes to. Office Open XML (.xlsx) and
// OpenDocument (.ods) workbooks always go to LibreOffice Calc, which is the
// only one that reads them. An .xls workbook (and a name with any other
// extension, which is stored as .xls) goes to the built-in server, unless the
// settings file says Spreadsheet=LibreOffice under [Main]; BuiltIn, or no
// key, keeps the built-in one. Key and value are matched without regard to case.

#include <QString>

inline const QString kBuiltInServerProgId = QStringLiteral("Excel.Application");
inline const QString kCalcServerProgId = QStringLiteral("LibreOffice.Calc");

// The file dialogs of New and Open: .xls first, as the default.
inline const QString kWorkbookFilter = QStringLiteral(
    "Excel Files (*.xls)|*.xls|Excel Workbook (*.xlsx)|*.xlsx|OpenDocument Spreadsheet (*.ods)|*.ods");

// True for the formats only LibreOffice Calc reads (.xlsx, .ods), by extension.
bool NeedsCalc(const QString& workbookPath);

// The program identifier of the server for this workbook, given the settings file.
QString ServerForWorkbook(const QString& workbookPath, const QString& settingsFile);

// A name chosen for File New without an extension is stored as .xls.
QString WithWorkbookExtension(const QString& path);
