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

void WriteSheetRow(const OleVariant& excelApp, int row, const QStringList& values) {
  const int count = static_cast<int>(values.size());
  for (int k = 1; k <= count; ++k) Cell(excelApp, row, k).Put(QStringLiteral("Value"), values[k - 1]);
  for (int k = count + 1; k <= kFilledColumns; ++k) Cell(excelApp, row, k).Put(QStringLiteral("Value"), QStringLiteral(" "));
}
