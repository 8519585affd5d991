#include "spreadsheet/server/SheetList.h"

#include "spreadsheet/xls/BlankWorkbook.h"
#include "spreadsheet/xls/XlsReader.h"

namespace SheetList {

QString NameProblem(const WorkbookParts& parts, int index, const QString& name) {
  if (name.isEmpty()) return QStringLiteral("A sheet name cannot be empty");
  if (name.size() > kMaxNameLength) {
    return QStringLiteral("The sheet name \"%1\" is too long: a sheet name has at most %2 characters")
        .arg(name)
        .arg(kMaxNameLength);
  }
  static const QString kForbidden = QStringLiteral("[]*?/\\:");
  for (const QChar c : name) {
    if (kForbidden.contains(c)) {
      return QStringLiteral("The sheet name \"%1\" holds %2: a sheet name cannot hold any of [ ] * ? / \\ :").arg(name, c);
    }
  }
  if (name.startsWith(QLatin1Char('\'')) || name.endsWith(QLatin1Char('\''))) {
    return QStringLiteral("The sheet name \"%1\" cannot begin or end with an apostrophe").arg(name);
  }
  for (size_t i = 0; i < parts.sheets.size(); ++i) {
    if (static_cast<int>(i) != index && parts.sheets[i]->Name().compare(name, Qt::CaseInsensitive) == 0) {
      return QStringLiteral("There is already a sheet named \"%1\"").arg(parts.sheets[i]->Name());
    }
  }
  return QString();
}

QString NewName(const WorkbookParts& parts) {
  for (size_t n = parts.sheets.size() + 1;; ++n) {
    const QString name = QStringLiteral("Sheet%1").arg(n);
    if (NameProblem(parts, -1, name).isEmpty()) return name;
  }
}

void Insert(WorkbookParts& parts, int position, const QString& name) {
  std::unique_ptr<Worksheet> sheet =
      ReadAddedSheet(parts, name, std::make_shared<const Biff::Bytes>(BlankSheetStream()));
  parts.sheets.insert(parts.sheets.begin() + position, std::move(sheet));
  parts.links.SheetInserted(position);
  // The sheet that was active stays active.
  if (parts.activeSheet >= position) ++parts.activeSheet;
}

}  // namespace SheetList
