#include "scoring/SheetLook.h"

namespace {

QString Numbers(const QList<int>& numbers) {
  QStringList texts;
  for (const int number : numbers) texts << QString::number(number);
  return texts.join(QStringLiteral(", "));
}

}  // namespace

void SheetLook::RememberIds(const std::map<int, QString>& idsByRow) {
  for (const auto& [row, id] : idsByRow) {
    const auto known = firstRowOfId_.constFind(id);
    if (known == firstRowOfId_.constEnd() || *known > row) firstRowOfId_[id] = row;
  }
}

QString SheetLook::Look(int row, const QStringList& values) {
  QList<int> blank;
  QList<int> twice;
  for (const Question& question : key_.Questions()) {
    // Rows are filled with blanks past the record's last value.
    const QString value = question.column <= values.size() ? values[question.column - 1].trimmed() : QString();
    if (value.isEmpty()) {
      blank << question.number;
    } else if (key_.Mode() == MarkMode::Multiple && value.size() > 1) {
      twice << question.number;
    }
  }
  QStringList parts;
  if (!blank.isEmpty()) parts << QStringLiteral("blank ") + Numbers(blank);
  if (!twice.isEmpty()) parts << QStringLiteral("double ") + Numbers(twice);
  const QString id = key_.StudentId(values);
  if (!id.isEmpty()) {
    const auto known = firstRowOfId_.constFind(id);
    if (known != firstRowOfId_.constEnd() && *known != row) {
      parts << QStringLiteral("same ID as row %1").arg(*known);
    } else if (known == firstRowOfId_.constEnd()) {
      firstRowOfId_.insert(id, row);
    }
  }
  if (parts.isEmpty()) return {};
  return QStringLiteral("Row %1: %2").arg(row).arg(parts.join(QStringLiteral("; ")));
}
