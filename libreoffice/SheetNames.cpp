#include "libreoffice/SheetNames.h"

namespace {

constexpr int kLongestName = 31;

}  // namespace

std::optional<QString> SheetNameFault(const QString& name, const std::vector<QString>& names, int own) {
  if (name.isEmpty()) return QStringLiteral("a sheet name cannot be empty");
  if (name.size() > kLongestName) {
    return QStringLiteral("\"%1\" has %2 characters; a sheet name has at most %3").arg(name).arg(name.size()).arg(kLongestName);
  }
  for (const QChar c : name) {
    if (QStringView(u"[]*?/\\:").contains(c)) {
      return QStringLiteral("\"%1\" holds \"%2\"; a sheet name cannot hold any of [ ] * ? / \\ :").arg(name, c);
    }
  }
  if (name.startsWith(u'\'') || name.endsWith(u'\'')) {
    return QStringLiteral("\"%1\" begins or ends with an apostrophe, which a sheet name cannot").arg(name);
  }
  const std::optional<int> used = SheetIndex(names, name);
  if (used && *used != own) {
    return QStringLiteral("the workbook already has a sheet named \"%1\"").arg(names[static_cast<size_t>(*used)]);
  }
  return std::nullopt;
}

QString NewSheetName(const std::vector<QString>& names) {
  for (int n = static_cast<int>(names.size()) + 1;; ++n) {
    const QString name = QStringLiteral("Sheet%1").arg(n);
    if (!SheetIndex(names, name)) return name;
  }
}

std::optional<int> SheetIndex(const std::vector<QString>& names, const QString& name) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i].compare(name, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
  }
  return std::nullopt;
}
