#include "libreoffice/WorkbookFormat.h"

#include "automation/OleVariant.h"

#include <QFile>
#include <QFileInfo>

namespace {

const QByteArray kZip("PK\x03\x04", 4);
const QByteArray kCompoundFile("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);

}  // namespace

std::optional<CalcFormat> FormatForPath(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QLatin1String("xls")) return CalcFormat::Xls;
  if (suffix == QLatin1String("xlsx")) return CalcFormat::Xlsx;
  if (suffix == QLatin1String("ods")) return CalcFormat::Ods;
  return std::nullopt;
}

QString FilterFor(CalcFormat format) {
  switch (format) {
    case CalcFormat::Xls: return QStringLiteral("MS Excel 97");
    case CalcFormat::Xlsx: return QStringLiteral("Calc Office Open XML");
    case CalcFormat::Ods: return QStringLiteral("calc8");
  }
  return {};
}

QString CalcFileFilter() {
  return QStringLiteral(
      "Excel Files (*.xls)|*.xls|Excel Workbook (*.xlsx)|*.xlsx|OpenDocument Spreadsheet (*.ods)|*.ods");
}

void CheckWorkbookFile(const QString& path, CalcFormat format) {
  const QString name = QFileInfo(path).fileName();
  QFile file(path);
  if (!file.exists()) throw EOleError(QStringLiteral("'%1' could not be found").arg(path));
  if (!file.open(QIODevice::ReadOnly)) {
    throw EOleError(QStringLiteral("'%1' could not be read: %2").arg(path, file.errorString()));
  }
  const QByteArray head = file.read(kCompoundFile.size());
  if (head.isEmpty()) throw EOleError(QStringLiteral("'%1' is empty; it holds no workbook").arg(name));
  bool fits = false;
  QString expected;
  switch (format) {
    case CalcFormat::Xlsx:
      // A protected .xlsx is an encrypted package inside a compound file.
      fits = head.startsWith(kZip) || head.startsWith(kCompoundFile);
      expected = QStringLiteral("an Excel workbook (.xlsx)");
      break;
    case CalcFormat::Ods:
      fits = head.startsWith(kZip);
      expected = QStringLiteral("an OpenDocument spreadsheet (.ods)");
      break;
    case CalcFormat::Xls:
      fits = head.startsWith(kCompoundFile);
      expected = QStringLiteral("an Excel 97-2003 workbook (.xls)");
      break;
  }
  if (!fits) {
    throw EOleError(QStringLiteral("'%1' is not %2: the file is damaged or is something else under that name")
                        .arg(name, expected));
  }
}
