#pragma once
// LibreOffice Calc behind the automation calls, registered as
// "LibreOffice.Calc". Each CreateOleObject makes a new application instance;
// all instances share one office process that the program starts for itself
// (private profile, private pipe) and that ends with the program. The
// members are those of the built-in server (SpreadsheetServer.h) that the
// application uses:
//   application: Visible (get/put), Workbooks, ActiveWorkbook, Sheets(i or name), Save, Quit, Name
//   workbooks:   Add, Open(path, ...), Count, Item(i)
//   workbook:    SaveAs(path), Save, Sheets / Worksheets (i or name), Name, FullName, Saved
//   sheets:      Item(i or name), Count, Add(Before, After)
//   sheet:       Cells(row, col), Protect, Unprotect, ProtectionMode, ProtectContents, Index,
//                Name (get/put)
//   cell:        Value / Value2 (get/put), Formula (get/put, the application's English
//                syntax; CalcFormula.h), Row, Column
// Formats go by the file name: .xlsx (Office Open XML), .ods (OpenDocument),
// .xls (Excel 97); Save keeps the workbook's format.
//
// Every call over the bridge costs about half a millisecond, so Value puts
// are gathered and a row goes to Calc in one call (when a put goes to another
// row, before any other call, or when the event loop next turns), and a Value
// get that misses reads a block of its column in one call; those blocks are
// forgotten at the next put (a formula anywhere may follow from it) or the
// event loop's next turn, because the user may type in Calc at any moment.
//
// Failures: EServerUnavailable when LibreOffice (or the bridge plugin) is
// missing or the office does not start in time; EServerGone when the
// workbook's window was closed in Calc, the office ended, or it did not
// answer within the call's bound (it is then stopped).

#include "automation/OleVariant.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>

// Registers the server as "LibreOffice.Calc".
void RegisterLibreOfficeServer();
// A new application instance, as the registered factory makes it.
std::shared_ptr<IDispatchObject> CreateLibreOfficeApplication();
// What the user is told to do when LibreOffice Calc cannot be used.
QString LibreOfficeInstallHint();

// How long the program waits for the office.
struct LibreOfficeBounds {
  std::chrono::milliseconds call{5000};    // an ordinary call
  std::chrono::milliseconds file{120000};  // loading or storing a workbook: a full sheet takes long
  std::chrono::milliseconds start{30000};  // the office's start, until it answers
};
void SetLibreOfficeBounds(const LibreOfficeBounds& bounds);
LibreOfficeBounds CurrentLibreOfficeBounds();

// Where the office's programs are (soffice.bin, fundamentalrc); empty gives
// the installed LibreOffice again. Tests play a machine without it.
void SetLibreOfficeProgramDir(const QString& dir);

// The running office: its process id (-1 when none runs), and the calls
// made over the bridge since the program started, all of them and those that
// moved cell data.
int64_t LibreOfficeProcessId();
uint64_t LibreOfficeRemoteCalls();
uint64_t LibreOfficeDataCalls();
// Ends the program's office now (it also ends when the program ends).
void StopLibreOffice();
// Closes a workbook in Calc as the user closing its window would (tests).
void CloseWorkbookInCalc(const OleVariant& workbook);
// Whether a workbook's window is shown in Calc (tests).
bool WorkbookShownInCalc(const OleVariant& workbook);
