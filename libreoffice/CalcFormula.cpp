#include "libreoffice/CalcFormula.h"

#include "automation/OleVariant.h"
#include "libreoffice/FormulaSyntax.h"

#include <QRegularExpression>

namespace {

using Kind = FormulaPiece::Kind;

// A sheet as Calc's grammar writes it: always quoted, which it always reads.
QString CalcSheet(const QString& name) {
  QString quoted = name;
  quoted.replace(QLatin1String("'"), QLatin1String("''"));
  return QStringLiteral("$'%1'.").arg(quoted);
}

[[noreturn]] void Refuse(const QString& formula, const QString& cell, int offset, const QString& reason) {
  throw EOleError(FormulaRefusal(formula, cell, offset, reason));
}

QString SheetOf(const QString& formula, const QString& cell, const FormulaPiece& piece, const QString& written,
                const CalcFormulaTargets& targets) {
  const std::optional<QString> found = targets.sheet ? targets.sheet(written) : std::optional<QString>(written);
  if (!found) Refuse(formula, cell, piece.offset, QStringLiteral("there is no sheet \"%1\" in the workbook").arg(written));
  return *found;
}

// "2:3" as "$A2:$IV3": the same cells in an .xls, which Calc can save.
QString XlsRow(const QString& address) {
  static const QRegularExpression rows(QStringLiteral(R"(^(\$?\d+):(\$?\d+)$)"));
  const QRegularExpressionMatch m = rows.match(address);
  if (!m.hasMatch()) return address;
  return QStringLiteral("$A%1:$IV%2").arg(m.captured(1), m.captured(2));
}

QString Reference(const QString& formula, const QString& cell, FormulaPiece piece, const CalcFormulaTargets& targets) {
  if (targets.format == CalcFormat::Xls) piece.address = XlsRow(piece.address);
  if (piece.firstSheet.isEmpty()) return piece.address;
  const QString first = SheetOf(formula, cell, piece, piece.firstSheet, targets);
  if (piece.lastSheet.isEmpty()) return CalcSheet(first) + piece.address;
  // A span of sheets: Calc writes both ends of the area with their sheet.
  const QString last = SheetOf(formula, cell, piece, piece.lastSheet, targets);
  const qsizetype colon = piece.address.indexOf(u':');
  const QString start = colon < 0 ? piece.address : piece.address.left(colon);
  const QString end = colon < 0 ? piece.address : piece.address.mid(colon + 1);
  return CalcSheet(first) + start + QLatin1Char(':') + CalcSheet(last) + end;
}

QString Piece(const QString& formula, const QString& cell, const FormulaPiece& piece, const CalcFormulaTargets& targets) {
  switch (piece.kind) {
    case Kind::Boolean: return piece.text.toUpper() + QStringLiteral("()");
    case Kind::Separator: return QStringLiteral(";");
    case Kind::Union:
      if (targets.format == CalcFormat::Xlsx) {
        Refuse(formula, cell, piece.offset,
               QStringLiteral("LibreOffice Calc cannot save a union (areas joined by \",\" in parentheses) in an .xlsx "
                              "workbook so that other programs read it; give the areas as arguments of their own"));
      }
      return QStringLiteral("~");
    case Kind::Error:
      if (targets.format != CalcFormat::Xls) return piece.text;
      if (piece.text == u"#N/A") return QStringLiteral("NA()");
      Refuse(formula, cell, piece.offset,
             QStringLiteral("LibreOffice Calc cannot save the error value %1 inside a formula in an .xls workbook")
                 .arg(piece.text));
    case Kind::Intersection: return QStringLiteral("!");
    case Kind::Reference: return Reference(formula, cell, piece, targets);
    case Kind::Function: {
      const std::optional<QString> name = targets.functions ? targets.functions->CalcName(piece.text)
                                                            : CalcFunctionNames().CalcName(piece.text).value_or(piece.text);
      if (!name) Refuse(formula, cell, piece.offset, QStringLiteral("there is no function %1").arg(piece.text.toUpper()));
      return *name;
    }
    case Kind::Name:
      if (targets.name && !targets.name(piece.text)) {
        Refuse(formula, cell, piece.offset, QStringLiteral("there is no name \"%1\" in the workbook").arg(piece.text));
      }
      return piece.text;
    default: return piece.text;
  }
}

// A reference in Calc's grammar: a sheet (quoted or not, "$" or not) and an
// address, and after ":" perhaps another sheet and address. A deleted
// reference reads "#REF!" in place of its column or row.
const QRegularExpression& CalcReference() {
  static const QString sheet = QStringLiteral(R"re(\$?(?:'(?:[^']|'')+'|[^\s.;~!()"'+\-*/^&=<>%:,$#{}]+)\.)re");
  static const QString part =
      QStringLiteral(R"((?:\$?(?:[A-Za-z]{1,3}|#REF!)\$?(?:\d+|#REF!)|\$?[A-Za-z]{1,3}|\$?\d+))");
  static const QRegularExpression re(QStringLiteral("(?<s1>%1)(?<p1>%2)(?::(?<s2>%1)?(?<p2>%2))?").arg(sheet, part));
  return re;
}

QString UnquotedSheet(QString sheet) {
  if (sheet.startsWith(u'$')) sheet.remove(0, 1);
  sheet.chop(1);  // the "."
  if (sheet.startsWith(u'\'')) sheet = sheet.mid(1, sheet.size() - 2).replace(QLatin1String("''"), QLatin1String("'"));
  return sheet;
}

bool IsWholeCell(const QString& part) {
  return part.contains(QRegularExpression(QStringLiteral("[A-Za-z#]"))) && part.contains(QRegularExpression(QStringLiteral("[0-9#]")));
}

QString ApplicationReference(const QRegularExpressionMatch& m) {
  const QString first = UnquotedSheet(m.captured(u"s1"));
  const QString second = m.hasCaptured(u"s2") ? UnquotedSheet(m.captured(u"s2")) : QString();
  const QString p1 = m.captured(u"p1");
  const QString p2 = m.captured(u"p2");
  if (p1.contains(u'#') || p2.contains(u'#')) return SheetNameInFormula(first) + QStringLiteral("!#REF!");
  if (second.isEmpty() || second == first) {
    return SheetNameInFormula(first) + QLatin1Char('!') + p1 + (p2.isEmpty() ? QString() : QLatin1Char(':') + p2);
  }
  // A span of sheets is quoted as a whole when either end needs quotes.
  const bool quoted = SheetNameInFormula(first) != first || SheetNameInFormula(second) != second;
  QString sheets = first + QLatin1Char(':') + second;
  if (quoted) sheets = QLatin1Char('\'') + sheets.replace(QLatin1String("'"), QLatin1String("''")) + QLatin1Char('\'');
  const bool single = p1 == p2 && IsWholeCell(p1);
  return sheets + QLatin1Char('!') + p1 + (single ? QString() : QLatin1Char(':') + p2);
}

const QRegularExpression& ErrorValue() {
  static const QRegularExpression re(QStringLiteral(R"(#(?:NULL!|DIV/0!|VALUE!|REF!|NAME\?|NUM!|N/A))"),
                                     QRegularExpression::CaseInsensitiveOption);
  return re;
}

bool IsNameChar(QChar c) { return c.isLetterOrNumber() || c == u'_' || c == u'.' || c == u'\\'; }

}  // namespace

CalcFunctionNames::CalcFunctionNames() {
  // Calc's own CEILING and FLOOR take a third argument and round negative
  // numbers the other way; the application's are Calc's .XCL pair. Every
  // office lists them under the same names, so they are known from the start.
  for (const char* name : {"CEILING", "FLOOR"}) {
    const QString calc = QLatin1String(name) + QStringLiteral(".XCL");
    toCalc_.insert(QLatin1String(name), calc);
    toApplication_.insert(calc, QLatin1String(name));
  }
}

void CalcFunctionNames::Add(const QString& application, const QString& calc) {
  listed_ = true;
  const QString a = application.toUpper();
  const QString c = calc.toUpper();
  if (!toCalc_.contains(a)) toCalc_.insert(a, calc);
  if (!toApplication_.contains(c)) toApplication_.insert(c, application);
}

std::optional<QString> CalcFunctionNames::CalcName(const QString& application) const {
  const auto found = toCalc_.constFind(application.toUpper());
  if (found == toCalc_.constEnd()) return std::nullopt;
  return *found;
}

QString CalcFunctionNames::ApplicationName(const QString& calc) const {
  return toApplication_.value(calc.toUpper(), calc);
}

QString FormulaRefusal(const QString& formula, const QString& cell, int offset, const QString& reason) {
  return QStringLiteral("The formula \"%1\" for %2 cannot be taken: at character %3, %4")
      .arg(formula, cell)
      .arg(offset + 1)
      .arg(reason);
}

QString ToCalcGrammar(const QString& formula, const QString& cell, const CalcFormulaTargets& targets) {
  const FormulaReading reading = ReadFormula(formula);
  if (!reading.fault.isEmpty()) Refuse(formula, cell, reading.faultOffset, reading.fault);
  QString out = QStringLiteral("=");
  for (const FormulaPiece& piece : reading.pieces) out += Piece(formula, cell, piece, targets);
  return out;
}

QString FromCalcGrammar(const QString& formula, const CalcFunctionNames& functions) {
  QString out;
  int i = 0;
  const int size = static_cast<int>(formula.size());
  while (i < size) {
    const QChar c = formula[i];
    if (c == u'"') {
      int end = i + 1;  // the closing quote; doubled quotes stand inside
      while (end < size && (formula[end] != u'"' || (end + 1 < size && formula[end + 1] == u'"'))) {
        end += formula[end] == u'"' ? 2 : 1;
      }
      out += formula.mid(i, end + 1 - i);
      i = end + 1;
      continue;
    }
    if (c == u'#') {
      const QRegularExpressionMatch m = ErrorValue().match(formula, i, QRegularExpression::NormalMatch,
                                                           QRegularExpression::AnchorAtOffsetMatchOption);
      if (m.hasMatch()) {
        out += m.captured(0).toUpper();
        i = static_cast<int>(m.capturedEnd());
        continue;
      }
    }
    if (c == u'$' || c == u'\'' || c.isLetter() || c == u'_') {
      const QRegularExpressionMatch m =
          CalcReference().match(formula, i, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
      const int end = m.hasMatch() ? static_cast<int>(m.capturedEnd()) : -1;
      const bool whole = m.hasMatch() && (end >= size || (!IsNameChar(formula[end]) && formula[end] != u'('));
      // "A" alone is a column only as a part of "A:C".
      if (whole && (IsWholeCell(m.captured(u"p1")) || m.hasCaptured(u"p2"))) {
        out += ApplicationReference(m);
        i = end;
        continue;
      }
    }
    if (c.isLetter() || c == u'_' || c == u'\\') {
      int end = i;
      while (end < size && IsNameChar(formula[end])) ++end;
      const QString word = formula.mid(i, end - i);
      if (end < size && formula[end] == u'(') {
        const QString upper = word.toUpper();
        if ((upper == u"TRUE" || upper == u"FALSE") && formula.mid(end, 2) == u"()") {
          out += upper;  // the application's constant
          i = end + 2;
          continue;
        }
        out += functions.ApplicationName(word);
      } else {
        out += word;
      }
      i = end;
      continue;
    }
    if (c == u';' || c == u'~') {
      out += QLatin1Char(',');
    } else if (c == u'!') {
      out += QLatin1Char(' ');
    } else {
      out += c;
    }
    ++i;
  }
  return out;
}
