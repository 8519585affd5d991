#include "spreadsheet/formula/FormulaDecoder.h"

#include "spreadsheet/formula/FormulaFunctions.h"
#include "spreadsheet/formula/FormulaTokens.h"

#include <algorithm>
#include <cmath>

using namespace Biff;

namespace {

// Deeper trees than this are refused rather than evaluated: recursion
// stays bounded whatever a file holds.
constexpr uint16_t kMaxDepth = 400;
constexpr uint8_t kAddInFunction = 255;

struct Outside {
  QString reason;
};

class Decoder {
 public:
  Decoder(ByteView rgce, ByteView extra, const FormulaEnvironment& env) : rgce_(rgce), extra_(extra), env_(env) {}

  DecodedFormula Run();

 private:
  void Token(size_t at, size_t size);
  void Operand(uint8_t base, const uint8_t* data);
  void Push(FormulaNode node, uint16_t depth = 1);
  void Apply(NodeKind kind, uint8_t op, uint16_t function, uint16_t argc);
  void Function(uint16_t id, int argc);
  void Reference(const uint8_t* loc, bool area, int32_t sheetFirst, int32_t sheetLast);
  void SheetRange(uint16_t ixti, int32_t& first, int32_t& last);
  void ArrayConstant();
  [[noreturn]] static void Damaged() { throw Outside{QStringLiteral("damaged formula tokens")}; }

  ByteView rgce_;
  ByteView extra_;
  size_t extraAt_ = 0;
  const FormulaEnvironment& env_;
  FormulaProgram program_;
  std::vector<uint32_t> stack_;
  std::vector<uint16_t> depth_;  // per node
};

DecodedFormula Decoder::Run() {
  try {
    if (rgce_.empty()) Damaged();
    for (size_t at = 0; at < rgce_.size();) {
      const std::optional<size_t> size = Ptg::TokenSize(rgce_, at);
      if (!size) throw Outside{QStringLiteral("token 0x%1").arg(rgce_[at], 2, 16, QLatin1Char('0'))};
      Token(at, *size);
      at += *size;
    }
    if (stack_.size() != 1) Damaged();
  } catch (const Outside& outside) {
    return {nullptr, outside.reason};
  }
  program_.root = stack_.front();
  return {std::make_shared<const FormulaProgram>(std::move(program_)), QString()};
}

void Decoder::Push(FormulaNode node, uint16_t depth) {
  if (depth > kMaxDepth) throw Outside{QStringLiteral("a formula nested too deeply")};
  program_.nodes.push_back(node);
  depth_.push_back(depth);
  stack_.push_back(static_cast<uint32_t>(program_.nodes.size() - 1));
}

// Pops argc operands and pushes the node that takes them.
void Decoder::Apply(NodeKind kind, uint8_t op, uint16_t function, uint16_t argc) {
  if (stack_.size() < argc) Damaged();
  FormulaNode node;
  node.kind = kind;
  node.op = op;
  node.function = function;
  node.argc = argc;
  node.payload = static_cast<uint32_t>(program_.args.size());
  uint16_t depth = 0;
  for (size_t i = stack_.size() - argc; i < stack_.size(); ++i) {
    program_.args.push_back(stack_[i]);
    depth = std::max(depth, depth_[stack_[i]]);
  }
  stack_.resize(stack_.size() - argc);
  Push(node, static_cast<uint16_t>(depth + 1));
}

void Decoder::Function(uint16_t id, int argc) {
  const FunctionInfo* info = FindFunction(id);
  if (!info) throw Outside{QStringLiteral("function number %1").arg(id)};
  if (argc < info->minArgs || argc > info->maxArgs) Damaged();
  Apply(NodeKind::Function, 0, id, static_cast<uint16_t>(argc));
}

void Decoder::Token(size_t at, size_t size) {
  const uint8_t ptg = rgce_[at];
  const uint8_t* data = rgce_.data() + at + 1;
  static const Operator kBinary[] = {
      Operator::Add, Operator::Subtract, Operator::Multiply, Operator::Divide, Operator::Power, Operator::Concat,
      Operator::Less, Operator::LessEqual, Operator::Equal, Operator::GreaterEqual, Operator::Greater,
      Operator::NotEqual, Operator::Intersect, Operator::Union, Operator::Range};
  if (Ptg::IsOperand(ptg)) {
    Operand(Ptg::OperandBase(ptg), data);
    return;
  }
  FormulaNode node;
  switch (ptg) {
    case Ptg::kExp:
    case Ptg::kTbl: throw Outside{QStringLiteral("an array formula or data table")};
    case Ptg::kUplus: Apply(NodeKind::Unary, static_cast<uint8_t>(Operator::Plus), 0, 1); return;
    case Ptg::kUminus: Apply(NodeKind::Unary, static_cast<uint8_t>(Operator::Minus), 0, 1); return;
    case Ptg::kPercent: Apply(NodeKind::Unary, static_cast<uint8_t>(Operator::Percent), 0, 1); return;
    case Ptg::kParen: return;
    case Ptg::kMissArg: node.kind = NodeKind::Missing; break;
    case Ptg::kStr: {
      QString text;
      if (!ReadChars(rgce_.subspan(at + 3, size - 3), data[0], (data[1] & 0x01) != 0, text)) Damaged();
      node.kind = NodeKind::Text;
      node.payload = static_cast<uint32_t>(program_.texts.size());
      program_.texts.push_back(std::move(text));
      break;
    }
    case Ptg::kAttr:
      // Jumps (IF, CHOOSE, GOTO), spaces and the volatile mark change
      // nothing here; a one-argument SUM is written as an attribute.
      if (data[0] & Ptg::kAttrSum) Function(FunctionIds::kSum, 1);
      return;
    case Ptg::kErr: {
      const std::optional<ErrorCode> code = ErrorFromByte(data[0]);
      if (!code) Damaged();
      node.kind = NodeKind::Error;
      node.op = static_cast<uint8_t>(*code);
      break;
    }
    case Ptg::kBool:
      node.kind = NodeKind::Boolean;
      node.op = data[0] != 0 ? 1 : 0;
      break;
    case Ptg::kInt:
    case Ptg::kNum:
      node.kind = NodeKind::Number;
      node.payload = static_cast<uint32_t>(program_.numbers.size());
      program_.numbers.push_back(ptg == Ptg::kInt ? U16(data) : F64(data));
      if (!std::isfinite(program_.numbers.back())) Damaged();
      break;
    default:
      if (ptg >= Ptg::kAdd && ptg <= Ptg::kRange) {
        Apply(NodeKind::Binary, static_cast<uint8_t>(kBinary[ptg - Ptg::kAdd]), 0, 2);
        return;
      }
      throw Outside{QStringLiteral("token 0x%1").arg(ptg, 2, 16, QLatin1Char('0'))};
  }
  Push(node);
}

void Decoder::SheetRange(uint16_t ixti, int32_t& first, int32_t& last) {
  if (ixti >= env_.externSheets.size()) Damaged();
  const FormulaEnvironment::SheetRun& run = env_.externSheets[ixti];
  if (run.book != FormulaEnvironment::SheetRun::Book::Own) throw Outside{QStringLiteral("a reference to another workbook")};
  first = run.first;
  last = run.last;
}

// loc: row (2 bytes), column with flags (2 bytes); for an area both rows
// come first, then both columns.
void Decoder::Reference(const uint8_t* loc, bool area, int32_t sheetFirst, int32_t sheetLast) {
  RefSpec ref;
  ref.sheetFirst = sheetFirst;
  ref.sheetLast = sheetLast;
  for (int i = 0; i < 2; ++i) {
    const uint16_t row = U16(loc + (area ? 2 * i : 0));
    const uint16_t col = U16(loc + (area ? 4 + 2 * i : 2));
    ref.rowRelative[i] = (col & 0x8000) != 0;
    ref.colRelative[i] = (col & 0x4000) != 0;
    ref.row[i] = row;
    ref.col[i] = col & 0xFF;
  }
  FormulaNode node;
  node.kind = NodeKind::Reference;
  node.payload = static_cast<uint32_t>(program_.refs.size());
  program_.refs.push_back(ref);
  Push(node);
}

void Decoder::Operand(uint8_t base, const uint8_t* data) {
  switch (base) {
    case Ptg::kArray: ArrayConstant(); return;
    case Ptg::kFunc: {
      const FunctionInfo* info = FindFunction(U16(data));
      if (!info) throw Outside{QStringLiteral("function number %1").arg(U16(data))};
      if (info->minArgs != info->maxArgs) Damaged();
      Function(U16(data), info->minArgs);
      return;
    }
    case Ptg::kFuncVar:
      if ((data[0] & 0x80) || (U16(data + 1) & 0x7FFF) == kAddInFunction) {
        throw Outside{QStringLiteral("an add-in or macro function")};
      }
      Function(U16(data + 1) & 0x7FFF, data[0] & 0x7F);
      return;
    case Ptg::kName: {
      FormulaNode node;
      node.kind = NodeKind::Name;
      node.payload = U16(data);
      Push(node);
      return;
    }
    case Ptg::kNameX: {
      const uint16_t ixti = U16(data);
      if (ixti >= env_.externSheets.size() || env_.externSheets[ixti].book != FormulaEnvironment::SheetRun::Book::Own) {
        throw Outside{QStringLiteral("an external or add-in name")};
      }
      FormulaNode node;
      node.kind = NodeKind::Name;
      node.payload = U16(data + 2);
      Push(node);
      return;
    }
    case Ptg::kRef:
    case Ptg::kRefN: Reference(data, false, RefSpec::kOwnSheet, RefSpec::kOwnSheet); return;
    case Ptg::kArea:
    case Ptg::kAreaN: Reference(data, true, RefSpec::kOwnSheet, RefSpec::kOwnSheet); return;
    case Ptg::kRef3d:
    case Ptg::kArea3d: {
      int32_t first = 0;
      int32_t last = 0;
      SheetRange(U16(data), first, last);
      Reference(data + 2, base == Ptg::kArea3d, first, last);
      return;
    }
    case Ptg::kRefErr3d:
    case Ptg::kAreaErr3d: {
      int32_t first = 0;
      int32_t last = 0;
      SheetRange(U16(data), first, last);
      [[fallthrough]];
    }
    case Ptg::kRefErr:
    case Ptg::kAreaErr: {
      RefSpec ref;
      ref.invalid = true;
      FormulaNode node;
      node.kind = NodeKind::Reference;
      node.payload = static_cast<uint32_t>(program_.refs.size());
      program_.refs.push_back(ref);
      Push(node);
      return;
    }
    case Ptg::kMemArea:
      // Its area list sits in the data after the tokens, before that of
      // any array constant after it.
      if (extraAt_ > extra_.size() || extra_.size() - extraAt_ < 2) Damaged();
      extraAt_ += 2 + 8 * static_cast<size_t>(U16(extra_.data() + extraAt_));
      return;  // the reference's own tokens follow
    case Ptg::kMemErr:
    case Ptg::kMemNoMem:
    case Ptg::kMemFunc:
      return;  // the reference's own tokens follow
    default:
      throw Outside{QStringLiteral("operand token 0x%1").arg(base, 2, 16, QLatin1Char('0'))};
  }
}

// The values of an array constant, from the data after the tokens.
void Decoder::ArrayConstant() {
  if (extraAt_ > extra_.size() || extra_.size() - extraAt_ < 3) Damaged();
  const uint32_t cols = extra_[extraAt_] + 1u;
  const uint32_t rows = U16(extra_.data() + extraAt_ + 1) + 1u;
  extraAt_ += 3;
  // Every element takes at least four bytes: a size the data cannot hold
  // is damage, not a reason to allocate.
  if (static_cast<uint64_t>(rows) * cols * 4 > extra_.size() - extraAt_) Damaged();
  auto matrix = std::make_shared<Matrix>(rows, cols);
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < cols; ++c) {
      if (extra_.size() - extraAt_ < 1) Damaged();
      const uint8_t type = extra_[extraAt_++];
      const size_t cell = matrix->Index(r, c);
      if (type == 0x02) {
        if (extra_.size() - extraAt_ < 3) Damaged();
        const size_t count = U16(extra_.data() + extraAt_);
        const bool wide = (extra_[extraAt_ + 2] & 0x01) != 0;
        QString text;
        if (!ReadChars(extra_.subspan(extraAt_ + 3), count, wide, text)) Damaged();
        matrix->SetText(cell, text);
        extraAt_ += 3 + count * (wide ? 2 : 1);
        continue;
      }
      if (extra_.size() - extraAt_ < 8) Damaged();
      const uint8_t* value = extra_.data() + extraAt_;
      extraAt_ += 8;
      switch (type) {
        case 0x00: break;
        case 0x01:
          if (!std::isfinite(F64(value))) Damaged();
          matrix->SetNumber(cell, F64(value));
          break;
        case 0x04: matrix->SetBoolean(cell, value[0] != 0); break;
        case 0x10: {
          const std::optional<ErrorCode> code = ErrorFromByte(value[0]);
          if (!code) Damaged();
          matrix->SetError(cell, *code);
          break;
        }
        default: Damaged();
      }
    }
  }
  FormulaNode node;
  node.kind = NodeKind::Array;
  node.payload = static_cast<uint32_t>(program_.arrays.size());
  program_.arrays.push_back(std::move(matrix));
  Push(node);
}

}  // namespace

DecodedFormula DecodeFormula(ByteView rgce, ByteView extra, const FormulaEnvironment& environment) {
  return Decoder(rgce, extra, environment).Run();
}
