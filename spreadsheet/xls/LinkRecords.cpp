#include "spreadsheet/xls/LinkRecords.h"

#include <algorithm>

using namespace Biff;

namespace LinkRecords {

namespace {

constexpr size_t kXtiSize = 6;
constexpr uint16_t kOwnBookMarker = 0x0401;

uint16_t SheetField(int32_t sheet) {
  if (sheet == ExternSheet::kWorkbook) return 0xFFFE;
  if (sheet < 0) return 0xFFFF;
  return static_cast<uint16_t>(sheet);
}

}  // namespace

Bytes BoundSheet(const Worksheet& sheet, size_t position) {
  const QString& name = sheet.Name();
  bool wide = false;
  for (const QChar c : name) wide = wide || c.unicode() > 0xFF;
  Bytes data(8, 0);
  PutU32(data.data(), static_cast<uint32_t>(position));
  data[4] = sheet.Visibility();
  data[5] = sheet.ListedType();
  data[6] = static_cast<uint8_t>(name.size());
  data[7] = wide ? 0x01 : 0x00;
  for (const QChar c : name) {
    data.push_back(static_cast<uint8_t>(c.unicode()));
    if (wide) data.push_back(static_cast<uint8_t>(c.unicode() >> 8));
  }
  return data;
}

Bytes OwnSupBook(const WorkbookParts& parts) {
  Bytes data(4, 0);
  PutU16(data.data(), static_cast<uint16_t>(parts.sheets.size()));
  PutU16(data.data() + 2, kOwnBookMarker);
  return data;
}

void WriteExternSheet(const WorkbookLinks& links, ByteSink& out) {
  Bytes table(2, 0);
  PutU16(table.data(), static_cast<uint16_t>(links.sheets.size()));
  for (const ExternSheet& entry : links.sheets) {
    uint8_t xti[kXtiSize];
    PutU16(xti, entry.book);
    PutU16(xti + 2, SheetField(entry.first));
    PutU16(xti + 4, SheetField(entry.last));
    table.insert(table.end(), xti, xti + kXtiSize);
  }
  // Whole entries per record: the count and as many as fit, then CONTINUE.
  const size_t perRecord = (kMaxRecordData - 2) / kXtiSize;
  size_t first = std::min(table.size(), 2 + perRecord * kXtiSize);
  out.WriteRecord(kExternSheet, ByteView(table.data(), first));
  while (first < table.size()) {
    const size_t size = std::min(table.size() - first, perRecord * kXtiSize);
    out.WriteRecord(kContinue, ByteView(table.data() + first, size));
    first += size;
  }
}

Bytes NameWithSheet(ByteView name, uint16_t sheet) {
  Bytes data(name.begin(), name.end());
  if (data.size() >= 10) PutU16(data.data() + 8, sheet);
  return data;
}

Bytes WindowWithActiveSheet(ByteView window, uint16_t sheet) {
  Bytes data(window.begin(), window.end());
  if (data.size() >= 12) PutU16(data.data() + 10, sheet);
  return data;
}

}  // namespace LinkRecords
