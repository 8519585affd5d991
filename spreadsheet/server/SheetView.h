#pragma once
// The spreadsheet server's window: every sheet of the active workbook as a
// tab (the first sheet first and shown first), each a grid that follows its
// cells as they are written and as formula results change, keeping the
// newest row in view, without ever taking the focus from the window the
// user works in. Also answers the server's questions (save changes at the
// end?) through the application's message boxes.

#include "spreadsheet/server/SpreadsheetServer.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QWidget>

#include <vector>

class QTabWidget;
class QTableView;

// Makes the server show its window and ask its questions. Call once at
// start-up, after RegisterSpreadsheetServer.
void InstallSheetView();

// One sheet of the active workbook, by its place in the order.
class SheetModel : public QAbstractTableModel {
 public:
  SheetModel(SpreadsheetSession& session, int sheet, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Another workbook, or none: everything is read anew.
  void Reload();
  // One cell changed; the grid grows to hold it.
  void CellWritten(uint32_t row, uint32_t col);
  // A formula's result changed: shown anew where it is.
  void ResultChanged(uint32_t row, uint32_t col);

 private:
  const Worksheet* Sheet() const;
  void Grow(int rows, int cols);

  SpreadsheetSession& session_;
  int sheet_;
  int rows_ = 0;
  int cols_ = 0;
};

class SheetWindow : public QWidget, public ServerWindow {
 public:
  explicit SheetWindow(SpreadsheetSession& session);
  ~SheetWindow() override;

  void SetShown(bool shown) override;
  void ActiveWorkbookChanged() override;
  void SheetsChanged() override;
  void CellWritten(int sheet, uint32_t row, uint32_t col) override;
  void ResultChanged(int sheet, uint32_t row, uint32_t col) override;

  // The grid of the tab shown, and of each sheet.
  QTableView* Grid() const;
  QTableView* Grid(int sheet) const;
  QTabWidget* Tabs() const { return tabs_; }

 protected:
  bool event(QEvent* event) override;

 private:
  void UpdateTitle();
  // One tab per sheet, made anew; keepShown: the tab of the sheet shown
  // stays shown (else the first).
  void MakeTabs(bool keepShown);
  QTableView* MakeGrid(int sheet);
  // Keeps a sheet's newest row in view. A grid on a hidden tab has no size
  // yet and would put the row at its top, hiding what is above it (a sheet's
  // headings and figures), so it waits until its tab is shown.
  void KeepInView(int sheet, int row);
  void ShowRow(int sheet, int row);

  SpreadsheetSession& session_;
  QTabWidget* tabs_;
  std::vector<SheetModel*> models_;
  std::vector<QTableView*> grids_;
  std::vector<int> pendingRow_;  // per sheet: the row to bring into view when its tab is shown, or -1
  const Worksheet* shownSheet_ = nullptr;  // the sheet of the tab shown
  // The window that was active when this one was shown. Platforms that
  // activate every new window anyway get the activation handed back.
  QPointer<QWidget> giveActivationBackTo_;
};
