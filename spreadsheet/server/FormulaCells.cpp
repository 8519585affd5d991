#include "spreadsheet/server/FormulaCells.h"

#include "spreadsheet/formula/FormulaDecoder.h"
#include "spreadsheet/formula/FormulaTokens.h"
#include "spreadsheet/formula/text/CellAddress.h"
#include "spreadsheet/formula/text/FormulaParser.h"
#include "spreadsheet/formula/text/FormulaPrinter.h"
#include "spreadsheet/model/StoredFormula.h"
#include "spreadsheet/recalc/FormulaLoader.h"

namespace FormulaCells {

namespace {

QString CellName(const WorkbookParts& parts, int sheet, uint32_t row, uint32_t col) {
  return parts.sheets[static_cast<size_t>(sheet)]->Name() + QLatin1Char('!') + CellAddress::Cell(row, col, false, false);
}

QString ValueText(const CellValue& value) {
  switch (value.type) {
    case CellValue::Type::Empty: return QString();
    case CellValue::Type::Number: return Coerce::NumberText(value.number);
    case CellValue::Type::Boolean: return value.boolean ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    case CellValue::Type::Text:
    case CellValue::Type::Error: return value.text;
  }
  return QString();
}

QString TableText(const StoredFormula& table) {
  const QString first = CellAddress::Cell(table.inputRow[0], table.inputCol[0], false, false);
  if (table.twoInputs) {
    return QStringLiteral("=TABLE(%1,%2)").arg(first, CellAddress::Cell(table.inputRow[1], table.inputCol[1], false, false));
  }
  return table.rowInput ? QStringLiteral("=TABLE(%1,)").arg(first) : QStringLiteral("=TABLE(,%1)").arg(first);
}

}  // namespace

std::vector<QString> SheetNames(const WorkbookParts& parts) {
  std::vector<QString> names;
  names.reserve(parts.sheets.size());
  for (const auto& sheet : parts.sheets) names.push_back(sheet->Name());
  return names;
}

void Put(WorkbookParts& parts, int sheet, uint32_t row, uint32_t col, const QString& text) {
  const std::vector<QString> names = SheetNames(parts);
  FormulaScope scope{names, parts.links, sheet};
  FormulaTokens tokens;
  try {
    tokens = ParseFormula(text, scope);
  } catch (const FormulaTextError& e) {
    throw FormulaCellError(QStringLiteral("Cell %1: %2 cannot be read at character %3: %4")
                               .arg(CellName(parts, sheet, row, col), text)
                               .arg(e.position)
                               .arg(e.reason));
  }
  // What is stored is what is evaluated: the tokens are read back as the
  // recalculation will read them.
  const CellPosition at{static_cast<uint16_t>(sheet), row, static_cast<uint16_t>(col)};
  const std::optional<Biff::Bytes> relative = Ptg::RelativeForm(tokens.tokens, at);
  const DecodedFormula decoded =
      relative ? DecodeFormula(*relative, tokens.extra, ReadEnvironment(parts)) : DecodedFormula{};
  if (!decoded.program) {
    throw FormulaCellError(QStringLiteral("Cell %1: %2 is not a formula the built-in spreadsheet server evaluates (%3)")
                               .arg(CellName(parts, sheet, row, col), text, decoded.outside));
  }
  parts.sheets[static_cast<size_t>(sheet)]->SetFormula(row, col, std::move(tokens.tokens), std::move(tokens.extra));
}

QString Text(const WorkbookParts& parts, int sheet, uint32_t row, uint32_t col) {
  const Worksheet& ws = *parts.sheets[static_cast<size_t>(sheet)];
  const StoredFormula stored = FindStoredFormula(ws, row, col);
  if (stored.kind == StoredFormula::Kind::Table) return TableText(stored);
  if (stored.kind != StoredFormula::Kind::None) {
    const std::vector<QString> names = SheetNames(parts);
    const CellPosition at{static_cast<uint16_t>(sheet), row, static_cast<uint16_t>(col)};
    if (const std::optional<QString> text = PrintFormula(stored.tokens, stored.extra, at, PrintScope{names, parts.links})) {
      return *text;
    }
  }
  return ValueText(ws.Cell(row, col));
}

}  // namespace FormulaCells
