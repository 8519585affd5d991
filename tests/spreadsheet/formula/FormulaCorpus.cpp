#include "FormulaCorpus.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <stdexcept>

namespace Corpus {

namespace {

const QStringList kErrorNames{QStringLiteral("#NULL!"), QStringLiteral("#DIV/0!"), QStringLiteral("#VALUE!"),
                              QStringLiteral("#REF!"),  QStringLiteral("#NAME?"),  QStringLiteral("#NUM!"),
                              QStringLiteral("#N/A")};

[[noreturn]] void Bad(const QString& what) { throw std::runtime_error(what.toStdString()); }

QJsonObject ReadObject(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) Bad(QStringLiteral("cannot read %1").arg(path));
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
  if (doc.isNull()) Bad(QStringLiteral("%1: %2").arg(path, error.errorString()));
  return doc.object();
}

Value FromJson(const QJsonValue& json) { return ParseValue(json.toObject()); }

}  // namespace

Value ParseValue(const QJsonObject& object) {
  const QString type = object.value(QStringLiteral("t")).toString();
  const QJsonValue v = object.value(QStringLiteral("v"));
  if (type == QLatin1String("n")) return Value::Number(v.toDouble());
  if (type == QLatin1String("s")) return Value::Text(v.toString());
  if (type == QLatin1String("b")) return Value::Boolean(v.toBool());
  if (type == QLatin1String("e")) {
    if (!kErrorNames.contains(v.toString())) Bad(QStringLiteral("no such error: %1").arg(v.toString()));
    return Value::Error(v.toString());
  }
  if (type == QLatin1String("empty")) return {};
  Bad(QStringLiteral("no such value type: %1").arg(type));
}

namespace {

// "BP12" -> column 68, row 12.
Cell ParseCell(const QString& sheet, const QString& ref) {
  static const QRegularExpression pattern(QStringLiteral("^([A-Z]{1,2})(\\d+)$"));
  const QRegularExpressionMatch match = pattern.match(ref);
  if (!match.hasMatch()) Bad(QStringLiteral("not a cell: %1").arg(ref));
  int col = 0;
  for (const QChar letter : match.captured(1)) col = col * 26 + (letter.unicode() - 'A' + 1);
  return {sheet, match.captured(2).toInt(), col};
}

QString ColumnName(int col) {
  QString letters;
  for (int c = col; c > 0; c = (c - 1) / 26) letters.prepend(QChar('A' + (c - 1) % 26));
  return letters;
}

// (workbook, state, "Sheet!A1") -> the spreadsheet application's value and why.
using Overrides = std::map<std::tuple<QString, QString, QString>, Expected>;

Overrides LoadOverrides() {
  QFile file(Dir() + QStringLiteral("/overrides.json"));
  if (!file.open(QIODevice::ReadOnly)) Bad(QStringLiteral("cannot read overrides.json"));
  Overrides out;
  for (const QJsonValue& entry : QJsonDocument::fromJson(file.readAll()).array()) {
    const QJsonObject o = entry.toObject();
    const QString cell = o.value(QStringLiteral("sheet")).toString() + QLatin1Char('!') +
                         o.value(QStringLiteral("cell")).toString();
    // Calc's value may be an error the application has no name for ("Err:502").
    const QJsonObject calc = o.value(QStringLiteral("libreoffice")).toObject();
    const QString calcText = calc.value(QStringLiteral("t")).toString() == QLatin1String("e")
                                 ? QStringLiteral("error ") + calc.value(QStringLiteral("v")).toString()
                                 : Describe(FromJson(calc));
    out[{o.value(QStringLiteral("workbook")).toString(), o.value(QStringLiteral("state")).toString(), cell}] =
        Expected{FromJson(o.value(QStringLiteral("excel"))),
                 QStringLiteral("the spreadsheet application's value; Calc gives %1: %2")
                     .arg(calcText, o.value(QStringLiteral("reason")).toString())};
  }
  return out;
}

}  // namespace

OleVariant CellAt(const OleVariant& excel, const Cell& cell) {
  return excel.Get(QStringLiteral("ActiveWorkBook"))
      .Get(QStringLiteral("Worksheets"), {cell.sheet})
      .Get(QStringLiteral("Cells"), {cell.row, cell.col});
}

QString Dir() { return QStringLiteral(CFW_FIXTURES_DIR "/formulas"); }

Value ReadValue(const OleVariant& got) {
  switch (got.kind()) {
    case OleVariant::Kind::Empty: return {};
    case OleVariant::Kind::Integer:
    case OleVariant::Kind::Double: return Value::Number(got.ToDouble());
    case OleVariant::Kind::Boolean: return Value::Boolean(got.ToBool());
    case OleVariant::Kind::Text: {
      const QString text = got.ToText();
      return kErrorNames.contains(text) ? Value::Error(text) : Value::Text(text);
    }
    case OleVariant::Kind::Object: break;
  }
  return Value::Text(QStringLiteral("<an object>"));
}

OleVariant PutValue(const Value& value) {
  switch (value.type) {
    case Value::Type::Number: return value.number;
    case Value::Type::Text: return value.text;
    case Value::Type::Boolean: return value.boolean;
    case Value::Type::Error: return value.text;  // not used by the corpus: a put cannot make an error
    case Value::Type::Empty: break;
  }
  return {};
}

QString Describe(const Value& value) {
  switch (value.type) {
    case Value::Type::Empty: return QStringLiteral("empty");
    case Value::Type::Number: return QStringLiteral("number %1").arg(QString::number(value.number, 'g', QLocale::FloatingPointShortest));
    case Value::Type::Text: return QStringLiteral("text \"%1\"").arg(value.text);
    case Value::Type::Boolean: return value.boolean ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    case Value::Type::Error: return QStringLiteral("error %1").arg(value.text);
  }
  return {};
}

std::optional<QString> Mismatch(const Value& expected, const Value& got) {
  bool same = expected.type == got.type;
  if (same) {
    switch (expected.type) {
      case Value::Type::Empty: break;
      case Value::Type::Number:
        same = std::fabs(expected.number - got.number) <=
               1e-9 * std::max({1.0, std::fabs(expected.number), std::fabs(got.number)});
        break;
      case Value::Type::Boolean: same = expected.boolean == got.boolean; break;
      case Value::Type::Text:
      case Value::Type::Error: same = expected.text == got.text; break;
    }
  }
  if (same) return std::nullopt;
  return QStringLiteral("expected %1, got %2").arg(Describe(expected), Describe(got));
}

QString Cell::Name() const { return sheet + QLatin1Char('!') + ColumnName(col) + QString::number(row); }

QStringList BookNames() {
  QStringList names;
  for (const QString& file : QDir(Dir()).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
    if (file != QLatin1String("overrides.json")) names << file.chopped(5);
  }
  return names;
}

Book Load(const QString& name) {
  const QJsonObject root = ReadObject(Dir() + QLatin1Char('/') + name + QStringLiteral(".json"));
  static const Overrides overrides = LoadOverrides();
  Book book;
  book.file = root.value(QStringLiteral("workbook")).toString();
  for (const QJsonValue& f : root.value(QStringLiteral("formulas")).toArray()) {
    const QJsonObject o = f.toObject();
    book.formulas.push_back({ParseCell(o.value(QStringLiteral("sheet")).toString(), o.value(QStringLiteral("cell")).toString()),
                             o.value(QStringLiteral("formula")).toString()});
  }
  for (const QJsonValue& s : root.value(QStringLiteral("states")).toArray()) {
    const QJsonObject o = s.toObject();
    State state;
    state.name = o.value(QStringLiteral("name")).toString();
    for (const QJsonValue& p : o.value(QStringLiteral("puts")).toArray()) {
      const QJsonObject put = p.toObject();
      state.puts.push_back({ParseCell(put.value(QStringLiteral("sheet")).toString(), put.value(QStringLiteral("cell")).toString()),
                            FromJson(put.value(QStringLiteral("value")))});
    }
    const QJsonObject results = o.value(QStringLiteral("results")).toObject();
    for (auto it = results.begin(); it != results.end(); ++it) {
      auto found = overrides.find({book.file, state.name, it.key()});
      if (found == overrides.end()) found = overrides.find({book.file, QStringLiteral("*"), it.key()});
      state.results[it.key()] = found != overrides.end() ? found->second : Expected{FromJson(it.value()), {}};
    }
    for (const Formula& formula : book.formulas) {
      if (!state.results.count(formula.cell.Name())) {
        Bad(QStringLiteral("%1, %2: no result for %3").arg(name, state.name, formula.cell.Name()));
      }
    }
    book.states.push_back(std::move(state));
  }
  if (book.formulas.empty() || book.states.empty()) Bad(QStringLiteral("%1: no formulas or no states").arg(name));
  return book;
}

std::vector<std::string> Compare(const OleVariant& excel, const Book& book, const State& state) {
  std::vector<std::string> failures;
  for (const Formula& formula : book.formulas) {
    const Expected& expected = state.results.at(formula.cell.Name());
    const Value got = ReadValue(CellAt(excel, formula.cell).Get(QStringLiteral("Value")));
    if (const std::optional<QString> difference = Mismatch(expected.value, got)) {
      QString line = QStringLiteral("%1, %2: %3 %4: %5")
                         .arg(book.file, state.name, formula.cell.Name(), formula.text, *difference);
      if (!expected.note.isEmpty()) line += QStringLiteral(" (") + expected.note + QLatin1Char(')');
      failures.push_back(line.toStdString());
    }
  }
  return failures;
}

void Apply(const OleVariant& excel, const State& state) {
  for (const Put& put : state.puts) CellAt(excel, put.cell).Put(QStringLiteral("Value"), PutValue(put.value));
}

}  // namespace Corpus
