#include "spreadsheet/formula/text/CellAddress.h"

#include <QRegularExpression>

namespace CellAddress {

std::optional<uint32_t> ColumnOf(QStringView letters) {
  if (letters.isEmpty() || letters.size() > 2) return std::nullopt;
  uint32_t col = 0;
  for (const QChar c : letters) {
    const char16_t u = c.toUpper().unicode();
    if (u < u'A' || u > u'Z') return std::nullopt;
    col = col * 26 + (u - u'A' + 1);
  }
  if (col == 0 || col - 1 > kLastCol) return std::nullopt;
  return col - 1;
}

QString Column(uint32_t col) {
  QString name;
  for (uint32_t n = col + 1; n > 0; n = (n - 1) / 26) name.prepend(QChar(u'A' + static_cast<char16_t>((n - 1) % 26)));
  return name;
}

QString Cell(uint32_t row, uint32_t col, bool rowAbsolute, bool colAbsolute) {
  return QStringLiteral("%1%2%3%4")
      .arg(colAbsolute ? QStringLiteral("$") : QString(), Column(col), rowAbsolute ? QStringLiteral("$") : QString())
      .arg(row + 1);
}

bool NeedsQuotes(QStringView sheet) {
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z_\\x{80}-\\x{FFFF}][A-Za-z0-9_.\\x{80}-\\x{FFFF}]*$"));
  static const QRegularExpression cellLike(QStringLiteral("^[A-Za-z]{1,3}[0-9]+$"));
  static const QRegularExpression r1c1Like(QStringLiteral("^[RrCc][0-9]*([Cc][0-9]*)?$"));
  const QString text = sheet.toString();
  return !plain.match(text).hasMatch() || cellLike.match(text).hasMatch() || r1c1Like.match(text).hasMatch();
}

QString SheetPrefix(QStringView sheet) {
  if (!NeedsQuotes(sheet)) return sheet.toString();
  QString quoted = sheet.toString();
  quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
  return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

}  // namespace CellAddress
