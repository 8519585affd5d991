// Program entry: the application object, the one main window, the event loop.
// The main window is destroyed after the loop ends, which runs the shutdown steps.

#include "uikit/CellfeedApplication.h"
#include "app/CellfeedMain.h"
#include "libreoffice/LibreOfficeServer.h"
#include "spreadsheet/server/SheetView.h"
#include "spreadsheet/server/SpreadsheetServer.h"

#include <memory>

int main(int argc, char** argv) {
  CellfeedApplication app(argc, argv);
  // The built-in spreadsheet server stands behind "Excel.Application".
  RegisterSpreadsheetServer();
  InstallSheetView();
  // LibreOffice Calc, live, for .xlsx and .ods workbooks (and .xls when the
  // settings say so); its bridge is loaded only when a workbook goes to it.
  RegisterLibreOfficeServer();
  auto mainWindow = std::make_unique<TfrmMain>();
  mainWindow->show();
  const int result = CellfeedApplication::exec();
  mainWindow.reset();
  return result;
}
