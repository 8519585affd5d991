#include "spreadsheet/formula/text/FormulaPrinter.h"

#include "spreadsheet/formula/FormulaFunctions.h"
#include "spreadsheet/formula/FormulaTokens.h"
#include "spreadsheet/formula/text/CellAddress.h"
#include "spreadsheet/model/CellErrors.h"

using namespace Biff;

namespace {

struct Bad {};

QString Quoted(const QString& text) {
  QString doubled = text;
  doubled.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + doubled + QLatin1Char('"');
}

class Printer {
 public:
  Printer(ByteView rgce, ByteView extra, const CellPosition& at, const PrintScope& scope)
      : rgce_(rgce), extra_(extra), at_(at), scope_(scope) {}

  std::optional<QString> Run();

 private:
  void Token(size_t at, size_t size);
  void Operand(uint8_t base, const uint8_t* data);
  void Call(uint16_t id, size_t argc);
  QString Pop() {
    if (stack_.empty()) throw Bad{};
    QString top = std::move(stack_.back());
    stack_.pop_back();
    return top;
  }
  // A coordinate pair: absolute in a cell formula; an offset from the cell
  // where flagged relative in a shared formula.
  void Coordinate(uint16_t rowField, uint16_t colField, bool offsets, uint32_t& row, uint32_t& col, bool& rowAbs,
                  bool& colAbs) const;
  QString Area(const uint8_t* loc, bool offsets) const;
  QString Cell(const uint8_t* loc, bool offsets) const;
  QString SheetPrefix(uint16_t ixti) const;
  QString ArrayConstant();
  QString ExtraText(size_t& at) const;

  ByteView rgce_;
  ByteView extra_;
  size_t extraAt_ = 0;
  CellPosition at_;
  const PrintScope& scope_;
  std::vector<QString> stack_;
};

std::optional<QString> Printer::Run() {
  try {
    for (size_t at = 0; at < rgce_.size();) {
      const std::optional<size_t> size = Ptg::TokenSize(rgce_, at);
      if (!size) return std::nullopt;
      Token(at, *size);
      at += *size;
    }
    if (stack_.size() != 1) return std::nullopt;
  } catch (const Bad&) {
    return std::nullopt;
  }
  return QLatin1Char('=') + stack_.front();
}

void Printer::Token(size_t at, size_t size) {
  static const char* const kBinary[] = {"+", "-", "*", "/", "^", "&", "<", "<=", "=", ">=", ">", "<>", " ", ",", ":"};
  const uint8_t ptg = rgce_[at];
  const uint8_t* data = rgce_.data() + at + 1;
  if (Ptg::IsOperand(ptg)) {
    Operand(Ptg::OperandBase(ptg), data);
    return;
  }
  if (ptg >= Ptg::kAdd && ptg <= Ptg::kRange) {
    const QString right = Pop();
    const QString left = Pop();
    stack_.push_back(left + QLatin1String(kBinary[ptg - Ptg::kAdd]) + right);
    return;
  }
  switch (ptg) {
    case Ptg::kUplus: stack_.push_back(QLatin1Char('+') + Pop()); return;
    case Ptg::kUminus: stack_.push_back(QLatin1Char('-') + Pop()); return;
    case Ptg::kPercent: stack_.push_back(Pop() + QLatin1Char('%')); return;
    case Ptg::kParen: stack_.push_back(QLatin1Char('(') + Pop() + QLatin1Char(')')); return;
    case Ptg::kMissArg: stack_.emplace_back(); return;
    case Ptg::kStr: {
      QString text;
      if (!ReadChars(rgce_.subspan(at + 3, size - 3), data[0], (data[1] & 0x01) != 0, text)) throw Bad{};
      stack_.push_back(Quoted(text));
      return;
    }
    case Ptg::kAttr:
      // Jumps, spaces and the volatile mark print nothing; a one-argument
      // SUM is written as an attribute.
      if (data[0] & Ptg::kAttrSum) stack_.push_back(QStringLiteral("SUM(") + Pop() + QLatin1Char(')'));
      return;
    case Ptg::kErr: {
      const std::optional<ErrorCode> code = ErrorFromByte(data[0]);
      if (!code) throw Bad{};
      stack_.push_back(ErrorName(*code));
      return;
    }
    case Ptg::kBool: stack_.push_back(data[0] ? QStringLiteral("TRUE") : QStringLiteral("FALSE")); return;
    case Ptg::kInt: stack_.push_back(QString::number(U16(data))); return;
    case Ptg::kNum: stack_.push_back(Coerce::NumberText(F64(data))); return;
    default: throw Bad{};  // tExp and tTbl stand for formulas elsewhere; the caller resolves them
  }
}

void Printer::Coordinate(uint16_t rowField, uint16_t colField, bool offsets, uint32_t& row, uint32_t& col,
                         bool& rowAbs, bool& colAbs) const {
  rowAbs = (colField & 0x8000) == 0;
  colAbs = (colField & 0x4000) == 0;
  row = rowField;
  col = colField & 0xFF;
  if (offsets && !rowAbs) row = static_cast<uint32_t>(at_.row + static_cast<int16_t>(rowField)) & 0xFFFF;
  if (offsets && !colAbs) col = static_cast<uint32_t>(at_.col + static_cast<int8_t>(colField & 0xFF)) & 0xFF;
}

QString Printer::Cell(const uint8_t* loc, bool offsets) const {
  uint32_t row = 0;
  uint32_t col = 0;
  bool rowAbs = false;
  bool colAbs = false;
  Coordinate(U16(loc), U16(loc + 2), offsets, row, col, rowAbs, colAbs);
  return CellAddress::Cell(row, col, rowAbs, colAbs);
}

// loc: both rows, then both columns with their flags.
QString Printer::Area(const uint8_t* loc, bool offsets) const {
  uint32_t rows[2];
  uint32_t cols[2];
  bool rowAbs[2];
  bool colAbs[2];
  for (int i = 0; i < 2; ++i) Coordinate(U16(loc + 2 * i), U16(loc + 4 + 2 * i), offsets, rows[i], cols[i], rowAbs[i], colAbs[i]);
  const auto mark = [](bool absolute) { return absolute ? QStringLiteral("$") : QString(); };
  if (rows[0] == 0 && rows[1] == CellAddress::kLastRow) {
    return mark(colAbs[0]) + CellAddress::Column(cols[0]) + QLatin1Char(':') + mark(colAbs[1]) + CellAddress::Column(cols[1]);
  }
  if (cols[0] == 0 && cols[1] == CellAddress::kLastCol) {
    return QStringLiteral("%1%2:%3%4").arg(mark(rowAbs[0])).arg(rows[0] + 1).arg(mark(rowAbs[1])).arg(rows[1] + 1);
  }
  // One cell written as an area (as Calc writes Jan:Mar!A1) is that cell.
  if (rows[0] == rows[1] && cols[0] == cols[1] && rowAbs[0] == rowAbs[1] && colAbs[0] == colAbs[1]) {
    return CellAddress::Cell(rows[0], cols[0], rowAbs[0], colAbs[0]);
  }
  return CellAddress::Cell(rows[0], cols[0], rowAbs[0], colAbs[0]) + QLatin1Char(':') +
         CellAddress::Cell(rows[1], cols[1], rowAbs[1], colAbs[1]);
}

QString Printer::SheetPrefix(uint16_t ixti) const {
  const WorkbookLinks& links = scope_.links;
  if (ixti >= links.sheets.size()) throw Bad{};
  const ExternSheet& entry = links.sheets[ixti];
  if (entry.book >= links.books.size()) throw Bad{};
  const SupBook& book = links.books[entry.book];
  if (entry.first < 0 || entry.last < 0) return QStringLiteral("#REF!");
  QString first;
  QString last;
  if (book.kind == SupBook::Kind::Own) {
    if (static_cast<size_t>(entry.last) >= scope_.sheets.size()) return QStringLiteral("#REF!");
    first = scope_.sheets[static_cast<size_t>(entry.first)];
    last = scope_.sheets[static_cast<size_t>(entry.last)];
  } else if (book.kind == SupBook::Kind::External && static_cast<size_t>(entry.last) < book.sheets.size()) {
    first = QLatin1Char('[') + book.document + QLatin1Char(']') + book.sheets[static_cast<size_t>(entry.first)];
    last = book.sheets[static_cast<size_t>(entry.last)];
  } else {
    throw Bad{};
  }
  const QString span = first == last ? first : first + QLatin1Char(':') + last;
  const bool quote = book.kind != SupBook::Kind::Own || CellAddress::NeedsQuotes(first) || CellAddress::NeedsQuotes(last);
  if (!quote) return span + QLatin1Char('!');
  QString doubled = span;
  doubled.replace(QLatin1Char('\''), QStringLiteral("''"));
  return QLatin1Char('\'') + doubled + QStringLiteral("'!");
}

void Printer::Operand(uint8_t base, const uint8_t* data) {
  switch (base) {
    case Ptg::kArray: stack_.push_back(ArrayConstant()); return;
    case Ptg::kFunc: {
      const uint16_t id = U16(data);
      const FunctionInfo* info = FindFunction(id);
      const int argc = info ? info->minArgs : BuiltInFunctionFixedArgs(id);
      if (argc < 0 || (info && !info->FixedArgs())) throw Bad{};
      Call(id, static_cast<size_t>(argc));
      return;
    }
    case Ptg::kFuncVar: Call(U16(data + 1) & 0x7FFF, data[0] & 0x7F); return;
    case Ptg::kName: {
      const uint16_t index = U16(data);
      const auto& names = scope_.links.names;
      stack_.push_back(index >= 1 && index <= names.size() ? names[index - 1u].name : QStringLiteral("#NAME?"));
      return;
    }
    case Ptg::kNameX: {
      const uint16_t ixti = U16(data);
      const uint16_t index = U16(data + 2);
      const WorkbookLinks& links = scope_.links;
      if (ixti >= links.sheets.size() || links.sheets[ixti].book >= links.books.size()) throw Bad{};
      const SupBook& book = links.books[links.sheets[ixti].book];
      const bool own = book.kind == SupBook::Kind::Own;
      const size_t count = own ? links.names.size() : book.names.size();
      if (index < 1 || index > count) throw Bad{};
      stack_.push_back(own ? links.names[index - 1u].name : book.names[index - 1u]);
      return;
    }
    case Ptg::kRef: stack_.push_back(Cell(data, false)); return;
    case Ptg::kRefN: stack_.push_back(Cell(data, true)); return;
    case Ptg::kArea: stack_.push_back(Area(data, false)); return;
    case Ptg::kAreaN: stack_.push_back(Area(data, true)); return;
    case Ptg::kRef3d: stack_.push_back(SheetPrefix(U16(data)) + Cell(data + 2, false)); return;
    case Ptg::kArea3d: stack_.push_back(SheetPrefix(U16(data)) + Area(data + 2, false)); return;
    case Ptg::kRefErr:
    case Ptg::kAreaErr: stack_.push_back(QStringLiteral("#REF!")); return;
    case Ptg::kRefErr3d:
    case Ptg::kAreaErr3d: stack_.push_back(SheetPrefix(U16(data)) + QStringLiteral("#REF!")); return;
    case Ptg::kMemArea: {
      // Its area list sits in the extra data, before any later array constant's.
      if (extra_.size() < extraAt_ + 2) throw Bad{};
      extraAt_ += 2 + 8 * static_cast<size_t>(U16(extra_.data() + extraAt_));
      return;
    }
    case Ptg::kMemErr:
    case Ptg::kMemNoMem:
    case Ptg::kMemFunc: return;  // the reference's own tokens follow
    default: throw Bad{};
  }
}

void Printer::Call(uint16_t id, size_t argc) {
  if (stack_.size() < argc) throw Bad{};
  std::vector<QString> args(stack_.end() - static_cast<std::ptrdiff_t>(argc), stack_.end());
  stack_.resize(stack_.size() - argc);
  QString name;
  if (id == FunctionIds::kAddIn) {
    // An add-in function: its name comes first, as an external name.
    if (args.empty()) throw Bad{};
    name = args.front();
    args.erase(args.begin());
  } else {
    name = BuiltInFunctionName(id);
    if (name.isEmpty()) throw Bad{};
  }
  QString call = name + QLatin1Char('(');
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) call += QLatin1Char(',');
    call += args[i];
  }
  stack_.push_back(call + QLatin1Char(')'));
}

QString Printer::ExtraText(size_t& at) const {
  if (extra_.size() < at + 3) throw Bad{};
  const size_t count = U16(extra_.data() + at);
  const bool wide = (extra_[at + 2] & 0x01) != 0;
  QString text;
  if (!ReadChars(extra_.subspan(at + 3), count, wide, text)) throw Bad{};
  at += 3 + count * (wide ? 2 : 1);
  return text;
}

QString Printer::ArrayConstant() {
  if (extra_.size() < extraAt_ + 3) throw Bad{};
  const size_t cols = extra_[extraAt_] + 1u;
  const size_t rows = U16(extra_.data() + extraAt_ + 1) + 1u;
  extraAt_ += 3;
  QString out = QStringLiteral("{");
  for (size_t r = 0; r < rows; ++r) {
    for (size_t c = 0; c < cols; ++c) {
      if (c > 0) out += QLatin1Char(',');
      if (extra_.size() < extraAt_ + 1) throw Bad{};
      const uint8_t type = extra_[extraAt_++];
      if (type == 0x02) {
        out += Quoted(ExtraText(extraAt_));
        continue;
      }
      if (extra_.size() < extraAt_ + 8) throw Bad{};
      const uint8_t* value = extra_.data() + extraAt_;
      extraAt_ += 8;
      switch (type) {
        case 0x00: break;
        case 0x01: out += Coerce::NumberText(F64(value)); break;
        case 0x04: out += value[0] ? QStringLiteral("TRUE") : QStringLiteral("FALSE"); break;
        case 0x10: {
          const std::optional<ErrorCode> code = ErrorFromByte(value[0]);
          if (!code) throw Bad{};
          out += ErrorName(*code);
          break;
        }
        default: throw Bad{};
      }
    }
    if (r + 1 < rows) out += QLatin1Char(';');
  }
  return out + QLatin1Char('}');
}

}  // namespace

std::optional<QString> PrintFormula(ByteView rgce, ByteView extra, const CellPosition& at, const PrintScope& scope) {
  return Printer(rgce, extra, at, scope).Run();
}
