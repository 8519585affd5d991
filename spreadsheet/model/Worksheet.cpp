#include "spreadsheet/model/Worksheet.h"

#include "spreadsheet/model/SharedStrings.h"

#include <algorithm>

using namespace Biff;

QString ColumnLetters(uint32_t col) {
  QString name;
  for (uint32_t n = col + 1; n > 0; n = (n - 1) / 26) name.prepend(QChar(u'A' + static_cast<char16_t>((n - 1) % 26)));
  return name;
}

namespace CellRecords {

bool IsCell(uint16_t type) {
  switch (type) {
    case kBlank: case kNumber: case kLabel: case kBoolErr: case kRk: case kMulRk:
    case kMulBlank: case kLabelSst: case kRString: case kFormula: case kFormulaOld:
      return true;
    default:
      return false;
  }
}

bool IsAttached(uint16_t type) {
  return type == kString || type == kShrFmla || type == kArray || type == kTable || type == kContinue;
}

bool IsWellFormed(uint16_t type, ByteView data) {
  const size_t size = data.size();
  switch (type) {
    case kBlank: return size >= 6;
    case kNumber: return size >= 14;
    case kRk: return size >= 10;
    case kLabelSst: return size >= 10;
    case kBoolErr: return size >= 8;
    case kLabel: case kRString: return size >= 9;
    case kFormula: case kFormulaOld: return size >= 20;
    case kMulRk:
      return size >= 12 && (size - 6) % 6 == 0 && U16(data.data() + size - 2) >= U16(data.data() + 2) &&
             U16(data.data() + size - 2) - U16(data.data() + 2) + 1u == (size - 6) / 6;
    case kMulBlank:
      return size >= 8 && (size - 6) % 2 == 0 && U16(data.data() + size - 2) >= U16(data.data() + 2) &&
             U16(data.data() + size - 2) - U16(data.data() + 2) + 1u == (size - 6) / 2;
    default:
      return false;
  }
}

bool IsIndexedTableRecord(uint16_t type, ByteView data, bool& chain) {
  if (IsCell(type) && IsWellFormed(type, data)) {
    chain = true;
    return true;
  }
  if (IsAttached(type) && chain) return true;
  chain = false;
  return (type == kRow && data.size() >= 16) || type == kDbCell;
}

uint16_t FirstColumn(ByteView data) { return U16(data.data() + 2); }

uint16_t LastColumn(uint16_t type, ByteView data) {
  if (type == kMulRk || type == kMulBlank) return U16(data.data() + data.size() - 2);
  return U16(data.data() + 2);
}

}  // namespace CellRecords

namespace {

QString ErrorName(uint8_t code) {
  switch (code) {
    case 0x00: return QStringLiteral("#NULL!");
    case 0x07: return QStringLiteral("#DIV/0!");
    case 0x0F: return QStringLiteral("#VALUE!");
    case 0x17: return QStringLiteral("#REF!");
    case 0x1D: return QStringLiteral("#NAME?");
    case 0x24: return QStringLiteral("#NUM!");
    case 0x2A: return QStringLiteral("#N/A");
    default: return QStringLiteral("#ERR%1").arg(code);
  }
}

CellValue Number(double value) {
  CellValue cell;
  cell.type = CellValue::Type::Number;
  cell.number = value;
  return cell;
}

CellValue Text(QString text) {
  CellValue cell;
  cell.type = CellValue::Type::Text;
  cell.text = std::move(text);
  return cell;
}

CellValue BoolOrError(uint8_t value, bool isError) {
  CellValue cell;
  if (isError) {
    cell.type = CellValue::Type::Error;
    cell.text = ErrorName(value);
  } else {
    cell.type = CellValue::Type::Boolean;
    cell.boolean = value != 0;
  }
  return cell;
}

}  // namespace

Worksheet::Worksheet(QString name, Kind kind, ByteView stream, SharedStrings& strings, uint16_t defaultXf)
    : name_(std::move(name)), loadedName_(name_), kind_(kind), stream_(stream), strings_(strings), defaultXf_(defaultXf) {}

Worksheet::Worksheet(QString name, std::shared_ptr<const Bytes> ownStream, SharedStrings& strings, uint16_t defaultXf)
    : name_(std::move(name)), loadedName_(name_), kind_(Kind::Worksheet), ownStream_(std::move(ownStream)), stream_(*ownStream_),
      strings_(strings), defaultXf_(defaultXf) {}

void Worksheet::AddCellRecord(uint32_t row, size_t offset, size_t end) {
  if (!spans_.empty() && spans_.back().row == row && spans_.back().end == offset) {
    spans_.back().end = static_cast<uint32_t>(end);
  } else {
    spans_.push_back({row, static_cast<uint32_t>(offset), static_cast<uint32_t>(end)});
  }
}

void Worksheet::ExtendSpan(size_t offset, size_t end) {
  if (!spans_.empty() && spans_.back().end == offset) spans_.back().end = static_cast<uint32_t>(end);
}

void Worksheet::AddRowRecord(uint32_t row, size_t offset) { rowRecords_.emplace_back(row, static_cast<uint32_t>(offset)); }

void Worksheet::FinishIndex() {
  // Writers store rows in order; sort only the rare file that does not.
  const auto byRow = [](const CellSpan& a, const CellSpan& b) { return a.row < b.row; };
  if (!std::is_sorted(spans_.begin(), spans_.end(), byRow)) std::stable_sort(spans_.begin(), spans_.end(), byRow);
  if (!std::is_sorted(rowRecords_.begin(), rowRecords_.end())) std::stable_sort(rowRecords_.begin(), rowRecords_.end());
  spans_.shrink_to_fit();
  rowRecords_.shrink_to_fit();
}

std::span<const CellSpan> Worksheet::SpansOfRow(uint32_t row) const {
  const auto byRow = [](const CellSpan& a, const CellSpan& b) { return a.row < b.row; };
  const auto [first, last] = std::equal_range(spans_.begin(), spans_.end(), CellSpan{row, 0, 0}, byRow);
  return {first, last};
}

template <typename Visit>
void Worksheet::ForEachCellRecord(uint32_t row, Visit visit) const {
  for (const CellSpan& span : SpansOfRow(row)) {
    RecordCursor cursor(stream_, span.begin);
    Record record;
    while (cursor.Position() < span.end && cursor.Next(record)) {
      if (!CellRecords::IsCell(record.type) || !CellRecords::IsWellFormed(record.type, record.data)) continue;
      if (!visit(record, span)) return;
    }
  }
}

Worksheet::Found Worksheet::FindOriginal(uint32_t row, uint32_t col) const {
  Found found;
  ForEachCellRecord(row, [&](const Record& record, const CellSpan& span) {
    const uint16_t first = CellRecords::FirstColumn(record.data);
    if (col < first || col > CellRecords::LastColumn(record.type, record.data)) return true;
    found = {stream_.data() + record.offset, span.end, col - first};
    return false;
  });
  return found;
}

CellValue Worksheet::Decode(const Found& found) const {
  const uint16_t type = U16(found.header);
  const uint8_t* data = found.header + kHeaderSize;
  const ByteView view(data, U16(found.header + 2));
  switch (type) {
    case kLabelSst: return Text(strings_.Text(U32(data + 6)));
    case kLabel: case kRString: return Text(ReadUnicodeString16(view, 6));
    case kNumber: return Number(F64(data + 6));
    case kRk: return Number(DecodeRk(U32(data + 6)));
    case kMulRk: return Number(DecodeRk(U32(data + 4 + 6 * found.item + 2)));
    case kBoolErr: return BoolOrError(data[6], data[7] != 0);
    case kFormula: case kFormulaOld: {
      if (U16(data + 12) != 0xFFFF) return Number(F64(data + 6));
      switch (data[6]) {
        case 1: return BoolOrError(data[8], false);
        case 2: return BoolOrError(data[8], true);
        case 3: return Text(QString());
        default: break;
      }
      // A text result sits in the STRING record after the formula.
      const size_t formulaEnd = static_cast<size_t>(found.header - stream_.data()) + kHeaderSize + view.size();
      RecordCursor cursor(stream_, formulaEnd);
      Record record;
      while (cursor.Position() < found.spanEnd && cursor.Next(record) && CellRecords::IsAttached(record.type)) {
        if (record.type == kString) return Text(ReadUnicodeString16(record.data, 0));
      }
      return Text(QString());
    }
    default:
      return {};
  }
}

const WrittenCell* Worksheet::FindWritten(uint32_t row, uint32_t col) const {
  const auto found = written_.find(row);
  if (found == written_.end()) return nullptr;
  const WrittenRow& cells = found->second;
  const auto cell = std::lower_bound(cells.begin(), cells.end(), col,
                                     [](const auto& entry, uint32_t c) { return entry.first < c; });
  return cell != cells.end() && cell->first == col ? &cell->second : nullptr;
}

CellValue Worksheet::Cell(uint32_t row, uint32_t col) const {
  if (const WrittenCell* cell = FindWritten(row, col)) {
    switch (cell->kind) {
      case WrittenCell::Kind::Blank: return {};
      case WrittenCell::Kind::Text: return Text(strings_.Text(cell->sst));
      case WrittenCell::Kind::Number: return Number(cell->number);
      case WrittenCell::Kind::Boolean: return BoolOrError(cell->number != 0 ? 1 : 0, false);
      case WrittenCell::Kind::Formula:
        SettleBeforeReading();
        return formulas_[cell->sst].result;
    }
  }
  if (FormulaResult(row, col)) {
    SettleBeforeReading();
    return *FormulaResult(row, col);  // looked up again: settling may have changed it
  }
  const Found found = FindOriginal(row, col);
  if (!found.header) return {};
  const uint16_t type = U16(found.header);
  if ((type == kFormula || type == kFormulaOld) && pending_ && pending_->Pending()) {
    pending_->Settle();
    if (const CellValue* result = FormulaResult(row, col)) return *result;
  }
  return Decode(found);
}

const WrittenFormula* Worksheet::WrittenFormulaAt(uint32_t row, uint32_t col) const {
  const WrittenCell* cell = FindWritten(row, col);
  return cell && cell->kind == WrittenCell::Kind::Formula ? &formulas_[cell->sst] : nullptr;
}

void Worksheet::SetFormulaResult(uint32_t row, uint32_t col, const CellValue& value) {
  if (const WrittenCell* cell = FindWritten(row, col); cell && cell->kind == WrittenCell::Kind::Formula) {
    formulas_[cell->sst].result = value;
    return;
  }
  results_[row][col] = value;
}

const CellValue* Worksheet::FormulaResult(uint32_t row, uint32_t col) const {
  const auto inRow = results_.find(row);
  if (inRow == results_.end()) return nullptr;
  const auto found = inRow->second.find(col);
  return found == inRow->second.end() ? nullptr : &found->second;
}

uint16_t Worksheet::CurrentXf(uint32_t row, uint32_t col) const {
  if (const WrittenCell* cell = FindWritten(row, col)) return cell->xf;
  const Found found = FindOriginal(row, col);
  if (!found.header) return defaultXf_;
  const uint8_t* data = found.header + kHeaderSize;
  switch (U16(found.header)) {
    case kMulRk: return U16(data + 4 + 6 * found.item);
    case kMulBlank: return U16(data + 4 + 2 * found.item);
    default: return U16(data + 4);
  }
}

void Worksheet::Store(uint32_t row, uint32_t col, WrittenCell cell) {
  cell.xf = CurrentXf(row, col);
  // Keep the SST header's count of string references honest.
  int32_t referenceChange = cell.kind == WrittenCell::Kind::Text ? 1 : 0;
  if (const WrittenCell* previous = FindWritten(row, col)) {
    if (previous->kind == WrittenCell::Kind::Text) --referenceChange;
  } else {
    const Found found = FindOriginal(row, col);
    if (found.header && U16(found.header) == kLabelSst) --referenceChange;
  }
  strings_.AddReferences(referenceChange);

  WrittenRow& cells = written_[row];
  const auto at = std::lower_bound(cells.begin(), cells.end(), col,
                                   [](const auto& entry, uint32_t c) { return entry.first < c; });
  if (at != cells.end() && at->first == col) {
    if (at->second.kind == WrittenCell::Kind::Formula) {
      formulas_[at->second.sst] = WrittenFormula{};
      freeFormulas_.push_back(at->second.sst);
    }
    at->second = cell;
  } else {
    cells.emplace(at, static_cast<uint16_t>(col), cell);
  }
  writtenRowExtent_ = std::max(writtenRowExtent_, row + 1);
  writtenColExtent_ = std::max(writtenColExtent_, col + 1);
  // A formula written over is gone, and its result with it.
  if (const auto inRow = results_.find(row); inRow != results_.end()) {
    inRow->second.erase(col);
    if (inRow->second.empty()) results_.erase(inRow);
  }
  if (listener_) listener_(row, col);
}

void Worksheet::SetText(uint32_t row, uint32_t col, const QString& text) {
  WrittenCell cell;
  cell.kind = WrittenCell::Kind::Text;
  cell.sst = strings_.Intern(text);
  Store(row, col, cell);
}

void Worksheet::SetNumber(uint32_t row, uint32_t col, double value) {
  WrittenCell cell;
  cell.kind = WrittenCell::Kind::Number;
  cell.number = value;
  Store(row, col, cell);
}

void Worksheet::SetBoolean(uint32_t row, uint32_t col, bool value) {
  WrittenCell cell;
  cell.kind = WrittenCell::Kind::Boolean;
  cell.number = value ? 1 : 0;
  Store(row, col, cell);
}

void Worksheet::SetFormula(uint32_t row, uint32_t col, Bytes tokens, Bytes extra) {
  WrittenFormula formula{std::move(tokens), std::move(extra), Number(0)};
  WrittenCell cell;
  cell.kind = WrittenCell::Kind::Formula;
  // The slot is taken before Store frees the one of a formula written over.
  if (!freeFormulas_.empty()) {
    cell.sst = freeFormulas_.back();
    freeFormulas_.pop_back();
    formulas_[cell.sst] = std::move(formula);
  } else {
    cell.sst = static_cast<uint32_t>(formulas_.size());
    formulas_.push_back(std::move(formula));
  }
  Store(row, col, cell);
}

void Worksheet::Clear(uint32_t row, uint32_t col) { Store(row, col, WrittenCell{}); }

void Worksheet::SetProtected(bool on) { protected_ = on; }

uint32_t Worksheet::RowExtent() const {
  uint32_t extent = writtenRowExtent_;
  if (!spans_.empty()) extent = std::max(extent, spans_.back().row + 1);
  if (!rowRecords_.empty()) extent = std::max(extent, rowRecords_.back().first + 1);
  return extent;
}

uint32_t Worksheet::ColumnExtent() const {
  uint32_t extent = writtenColExtent_;
  if (landmarks_.hasDimensions) extent = std::max(extent, landmarks_.lastCol + 1);
  return extent;
}

void Worksheet::ForEachCell(const std::function<void(uint32_t, uint32_t, const CellValue&)>& visit) const {
  ForEachCellIn(0, UINT32_MAX, 0, UINT32_MAX, [&visit](uint32_t row, uint32_t col, const CellValue& value) {
    visit(row, col, value);
    return true;
  });
}

void Worksheet::ForEachCellIn(uint32_t rowFirst, uint32_t rowLast, uint32_t colFirst, uint32_t colLast,
                              const std::function<bool(uint32_t, uint32_t, const CellValue&)>& visit) const {
  std::vector<uint32_t> rows;
  const auto byRow = [](const CellSpan& a, const CellSpan& b) { return a.row < b.row; };
  for (auto span = std::lower_bound(spans_.begin(), spans_.end(), CellSpan{rowFirst, 0, 0}, byRow);
       span != spans_.end() && span->row <= rowLast; ++span) {
    rows.push_back(span->row);
  }
  for (auto row = written_.lower_bound(rowFirst); row != written_.end() && row->first <= rowLast; ++row) {
    rows.push_back(row->first);
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  std::vector<uint32_t> cols;
  for (uint32_t row : rows) {
    cols.clear();
    ForEachCellRecord(row, [&](const Record& record, const CellSpan&) {
      const uint32_t first = std::max<uint32_t>(colFirst, CellRecords::FirstColumn(record.data));
      const uint32_t last = std::min<uint32_t>(colLast, CellRecords::LastColumn(record.type, record.data));
      for (uint32_t col = first; col <= last; ++col) cols.push_back(col);
      return true;
    });
    if (const auto written = written_.find(row); written != written_.end()) {
      for (const auto& [col, cell] : written->second) {
        if (col >= colFirst && col <= colLast) cols.push_back(col);
      }
    }
    std::sort(cols.begin(), cols.end());
    cols.erase(std::unique(cols.begin(), cols.end()), cols.end());
    for (uint32_t col : cols) {
      const CellValue value = Cell(row, col);
      if (value.type != CellValue::Type::Empty && !visit(row, col, value)) return;
    }
  }
}
