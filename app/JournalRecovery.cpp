#include "app/JournalRecovery.h"

#include "app/SheetRowWriter.h"

#include <algorithm>
#include <stdexcept>

namespace {

QString CellText(const OleVariant& sheet, int row, int column) {
  return sheet.Get(QStringLiteral("Cells"), {row, column}).Get(QStringLiteral("Value")).ToText();
}

bool RowHolds(const OleVariant& sheet, const JournalSheet& entry) {
  if (entry.row < 1 || entry.row > kSheetRows || entry.values.size() > kSheetColumns) return false;
  for (int k = 1; k <= entry.values.size(); ++k) {
    if (CellText(sheet, entry.row, k) != entry.values[k - 1]) return false;
  }
  // A row written with no values is all blanks: column A holds one.
  return !entry.values.isEmpty() || CellText(sheet, entry.row, 1) == QLatin1String(" ");
}

bool RowEmpty(const OleVariant& sheet, int row, int columns) {
  for (int k = 1; k <= columns; ++k) {
    if (!CellText(sheet, row, k).isEmpty()) return false;
  }
  return true;
}

}  // namespace

std::vector<JournalSheet> SheetsMissingFrom(const OleVariant& workSheets, const std::vector<JournalSheet>& sheets) {
  const OleVariant sheet = workSheets.Get(QStringLiteral("Item"), {1});
  std::vector<JournalSheet> missing;
  std::copy_if(sheets.begin(), sheets.end(), std::back_inserter(missing),
               [&](const JournalSheet& entry) { return !RowHolds(sheet, entry); });
  return missing;
}

std::vector<JournalSheet> RestoreSheets(const OleVariant& workSheets, std::vector<JournalSheet> sheets) {
  const OleVariant sheet = workSheets.Get(QStringLiteral("Item"), {1});
  int row = 1;
  while (row < kRowSearchLimit && !CellText(sheet, row, 1).isEmpty()) ++row;
  for (JournalSheet& entry : sheets) {
    const int columns = std::max(kFilledColumns, static_cast<int>(entry.values.size()));
    while (row < kRowSearchLimit && !RowEmpty(sheet, row, columns)) ++row;
    if (row >= kRowSearchLimit) throw std::runtime_error("There is no empty row left in the import sheet for the sheets.");
    WriteSheetRow(workSheets, row, entry.values);
    entry.row = row++;
  }
  return sheets;
}

QString CountOfSheets(int count) {
  return count == 1 ? QStringLiteral("1 sheet") : QStringLiteral("%1 sheets").arg(count);
}
