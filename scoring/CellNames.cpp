#include "scoring/CellNames.h"

namespace CellNames {

QString ColumnLetters(int column) {
  QString letters;
  for (int n = column; n > 0; n = (n - 1) / 26) letters.prepend(QChar('A' + (n - 1) % 26));
  return letters;
}

QString CellName(int row, int column, bool absoluteRow, bool absoluteColumn) {
  return (absoluteColumn ? QStringLiteral("$") : QString()) + ColumnLetters(column) +
         (absoluteRow ? QStringLiteral("$") : QString()) + QString::number(row);
}

QString AreaName(int firstRow, int firstColumn, int lastRow, int lastColumn) {
  return CellName(firstRow, firstColumn) + QLatin1Char(':') + CellName(lastRow, lastColumn);
}

QString SheetPrefix(const QString& sheetName) {
  return QLatin1Char('\'') + QString(sheetName).replace(QLatin1Char('\''), QStringLiteral("''")) + QStringLiteral("'!");
}

}  // namespace CellNames
