#include "spreadsheet/xls/CellTableWriter.h"

#include "spreadsheet/model/SharedStrings.h"
#include "spreadsheet/xls/FormulaRecords.h"

#include <algorithm>

using namespace Biff;

namespace {

constexpr size_t kRowRecordSize = kHeaderSize + 16;
constexpr uint32_t kRowsPerBlock = 32;

// A new row's ROW flags: the sheet's default row options (DEFAULTROWHEIGHT:
// unsynced, hidden, extra space above, below) where ROW keeps them, plus the
// bits every ROW carries (reserved byte 1, cell format 15, not applied).
uint32_t NewRowFlags(uint16_t defaultOptions) {
  uint32_t flags = 0x000F0100;
  if (defaultOptions & 0x0001) flags |= 0x00000040;
  if (defaultOptions & 0x0002) flags |= 0x00000020;
  if (defaultOptions & 0x0004) flags |= 0x10000000;
  if (defaultOptions & 0x0008) flags |= 0x20000000;
  return flags;
}

// One cell of a row being rebuilt: a whole original record (with the records
// attached to it), one cell of an original MULRK/MULBLANK, or a written cell.
struct RowItem {
  enum class Kind { Record, MultiPart, Written } kind;
  uint16_t col;
  size_t offset = 0;  // Record, MultiPart: the original record
  size_t length = 0;  // Record: the record alone
  size_t part = 0;    // MultiPart: index within the record
  const WrittenCell* written = nullptr;
  bool attached = false;  // SHRFMLA/ARRAY/TABLE: stays after whatever cell ends up at col
  size_t stringBegin = 0;  // a formula's cached text: STRING and its CONTINUE records
  size_t stringEnd = 0;
};

class TableEmitter {
 public:
  TableEmitter(const Worksheet& sheet, ByteSink& out) : sheet_(sheet), stream_(sheet.Stream()), out_(out) {}

  void Run(CellTableLayout& layout);

 private:
  std::vector<uint32_t> AllRows() const;
  void EmitRowRecord(uint32_t row);
  void EmitCells(uint32_t row);
  void EmitMergedRow(uint32_t row, const Worksheet::WrittenRow& written);
  void EmitRecord(uint32_t row, const RowItem& item);
  void EmitString(uint32_t row, const RowItem& item);
  void EmitWritten(uint32_t row, uint16_t col, const WrittenCell& cell);
  void EmitMultiRun(const std::vector<RowItem>& items, size_t first, size_t count);

  const Worksheet& sheet_;
  ByteView stream_;
  ByteSink& out_;
  bool rowRecordWritten_ = false;
};

std::vector<uint32_t> TableEmitter::AllRows() const {
  std::vector<uint32_t> rows;
  for (const CellSpan& span : sheet_.Spans()) rows.push_back(span.row);
  for (const auto& [row, offset] : sheet_.RowRecords()) rows.push_back(row);
  for (const auto& [row, cells] : sheet_.Written()) rows.push_back(row);
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

void TableEmitter::Run(CellTableLayout& layout) {
  const std::vector<uint32_t> rows = AllRows();
  if (rows.empty()) return;
  layout.hasRows = true;
  layout.firstRow = rows.front();
  layout.lastRow = rows.back();
  for (size_t start = 0; start < rows.size();) {
    size_t stop = start;
    while (stop < rows.size() && rows[stop] / kRowsPerBlock == rows[start] / kRowsPerBlock) ++stop;

    const size_t blockStart = out_.Position();
    std::vector<bool> hasRowRecord;
    for (size_t i = start; i < stop; ++i) {
      rowRecordWritten_ = false;
      EmitRowRecord(rows[i]);
      hasRowRecord.push_back(rowRecordWritten_);
    }
    // DBCELL: where the block's first ROW record is, and where each row's
    // cells start, each relative to the one before.
    std::vector<uint16_t> cellOffsets;
    size_t anchor = blockStart + kRowRecordSize;
    for (size_t i = start; i < stop; ++i) {
      const size_t cellsStart = out_.Position();
      EmitCells(rows[i]);
      if (hasRowRecord[i - start]) {
        cellOffsets.push_back(static_cast<uint16_t>(cellsStart - anchor));
        anchor = cellsStart;
      }
    }
    const size_t dbCell = out_.Position();
    Bytes data(4 + 2 * cellOffsets.size());
    PutU32(data.data(), static_cast<uint32_t>(dbCell - blockStart));
    for (size_t i = 0; i < cellOffsets.size(); ++i) PutU16(data.data() + 4 + 2 * i, cellOffsets[i]);
    out_.WriteRecord(kDbCell, data);
    layout.dbCells.push_back(dbCell);
    start = stop;
  }
}

void TableEmitter::EmitRowRecord(uint32_t row) {
  const auto& records = sheet_.RowRecords();
  const auto original = std::lower_bound(records.begin(), records.end(), std::make_pair(row, uint32_t{0}));
  const auto written = sheet_.Written().find(row);
  const bool hasWritten = written != sheet_.Written().end() && !written->second.empty();
  uint8_t data[16] = {};
  if (original != records.end() && original->first == row) {
    std::copy_n(stream_.data() + original->second + kHeaderSize, 16, data);
  } else if (hasWritten) {
    const SheetLandmarks& marks = sheet_.Landmarks();
    PutU16(data, static_cast<uint16_t>(row));
    PutU16(data + 4, 0);
    PutU16(data + 6, marks.defaultRowHeight);
    PutU32(data + 12, NewRowFlags(marks.defaultRowFlags));
  } else {
    return;  // original cells without a ROW record stay that way
  }
  if (hasWritten) {
    // The row's column range must cover the cells written into it.
    const uint16_t firstWritten = written->second.front().first;
    const uint16_t endWritten = static_cast<uint16_t>(written->second.back().first + 1);
    const uint16_t colMic = U16(data + 2);
    const uint16_t colMac = U16(data + 4);
    const bool empty = colMac <= colMic;
    PutU16(data + 2, empty ? firstWritten : std::min(colMic, firstWritten));
    PutU16(data + 4, empty ? endWritten : std::max(colMac, endWritten));
  }
  out_.WriteRecord(kRow, ByteView(data, 16));
  rowRecordWritten_ = true;
}

void TableEmitter::EmitCells(uint32_t row) {
  const auto written = sheet_.Written().find(row);
  if (written != sheet_.Written().end()) {
    EmitMergedRow(row, written->second);
    return;
  }
  if (sheet_.RowHasFormulaResults(row)) {
    EmitMergedRow(row, {});
    return;
  }
  for (const CellSpan& span : sheet_.SpansOfRow(row)) out_.Write(stream_.data() + span.begin, span.end - span.begin);
}

void TableEmitter::EmitMergedRow(uint32_t row, const Worksheet::WrittenRow& written) {
  std::vector<RowItem> items;
  size_t lastCell = SIZE_MAX;  // the item of the last cell record read
  for (const CellSpan& span : sheet_.SpansOfRow(row)) {
    RecordCursor cursor(stream_, span.begin);
    Record record;
    while (cursor.Position() < span.end && cursor.Next(record)) {
      if (!CellRecords::IsCell(record.type)) {
        // A formula's cached text goes with the formula (and with it when
        // it is replaced); shared and array formula data serve other cells
        // too and stay.
        const bool ownedByCell = record.type == kString || record.type == kContinue;
        if (ownedByCell) {
          if (lastCell != SIZE_MAX && items[lastCell].kind == RowItem::Kind::Record) {
            RowItem& owner = items[lastCell];
            if (owner.stringEnd == 0) owner.stringBegin = record.offset;
            owner.stringEnd = record.End();
          }
        } else {
          RowItem item{RowItem::Kind::Record, items.empty() ? uint16_t{0} : items.back().col, record.offset,
                       record.End() - record.offset};
          item.attached = true;
          items.push_back(item);
        }
        continue;
      }
      const uint16_t first = CellRecords::FirstColumn(record.data);
      if (record.type == kMulRk || record.type == kMulBlank) {
        const uint16_t last = CellRecords::LastColumn(record.type, record.data);
        for (uint16_t col = first; col <= last; ++col) {
          items.push_back({RowItem::Kind::MultiPart, col, record.offset, 0, size_t{col} - first});
        }
        lastCell = SIZE_MAX;
      } else {
        items.push_back({RowItem::Kind::Record, first, record.offset, record.End() - record.offset});
        lastCell = items.size() - 1;
      }
    }
  }
  // Written cells replace the original ones at their columns.
  std::erase_if(items, [&written](const RowItem& item) {
    return !item.attached && std::binary_search(written.begin(), written.end(), std::make_pair(item.col, WrittenCell{}),
                              [](const auto& a, const auto& b) { return a.first < b.first; });
  });
  for (const auto& [col, cell] : written) items.push_back({RowItem::Kind::Written, col, 0, 0, 0, &cell});
  std::stable_sort(items.begin(), items.end(), [](const RowItem& a, const RowItem& b) {
    return a.col != b.col ? a.col < b.col : a.attached < b.attached;
  });

  for (size_t i = 0; i < items.size();) {
    const RowItem& item = items[i];
    if (item.kind == RowItem::Kind::Written) {
      EmitWritten(row, item.col, *item.written);
      ++i;
    } else if (item.kind == RowItem::Kind::Record) {
      EmitRecord(row, item);
      ++i;
      // A formula's shared or array formula data come before its text.
      if (!item.attached) {
        while (i < items.size() && items[i].attached && items[i].col == item.col) EmitRecord(row, items[i++]);
        EmitString(row, item);
      }
    } else {
      size_t count = 1;
      while (i + count < items.size() && items[i + count].kind == RowItem::Kind::MultiPart &&
             items[i + count].offset == item.offset && items[i + count].col == item.col + count) {
        ++count;
      }
      EmitMultiRun(items, i, count);
      i += count;
    }
  }
}

// An original record; a formula whose result changed gets it stored.
void TableEmitter::EmitRecord(uint32_t row, const RowItem& item) {
  const uint8_t* header = stream_.data() + item.offset;
  const uint16_t type = U16(header);
  const CellValue* result = item.attached ? nullptr : sheet_.FormulaResult(row, item.col);
  if (result && (type == kFormula || type == kFormulaOld)) {
    out_.WriteRecord(type, FormulaRecords::WithResult(ByteView(header + kHeaderSize, item.length - kHeaderSize), *result));
    return;
  }
  out_.Write(header, item.length);
}

void TableEmitter::EmitString(uint32_t row, const RowItem& item) {
  const CellValue* result = sheet_.FormulaResult(row, item.col);
  const uint16_t type = U16(stream_.data() + item.offset);
  if (result && (type == kFormula || type == kFormulaOld)) {
    if (result->type == CellValue::Type::Text && !result->text.isEmpty()) FormulaRecords::WriteString(out_, result->text);
    return;
  }
  if (item.stringEnd > item.stringBegin) {
    out_.Write(stream_.data() + item.stringBegin, item.stringEnd - item.stringBegin);
  }
}

// What is left of a MULRK/MULBLANK around written cells: the whole record
// when nothing was taken out, otherwise a shorter one or a single cell.
void TableEmitter::EmitMultiRun(const std::vector<RowItem>& items, size_t first, size_t count) {
  const RowItem& head = items[first];
  const uint8_t* header = stream_.data() + head.offset;
  const uint16_t type = U16(header);
  const uint8_t* data = header + kHeaderSize;
  const size_t width = type == kMulRk ? 6 : 2;
  const size_t total = (U16(header + 2) - 6) / width;
  if (count == total) {
    out_.Write(header, kHeaderSize + U16(header + 2));
    return;
  }
  const uint8_t* cells = data + 4 + width * head.part;
  Bytes out;
  out.insert(out.end(), data, data + 2);  // row
  out.push_back(static_cast<uint8_t>(head.col));
  out.push_back(static_cast<uint8_t>(head.col >> 8));
  out.insert(out.end(), cells, cells + width * count);
  if (count == 1) {
    out_.WriteRecord(type == kMulRk ? kRk : kBlank, out);
    return;
  }
  const uint16_t last = static_cast<uint16_t>(head.col + count - 1);
  out.push_back(static_cast<uint8_t>(last));
  out.push_back(static_cast<uint8_t>(last >> 8));
  out_.WriteRecord(type, out);
}

void TableEmitter::EmitWritten(uint32_t row, uint16_t col, const WrittenCell& cell) {
  uint8_t data[14] = {};
  PutU16(data, static_cast<uint16_t>(row));
  PutU16(data + 2, col);
  PutU16(data + 4, cell.xf);
  switch (cell.kind) {
    case WrittenCell::Kind::Text:
      PutU32(data + 6, cell.sst);
      out_.WriteRecord(kLabelSst, ByteView(data, 10));
      break;
    case WrittenCell::Kind::Number: {
      uint64_t bits = 0;
      std::memcpy(&bits, &cell.number, sizeof bits);
      for (int i = 0; i < 8; ++i) data[6 + i] = static_cast<uint8_t>(bits >> (8 * i));
      out_.WriteRecord(kNumber, ByteView(data, 14));
      break;
    }
    case WrittenCell::Kind::Boolean:
      data[6] = cell.number != 0 ? 1 : 0;
      out_.WriteRecord(kBoolErr, ByteView(data, 8));
      break;
    case WrittenCell::Kind::Blank:
      out_.WriteRecord(kBlank, ByteView(data, 6));
      break;
    case WrittenCell::Kind::Formula:
      if (const WrittenFormula* formula = sheet_.WrittenFormulaAt(row, col)) {
        const Bytes record = FormulaRecords::NewFormula(ByteView(data, 6), *formula);
        out_.WriteRecord(kFormula, record);
        const CellValue& result = formula->result;
        if (result.type == CellValue::Type::Text && !result.text.isEmpty()) FormulaRecords::WriteString(out_, result.text);
      }
      break;
  }
}

}  // namespace

void WriteCellTable(const Worksheet& sheet, ByteSink& out, CellTableLayout& layout) {
  TableEmitter(sheet, out).Run(layout);
}
