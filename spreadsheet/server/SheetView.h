#pragma once
// The spreadsheet server's window: the active workbook's first sheet as a
// grid that follows the cells as they are written, keeping the newest row
// in view without ever taking the focus from the window the user works in.
// Also answers the server's questions (save changes at the end?) through
// the application's message boxes.

#include "spreadsheet/server/SpreadsheetServer.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QWidget>

class QTableView;

// Makes the server show its window and ask its questions. Call once at
// start-up, after RegisterSpreadsheetServer.
void InstallSheetView();

class SheetModel : public QAbstractTableModel {
 public:
  explicit SheetModel(SpreadsheetSession& session, QObject* parent = nullptr);

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
  int rows_ = 0;
  int cols_ = 0;
};

class SheetWindow : public QWidget, public ServerWindow {
 public:
  explicit SheetWindow(SpreadsheetSession& session);
  ~SheetWindow() override;

  void SetShown(bool shown) override;
  void ActiveWorkbookChanged() override;
  void CellWritten(uint32_t row, uint32_t col) override;
  void ResultChanged(uint32_t row, uint32_t col) override;

  QTableView* Grid() const { return grid_; }

 protected:
  bool event(QEvent* event) override;

 private:
  void UpdateTitle();

  SpreadsheetSession& session_;
  SheetModel* model_;
  QTableView* grid_;
  // The window that was active when this one was shown. Platforms that
  // activate every new window anyway get the activation handed back.
  QPointer<QWidget> giveActivationBackTo_;
};
