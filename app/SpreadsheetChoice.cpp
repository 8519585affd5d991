#include "app/SpreadsheetChoice.h"

#include "settings/IniFile.h"

#include <QFileInfo>

bool NeedsCalc(const QString& workbookPath) {
  const QString suffix = QFileInfo(workbookPath).suffix();
  return suffix.compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0 ||
         suffix.compare(QLatin1String("ods"), Qt::CaseInsensitive) == 0;
}

QString ServerForWorkbook(const QString& workbookPath, const QString& settingsFile) {
  if (NeedsCalc(workbookPath)) return kCalcServerProgId;
  const QString chosen = IniFile(settingsFile).ReadString(QStringLiteral("Main"), QStringLiteral("Spreadsheet"), {});
  return chosen.trimmed().compare(QLatin1String("LibreOffice"), Qt::CaseInsensitive) == 0 ? kCalcServerProgId
                                                                                           : kBuiltInServerProgId;
}

QString WithWorkbookExtension(const QString& path) {
  return QFileInfo(path).suffix().isEmpty() ? path + QStringLiteral(".xls") : path;
}
