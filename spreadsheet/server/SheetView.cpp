#include "spreadsheet/server/SheetView.h"

#include "uikit/WorkbookQuestions.h"
#include "automation/OleVariant.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QScreen>
#include <QTimer>
#include <QHeaderView>
#include <QTableView>
#include <QVBoxLayout>

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

SheetModel::SheetModel(SpreadsheetSession& session, QObject* parent) : QAbstractTableModel(parent), session_(session) {
  Reload();
}

const Worksheet* SheetModel::Sheet() const {
  const Workbook* book = session_.ActiveWorkbook();
  return book && book->SheetCount() > 0 ? &book->Sheet(0) : nullptr;
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
  if (role == Qt::TextAlignmentRole) {
    const CellValue value = sheet->Cell(static_cast<uint32_t>(index.row()), static_cast<uint32_t>(index.column()));
    return value.type == CellValue::Type::Number ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
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
  model_ = new SheetModel(session, this);
  grid_ = new QTableView(this);
  grid_->setModel(model_);
  grid_->setFocusPolicy(Qt::NoFocus);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 4);
  grid_->horizontalHeader()->setDefaultSectionSize(72);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(grid_);
  resize(720, 420);
  UpdateTitle();
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
  model_->Reload();
  UpdateTitle();
  const Workbook* book = session_.ActiveWorkbook();
  if (book && book->SheetCount() > 0 && book->Sheet(0).RowExtent() > 0) {
    grid_->scrollTo(model_->index(static_cast<int>(book->Sheet(0).RowExtent()) - 1, 0));
  }
}

void SheetWindow::CellWritten(uint32_t row, uint32_t col) {
  model_->CellWritten(row, col);
  // Keep the newest row in view; leave the horizontal position alone.
  const int left = std::max(0, grid_->columnAt(0));
  grid_->scrollTo(model_->index(static_cast<int>(row), left), QAbstractItemView::EnsureVisible);
}

// Unlike a written row, a result changing elsewhere does not move the view.
void SheetWindow::ResultChanged(uint32_t row, uint32_t col) { model_->ResultChanged(row, col); }

void SheetWindow::UpdateTitle() {
  const Workbook* book = session_.ActiveWorkbook();
  setWindowTitle(book ? QStringLiteral("%1 - Spreadsheet").arg(book->Name()) : QStringLiteral("Spreadsheet"));
}
