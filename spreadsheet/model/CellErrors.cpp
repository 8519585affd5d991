#include "spreadsheet/model/CellErrors.h"

namespace {

struct ErrorEntry {
  ErrorCode code;
  const char* name;
};

constexpr ErrorEntry kErrors[] = {
    {ErrorCode::Null, "#NULL!"}, {ErrorCode::Div0, "#DIV/0!"}, {ErrorCode::Value, "#VALUE!"},
    {ErrorCode::Ref, "#REF!"},   {ErrorCode::Name, "#NAME?"},  {ErrorCode::Num, "#NUM!"},
    {ErrorCode::NA, "#N/A"},
};

}  // namespace

QString ErrorName(ErrorCode code) {
  for (const ErrorEntry& entry : kErrors) {
    if (entry.code == code) return QString::fromLatin1(entry.name);
  }
  return QStringLiteral("#N/A");
}

std::optional<ErrorCode> ErrorFromByte(uint8_t byte) {
  for (const ErrorEntry& entry : kErrors) {
    if (static_cast<uint8_t>(entry.code) == byte) return entry.code;
  }
  return std::nullopt;
}

std::optional<ErrorCode> ErrorFromName(QStringView name) {
  for (const ErrorEntry& entry : kErrors) {
    if (name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0) return entry.code;
  }
  return std::nullopt;
}
