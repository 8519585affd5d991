#include "spreadsheet/recalc/CalcCells.h"

#include "spreadsheet/formula/CellCriteria.h"

#include <algorithm>

using namespace Biff;

Value ToFormulaValue(const CellValue& cell) {
  switch (cell.type) {
    case CellValue::Type::Empty: return {};
    case CellValue::Type::Number: return Value::Number(cell.number);
    case CellValue::Type::Text: return Value::Text(cell.text);
    case CellValue::Type::Boolean: return Value::Boolean(cell.boolean);
    case CellValue::Type::Error: return Value::Error(ErrorFromName(cell.text).value_or(ErrorCode::NA));
  }
  return {};
}

CellValue ToCellValue(const Value& value) {
  CellValue cell;
  switch (value.kind) {
    case Value::Kind::Number:
      cell.type = CellValue::Type::Number;
      cell.number = value.number;
      break;
    case Value::Kind::Text:
      cell.type = CellValue::Type::Text;
      cell.text = value.text;
      break;
    case Value::Kind::Boolean:
      cell.type = CellValue::Type::Boolean;
      cell.boolean = value.boolean;
      break;
    case Value::Kind::Error:
      cell.type = CellValue::Type::Error;
      cell.text = ErrorName(value.error);
      break;
    default: break;
  }
  return cell;
}

CalcCells::CalcCells(WorkbookParts& parts, std::vector<FormulaCell>& formulas)
    : parts_(parts), formulas_(formulas), formulaAt_(parts.sheets.size()), copies_(parts.sheets.size()) {}

const FormulaProgram* CalcCells::Name(uint32_t index) const {
  return index >= 1 && index <= names_.size() ? names_[index - 1].get() : nullptr;
}

int64_t CalcCells::FormulaAt(uint16_t sheet, uint32_t row, uint16_t col) const {
  if (sheet >= formulaAt_.size()) return -1;
  const auto found = formulaAt_[sheet].find(Key(row, col));
  return found == formulaAt_[sheet].end() ? -1 : static_cast<int64_t>(found->second);
}

void CalcCells::AddFormula(uint32_t id) {
  const FormulaCell& f = formulas_[id];
  formulaAt_[f.sheet][Key(f.row, f.col)] = id;
}

void CalcCells::RemoveFormula(uint32_t id) {
  const FormulaCell& f = formulas_[id];
  formulaAt_[f.sheet].erase(Key(f.row, f.col));
}

CalcCells::Column* CalcCells::CopyOf(uint16_t sheet, uint16_t col) const {
  if (sheet >= copies_.size() || col >= copies_[sheet].size()) return nullptr;
  return copies_[sheet][col].get();
}

Value CalcCells::Read(const Copied& cell) const {
  switch (cell.kind) {
    case Copied::Empty: return {};
    case Copied::Number: return Value::Number(cell.number);
    case Copied::Boolean: return Value::Boolean(cell.code != 0);
    case Copied::Error: return Value::Error(static_cast<ErrorCode>(cell.code));
    case Copied::Shared: return Value::Text(SharedText(cell.index));
    case Copied::Pooled: return Value::Text(pool_[cell.index]);
    case Copied::Formula: return formulas_[cell.index].value;
  }
  return {};
}

// Like Read, into a value that is used again for the next cell.
void CalcCells::ReadInto(const Copied& cell, Value& out) const {
  switch (cell.kind) {
    case Copied::Number:
      out.kind = Value::Kind::Number;
      out.number = cell.number;
      break;
    case Copied::Boolean:
      out.kind = Value::Kind::Boolean;
      out.boolean = cell.code != 0;
      break;
    case Copied::Error:
      out.kind = Value::Kind::Error;
      out.error = static_cast<ErrorCode>(cell.code);
      break;
    default:
      out = Read(cell);
      return;
  }
  if (!out.text.isNull()) out.text = QString();
}

int64_t CalcCells::CopiedRows(uint16_t sheet, const Area& area) const {
  size_t rows = 0;
  for (uint32_t col = area.colFirst; col <= area.colLast; ++col) {
    const Column* copy = CopyOf(sheet, static_cast<uint16_t>(col));
    if (!copy) return -1;
    rows = std::max(rows, copy->Size());
  }
  return static_cast<int64_t>(rows);
}

bool CalcCells::Summarize(const Area& area, AreaSummary& summary) {
  for (uint32_t sheet = area.sheetFirst; sheet <= area.sheetLast; ++sheet) {
    if (sheet >= parts_.sheets.size() || CopiedRows(static_cast<uint16_t>(sheet), area) < 0) return false;
  }
  AreaSummary out;
  for (uint32_t sheet = area.sheetFirst; sheet <= area.sheetLast; ++sheet) {
    for (uint32_t col = area.colFirst; col <= area.colLast; ++col) {
      const Column& copy = *copies_[sheet][col];
      if (copy.Size() == 0 || area.rowFirst >= copy.Size()) continue;
      const uint32_t last = std::min<uint32_t>(area.rowLast, static_cast<uint32_t>(copy.Size() - 1));
      copy.Summarize(area.rowFirst, last, static_cast<uint16_t>(col), out);
    }
  }
  summary = out;
  return true;
}

bool CalcCells::CountMatching(const Area& area, const CellCriterion& criterion, double& filled, double& matching) {
  for (uint32_t sheet = area.sheetFirst; sheet <= area.sheetLast; ++sheet) {
    if (sheet >= parts_.sheets.size() || CopiedRows(static_cast<uint16_t>(sheet), area) < 0) return false;
  }
  Value cell;
  // A column of answers holds few texts many times (the one-space filler):
  // each text is matched once.
  Copied lastText;
  bool lastMatched = false;
  bool anyText = false;
  for (uint32_t sheet = area.sheetFirst; sheet <= area.sheetLast; ++sheet) {
    for (uint32_t col = area.colFirst; col <= area.colLast; ++col) {
      const Column& copy = *copies_[sheet][col];
      const uint32_t end = std::min<uint32_t>(area.rowLast + 1, static_cast<uint32_t>(copy.Size()));
      for (uint32_t row = area.rowFirst; row < end; ++row) {
        const Copied& copied = copy.At(row);
        if (copied.kind == Copied::Empty) continue;
        ++filled;
        if (copied.kind == Copied::Number) {
          if (criterion.MatchesNumber(copied.number)) ++matching;
          continue;
        }
        const bool text = copied.kind == Copied::Shared || copied.kind == Copied::Pooled;
        if (text && anyText && copied.kind == lastText.kind && copied.index == lastText.index) {
          if (lastMatched) ++matching;
          continue;
        }
        ReadInto(copied, cell);
        const bool matched = criterion.Matches(cell);
        if (matched) ++matching;
        if (text) {
          lastText = copied;
          lastMatched = matched;
          anyText = true;
        }
      }
    }
  }
  return true;
}

bool CalcCells::ReadArea(const Area& area, Matrix& m) {
  if (area.sheetFirst != area.sheetLast || area.sheetFirst >= parts_.sheets.size() ||
      CopiedRows(area.sheetFirst, area) < 0) {
    return false;
  }
  for (uint32_t col = area.colFirst; col <= area.colLast; ++col) {
    const Column& copy = *copies_[area.sheetFirst][col];
    const uint32_t end = std::min<uint32_t>(area.rowLast + 1, static_cast<uint32_t>(copy.Size()));
    for (uint32_t row = area.rowFirst; row < end; ++row) {
      const Copied& cell = copy.At(row);
      const size_t at = m.Index(row - area.rowFirst, col - area.colFirst);
      switch (cell.kind) {
        case Copied::Empty: break;
        case Copied::Number: m.SetNumber(at, cell.number); break;
        case Copied::Boolean: m.SetBoolean(at, cell.code != 0); break;
        case Copied::Error: m.SetError(at, static_cast<ErrorCode>(cell.code)); break;
        case Copied::Shared: m.SetText(at, SharedText(cell.index)); break;
        case Copied::Pooled: m.SetText(at, pool_[cell.index]); break;
        case Copied::Formula: m.Set(at, formulas_[cell.index].value); break;
      }
    }
  }
  return true;
}

std::optional<uint64_t> CalcCells::AreaVersion(const Area& area) {
  if (area.sheetFirst != area.sheetLast || CopiedRows(area.sheetFirst, area) < 0) return std::nullopt;
  // Each column's version only goes up, so their sum changes with any of them.
  uint64_t version = 0;
  for (uint32_t col = area.colFirst; col <= area.colLast; ++col) version += copies_[area.sheetFirst][col]->Version();
  return version;
}

Value CalcCells::Cell(uint16_t sheet, uint32_t row, uint16_t col) {
  if (const Column* copy = CopyOf(sheet, col)) return row < copy->Size() ? Read(copy->At(row)) : Value();
  const int64_t formula = FormulaAt(sheet, row, col);
  if (formula >= 0) return formulas_[static_cast<size_t>(formula)].value;
  if (sheet >= parts_.sheets.size()) return {};
  return ToFormulaValue(parts_.sheets[sheet]->Cell(row, col));
}

void CalcCells::ForEachFilled(const Area& area, Visit visit) {
  for (uint32_t sheet = area.sheetFirst; sheet <= area.sheetLast && sheet < parts_.sheets.size(); ++sheet) {
    const uint16_t s = static_cast<uint16_t>(sheet);
    const int64_t rows = CopiedRows(s, area);
    if (rows >= 0) {
      Value cell;
      const uint32_t last = std::min<uint32_t>(area.rowLast, static_cast<uint32_t>(std::max<int64_t>(rows, 1) - 1));
      for (uint32_t row = area.rowFirst; rows > 0 && row <= last; ++row) {
        for (uint32_t col = area.colFirst; col <= area.colLast; ++col) {
          const Column& copy = *copies_[s][col];
          if (row >= copy.Size() || copy.At(row).kind == Copied::Empty) continue;
          ReadInto(copy.At(row), cell);
          if (!visit(s, row, static_cast<uint16_t>(col), cell)) return;
        }
      }
      continue;
    }
    bool go = true;
    parts_.sheets[sheet]->ForEachCellIn(area.rowFirst, area.rowLast, area.colFirst, area.colLast,
                                        [&](uint32_t row, uint32_t col, const CellValue& value) {
                                          return go = visit(s, row, static_cast<uint16_t>(col), ToFormulaValue(value));
                                        });
    if (!go) return;
  }
}

const QString& CalcCells::SharedText(uint32_t index) const {
  if (index >= sharedKnown_.size()) {
    sharedKnown_.resize(std::max<size_t>(index + 1, parts_.strings.Count()), false);
    sharedTexts_.resize(sharedKnown_.size());
  }
  if (!sharedKnown_[index]) {
    sharedTexts_[index] = parts_.strings.Text(index);
    sharedKnown_[index] = true;
  }
  return sharedTexts_[index];
}

void CalcCells::KeepCopy(uint16_t sheet, uint16_t col) {
  if (sheet >= copies_.size() || parts_.sheets[sheet]->SheetKind() != Worksheet::Kind::Worksheet) return;
  if (copies_[sheet].size() <= col) copies_[sheet].resize(static_cast<size_t>(col) + 1);
  if (copies_[sheet][col]) return;
  copies_[sheet][col] = std::make_unique<Column>();
  unbuilt_.emplace_back(sheet, col);
}

void CalcCells::Put(uint16_t sheet, uint32_t row, uint16_t col, const Copied& cell) {
  if (Column* copy = CopyOf(sheet, col)) copy->Put(row, cell);
}

CalcCells::Copied CalcCells::FromValue(const Value& value, int64_t formula) {
  Copied cell;
  switch (value.kind) {
    case Value::Kind::Number:
      cell.kind = Copied::Number;
      cell.number = value.number;
      break;
    case Value::Kind::Boolean:
      cell.kind = Copied::Boolean;
      cell.code = value.boolean ? 1 : 0;
      break;
    case Value::Kind::Error:
      cell.kind = Copied::Error;
      cell.code = static_cast<uint8_t>(value.error);
      break;
    case Value::Kind::Text:
      if (formula >= 0) {
        cell.kind = Copied::Formula;
        cell.index = static_cast<uint32_t>(formula);
      } else {
        const auto [at, added] = pooled_.try_emplace(value.text, static_cast<uint32_t>(pool_.size()));
        if (added) pool_.push_back(value.text);
        cell.kind = Copied::Pooled;
        cell.index = at->second;
      }
      break;
    default: break;
  }
  return cell;
}

void CalcCells::CopyRecord(uint16_t sheet, const Record& record, const std::vector<bool>& columns) {
  const uint8_t* data = record.data.data();
  const uint32_t row = U16(data);
  const uint16_t first = CellRecords::FirstColumn(record.data);
  const uint16_t last = CellRecords::LastColumn(record.type, record.data);
  for (uint16_t col = first; col <= last && col < columns.size(); ++col) {
    if (!columns[col]) continue;
    Copied cell;
    switch (record.type) {
      case kLabelSst:
        cell.kind = Copied::Shared;
        cell.index = U32(data + 6);
        break;
      case kNumber: cell = FromValue(Value::Number(F64(data + 6)), -1); break;
      case kRk: cell = FromValue(Value::Number(DecodeRk(U32(data + 6))), -1); break;
      case kMulRk: cell = FromValue(Value::Number(DecodeRk(U32(data + 4 + 6 * (col - first) + 2))), -1); break;
      case kFormula:
      case kFormulaOld: {
        const int64_t formula = FormulaAt(sheet, row, col);
        cell = formula >= 0 ? FromValue(formulas_[static_cast<size_t>(formula)].value, formula)
                            : FromValue(ToFormulaValue(parts_.sheets[sheet]->Cell(row, col)), -1);
        break;
      }
      case kBlank: case kMulBlank: break;
      default: cell = FromValue(ToFormulaValue(parts_.sheets[sheet]->Cell(row, col)), -1); break;
    }
    Put(sheet, row, col, cell);
  }
}

void CalcCells::BuildCopies() {
  std::sort(unbuilt_.begin(), unbuilt_.end());
  for (size_t at = 0; at < unbuilt_.size();) {
    const uint16_t index = unbuilt_[at].first;
    std::vector<bool> columns(Biff::kMaxColumns, false);
    for (; at < unbuilt_.size() && unbuilt_[at].first == index; ++at) columns[unbuilt_[at].second] = true;
    const Worksheet& sheet = *parts_.sheets[index];
    for (const CellSpan& span : sheet.Spans()) {
      RecordCursor cursor(sheet.Stream(), span.begin);
      Record record;
      while (cursor.Position() < span.end && cursor.Next(record)) {
        if (CellRecords::IsCell(record.type) && CellRecords::IsWellFormed(record.type, record.data)) {
          CopyRecord(index, record, columns);
        }
      }
    }
    for (const auto& [row, cells] : sheet.Written()) {
      for (const auto& [col, cell] : cells) {
        if (columns[col]) Refresh(index, row, col);
      }
    }
  }
  unbuilt_.clear();
}

void CalcCells::Refresh(uint16_t sheet, uint32_t row, uint16_t col) {
  if (!CopyOf(sheet, col)) return;
  const Worksheet& ws = *parts_.sheets[sheet];
  const WrittenCell* written = ws.WrittenAt(row, col);
  if (written && written->kind == WrittenCell::Kind::Text) {
    Copied cell;
    cell.kind = Copied::Shared;
    cell.index = written->sst;
    Put(sheet, row, col, cell);
    return;
  }
  const int64_t formula = FormulaAt(sheet, row, col);
  const Value value = formula >= 0 ? formulas_[static_cast<size_t>(formula)].value : ToFormulaValue(ws.Cell(row, col));
  Put(sheet, row, col, FromValue(value, formula));
}

void CalcCells::ResultChanged(uint32_t id) {
  const FormulaCell& f = formulas_[id];
  if (CopyOf(f.sheet, f.col)) Put(f.sheet, f.row, f.col, FromValue(f.value, id));
}
