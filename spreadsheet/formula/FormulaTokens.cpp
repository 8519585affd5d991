#include "spreadsheet/formula/FormulaTokens.h"

using namespace Biff;

namespace Ptg {

namespace {

constexpr uint16_t kRowRelative = 0x8000;
constexpr uint16_t kColRelative = 0x4000;

// Sizes with the token byte; 0 where the token is unknown here.
size_t FixedBaseSize(uint8_t ptg) {
  if (ptg == kExp || ptg == kTbl) return 5;
  if (ptg >= kAdd && ptg <= kMissArg) return 1;
  switch (ptg) {
    case kErr: case kBool: return 2;
    case kInt: return 3;
    case kNum: return 9;
    default: return 0;
  }
}

size_t OperandSize(uint8_t base) {
  switch (base) {
    case kArray: return 8;
    case kFunc: case kMemFunc: return 3;
    case kFuncVar: return 4;
    case kName: case kRef: case kRefErr: case kRefN: return 5;
    case kArea: case kAreaErr: case kAreaN: return 9;
    case kMemArea: case kMemErr: case kMemNoMem: case kNameX: case kRef3d: case kRefErr3d: return 7;
    case kArea3d: case kAreaErr3d: return 11;
    default: return 0;
  }
}

// Turns the absolute coordinate pair at p (row, column with flags) into
// offsets from base where flagged relative.
void MakeRelative(uint8_t* row, uint8_t* col, const CellPosition& base) {
  const uint16_t colField = U16(col);
  if (colField & kRowRelative) PutU16(row, static_cast<uint16_t>(U16(row) - base.row));
  if (colField & kColRelative) {
    const uint16_t offset = static_cast<uint16_t>((colField - base.col) & 0xFF);
    PutU16(col, static_cast<uint16_t>((colField & 0xC000) | offset));
  }
}

}  // namespace

std::optional<size_t> TokenSize(ByteView rgce, size_t at) {
  if (at >= rgce.size()) return std::nullopt;
  const uint8_t ptg = rgce[at];
  const size_t left = rgce.size() - at;
  size_t size = 0;
  if (ptg == kStr) {
    if (left < 3) return std::nullopt;
    size = 3 + static_cast<size_t>(rgce[at + 1]) * ((rgce[at + 2] & 0x01) ? 2 : 1);
  } else if (ptg == kAttr) {
    if (left < 4) return std::nullopt;
    size = 4;
    if (rgce[at + 1] & kAttrChoose) size += 2 * (static_cast<size_t>(U16(rgce.data() + at + 2)) + 1);
  } else if (IsOperand(ptg)) {
    size = OperandSize(OperandBase(ptg));
  } else {
    size = FixedBaseSize(ptg);
  }
  if (size == 0 || size > left) return std::nullopt;
  return size;
}

std::optional<Bytes> RelativeForm(ByteView rgce, const CellPosition& base, size_t* failedAt) {
  Bytes out(rgce.begin(), rgce.end());
  for (size_t at = 0; at < out.size();) {
    const std::optional<size_t> size = TokenSize(rgce, at);
    if (!size) {
      if (failedAt) *failedAt = at;
      return std::nullopt;
    }
    const uint8_t ptg = out[at];
    if (IsOperand(ptg)) {
      uint8_t* data = out.data() + at + 1;
      switch (OperandBase(ptg)) {
        case kRef: MakeRelative(data, data + 2, base); break;
        case kArea:
          MakeRelative(data, data + 4, base);
          MakeRelative(data + 2, data + 6, base);
          break;
        case kRef3d: MakeRelative(data + 2, data + 4, base); break;
        case kArea3d:
          MakeRelative(data + 2, data + 6, base);
          MakeRelative(data + 4, data + 8, base);
          break;
        default: break;
      }
    }
    at += *size;
  }
  return out;
}

}  // namespace Ptg
