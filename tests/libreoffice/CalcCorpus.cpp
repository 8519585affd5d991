#include "CalcCorpus.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>
#include <stdexcept>

namespace CalcCorpus {

namespace {

const QString kDir = QStringLiteral(CFW_FIXTURES_DIR "/formulas");

QJsonDocument ReadJson(const QString& file) {
  QFile in(kDir + QLatin1Char('/') + file);
  if (!in.open(QIODevice::ReadOnly)) throw std::runtime_error("cannot read " + file.toStdString());
  return QJsonDocument::fromJson(in.readAll());
}

Value ParseValue(const QJsonObject& json) {
  const QString type = json[QStringLiteral("t")].toString();
  if (type == u"n") return {Value::Type::Number, json[QStringLiteral("v")].toDouble(), {}};
  if (type == u"s") return {Value::Type::Text, 0, json[QStringLiteral("v")].toString()};
  if (type == u"b") return {Value::Type::Boolean, json[QStringLiteral("v")].toBool() ? 1.0 : 0.0, {}};
  if (type == u"e") return {Value::Type::Error, 0, json[QStringLiteral("v")].toString()};
  if (type == u"empty") return {};
  throw std::runtime_error("unknown value type " + type.toStdString());
}

Cell ParseCell(const QString& sheet, const QString& address) {
  static const QRegularExpression re(QStringLiteral("^([A-Z]+)(\\d+)$"));
  const QRegularExpressionMatch m = re.match(address);
  if (!m.hasMatch()) throw std::runtime_error("bad cell " + address.toStdString());
  int col = 0;
  for (const QChar c : m.captured(1)) col = col * 26 + (c.unicode() - u'A' + 1);
  return {sheet, m.captured(2).toInt(), col, sheet + QLatin1Char('!') + address};
}

QString Describe(const Value& value) {
  switch (value.type) {
    case Value::Type::Empty: return QStringLiteral("empty");
    case Value::Type::Number: return QStringLiteral("number %1").arg(value.number, 0, 'g', 17);
    case Value::Type::Text: return QStringLiteral("text \"%1\"").arg(value.text);
    case Value::Type::Boolean: return value.number != 0 ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    case Value::Type::Error: return QStringLiteral("error %1").arg(value.text);
  }
  return {};
}

}  // namespace

QStringList BookNames() {
  QStringList names;
  for (const QString& file : QDir(kDir).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
    if (file != u"overrides.json") names << file.chopped(5);
  }
  return names;
}

Book Load(const QString& name) {
  const QJsonObject json = ReadJson(name + QStringLiteral(".json")).object();
  Book book;
  book.name = name;
  book.file = json[QStringLiteral("workbook")].toString();
  for (const QJsonValue& f : json[QStringLiteral("formulas")].toArray()) {
    const QJsonObject formula = f.toObject();
    book.formulas.emplace_back(ParseCell(formula[QStringLiteral("sheet")].toString(), formula[QStringLiteral("cell")].toString()),
                               formula[QStringLiteral("formula")].toString());
  }
  for (const QJsonValue& s : json[QStringLiteral("states")].toArray()) {
    const QJsonObject state = s.toObject();
    State parsed;
    parsed.name = state[QStringLiteral("name")].toString();
    for (const QJsonValue& p : state[QStringLiteral("puts")].toArray()) {
      const QJsonObject put = p.toObject();
      parsed.puts.emplace_back(ParseCell(put[QStringLiteral("sheet")].toString(), put[QStringLiteral("cell")].toString()),
                               ParseValue(put[QStringLiteral("value")].toObject()));
    }
    const QJsonObject results = state[QStringLiteral("results")].toObject();
    for (auto r = results.begin(); r != results.end(); ++r) {
      const Value value = ParseValue(r.value().toObject());
      parsed.results[r.key()] = {value, value};
    }
    book.states.push_back(std::move(parsed));
  }
  for (const QJsonValue& o : ReadJson(QStringLiteral("overrides.json")).array()) {
    const QJsonObject override = o.toObject();
    if (override[QStringLiteral("workbook")].toString() != book.file) continue;
    const QString cell = override[QStringLiteral("sheet")].toString() + QLatin1Char('!') + override[QStringLiteral("cell")].toString();
    const QString state = override[QStringLiteral("state")].toString();
    for (State& s : book.states) {
      if (state != u"*" && state != s.name) continue;
      Expected& expected = s.results.at(cell);
      expected.calc = ParseValue(override[QStringLiteral("libreoffice")].toObject());
      expected.application = ParseValue(override[QStringLiteral("excel")].toObject());
    }
  }
  return book;
}

OleVariant PutValue(const Value& value) {
  switch (value.type) {
    case Value::Type::Empty: return {};
    case Value::Type::Number: return value.number;
    case Value::Type::Boolean: return value.number != 0;
    case Value::Type::Text:
    case Value::Type::Error: return value.text;
  }
  return {};
}

std::optional<QString> Mismatch(const Value& expected, const OleVariant& got) {
  bool same = false;
  switch (expected.type) {
    case Value::Type::Empty: same = got.IsEmpty(); break;
    case Value::Type::Number:
    case Value::Type::Boolean:
      if (got.kind() == OleVariant::Kind::Double || got.kind() == OleVariant::Kind::Integer) {
        const double v = got.ToDouble();
        same = std::fabs(v - expected.number) <= 1e-9 * std::max(1.0, std::fabs(expected.number));
      }
      break;
    case Value::Type::Text:
    case Value::Type::Error: same = got.kind() == OleVariant::Kind::Text && got.ToText() == expected.text; break;
  }
  if (same) return std::nullopt;
  const QString shown = got.kind() == OleVariant::Kind::Text ? QStringLiteral("\"%1\"").arg(got.ToText()) : got.ToText();
  return QStringLiteral("expected %1, got %2").arg(Describe(expected), got.IsEmpty() ? QStringLiteral("empty") : shown);
}

}  // namespace CalcCorpus
