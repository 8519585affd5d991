#include "spreadsheet/model/StoredFormula.h"

using namespace Biff;

namespace {

constexpr size_t kFormulaTokensAt = 22;  // FORMULA: after the result, options, chain and length
constexpr size_t kSharedTokensAt = 10;   // SHRFMLA: after the range, use count and length
constexpr size_t kArrayTokensAt = 14;    // ARRAY: after the range, options, chain and length
constexpr uint8_t kExpToken = 0x01;

// Tokens of length at 'lengthAt' starting at 'tokensAt', with what follows them.
bool Split(ByteView data, size_t lengthAt, size_t tokensAt, StoredFormula& out) {
  if (data.size() < tokensAt) return false;
  const size_t length = U16(data.data() + lengthAt);
  if (tokensAt + length > data.size()) return false;
  out.tokens = data.subspan(tokensAt, length);
  out.extra = data.subspan(tokensAt + length);
  return true;
}

bool Covers(ByteView data, uint32_t row, uint32_t col) {
  return data.size() >= 6 && row >= U16(data.data()) && row <= U16(data.data() + 2) && col >= data[4] && col <= data[5];
}

// The shared formula, array formula or data table over the cell, whose
// records follow the FORMULA record of the cell at anchorRow.
StoredFormula FindAnchored(const Worksheet& sheet, uint32_t anchorRow, uint32_t row, uint32_t col) {
  StoredFormula out;
  for (const CellSpan& span : sheet.SpansOfRow(anchorRow)) {
    RecordCursor cursor(sheet.Stream(), span.begin);
    Record record;
    while (cursor.Position() < span.end && cursor.Next(record)) {
      if (!Covers(record.data, row, col)) continue;
      if (record.type == kShrFmla && Split(record.data, 8, kSharedTokensAt, out)) {
        out.kind = StoredFormula::Kind::Shared;
        return out;
      }
      if (record.type == kArray && Split(record.data, 12, kArrayTokensAt, out)) {
        out.kind = StoredFormula::Kind::Cell;
        return out;
      }
      if (record.type == kTable && record.data.size() >= 16) {
        out.kind = StoredFormula::Kind::Table;
        const uint8_t* data = record.data.data();
        const uint16_t options = U16(data + 6);
        out.twoInputs = (options & 0x0008) != 0;
        out.rowInput = (options & 0x0004) != 0;
        for (int i = 0; i < 2; ++i) {
          out.inputRow[i] = U16(data + 8 + 4 * i);
          out.inputCol[i] = U16(data + 10 + 4 * i);
        }
        return out;
      }
    }
  }
  return out;
}

}  // namespace

StoredFormula FindStoredFormula(const Worksheet& sheet, uint32_t row, uint32_t col) {
  StoredFormula out;
  if (const WrittenFormula* written = sheet.WrittenFormulaAt(row, col)) {
    out.kind = StoredFormula::Kind::Cell;
    out.tokens = written->tokens;
    out.extra = written->extra;
    return out;
  }
  if (sheet.WrittenAt(row, col)) return out;  // a value written over whatever was there
  for (const CellSpan& span : sheet.SpansOfRow(row)) {
    RecordCursor cursor(sheet.Stream(), span.begin);
    Record record;
    while (cursor.Position() < span.end && cursor.Next(record)) {
      if ((record.type != kFormula && record.type != kFormulaOld) || !CellRecords::IsWellFormed(record.type, record.data) ||
          U16(record.data.data() + 2) != col) {
        continue;
      }
      if (!Split(record.data, 20, kFormulaTokensAt, out)) return {};
      if (out.tokens.size() == 5 && out.tokens[0] == kExpToken) {
        return FindAnchored(sheet, U16(out.tokens.data() + 1), row, col);
      }
      out.kind = StoredFormula::Kind::Cell;
      return out;
    }
  }
  return out;
}
