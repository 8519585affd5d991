#include "spreadsheet/xls/FormulaRecords.h"

#include "spreadsheet/model/CellErrors.h"

#include <algorithm>

using namespace Biff;

namespace FormulaRecords {

namespace {

constexpr size_t kResultAt = 6;  // after row, column and format

// The characters from start, as many as fit in room bytes with the flags
// byte; one byte each unless one of them needs two.
size_t AppendChars(Bytes& data, const QString& text, qsizetype start, size_t room) {
  qsizetype count = std::min<qsizetype>(text.size() - start, static_cast<qsizetype>(room - 1));
  bool wide = false;
  for (qsizetype i = start; i < start + count && !wide; ++i) wide = text[i].unicode() > 0xFF;
  if (wide) count = std::min<qsizetype>(count, static_cast<qsizetype>((room - 1) / 2));
  data.push_back(wide ? 0x01 : 0x00);
  for (qsizetype i = start; i < start + count; ++i) {
    const char16_t c = text[i].unicode();
    data.push_back(static_cast<uint8_t>(c));
    if (wide) data.push_back(static_cast<uint8_t>(c >> 8));
  }
  return static_cast<size_t>(count);
}

}  // namespace

Bytes WithResult(ByteView formula, const CellValue& result) {
  Bytes data(formula.begin(), formula.end());
  uint8_t* value = data.data() + kResultAt;
  std::fill(value, value + 8, 0);
  switch (result.type) {
    case CellValue::Type::Number: {
      uint64_t bits = 0;
      std::memcpy(&bits, &result.number, sizeof bits);
      for (int i = 0; i < 8; ++i) value[i] = static_cast<uint8_t>(bits >> (8 * i));
      return data;
    }
    case CellValue::Type::Text: value[0] = result.text.isEmpty() ? 3 : 0; break;
    case CellValue::Type::Boolean:
      value[0] = 1;
      value[2] = result.boolean ? 1 : 0;
      break;
    case CellValue::Type::Error:
      value[0] = 2;
      value[2] = static_cast<uint8_t>(ErrorFromName(result.text).value_or(ErrorCode::NA));
      break;
    case CellValue::Type::Empty: value[0] = 3; break;
  }
  value[6] = value[7] = 0xFF;
  return data;
}

Bytes NewFormula(ByteView cell, const WrittenFormula& formula) {
  Bytes data(22, 0);
  std::copy(cell.begin(), cell.begin() + 6, data.begin());
  PutU16(data.data() + 20, static_cast<uint16_t>(formula.tokens.size()));
  data.insert(data.end(), formula.tokens.begin(), formula.tokens.end());
  data.insert(data.end(), formula.extra.begin(), formula.extra.end());
  return WithResult(data, formula.result);
}

void WriteString(ByteSink& out, const QString& text) {
  const qsizetype length = std::min<qsizetype>(text.size(), 0xFFFF);
  Bytes data{static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
  const QString kept = text.left(length);
  qsizetype done = static_cast<qsizetype>(AppendChars(data, kept, 0, kMaxRecordData - 2));
  out.WriteRecord(kString, data);
  // Each CONTINUE starts again with its own flags byte.
  while (done < length) {
    data.clear();
    done += static_cast<qsizetype>(AppendChars(data, kept, done, kMaxRecordData));
    out.WriteRecord(kContinue, data);
  }
}

}  // namespace FormulaRecords
