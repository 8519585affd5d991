#pragma once
// The main window with the real built-in spreadsheet server behind
// "Excel.Application", wrapped by a spy, and helpers to make and read
// workbooks through the server's own late-bound calls.

#include "AutomationSpy.h"
#include "MainWindowHarness.h"
#include "uikit/ErrorReporting.h"
#include "automation/ComObj.h"
#include "spreadsheet/server/SpreadsheetServer.h"

#include <functional>

inline const QString kProgId = QStringLiteral("Excel.Application");

// Makes a workbook file whose first sheet is filled by `fill` (given sheet 1).
inline void MakeWorkbook(const QString& path, const std::function<void(const OleVariant&)>& fill) {
  const OleVariant app = CreateOleObject(kProgId);
  const OleVariant book = app.Get("Workbooks").Get("Add");
  fill(app.Get("Sheets", {1}));
  book.Call("SaveAs", {path});
  app.Call("Quit");
}

inline void PutCell(const OleVariant& sheet, int row, int col, const QString& text) {
  sheet.Get("Cells", {row, col}).Put("Value", text);
}

// Reads cells of a saved workbook's first sheet through a fresh server instance.
class WorkbookReader {
 public:
  explicit WorkbookReader(const QString& path) : app_(CreateOleObject(kProgId)) {
    app_.Get("Workbooks").Call("Open", {path, false});
  }
  ~WorkbookReader() { app_.Call("Quit"); }
  QString Cell(int row, int col) const { return app_.Get("Sheets", {1}).Get("Cells", {row, col}).Get("Value").ToText(); }
  QStringList Row(int row, int columns) const {
    QStringList out;
    for (int c = 1; c <= columns; ++c) out << Cell(row, c);
    return out;
  }
  bool Protected() const { return app_.Get("Sheets", {1}).Get("ProtectionMode").ToBool(); }

 private:
  OleVariant app_;
};

class WorkbookHarness : public MainWindowHarness {
 public:
  WorkbookHarness() {
    RegisterSpreadsheetServer();
    spy = AutomationSpy::Install(kProgId, &CreateSpreadsheetApplication);
    WriteSettings("[Main]\nPortNo=3\n");
    AttachMachine(3);
  }
  ~WorkbookHarness() { RegisterSpreadsheetServer(); }

  TfrmMain& StartWindow() {
    TfrmMain& w = Start();
    ui.messages.clear();
    return w;
  }

  // File > New with the dialog answered by `path`.
  void NewWorkbook(const QString& path) {
    ui.fileNames.push_back(path);
    window->New1->trigger();
  }

  // A sheet whose 500 ms are up, and the row writer's tick, as the input timer runs it.
  void Tick(const QStringList& values) {
    window->PendingSheets.Add(values, SheetQueue::Clock::now() - window->PendingSheets.Delay());
    Guarded([this] { window->tmrInputValTimer(); });
  }

  std::shared_ptr<AutomationSpy> spy;
};
