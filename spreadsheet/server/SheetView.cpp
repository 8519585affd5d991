#include "spreadsheet/server/SheetView.h"

#include "spreadsheet/server/FittedNumberDelegate.h"

#include "uikit/WorkbookQuestions.h"
#include "automation/OleVariant.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <QHeaderView>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

// An empty workbook still shows a sheet's worth of grid.
constexpr int kMinimumRows = 50;
constexpr int kMinimumColumns = 26;

QString Shown(const CellValue& value) {
  switch (value.type) {
    case CellValue::Type::Empty: return QString();
    case CellValue::Type::Number: return OleVariant(value.number).ToText();
    case CellValue::Type::Boolean: return value.boolean ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    case CellValue::Type::Text:
    case CellValue::Type::Error: return value.text;
  }
  return QString();
}

class ViewFrontEnd : public ServerFrontEnd {
 public:
  std::unique_ptr<ServerWindow> CreateWindow(SpreadsheetSession& session) override {
    return std::make_unique<SheetWindow>(session);
  }
  SaveChoice AskSaveChanges(const QString& workbookName) override {
    return WorkbookQuestions::AskSaveChanges(workbookName) ? SaveChoice::Save : SaveChoice::DontSave;
  }
  std::optional<QString> AskSavePath(const QString& /*workbookName*/) override {
    return WorkbookQuestions::AskSavePath(QStringLiteral("Excel Files (*.xls)|*.xls"), QStringLiteral("xls"));
  }
  void ShowSaveFailure(const QString& message) override { WorkbookQuestions::ShowSaveFailure(message); }
  std::optional<QString> AskPassword(const QString& fileName, bool afterWrong) override {
    return WorkbookQuestions::AskPassword(fileName, afterWrong);
  }
};

}  // namespace

void InstallSheetView() { SetServerFrontEnd(std::make_shared<ViewFrontEnd>()); }

SheetModel::SheetModel(SpreadsheetSession& session, int sheet, QObject* parent)
    : QAbstractTableModel(parent), session_(session), sheet_(sheet) {
  Reload();
}

const Worksheet* SheetModel::Sheet() const {
  const Workbook* book = session_.ActiveWorkbook();
  return book && sheet_ < book->SheetCount() ? &book->Sheet(sheet_) : nullptr;
}

void SheetModel::Reload() {
  beginResetModel();
  const Worksheet* sheet = Sheet();
  rows_ = std::max<int>(kMinimumRows, sheet ? static_cast<int>(sheet->RowExtent()) + 1 : 0);
  cols_ = std::max<int>(kMinimumColumns, sheet ? static_cast<int>(sheet->ColumnExtent()) : 0);
  endResetModel();
}

void SheetModel::Grow(int rows, int cols) {
  if (rows > rows_) {
    beginInsertRows(QModelIndex(), rows_, rows - 1);
    rows_ = rows;
    endInsertRows();
  }
  if (cols > cols_) {
    beginInsertColumns(QModelIndex(), cols_, cols - 1);
    cols_ = cols;
    endInsertColumns();
  }
}

void SheetModel::CellWritten(uint32_t row, uint32_t col) {
  // One spare row below the newest keeps it off the grid's bottom edge.
  Grow(static_cast<int>(row) + 2, static_cast<int>(col) + 1);
  const QModelIndex cell = index(static_cast<int>(row), static_cast<int>(col));
  emit dataChanged(cell, cell, {Qt::DisplayRole});
}

void SheetModel::ResultChanged(uint32_t row, uint32_t col) {
  if (static_cast<int>(row) >= rows_ || static_cast<int>(col) >= cols_) return;  // shown when the grid reaches it
  const QModelIndex cell = index(static_cast<int>(row), static_cast<int>(col));
  emit dataChanged(cell, cell, {Qt::DisplayRole});
}

int SheetModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }
int SheetModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : cols_; }

QVariant SheetModel::data(const QModelIndex& index, int role) const {
  const Worksheet* sheet = Sheet();
  if (!sheet || !index.isValid()) return {};
  if (role == Qt::DisplayRole) {
    return Shown(sheet->Cell(static_cast<uint32_t>(index.row()), static_cast<uint32_t>(index.column())));
  }
  if (role == Qt::TextAlignmentRole || role == FittedNumberDelegate::kNumberRole) {
    const CellValue value = sheet->Cell(static_cast<uint32_t>(index.row()), static_cast<uint32_t>(index.column()));
    if (value.type != CellValue::Type::Number) return {};
    return role == Qt::TextAlignmentRole ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant(value.number);
  }
  return {};
}

QVariant SheetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return ColumnLetters(static_cast<uint32_t>(section));
  return section + 1;
}

SheetWindow::SheetWindow(SpreadsheetSession& session)
    : QWidget(nullptr, Qt::Window | Qt::WindowDoesNotAcceptFocus), session_(session) {
  // Rows arrive while the operator works in the main window: never take the focus.
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  tabs_ = new QTabWidget(this);
  tabs_->setTabPosition(QTabWidget::South);
  tabs_->setDocumentMode(true);
  tabs_->setFocusPolicy(Qt::NoFocus);
  tabs_->tabBar()->setFocusPolicy(Qt::NoFocus);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tabs_);
  resize(720, 420);
  MakeTabs(false);
  UpdateTitle();
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    const Workbook* book = session_.ActiveWorkbook();
    shownSheet_ = book && index >= 0 && index < book->SheetCount() ? &book->Sheet(index) : nullptr;
    if (index >= 0 && static_cast<size_t>(index) < pendingRow_.size() && pendingRow_[static_cast<size_t>(index)] >= 0) {
      ShowRow(index, std::exchange(pendingRow_[static_cast<size_t>(index)], -1));
    }
  });
}

QTableView* SheetWindow::MakeGrid(int sheet) {
  auto* model = new SheetModel(session_, sheet, this);
  auto* grid = new QTableView(tabs_);
  grid->setModel(model);
  grid->setItemDelegate(new FittedNumberDelegate(grid));
  grid->setFocusPolicy(Qt::NoFocus);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 4);
  grid->horizontalHeader()->setDefaultSectionSize(72);
  models_.push_back(model);
  grids_.push_back(grid);
  return grid;
}

void SheetWindow::MakeTabs(bool keepShown) {
  const Workbook* book = session_.ActiveWorkbook();
  // The sheet, not its place: a sheet put before it moves it.
  const Worksheet* shownSheet = keepShown ? shownSheet_ : nullptr;
  const QSignalBlocker quiet(tabs_);
  tabs_->clear();
  for (QTableView* grid : grids_) grid->deleteLater();
  for (SheetModel* model : models_) model->deleteLater();
  grids_.clear();
  models_.clear();
  const int count = book ? book->SheetCount() : 1;
  pendingRow_.assign(static_cast<size_t>(count), -1);
  int select = 0;
  for (int i = 0; i < count; ++i) {
    QTableView* grid = MakeGrid(i);
    tabs_->addTab(grid, book ? book->Sheet(i).Name() : QStringLiteral("Sheet1"));
    if (book && &book->Sheet(i) == shownSheet) select = i;
  }
  tabs_->setCurrentIndex(select);
  shownSheet_ = book ? &book->Sheet(select) : nullptr;
}

QTableView* SheetWindow::Grid() const { return Grid(tabs_->currentIndex()); }

QTableView* SheetWindow::Grid(int sheet) const {
  return sheet >= 0 && static_cast<size_t>(sheet) < grids_.size() ? grids_[static_cast<size_t>(sheet)] : nullptr;
}

SheetWindow::~SheetWindow() = default;

void SheetWindow::SetShown(bool shown) {
  if (!shown) {
    hide();
    return;
  }
  if (isVisible()) return;
  giveActivationBackTo_ = QApplication::activeWindow();
  // The application's own window is a strip at the top-left corner of the
  // screen; the sheet opens below it rather than over it.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.left() + 40, area.top() + 120);
  }
  show();
  // Only the activation that showing brings is handed back, not a later click.
  QTimer::singleShot(1000, this, [this] { giveActivationBackTo_.clear(); });
}

bool SheetWindow::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate && giveActivationBackTo_ && giveActivationBackTo_ != this) {
    const QPointer<QWidget> previous = giveActivationBackTo_;
    giveActivationBackTo_.clear();
    previous->activateWindow();
  }
  return QWidget::event(event);
}

void SheetWindow::ActiveWorkbookChanged() {
  MakeTabs(false);
  UpdateTitle();
  const Workbook* book = session_.ActiveWorkbook();
  if (!book) return;
  for (int i = 0; i < book->SheetCount(); ++i) {
    if (book->Sheet(i).RowExtent() > 0) KeepInView(i, static_cast<int>(book->Sheet(i).RowExtent()) - 1);
  }
}

void SheetWindow::KeepInView(int sheet, int row) {
  if (sheet == tabs_->currentIndex()) {
    ShowRow(sheet, row);
  } else {
    int& pending = pendingRow_[static_cast<size_t>(sheet)];
    pending = std::max(pending, row);
  }
}

void SheetWindow::ShowRow(int sheet, int row) {
  QTableView* grid = grids_[static_cast<size_t>(sheet)];
  // Leave the horizontal position alone.
  const int left = std::max(0, grid->columnAt(0));
  grid->scrollTo(models_[static_cast<size_t>(sheet)]->index(row, left), QAbstractItemView::EnsureVisible);
}

void SheetWindow::SheetsChanged() {
  const Workbook* book = session_.ActiveWorkbook();
  if (book && book->SheetCount() == tabs_->count()) {
    // Renamed: the tabs keep their grids.
    for (int i = 0; i < book->SheetCount(); ++i) tabs_->setTabText(i, book->Sheet(i).Name());
    return;
  }
  MakeTabs(true);
}

void SheetWindow::CellWritten(int sheet, uint32_t row, uint32_t col) {
  if (sheet < 0 || static_cast<size_t>(sheet) >= models_.size()) return;
  models_[static_cast<size_t>(sheet)]->CellWritten(row, col);
  KeepInView(sheet, static_cast<int>(row));
}

// Unlike a written row, a result changing elsewhere does not move the view.
void SheetWindow::ResultChanged(int sheet, uint32_t row, uint32_t col) {
  if (sheet >= 0 && static_cast<size_t>(sheet) < models_.size()) models_[static_cast<size_t>(sheet)]->ResultChanged(row, col);
}

void SheetWindow::UpdateTitle() {
  const Workbook* book = session_.ActiveWorkbook();
  setWindowTitle(book ? QStringLiteral("%1 - Spreadsheet").arg(book->Name()) : QStringLiteral("Spreadsheet"));
}
