#pragma once
// The parsed-expression tokens of BIFF8 formulas: their numbers and sizes,
// walked safely over damaged streams.

#include "spreadsheet/formula/FormulaProgram.h"
#include "spreadsheet/model/BiffRecords.h"

#include <cstdint>
#include <optional>

namespace Ptg {

// Base tokens (no operand class).
enum : uint8_t {
  kExp = 0x01, kTbl = 0x02,
  kAdd = 0x03, kSub = 0x04, kMul = 0x05, kDiv = 0x06, kPower = 0x07, kConcat = 0x08,
  kLt = 0x09, kLe = 0x0A, kEq = 0x0B, kGe = 0x0C, kGt = 0x0D, kNe = 0x0E,
  kIsect = 0x0F, kUnion = 0x10, kRange = 0x11, kUplus = 0x12, kUminus = 0x13, kPercent = 0x14,
  kParen = 0x15, kMissArg = 0x16, kStr = 0x17, kExtended = 0x18, kAttr = 0x19,
  kErr = 0x1C, kBool = 0x1D, kInt = 0x1E, kNum = 0x1F,
};

// Operand tokens: the base number; bits 5-6 of the byte hold the class.
enum : uint8_t {
  kArray = 0x00, kFunc = 0x01, kFuncVar = 0x02, kName = 0x03, kRef = 0x04, kArea = 0x05,
  kMemArea = 0x06, kMemErr = 0x07, kMemNoMem = 0x08, kMemFunc = 0x09, kRefErr = 0x0A, kAreaErr = 0x0B,
  kRefN = 0x0C, kAreaN = 0x0D, kNameX = 0x19, kRef3d = 0x1A, kArea3d = 0x1B, kRefErr3d = 0x1C,
  kAreaErr3d = 0x1D,
};

// PtgAttr kinds (the grbit byte).
enum : uint8_t {
  kAttrVolatile = 0x01, kAttrIf = 0x02, kAttrChoose = 0x04, kAttrGoto = 0x08, kAttrSum = 0x10,
  kAttrBaxcel = 0x20, kAttrSpace = 0x40,
};

inline bool IsOperand(uint8_t ptg) { return ptg >= 0x20 && ptg < 0x80; }
inline uint8_t OperandBase(uint8_t ptg) { return ptg & 0x1F; }

// The size of the token at rgce[at] with its data, or nullopt when it runs
// past the end or is a token this reader does not know.
std::optional<size_t> TokenSize(Biff::ByteView rgce, size_t at);

// The tokens with every relative coordinate of a cell formula (whose
// coordinates are absolute) turned into an offset from base, as shared
// formulas and names store them. Equal results mean the same formula for
// every cell. nullopt when the tokens cannot be walked; then failedAt (when
// given) is where the walk stopped.
std::optional<Biff::Bytes> RelativeForm(Biff::ByteView rgce, const CellPosition& base, size_t* failedAt = nullptr);

}  // namespace Ptg
