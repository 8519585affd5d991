#include "automation/OleVariant.h"

#include <cmath>
#include <limits>

namespace {

const char* KindName(OleVariant::Kind kind) {
  switch (kind) {
    case OleVariant::Kind::Empty: return "Empty";
    case OleVariant::Kind::Boolean: return "Boolean";
    case OleVariant::Kind::Integer: return "Integer";
    case OleVariant::Kind::Double: return "Double";
    case OleVariant::Kind::Text: return "String";
    case OleVariant::Kind::Object: return "Dispatch";
  }
  return "Unknown";
}

[[noreturn]] void ThrowConversion(OleVariant::Kind from, const char* to) {
  throw EVariantError(QStringLiteral("Could not convert variant of type (%1) into type (%2)")
                          .arg(QLatin1String(KindName(from)), QLatin1String(to)));
}

// Doubles as the platform's float-to-text prints them: up to 15 significant
// digits, no trailing zeros, exponent as "E" with no plus sign or padding.
QString DoubleToText(double value) {
  QString text = QString::number(value, 'g', 15);
  const qsizetype e = text.indexOf(QLatin1Char('e'));
  if (e < 0) return text;
  QString mantissa = text.left(e);
  QString exponent = text.mid(e + 1);
  const bool negative = exponent.startsWith(QLatin1Char('-'));
  if (exponent.startsWith(QLatin1Char('+')) || negative) exponent.remove(0, 1);
  while (exponent.size() > 1 && exponent.startsWith(QLatin1Char('0'))) exponent.remove(0, 1);
  return mantissa + QLatin1Char('E') + (negative ? QStringLiteral("-") : QString()) + exponent;
}

bool ParseNumber(const QString& text, double& out) {
  bool ok = false;
  out = text.trimmed().toDouble(&ok);
  return ok;
}

}  // namespace

EOleError::EOleError(const QString& message) : std::runtime_error(message.toStdString()) {}

EVariantError::EVariantError() : std::runtime_error("Invalid variant operation") {}
EVariantError::EVariantError(const QString& message) : std::runtime_error(message.toStdString()) {}

IDispatchObject::~IDispatchObject() = default;

OleVariant::OleVariant(bool value) : value_(value) {}
OleVariant::OleVariant(int32_t value) : value_(value) {}
OleVariant::OleVariant(double value) : value_(value) {}
OleVariant::OleVariant(const QString& value) : value_(value) {}
OleVariant::OleVariant(const char* value) : value_(QString::fromUtf8(value)) {}
OleVariant::OleVariant(std::shared_ptr<IDispatchObject> object) {
  // A null reference is an unset variant, as an unassigned reference is.
  if (object) value_ = std::move(object);
}

QString OleVariant::ToText() const {
  switch (kind()) {
    case Kind::Empty: return QString();
    case Kind::Boolean: return std::get<bool>(value_) ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Integer: return QString::number(std::get<int32_t>(value_));
    case Kind::Double: return DoubleToText(std::get<double>(value_));
    case Kind::Text: return std::get<QString>(value_);
    case Kind::Object: break;
  }
  ThrowConversion(kind(), "String");
}

bool OleVariant::ToBool() const {
  switch (kind()) {
    case Kind::Empty: return false;
    case Kind::Boolean: return std::get<bool>(value_);
    case Kind::Integer: return std::get<int32_t>(value_) != 0;
    case Kind::Double: return std::get<double>(value_) != 0.0;
    case Kind::Text: {
      const QString text = std::get<QString>(value_).trimmed();
      if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
      if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
      double number = 0;
      if (ParseNumber(text, number)) return number != 0.0;
      break;
    }
    case Kind::Object: break;
  }
  ThrowConversion(kind(), "Boolean");
}

double OleVariant::ToDouble() const {
  switch (kind()) {
    case Kind::Empty: return 0.0;
    case Kind::Boolean: return std::get<bool>(value_) ? -1.0 : 0.0;
    case Kind::Integer: return std::get<int32_t>(value_);
    case Kind::Double: return std::get<double>(value_);
    case Kind::Text: {
      double number = 0;
      if (ParseNumber(std::get<QString>(value_), number)) return number;
      break;
    }
    case Kind::Object: break;
  }
  ThrowConversion(kind(), "Double");
}

int32_t OleVariant::ToInt() const {
  if (kind() == Kind::Integer) return std::get<int32_t>(value_);
  if (kind() == Kind::Object) ThrowConversion(kind(), "Integer");
  const double number = ToDouble();
  // Round half to even, as variant conversion does, and refuse what does not fit.
  const double rounded = std::nearbyint(number);
  if (!std::isfinite(rounded) || rounded < std::numeric_limits<int32_t>::min() ||
      rounded > std::numeric_limits<int32_t>::max()) {
    throw EVariantError(QStringLiteral("Overflow while converting variant of type (%1) into type (Integer)")
                            .arg(QLatin1String(KindName(kind()))));
  }
  return static_cast<int32_t>(rounded);
}

const std::shared_ptr<IDispatchObject>& OleVariant::ToObject() const {
  static const std::shared_ptr<IDispatchObject> none;
  if (kind() != Kind::Object) return none;
  return std::get<std::shared_ptr<IDispatchObject>>(value_);
}

IDispatchObject& OleVariant::Target() const {
  if (kind() != Kind::Object) throw EVariantError();
  return *std::get<std::shared_ptr<IDispatchObject>>(value_);
}

OleVariant OleVariant::Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) const {
  return Target().Invoke(member, kind, args);
}

OleVariant OleVariant::Get(const QString& member) const {
  static const std::vector<OleVariant> none;
  return Invoke(member, CallKind::Get, none);
}

OleVariant OleVariant::Get(const QString& member, std::initializer_list<OleVariant> args) const {
  return Invoke(member, CallKind::IndexedGet, std::vector<OleVariant>(args));
}

void OleVariant::Put(const QString& member, const OleVariant& value) const {
  Invoke(member, CallKind::Put, std::vector<OleVariant>{value});
}

OleVariant OleVariant::Call(const QString& member, std::initializer_list<OleVariant> args) const {
  return Invoke(member, CallKind::Method, std::vector<OleVariant>(args));
}
