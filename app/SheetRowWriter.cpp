#include "app/SheetRowWriter.h"

namespace {

OleVariant Cell(const OleVariant& excelApp, int row, int column) {
  return excelApp.Get(QStringLiteral("Sheets"), {1}).Get(QStringLiteral("Cells"), {row, column});
}

}  // namespace

int FindFirstEmptyRow(const OleVariant& excelApp, OleVariant& workSheets) {
  workSheets = excelApp.Get(QStringLiteral("ActiveWorkBook")).Get(QStringLiteral("Sheets"));
  workSheets.Get(QStringLiteral("Item"), {1}).Call(QStringLiteral("Unprotect"));
  int row = 1;
  QString text = Cell(excelApp, row, 1).Get(QStringLiteral("Value")).ToText();
  while (row < kRowSearchLimit && !text.isEmpty()) {
    ++row;
    text = Cell(excelApp, row, 1).Get(QStringLiteral("Value")).ToText();
  }
  if (row >= kRowSearchLimit) throw EImportSheetFull();
  return row;
}

void WriteSheetRow(const OleVariant& workSheets, int row, const QStringList& values) {
  const OleVariant sheet = workSheets.Get(QStringLiteral("Item"), {1});
  const auto put = [&](int column, const QString& text) {
    sheet.Get(QStringLiteral("Cells"), {row, column}).Put(QStringLiteral("Value"), text);
  };
  const int count = static_cast<int>(values.size());
  for (int k = 1; k <= count; ++k) put(k, values[k - 1]);
  for (int k = count + 1; k <= kFilledColumns; ++k) put(k, QStringLiteral(" "));
  sheet.Get(QStringLiteral("Cells"), {row, 1}).Get(QStringLiteral("Value"));
}

int FirstFreeRowFrom(const OleVariant& workSheets, int row) {
  const OleVariant sheet = workSheets.Get(QStringLiteral("Item"), {1});
  while (row <= kSheetRows && !sheet.Get(QStringLiteral("Cells"), {row, 1}).Get(QStringLiteral("Value")).ToText().isEmpty()) {
    ++row;
  }
  return row;
}

std::optional<QString> LastingRowProblem(const OleVariant& workSheets, int row, const QStringList& values) {
  if (values.size() > kSheetColumns) {
    return QStringLiteral("the sheet has %1 values, more than the %2 columns of a worksheet").arg(values.size()).arg(kSheetColumns);
  }
  if (row < 1 || row > kSheetRows) return QStringLiteral("row %1 is outside the worksheet (1 to %2)").arg(row).arg(kSheetRows);
  try {
    workSheets.Get(QStringLiteral("Item"), {1});
  } catch (const EServerGone&) {
    throw;  // the workbook may come back: its sheets wait in the journal
  } catch (const std::exception& gone) {
    return QString::fromUtf8(gone.what());
  }
  return std::nullopt;
}
