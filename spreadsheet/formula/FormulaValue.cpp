#include "spreadsheet/formula/FormulaValue.h"

#include "automation/CellEntry.h"

#include <QList>

#include <cmath>

namespace {

// Type order of the comparison operators.
int TypeRank(Value::Kind kind) {
  switch (kind) {
    case Value::Kind::Number: return 0;
    case Value::Kind::Text: return 1;
    case Value::Kind::Boolean: return 2;
    default: return 3;
  }
}

bool IsEmptyish(const Value& v) { return v.kind == Value::Kind::Empty || v.kind == Value::Kind::Missing; }

// Digits with "," between groups of three: "1,234,567".
std::optional<QString> WithoutGrouping(QStringView text) {
  if (!text.contains(QLatin1Char(','))) return text.toString();
  qsizetype end = text.indexOf(QLatin1Char('.'));
  if (end < 0) end = text.indexOf(QLatin1Char('e'), 0, Qt::CaseInsensitive);
  if (end < 0) end = text.size();
  const QStringView whole = text.first(end).trimmed();
  qsizetype start = (!whole.isEmpty() && (whole[0] == QLatin1Char('-') || whole[0] == QLatin1Char('+'))) ? 1 : 0;
  const QList<QStringView> groups = whole.sliced(start).split(QLatin1Char(','));
  for (qsizetype i = 0; i < groups.size(); ++i) {
    const qsizetype size = groups[i].size();
    if ((i == 0 && (size < 1 || size > 3)) || (i > 0 && size != 3)) return std::nullopt;
  }
  QString plain = text.toString();
  plain.remove(QLatin1Char(','));
  return plain;
}

}  // namespace

Value Value::Number(double number) {
  Value v;
  v.kind = Kind::Number;
  v.number = number;
  return v;
}

Value Value::Text(QString text) {
  Value v;
  v.kind = Kind::Text;
  v.text = std::move(text);
  return v;
}

Value Value::Boolean(bool value) {
  Value v;
  v.kind = Kind::Boolean;
  v.boolean = value;
  return v;
}

Value Value::Error(ErrorCode code) {
  Value v;
  v.kind = Kind::Error;
  v.error = code;
  return v;
}

Value Value::Reference(const Area& area) {
  Value v;
  v.kind = Kind::Reference;
  v.area = area;
  return v;
}

Value Value::Union(std::vector<Area> areas) {
  Value v = Reference(areas.front());
  if (areas.size() > 1) {
    areas.erase(areas.begin());
    v.more = std::make_shared<const std::vector<Area>>(std::move(areas));
  }
  return v;
}

Value Value::Array(std::shared_ptr<const Matrix> array) {
  Value v;
  v.kind = Kind::Array;
  v.array = std::move(array);
  return v;
}

Value Value::Missing() {
  Value v;
  v.kind = Kind::Missing;
  return v;
}

Value Matrix::At(size_t i) const {
  const Slot& slot = slots_[i];
  switch (slot.kind) {
    case Value::Kind::Number: return Value::Number(slot.number);
    case Value::Kind::Text: return Value::Text(texts_[slot.text]);
    case Value::Kind::Boolean: return Value::Boolean(slot.code != 0);
    case Value::Kind::Error: return Value::Error(static_cast<ErrorCode>(slot.code));
    default: return {};
  }
}

void Matrix::Set(size_t i, const Value& scalar) {
  switch (scalar.kind) {
    case Value::Kind::Number: SetNumber(i, scalar.number); break;
    case Value::Kind::Text: SetText(i, scalar.text); break;
    case Value::Kind::Boolean: SetBoolean(i, scalar.boolean); break;
    case Value::Kind::Error: SetError(i, scalar.error); break;
    default: slots_[i] = Slot{}; break;
  }
}

void Matrix::SetText(size_t i, const QString& text) {
  slots_[i] = {0, static_cast<uint32_t>(texts_.size()), Value::Kind::Text, 0};
  texts_.push_back(text);
}

std::vector<Area> Value::Areas() const {
  std::vector<Area> areas{area};
  if (more) areas.insert(areas.end(), more->begin(), more->end());
  return areas;
}

namespace Coerce {

std::optional<double> NumberFromText(QStringView text) {
  QStringView body = text.trimmed();
  double scale = 1;
  if (body.endsWith(QLatin1Char('%'))) {
    body.chop(1);
    scale = 0.01;
  }
  const std::optional<QString> plain = WithoutGrouping(body);
  if (!plain) return std::nullopt;
  const std::optional<double> number = NumberFromEntry(*plain);
  if (!number) return std::nullopt;
  return *number * scale;
}

Value ToNumber(const Value& v) {
  switch (v.kind) {
    case Value::Kind::Number: return v;
    case Value::Kind::Boolean: return Value::Number(v.boolean ? 1 : 0);
    case Value::Kind::Empty:
    case Value::Kind::Missing: return Value::Number(0);
    case Value::Kind::Text: {
      const std::optional<double> number = NumberFromText(v.text);
      return number ? Value::Number(*number) : Value::Error(ErrorCode::Value);
    }
    case Value::Kind::Error: return v;
    default: return Value::Error(ErrorCode::Value);
  }
}

QString NumberText(double number) {
  if (number == 0) return QStringLiteral("0");
  if (!std::isfinite(number)) return QStringLiteral("#NUM!");
  // Whole numbers of up to 15 digits (answers, counts, IDs) read as they are.
  if (std::fabs(number) < 1e15 && std::trunc(number) == number) return QString::number(static_cast<qlonglong>(number));
  // Round to 15 significant digits first: that is all the application keeps.
  // (Qt's conversions, unlike printf's, ignore the locale's decimal point.)
  const QString scientific = QString::number(number, 'e', 14);
  const double rounded = scientific.toDouble();
  const int exponent = scientific.section(QLatin1Char('e'), 1).toInt();
  if (exponent >= 15 || exponent < -9) {
    QString mantissa = scientific.section(QLatin1Char('e'), 0, 0);
    if (mantissa.contains(QLatin1Char('.'))) {
      while (mantissa.endsWith(QLatin1Char('0'))) mantissa.chop(1);
      if (mantissa.endsWith(QLatin1Char('.'))) mantissa.chop(1);
    }
    return QStringLiteral("%1E%2%3")
        .arg(mantissa, exponent < 0 ? QStringLiteral("-") : QStringLiteral("+"))
        .arg(std::abs(exponent), 2, 10, QLatin1Char('0'));
  }
  const int decimals = std::max(0, 14 - exponent);
  QString plain = QString::number(rounded, 'f', decimals);
  if (plain.contains(QLatin1Char('.'))) {
    while (plain.endsWith(QLatin1Char('0'))) plain.chop(1);
    if (plain.endsWith(QLatin1Char('.'))) plain.chop(1);
  }
  if (plain == QLatin1String("-0")) return QStringLiteral("0");
  return plain;
}

Value ToText(const Value& v) {
  switch (v.kind) {
    case Value::Kind::Text: return v;
    case Value::Kind::Number: return Value::Text(NumberText(v.number));
    case Value::Kind::Boolean: return Value::Text(v.boolean ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
    case Value::Kind::Empty:
    case Value::Kind::Missing: return Value::Text(QString());
    case Value::Kind::Error: return v;
    default: return Value::Error(ErrorCode::Value);
  }
}

Value ToBoolean(const Value& v) {
  switch (v.kind) {
    case Value::Kind::Boolean: return v;
    case Value::Kind::Number: return Value::Boolean(v.number != 0);
    case Value::Kind::Empty:
    case Value::Kind::Missing: return Value::Boolean(false);
    case Value::Kind::Text:
      if (v.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0) return Value::Boolean(true);
      if (v.text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) return Value::Boolean(false);
      return Value::Error(ErrorCode::Value);
    case Value::Kind::Error: return v;
    default: return Value::Error(ErrorCode::Value);
  }
}

int Compare(const Value& a, const Value& b) {
  const bool emptyA = IsEmptyish(a);
  const bool emptyB = IsEmptyish(b);
  if (emptyA && emptyB) return 0;
  // An empty operand is the other side's type: 0, "" or FALSE.
  const Value::Kind kind = emptyA ? b.kind : a.kind;
  const int ra = TypeRank(kind);
  const int rb = TypeRank(emptyB ? a.kind : b.kind);
  if (ra != rb) return ra < rb ? -1 : 1;
  switch (kind) {
    case Value::Kind::Number: {
      const double x = emptyA ? 0 : a.number;
      const double y = emptyB ? 0 : b.number;
      return x < y ? -1 : (x > y ? 1 : 0);
    }
    case Value::Kind::Text: {
      const int c = emptyA ? (b.text.isEmpty() ? 0 : -1)
                    : emptyB ? (a.text.isEmpty() ? 0 : 1)
                             : a.text.compare(b.text, Qt::CaseInsensitive);
      return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    case Value::Kind::Boolean: {
      const bool x = !emptyA && a.boolean;
      const bool y = !emptyB && b.boolean;
      return x == y ? 0 : (x ? 1 : -1);
    }
    default: return 0;
  }
}

bool SameResult(const Value& a, const Value& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case Value::Kind::Number: return a.number == b.number && std::signbit(a.number) == std::signbit(b.number);
    case Value::Kind::Text: return a.text == b.text;
    case Value::Kind::Boolean: return a.boolean == b.boolean;
    case Value::Kind::Error: return a.error == b.error;
    default: return true;
  }
}

}  // namespace Coerce
