#include "tools/xlsdump/XlsDump.h"

#include "automation/OleVariant.h"
#include "spreadsheet/server/Workbook.h"

namespace {

QString Quoted(const QString& text) {
  QString out = QStringLiteral("\"");
  for (QChar c : text) {
    if (c == QLatin1Char('"') || c == QLatin1Char('\\')) {
      out += QLatin1Char('\\');
      out += c;
    } else if (c == QLatin1Char('\n')) {
      out += QStringLiteral("\\n");
    } else if (c == QLatin1Char('\r')) {
      out += QStringLiteral("\\r");
    } else if (c == QLatin1Char('\t')) {
      out += QStringLiteral("\\t");
    } else {
      out += c;
    }
  }
  return out + QLatin1Char('"');
}

QString Describe(const CellValue& value) {
  switch (value.type) {
    case CellValue::Type::Text: return QStringLiteral("text ") + Quoted(value.text);
    case CellValue::Type::Number: return QStringLiteral("number ") + OleVariant(value.number).ToText();
    case CellValue::Type::Boolean: return value.boolean ? QStringLiteral("boolean TRUE") : QStringLiteral("boolean FALSE");
    case CellValue::Type::Error: return QStringLiteral("error ") + value.text;
    case CellValue::Type::Empty: break;
  }
  return QStringLiteral("empty");
}

QString KindName(Worksheet::Kind kind) {
  switch (kind) {
    case Worksheet::Kind::Worksheet: return QStringLiteral("worksheet");
    case Worksheet::Kind::Chart: return QStringLiteral("chart");
    case Worksheet::Kind::Macro: return QStringLiteral("macro sheet");
    case Worksheet::Kind::Other: break;
  }
  return QStringLiteral("other");
}

}  // namespace

namespace XlsDump {

bool Dump(const Workbook& book, QTextStream& out, int sheetNumber) {
  if (sheetNumber < 0 || sheetNumber > book.SheetCount()) return false;
  for (int i = 0; i < book.SheetCount(); ++i) {
    if (sheetNumber != 0 && i + 1 != sheetNumber) continue;
    const Worksheet& sheet = book.Sheet(i);
    out << "Sheet " << i + 1 << ": " << Quoted(sheet.Name()) << " (" << KindName(sheet.SheetKind())
        << (sheet.Protected() ? ", protected" : "") << ")\n";
    sheet.ForEachCell([&out](uint32_t row, uint32_t col, const CellValue& value) {
      out << "  " << ColumnLetters(col) << row + 1 << ": " << Describe(value) << '\n';
    });
  }
  return true;
}

}  // namespace XlsDump
