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

// SUPBOOK: this workbook, an add-in, or another workbook with its sheet names.
SupBook ReadSupBook(ByteView data) {
  SupBook book;
  if (data.size() < 4) return book;
  const uint16_t marker = U16(data.data() + 2);
  if (data.size() == 4 && marker == 0x0401) {
    book.kind = SupBook::Kind::Own;
    return book;
  }
  if (data.size() == 4 && marker == 0x3A01) {
    book.kind = SupBook::Kind::AddIn;
    return book;
  }
  // Another workbook: its path, then its sheet names, each an XLUnicodeString.
  const size_t sheetCount = U16(data.data());
  size_t at = 2;
  const auto text = [&data, &at](QString& out) {
    if (data.size() < at + 3) return false;
    const size_t count = U16(data.data() + at);
    const bool wide = (data[at + 2] & 0x01) != 0;
    if (!ReadChars(data.subspan(at + 3), count, wide, out)) return false;
    at += 3 + count * (wide ? 2 : 1);
    return true;
  };
  if (!text(book.document)) return book;
  book.kind = SupBook::Kind::External;
  for (size_t i = 0; i < sheetCount; ++i) {
    QString sheet;
    if (!text(sheet)) break;
    book.sheets.push_back(std::move(sheet));
  }
  return book;
}

// EXTERNNAME: its name follows the options and four reserved bytes.
QString ReadExternName(ByteView data) {
  QString name;
  if (data.size() >= 8) ReadChars(data.subspan(8), data[6], (data[7] & 0x01) != 0, name);
  return name;
}

void ReadExternSheets(WorkbookLinks& links, ByteView data) {
  if (data.size() < 2) return;
  const size_t count = std::min<size_t>(U16(data.data()), (data.size() - 2) / 6);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* xti = data.data() + 2 + 6 * i;
    const auto sheet = [](uint16_t value) -> int32_t {
      if (value == 0xFFFF) return ExternSheet::kDeleted;
      if (value == 0xFFFE) return ExternSheet::kWorkbook;
      return value;
    };
    links.sheets.push_back({U16(xti), sheet(U16(xti + 2)), sheet(U16(xti + 4))});
  }
}

DefinedName ReadName(const Record& record) {
  DefinedName name;
  name.record = record.offset;
  const ByteView data = record.data;
  if (data.size() < 15) return name;
  name.sheet = name.loadedSheet = U16(data.data() + 8);
  const bool builtIn = (U16(data.data()) & 0x0020) != 0;
  QString text;
  ReadChars(data.subspan(15), data[3], (data[14] & 0x01) != 0, text);
  name.name = builtIn && !text.isEmpty() ? BuiltInNameText(static_cast<uint8_t>(text[0].unicode())) : text;
  if (name.name.isEmpty()) name.name = text;
  return name;
}

void ReadGlobals(WorkbookParts& parts) {
  const ByteView stream(parts.stream);
  GlobalsLandmarks& globals = parts.globals;
  RecordCursor cursor(stream, 0);
  Record record;
  if (!cursor.Next(record)) throw StreamError(QStringLiteral("the workbook stream is empty"));
  const QString problem = VersionProblem(record.type, record.data);
  if (!problem.isEmpty()) throw StreamError(problem);

  WorkbookLinks& links = parts.links;
  const auto anchor = [&globals](size_t offset) {
    if (globals.linkAnchor == GlobalsLandmarks::kNone) globals.linkAnchor = offset;
  };
  while (cursor.Next(record)) {
    switch (record.type) {
      case kSupBook:
        links.books.push_back(ReadSupBook(record.data));
        if (links.books.back().kind == SupBook::Kind::Own && links.ownBookRecord == WorkbookLinks::kNone) {
          links.ownBookRecord = record.offset;
        }
        break;
      case kExternName:
        if (!links.books.empty()) links.books.back().names.push_back(ReadExternName(record.data));
        break;
      case kExternSheet: {
        if (links.externSheetRecord != WorkbookLinks::kNone) break;  // one table; a second is ignored
        links.externSheetRecord = record.offset;
        // A long table goes on in CONTINUE records.
        Bytes table(record.data.begin(), record.data.end());
        RecordCursor look(stream, record.End());
        Record next;
        size_t end = record.End();
        while (look.Next(next) && next.type == kContinue) {
          table.insert(table.end(), next.data.begin(), next.data.end());
          end = next.End();
        }
        links.externSheetEnd = end;
        ReadExternSheets(links, table);
        break;
      }
      case kName:
        anchor(record.offset);
        links.names.push_back(ReadName(record));
        break;
      case kWindow1:
        if (globals.window1 == GlobalsLandmarks::kNone && record.data.size() >= 18) {
          globals.window1 = record.offset;
          parts.activeSheet = parts.loadedActiveSheet = U16(record.data.data() + 10);
        }
        break;
      case kMsoDrawingGroup:
        anchor(record.offset);
        break;
      case kFilePass:
        if (!parts.decrypted) throw StreamError(QStringLiteral("the workbook is encrypted and was not decrypted"));
        break;
      case kBoundSheet:
        if (record.data.size() < 8) throw StreamError(QStringLiteral("a sheet entry of the workbook is damaged"));
        globals.boundSheets.push_back(record.offset);
        break;
      case kSst: {
        anchor(record.offset);
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
        anchor(record.offset);
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

// Walks a sheet's substream from its BOF at begin to the matching EOF,
// noting where its parts sit.
void IndexSheet(Worksheet& sheet, ByteView stream, size_t begin) {
  RecordCursor cursor(stream, begin);
  Record record;
  cursor.Next(record);  // the BOF, checked by the caller
  const bool indexCells = sheet.SheetKind() == Worksheet::Kind::Worksheet;
  int depth = 1;
  bool chain = false;
  bool afterDimensions = false;
  SheetLandmarks& marks = sheet.Landmarks();
  while (cursor.Next(record)) {
    if (record.type == kBof) {
      ++depth;
    } else if (record.type == kEof && --depth == 0) {
      if (marks.tableAnchor == SheetLandmarks::kNone) marks.tableAnchor = record.offset;
      if (marks.protectionAnchor == SheetLandmarks::kNone) marks.protectionAnchor = record.offset;
      sheet.SetRange(begin, record.End());
      sheet.FinishIndex();
      return;
    } else if (depth == 1 && indexCells) {
      // A sheet without cells gets its table right after DIMENSIONS.
      if (afterDimensions && marks.tableAnchor == SheetLandmarks::kNone) marks.tableAnchor = record.offset;
      afterDimensions = record.type == kDimensions;
      NoteWorksheetRecord(sheet, record, chain);
    } else if (depth == 1 && record.type == kIndex && marks.index == SheetLandmarks::kNone) {
      marks.index = record.offset;  // macro sheets have one too; it moves with the sheet
    }
  }
  throw StreamError(QStringLiteral("the workbook stream is truncated (sheet \"%1\" has no end)").arg(sheet.Name()));
}

uint16_t DefaultXf(const WorkbookParts& parts) { return parts.globals.xfCount > 15 ? 15 : 0; }

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
  auto sheet = std::make_unique<Worksheet>(name, KindOf(U16(record.data.data() + 2)), stream, parts.strings, DefaultXf(parts));
  sheet->SetListing(entry[4], entry[5]);
  IndexSheet(*sheet, stream, begin);
  parts.sheets.push_back(std::move(sheet));
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

std::unique_ptr<Worksheet> ReadAddedSheet(WorkbookParts& parts, const QString& name, std::shared_ptr<const Bytes> substream) {
  auto sheet = std::make_unique<Worksheet>(name, std::move(substream), parts.strings, DefaultXf(parts));
  IndexSheet(*sheet, sheet->Stream(), 0);
  return sheet;
}
