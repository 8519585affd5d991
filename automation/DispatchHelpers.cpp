#include "automation/DispatchHelpers.h"

MemberTable::MemberTable(std::initializer_list<const char*> names) {
  names_.reserve(names.size());
  for (const char* name : names) names_.emplace_back(name);
}

int MemberTable::Find(const QString& member) const {
  for (size_t i = 0; i < names_.size(); ++i) {
    if (names_[i].size() == member.size() && member.compare(names_[i], Qt::CaseInsensitive) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

namespace Dispatch {

void UnknownMember(const QString& objectName, const QString& member) {
  throw EOleError(QStringLiteral("Unknown name: %1 has no member \"%2\"").arg(objectName, member));
}

void WrongCallKind(const QString& objectName, const QString& member) {
  throw EOleError(QStringLiteral("Member not found: \"%2\" of %1 cannot be called this way").arg(objectName, member));
}

void ExpectArgs(const QString& member, const std::vector<OleVariant>& args, size_t min, size_t max) {
  if (args.size() >= min && args.size() <= max) return;
  const QString expected = min == max ? QString::number(min) : QStringLiteral("%1 to %2").arg(min).arg(max);
  throw EOleError(QStringLiteral("Invalid number of parameters: \"%1\" takes %2, got %3")
                      .arg(member, expected)
                      .arg(args.size()));
}

namespace {

template <typename Convert>
auto Converted(const QString& member, const std::vector<OleVariant>& args, size_t index, const char* type,
               Convert convert) {
  const OleVariant& arg = args.at(index);
  try {
    if (arg.kind() == OleVariant::Kind::Object) throw EVariantError();
    return convert(arg);
  } catch (const EVariantError&) {
    throw EOleError(QStringLiteral("Type mismatch: argument %1 of \"%2\" must be %3, got \"%4\"")
                        .arg(index + 1)
                        .arg(member, QLatin1String(type),
                             arg.kind() == OleVariant::Kind::Object ? QStringLiteral("an object") : arg.ToText()));
  }
}

}  // namespace

int32_t IntArg(const QString& member, const std::vector<OleVariant>& args, size_t index) {
  return Converted(member, args, index, "an integer", [](const OleVariant& v) { return v.ToInt(); });
}

bool BoolArg(const QString& member, const std::vector<OleVariant>& args, size_t index) {
  return Converted(member, args, index, "a boolean", [](const OleVariant& v) { return v.ToBool(); });
}

QString TextArg(const QString& member, const std::vector<OleVariant>& args, size_t index) {
  return Converted(member, args, index, "text", [](const OleVariant& v) { return v.ToText(); });
}

}  // namespace Dispatch
