#include "spreadsheet/xls/XlsWriter.h"

#include "spreadsheet/xls/CellTableWriter.h"
#include "spreadsheet/xls/LinkRecords.h"

#include <algorithm>

using namespace Biff;

namespace {

// Positions in the new stream that records written before them refer to.
// The first (counting) pass fills it; the second writes with it.
struct SheetLayout {
  size_t begin = 0;
  size_t defColWidth = 0;
  CellTableLayout table;
};

struct StreamLayout {
  std::vector<SheetLayout> sheets;
};

bool IsProtectionRecord(uint16_t type) {
  return type == kProtect || type == kScenProtect || type == kObjProtect || type == kPassword;
}

class StreamEmitter {
 public:
  StreamEmitter(const WorkbookParts& parts, const StreamLayout& previous, ByteSink& out)
      : parts_(parts), stream_(parts.stream), source_(stream_), previous_(previous), out_(out) {
    next_.sheets.resize(parts.sheets.size());
  }

  void Run();
  StreamLayout& Layout() { return next_; }

 private:
  // Copies from the stream being emitted: the workbook stream, or an
  // added sheet's own.
  void CopyRange(size_t begin, size_t end) {
    if (end > begin) out_.Write(source_.data() + begin, end - begin);
  }
  void Copy(const Record& record) { CopyRange(record.offset, record.End()); }
  void EmitGlobals();
  // The records of the sheet list and the sheet table, where they go.
  bool EmitLinkRecord(const Record& record);
  void EmitNewLinks();
  void EmitSheet(size_t index);
  void EmitUnchangedSheet(size_t index);
  void EmitChangedSheet(size_t index);
  void EmitIndex(const Record& original, const SheetLayout& layout);
  void EmitDimensions(const Worksheet& sheet, const SheetLayout& layout);
  void EmitProtection(const Worksheet& sheet);

  const WorkbookParts& parts_;
  ByteView stream_;
  ByteView source_;
  const StreamLayout& previous_;
  StreamLayout next_;
  ByteSink& out_;
};

void StreamEmitter::Run() {
  EmitGlobals();
  // The sheets read from the file in the order their substreams had, with
  // whatever lies between them; the sheets added since after them.
  std::vector<size_t> order;
  std::vector<size_t> added;
  for (size_t i = 0; i < parts_.sheets.size(); ++i) (parts_.sheets[i]->Added() ? added : order).push_back(i);
  std::sort(order.begin(), order.end(),
            [this](size_t a, size_t b) { return parts_.sheets[a]->Begin() < parts_.sheets[b]->Begin(); });
  size_t position = parts_.globals.end;
  for (size_t index : order) {
    CopyRange(position, parts_.sheets[index]->Begin());
    EmitSheet(index);
    position = parts_.sheets[index]->End();
  }
  CopyRange(position, stream_.size());
  for (size_t index : added) EmitSheet(index);
}

bool StreamEmitter::EmitLinkRecord(const Record& record) {
  const GlobalsLandmarks& globals = parts_.globals;
  const WorkbookLinks& links = parts_.links;
  if (record.type == kBoundSheet && std::find(globals.boundSheets.begin(), globals.boundSheets.end(), record.offset) !=
                                        globals.boundSheets.end()) {
    const bool listChanged = std::any_of(parts_.sheets.begin(), parts_.sheets.end(),
                                         [](const auto& sheet) { return sheet->ListingChanged(); });
    if (!listChanged) {
      // Each entry as it was, pointing where its sheet lands now.
      const size_t index = static_cast<size_t>(
          std::find(globals.boundSheets.begin(), globals.boundSheets.end(), record.offset) - globals.boundSheets.begin());
      Bytes data(record.data.begin(), record.data.end());
      PutU32(data.data(), static_cast<uint32_t>(previous_.sheets[index].begin));
      out_.WriteRecord(record.type, data);
      return true;
    }
    // The whole list where its first entry was, in today's order and names.
    if (record.offset != globals.boundSheets.front()) return true;
    for (size_t i = 0; i < parts_.sheets.size(); ++i) {
      out_.WriteRecord(kBoundSheet, LinkRecords::BoundSheet(*parts_.sheets[i], previous_.sheets[i].begin));
    }
    return true;
  }
  if (record.offset == links.ownBookRecord) {
    out_.WriteRecord(kSupBook, LinkRecords::OwnSupBook(parts_));
    return true;
  }
  if (record.offset == links.externSheetRecord) {
    if (links.ownBookAdded) out_.WriteRecord(kSupBook, LinkRecords::OwnSupBook(parts_));
    if (!links.sheetTableChanged) return false;
    LinkRecords::WriteExternSheet(links, out_);
    return true;
  }
  if (record.type == kName) {
    for (const DefinedName& name : links.names) {
      if (name.record == record.offset && name.sheet != name.loadedSheet) {
        out_.WriteRecord(kName, LinkRecords::NameWithSheet(record.data, name.sheet));
        return true;
      }
    }
    return false;
  }
  if (record.offset == globals.window1 && parts_.activeSheet != parts_.loadedActiveSheet) {
    out_.WriteRecord(kWindow1, LinkRecords::WindowWithActiveSheet(record.data, parts_.activeSheet));
    return true;
  }
  return false;
}

// A table of sheet spans the file did not have, before the names.
void StreamEmitter::EmitNewLinks() {
  const WorkbookLinks& links = parts_.links;
  if (links.externSheetRecord != WorkbookLinks::kNone || links.sheets.empty()) return;
  if (links.ownBookAdded) out_.WriteRecord(kSupBook, LinkRecords::OwnSupBook(parts_));
  LinkRecords::WriteExternSheet(links, out_);
}

void StreamEmitter::EmitGlobals() {
  const GlobalsLandmarks& globals = parts_.globals;
  const bool rebuildStrings = parts_.strings.Grown();
  size_t newSst = 0;
  RecordCursor cursor(stream_, 0);
  Record record;
  while (cursor.Position() < globals.end && cursor.Next(record)) {
    if (record.offset == globals.linkAnchor) EmitNewLinks();
    if (record.offset == parts_.links.externSheetRecord && parts_.links.sheetTableChanged) {
      EmitLinkRecord(record);
      cursor = RecordCursor(stream_, parts_.links.externSheetEnd);  // its CONTINUE records go with it
    } else if (EmitLinkRecord(record)) {
      continue;
    } else if (record.offset == globals.sst) {
      newSst = out_.Position();
      if (rebuildStrings) {
        parts_.strings.Write(out_);
      } else {
        Bytes data(record.data.begin(), record.data.end());
        PutU32(data.data(), parts_.strings.TotalReferences());
        out_.WriteRecord(record.type, data);
        CopyRange(record.End(), globals.sstEnd);
      }
      cursor = RecordCursor(stream_, globals.sstEnd);
    } else if (record.offset == globals.recalcId && parts_.recalculateOnLoad) {
      // An engine number older than any application's: everything is
      // recalculated when the file is loaded.
      Bytes data(record.data.begin(), record.data.end());
      PutU32(data.data() + 4, 0);
      out_.WriteRecord(record.type, data);
    } else if (record.offset == globals.extSst) {
      if (rebuildStrings) continue;  // written with the new table
      // The buckets point into the SST, which may have moved.
      Bytes data(record.data.begin(), record.data.end());
      for (size_t at = 2; at + 4 <= data.size(); at += 8) {
        PutU32(data.data() + at, static_cast<uint32_t>(U32(data.data() + at) - globals.sst + newSst));
      }
      out_.WriteRecord(record.type, data);
    } else {
      if (record.offset == globals.eof && globals.sst == GlobalsLandmarks::kNone && rebuildStrings) {
        parts_.strings.Write(out_);
      }
      Copy(record);
    }
  }
}

void StreamEmitter::EmitSheet(size_t index) {
  const Worksheet& sheet = *parts_.sheets[index];
  next_.sheets[index].begin = out_.Position();
  source_ = sheet.Stream();
  if (sheet.CellsChanged() || sheet.ProtectionChanged()) {
    EmitChangedSheet(index);
  } else {
    EmitUnchangedSheet(index);
  }
  source_ = stream_;
}

void StreamEmitter::EmitUnchangedSheet(size_t index) {
  const Worksheet& sheet = *parts_.sheets[index];
  const size_t indexRecord = sheet.Landmarks().index;
  if (indexRecord == SheetLandmarks::kNone) {
    CopyRange(sheet.Begin(), sheet.End());
    return;
  }
  // Only INDEX holds stream positions: move them with the sheet.
  CopyRange(sheet.Begin(), indexRecord);
  RecordCursor cursor(source_, indexRecord);
  Record record;
  cursor.Next(record);
  Bytes data(record.data.begin(), record.data.end());
  const int64_t shift = static_cast<int64_t>(previous_.sheets[index].begin) - static_cast<int64_t>(sheet.Begin());
  for (size_t at = 12; at + 4 <= data.size(); at += 4) {
    const uint32_t position = U32(data.data() + at);
    if (position != 0 || at >= 16) PutU32(data.data() + at, static_cast<uint32_t>(position + shift));
  }
  out_.WriteRecord(record.type, data);
  CopyRange(record.End(), sheet.End());
}

void StreamEmitter::EmitChangedSheet(size_t index) {
  const Worksheet& sheet = *parts_.sheets[index];
  const SheetLandmarks& marks = sheet.Landmarks();
  const SheetLayout& layout = previous_.sheets[index];
  SheetLayout& next = next_.sheets[index];
  const bool newProtection = sheet.ProtectionChanged();
  RecordCursor cursor(source_, sheet.Begin());
  Record record;
  int depth = 0;
  bool chain = false;
  while (cursor.Position() < sheet.End() && cursor.Next(record)) {
    // Embedded substreams (charts on the sheet) are copied whole.
    if (record.type == kBof || depth > 1) {
      if (record.type == kBof) ++depth;
      if (record.type == kEof) --depth;
      Copy(record);
      continue;
    }
    const size_t at = record.offset;
    if (newProtection && (at == marks.protection ||
                          (marks.protection == SheetLandmarks::kNone && at == marks.protectionAnchor))) {
      EmitProtection(sheet);
    }
    if (at == marks.tableAnchor) WriteCellTable(sheet, out_, next.table);
    if (record.type == kEof) {
      Copy(record);
      --depth;
      continue;
    }
    if (CellRecords::IsIndexedTableRecord(record.type, record.data, chain)) continue;  // rebuilt above
    if (newProtection && IsProtectionRecord(record.type)) continue;
    if (at == marks.index) {
      EmitIndex(record, layout);
    } else if (at == marks.dimensions) {
      EmitDimensions(sheet, layout);
    } else {
      if (at == marks.defColWidth) next.defColWidth = out_.Position();
      Copy(record);
    }
  }
}

void StreamEmitter::EmitIndex(const Record& original, const SheetLayout& layout) {
  const CellTableLayout& table = layout.table;
  Bytes data(16 + 4 * table.dbCells.size());
  PutU32(data.data(), original.data.size() >= 4 ? U32(original.data.data()) : 0);
  PutU32(data.data() + 4, table.hasRows ? table.firstRow : 0);
  PutU32(data.data() + 8, table.hasRows ? table.lastRow + 1 : 0);
  PutU32(data.data() + 12, static_cast<uint32_t>(layout.defColWidth));
  for (size_t i = 0; i < table.dbCells.size(); ++i) {
    PutU32(data.data() + 16 + 4 * i, static_cast<uint32_t>(table.dbCells[i]));
  }
  out_.WriteRecord(kIndex, data);
}

void StreamEmitter::EmitDimensions(const Worksheet& sheet, const SheetLayout& layout) {
  const SheetLandmarks& marks = sheet.Landmarks();
  const CellTableLayout& table = layout.table;
  uint32_t firstRow = table.hasRows ? table.firstRow : 0;
  uint32_t rowEnd = table.hasRows ? table.lastRow + 1 : 0;
  uint32_t firstCol = marks.hasDimensions ? marks.firstCol : UINT32_MAX;
  uint32_t colEnd = marks.hasDimensions ? marks.lastCol + 1 : 0;
  for (const auto& [row, cells] : sheet.Written()) {
    if (cells.empty()) continue;
    firstCol = std::min<uint32_t>(firstCol, cells.front().first);
    colEnd = std::max<uint32_t>(colEnd, cells.back().first + 1u);
  }
  if (marks.hasDimensions && table.hasRows) {
    firstRow = std::min(firstRow, marks.firstRow);
    rowEnd = std::max(rowEnd, marks.lastRow + 1);
  }
  if (firstCol == UINT32_MAX) firstCol = 0;
  uint8_t data[14] = {};
  PutU32(data, firstRow);
  PutU32(data + 4, rowEnd);
  PutU16(data + 8, static_cast<uint16_t>(firstCol));
  PutU16(data + 10, static_cast<uint16_t>(colEnd));
  out_.WriteRecord(kDimensions, ByteView(data, 14));
}

void StreamEmitter::EmitProtection(const Worksheet& sheet) {
  if (!sheet.Protected()) return;  // an unprotected sheet carries no protection records
  const uint8_t on[2] = {1, 0};
  out_.WriteRecord(kProtect, ByteView(on, 2));
  out_.WriteRecord(kScenProtect, ByteView(on, 2));
  out_.WriteRecord(kObjProtect, ByteView(on, 2));
}

}  // namespace

void WriteWorkbookStream(const WorkbookParts& parts, ByteSink& out) {
  // The records before a cell table (INDEX) depend on where the table's
  // blocks land. A first count learns how many blocks there are, a second
  // where everything lands; then the stream is written with those positions.
  StreamLayout layout;
  layout.sheets.resize(parts.sheets.size());
  size_t size = 0;
  for (int pass = 0; pass < 2; ++pass) {
    CountingSink counter;
    StreamEmitter measure(parts, layout, counter);
    measure.Run();
    layout = measure.Layout();
    size = counter.Position();
  }
  StreamEmitter write(parts, layout, out);
  const size_t start = out.Position();
  write.Run();
  if (out.Position() - start != size) {
    throw StreamError(QStringLiteral("internal error: the workbook stream changed size between layout and writing"));
  }
}
