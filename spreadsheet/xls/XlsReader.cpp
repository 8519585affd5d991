#include "spreadsheet/xls/XlsReader.h"

#include <algorithm>

using namespace Biff;

namespace {

QString VersionProblem(uint16_t bofType, ByteView data) {
  switch (bofType) {
    case 0x0009: return QStringLiteral("it is an Excel 2.x worksheet (BIFF2), not an Excel 97-2003 workbook");
    case 0x0209: return QStringLiteral("it is an Excel 3.0 worksheet (BIFF3), not an Excel 97-2003 workbook");
    case 0x0409: return QStringLiteral("it is an Excel 4.0 worksheet (BIFF4), not an Excel 97-2003 workbook");
    default: break;
  }
  if (bofType != kBof) return QStringLiteral("the workbook stream does not start with a BOF record");
  if (data.size() < 4) return QStringLiteral("the workbook stream's BOF record is too short");
  const uint16_t version = U16(data.data());
  if (version == 0x0500) return QStringLiteral("it is an Excel 5.0/95 workbook (BIFF5), not an Excel 97-2003 workbook");
  if (version != kBiff8Version) return QStringLiteral("unknown BIFF version 0x%1").arg(version, 4, 16, QLatin1Char('0'));
  if (U16(data.data() + 2) != kBofGlobals) return QStringLiteral("the workbook stream does not start with the workbook globals");
  return QString();
}

QString SheetName(ByteView data) {
  QString name;
  if (data.size() >= 8) ReadChars(data.subspan(8), data[6], (data[7] & 0x01) != 0, name);
  return name;
}

Worksheet::Kind KindOf(uint16_t bofType) {
  switch (bofType) {
    case kBofWorksheet: return Worksheet::Kind::Worksheet;
    case 0x0020: return Worksheet::Kind::Chart;
    case 0x0040: return Worksheet::Kind::Macro;
    default: return Worksheet::Kind::Other;
  }
}

void ReadGlobals(WorkbookParts& parts) {
  const ByteView stream(parts.stream);
  GlobalsLandmarks& globals = parts.globals;
  RecordCursor cursor(stream, 0);
  Record record;
  if (!cursor.Next(record)) throw StreamError(QStringLiteral("the workbook stream is empty"));
  const QString problem = VersionProblem(record.type, record.data);
  if (!problem.isEmpty()) throw StreamError(problem);

  while (cursor.Next(record)) {
    switch (record.type) {
      case kFilePass:
        if (!parts.decrypted) throw StreamError(QStringLiteral("the workbook is encrypted and was not decrypted"));
        break;
      case kBoundSheet:
        if (record.data.size() < 8) throw StreamError(QStringLiteral("a sheet entry of the workbook is damaged"));
        globals.boundSheets.push_back(record.offset);
        break;
      case kSst: {
        if (globals.sst != GlobalsLandmarks::kNone) break;  // a second table is ignored, as readers do
        globals.sst = record.offset;
        std::vector<ByteView> pieces{record.data};
        RecordCursor look(stream, record.End());
        Record next;
        size_t end = record.End();
        while (look.Next(next) && next.type == kContinue) {
          pieces.push_back(next.data);
          end = next.End();
        }
        globals.sstEnd = end;
        parts.strings.Load(pieces);
        break;
      }
      case kExtSst:
        if (globals.extSst == GlobalsLandmarks::kNone) globals.extSst = record.offset;
        break;
      case kRecalcId:
        if (globals.recalcId == GlobalsLandmarks::kNone && record.data.size() >= 8) globals.recalcId = record.offset;
        break;
      case kXf:
        ++globals.xfCount;
        break;
      case kEof:
        globals.eof = record.offset;
        globals.end = record.End();
        return;
      default:
        break;
    }
  }
  throw StreamError(QStringLiteral("the workbook stream is truncated (the workbook globals have no end)"));
}

void NoteWorksheetRecord(Worksheet& sheet, const Record& record, bool& chain) {
  SheetLandmarks& marks = sheet.Landmarks();
  const auto first = [](size_t& mark, size_t offset) {
    if (mark == SheetLandmarks::kNone) mark = offset;
  };
  const ByteView data = record.data;
  const bool tableRecord = CellRecords::IsIndexedTableRecord(record.type, data, chain);
  if (tableRecord) {
    first(marks.cellTable, record.offset);
    first(marks.tableAnchor, record.offset);
    if (record.type == kRow) {
      sheet.AddRowRecord(U16(data.data()), record.offset);
    } else if (CellRecords::IsCell(record.type)) {
      sheet.AddCellRecord(U16(data.data()), record.offset, record.End());
    } else if (record.type != kDbCell) {
      sheet.ExtendSpan(record.offset, record.End());
    }
    return;
  }
  switch (record.type) {
    case kIndex: first(marks.index, record.offset); break;
    case kDefColWidth:
      first(marks.defColWidth, record.offset);
      first(marks.protectionAnchor, record.offset);
      break;
    case kColInfo: first(marks.protectionAnchor, record.offset); break;
    case kDimensions:
      first(marks.protectionAnchor, record.offset);
      if (marks.dimensions == SheetLandmarks::kNone && data.size() >= 14) {
        marks.dimensions = record.offset;
        const uint32_t rowMac = U32(data.data() + 4);
        const uint16_t colMac = U16(data.data() + 10);
        marks.firstRow = U32(data.data());
        marks.firstCol = U16(data.data() + 8);
        marks.hasDimensions = rowMac > marks.firstRow && colMac > marks.firstCol;
        marks.lastRow = marks.hasDimensions ? rowMac - 1 : 0;
        marks.lastCol = marks.hasDimensions ? colMac - 1u : 0;
      }
      break;
    case kProtect:
      first(marks.protection, record.offset);
      if (data.size() >= 2) sheet.SetLoadedProtection(U16(data.data()) != 0);
      break;
    case kScenProtect: case kObjProtect: case kPassword:
      first(marks.protection, record.offset);
      break;
    case kWindow2:
      first(marks.protectionAnchor, record.offset);
      break;
    case kDefaultRowHeight:
      if (data.size() >= 4) {
        marks.defaultRowFlags = U16(data.data());
        marks.defaultRowHeight = U16(data.data() + 2);
      }
      break;
    default:
      break;
  }
}

// Walks the sheet's substream from its BOF to the matching EOF.
void ReadSheet(WorkbookParts& parts, size_t boundSheet) {
  const ByteView stream(parts.stream);
  const ByteView entry = stream.subspan(boundSheet + kHeaderSize, U16(stream.data() + boundSheet + 2));
  const QString name = SheetName(entry);
  const size_t begin = U32(entry.data());
  RecordCursor cursor(stream, begin);
  Record record;
  if (begin >= stream.size() || !cursor.Next(record) || record.type != kBof || record.data.size() < 4) {
    throw StreamError(QStringLiteral("sheet \"%1\" does not start where the workbook says it does").arg(name));
  }
  const uint16_t xfDefault = parts.globals.xfCount > 15 ? 15 : 0;
  auto sheet = std::make_unique<Worksheet>(name, KindOf(U16(record.data.data() + 2)), stream, parts.strings, xfDefault);
  const bool indexCells = sheet->SheetKind() == Worksheet::Kind::Worksheet;
  int depth = 1;
  bool chain = false;
  bool afterDimensions = false;
  SheetLandmarks& marks = sheet->Landmarks();
  while (cursor.Next(record)) {
    if (record.type == kBof) {
      ++depth;
    } else if (record.type == kEof && --depth == 0) {
      if (marks.tableAnchor == SheetLandmarks::kNone) marks.tableAnchor = record.offset;
      if (marks.protectionAnchor == SheetLandmarks::kNone) marks.protectionAnchor = record.offset;
      sheet->SetRange(begin, record.End());
      sheet->FinishIndex();
      parts.sheets.push_back(std::move(sheet));
      return;
    } else if (depth == 1 && indexCells) {
      // A sheet without cells gets its table right after DIMENSIONS.
      if (afterDimensions && marks.tableAnchor == SheetLandmarks::kNone) marks.tableAnchor = record.offset;
      afterDimensions = record.type == kDimensions;
      NoteWorksheetRecord(*sheet, record, chain);
    } else if (depth == 1 && record.type == kIndex && marks.index == SheetLandmarks::kNone) {
      marks.index = record.offset;  // macro sheets have one too; it moves with the sheet
    }
  }
  throw StreamError(QStringLiteral("the workbook stream is truncated (sheet \"%1\" has no end)").arg(name));
}

}  // namespace

void ReadWorkbookStream(WorkbookParts& parts) {
  ReadGlobals(parts);
  for (size_t boundSheet : parts.globals.boundSheets) ReadSheet(parts, boundSheet);

  // A save copies the stream region by region: the sheets must follow the
  // globals and must not overlap one another.
  std::vector<std::pair<size_t, size_t>> regions;
  for (const auto& sheet : parts.sheets) regions.emplace_back(sheet->Begin(), sheet->End());
  std::sort(regions.begin(), regions.end());
  size_t previousEnd = parts.globals.end;
  for (const auto& [begin, end] : regions) {
    if (begin < previousEnd) throw StreamError(QStringLiteral("the sheets of the workbook overlap"));
    previousEnd = end;
  }
}
