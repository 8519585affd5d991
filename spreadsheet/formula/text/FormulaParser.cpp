#include "spreadsheet/formula/text/FormulaParser.h"

#include "spreadsheet/formula/FormulaTokens.h"
#include "spreadsheet/formula/text/CellAddress.h"

#include <cmath>
#include <cstring>

namespace {

using Kind = LexToken::Kind;
using Node = FormulaTreeNode;

constexpr int kMaxDepth = 100;         // nesting; deeper formulas are refused, never overflow the stack
constexpr qsizetype kMaxText = 255;    // characters of a text constant
constexpr size_t kMaxTokenBytes = Biff::kMaxRecordData - 22;  // what a FORMULA record has room for

void PutU16(Biff::Bytes& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutText(Biff::Bytes& out, const QString& text, bool lengthOf16) {
  bool wide = false;
  for (const QChar c : text) wide = wide || c.unicode() > 0xFF;
  if (lengthOf16) PutU16(out, static_cast<uint32_t>(text.size()));
  else out.push_back(static_cast<uint8_t>(text.size()));
  out.push_back(wide ? 0x01 : 0x00);
  for (const QChar c : text) {
    out.push_back(static_cast<uint8_t>(c.unicode()));
    if (wide) out.push_back(static_cast<uint8_t>(c.unicode() >> 8));
  }
}

void PutDouble(Biff::Bytes& out, double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

uint32_t ColumnField(uint32_t col, bool rowAbsolute, bool colAbsolute) {
  return col | (rowAbsolute ? 0 : 0x8000u) | (colAbsolute ? 0 : 0x4000u);
}

class Parser {
 public:
  Parser(QStringView text, FormulaScope& scope) : text_(text), scope_(scope) {}

  FormulaTokens Run();

 private:
  [[noreturn]] static void Fail(int position, const QString& reason) { throw FormulaTextError{position, reason}; }
  [[noreturn]] void Unexpected(const LexToken& token) const;

  const LexToken& Peek() {
    while (tokens_[at_].kind == Kind::Blank) ++at_;
    return tokens_[at_];
  }
  LexToken Take() {
    Peek();
    return tokens_[at_++];
  }
  bool PeekIs(Kind kind, const char* text = nullptr) {
    const LexToken& token = Peek();
    return token.kind == kind && (!text || token.text == QLatin1String(text));
  }
  // A blank between two operands: the intersection operator.
  bool BlankBeforeOperand() const {
    if (tokens_[at_].kind != Kind::Blank) return false;
    const Kind next = tokens_[at_ + 1].kind;
    return next == Kind::Reference || next == Kind::Name || next == Kind::Function || next == Kind::Open;
  }

  uint32_t Comparison(bool unionAllowed, int depth);
  uint32_t Concatenation(bool unionAllowed, int depth);
  uint32_t Sum(bool unionAllowed, int depth);
  uint32_t Product(bool unionAllowed, int depth);
  uint32_t Power(bool unionAllowed, int depth);
  uint32_t Percent(bool unionAllowed, int depth);
  uint32_t Prefix(bool unionAllowed, int depth);
  uint32_t Union(bool unionAllowed, int depth);
  uint32_t Intersection(bool unionAllowed, int depth);
  uint32_t Range(bool unionAllowed, int depth);
  uint32_t Primary(bool unionAllowed, int depth);
  uint32_t Call(const LexToken& name, int depth);
  uint32_t Reference(const LexToken& token);
  uint32_t NameOrBoolean(const LexToken& token);
  uint32_t Number(double number);
  uint32_t Text(const LexToken& token);
  uint32_t ArrayConstant(const LexToken& open);
  int Sheet(const QString& name, int position) const;

  uint32_t Binary(uint8_t ptg, uint32_t left, uint32_t right, Node::Kind kind = Node::Kind::Binary) {
    Node node;
    node.kind = kind;
    node.ptg = ptg;
    node.children = {left, right};
    return tree_.Add(std::move(node));
  }
  uint32_t Leaf(uint8_t ptg, Biff::Bytes data, bool classed = false) {
    Node node;
    node.ptg = ptg;
    node.data = std::move(data);
    node.classed = classed;
    return tree_.Add(std::move(node));
  }

  QStringView text_;
  FormulaScope& scope_;
  std::vector<LexToken> tokens_;
  size_t at_ = 0;
  FormulaTree tree_;
};

FormulaTokens Parser::Run() {
  if (!text_.startsWith(QLatin1Char('='))) Fail(1, QStringLiteral("a formula starts with ="));
  tokens_ = LexFormula(text_.mid(1), 1);
  if (PeekIs(Kind::End)) Fail(2, QStringLiteral("there is nothing after the ="));
  tree_.root = Comparison(false, 0);
  if (!PeekIs(Kind::End)) Unexpected(Peek());
  FormulaTokens out = WriteFormulaTokens(tree_);
  if (out.tokens.size() + out.extra.size() > kMaxTokenBytes) {
    Fail(1, QStringLiteral("the formula is too long for a cell (%1 bytes of tokens, at most %2)")
                .arg(out.tokens.size() + out.extra.size())
                .arg(kMaxTokenBytes));
  }
  return out;
}

void Parser::Unexpected(const LexToken& token) const {
  switch (token.kind) {
    case Kind::End: Fail(token.position, QStringLiteral("the formula ends too soon"));
    case Kind::Close: Fail(token.position, QStringLiteral("a closing parenthesis has no opening one"));
    case Kind::Comma:
      Fail(token.position, QStringLiteral("a comma stands outside of a function's arguments (a union needs parentheses)"));
    default: break;
  }
  const QString shown = token.kind == Kind::Reference ? QStringLiteral("a reference")
                        : token.kind == Kind::Number  ? QStringLiteral("a number")
                        : token.kind == Kind::Text    ? QStringLiteral("a text")
                        : token.text.isEmpty()        ? QStringLiteral("this")
                                                      : token.text;
  Fail(token.position, QStringLiteral("%1 was not expected here").arg(shown));
}

uint32_t Parser::Comparison(bool unionAllowed, int depth) {
  if (depth > kMaxDepth) Fail(Peek().position, QStringLiteral("the formula is nested too deeply"));
  static const std::pair<const char*, uint8_t> kOps[] = {{"=", Ptg::kEq}, {"<>", Ptg::kNe}, {"<", Ptg::kLt},
                                                         {"<=", Ptg::kLe}, {">", Ptg::kGt}, {">=", Ptg::kGe}};
  uint32_t left = Concatenation(unionAllowed, depth);
  for (;;) {
    const LexToken& next = Peek();
    uint8_t ptg = 0;
    for (const auto& [text, code] : kOps) {
      if (next.kind == Kind::Operator && next.text == QLatin1String(text)) ptg = code;
    }
    if (ptg == 0) return left;
    Take();
    left = Binary(ptg, left, Concatenation(unionAllowed, depth));
  }
}

uint32_t Parser::Concatenation(bool unionAllowed, int depth) {
  uint32_t left = Sum(unionAllowed, depth);
  while (PeekIs(Kind::Operator, "&")) {
    Take();
    left = Binary(Ptg::kConcat, left, Sum(unionAllowed, depth));
  }
  return left;
}

uint32_t Parser::Sum(bool unionAllowed, int depth) {
  uint32_t left = Product(unionAllowed, depth);
  while (PeekIs(Kind::Operator, "+") || PeekIs(Kind::Operator, "-")) {
    const uint8_t ptg = Take().text == QLatin1String("+") ? Ptg::kAdd : Ptg::kSub;
    left = Binary(ptg, left, Product(unionAllowed, depth));
  }
  return left;
}

uint32_t Parser::Product(bool unionAllowed, int depth) {
  uint32_t left = Power(unionAllowed, depth);
  while (PeekIs(Kind::Operator, "*") || PeekIs(Kind::Operator, "/")) {
    const uint8_t ptg = Take().text == QLatin1String("*") ? Ptg::kMul : Ptg::kDiv;
    left = Binary(ptg, left, Power(unionAllowed, depth));
  }
  return left;
}

// ^ binds from the left, as the application has it: 2^3^2 is 64.
uint32_t Parser::Power(bool unionAllowed, int depth) {
  uint32_t left = Percent(unionAllowed, depth);
  while (PeekIs(Kind::Operator, "^")) {
    Take();
    left = Binary(Ptg::kPower, left, Percent(unionAllowed, depth));
  }
  return left;
}

uint32_t Parser::Percent(bool unionAllowed, int depth) {
  uint32_t operand = Prefix(unionAllowed, depth);
  while (PeekIs(Kind::Operator, "%")) {
    Take();
    Node node;
    node.kind = Node::Kind::Unary;
    node.ptg = Ptg::kPercent;
    node.children = {operand};
    operand = tree_.Add(std::move(node));
  }
  return operand;
}

// Negation binds tighter than ^: -2^2 is 4.
uint32_t Parser::Prefix(bool unionAllowed, int depth) {
  if (PeekIs(Kind::Operator, "-") || PeekIs(Kind::Operator, "+")) {
    const uint8_t ptg = Take().text == QLatin1String("-") ? Ptg::kUminus : Ptg::kUplus;
    if (depth + 1 > kMaxDepth) Fail(Peek().position, QStringLiteral("the formula is nested too deeply"));
    Node node;
    node.kind = Node::Kind::Unary;
    node.ptg = ptg;
    node.children = {Prefix(unionAllowed, depth + 1)};
    return tree_.Add(std::move(node));
  }
  return Union(unionAllowed, depth);
}

uint32_t Parser::Union(bool unionAllowed, int depth) {
  uint32_t left = Intersection(unionAllowed, depth);
  while (unionAllowed && PeekIs(Kind::Comma)) {
    Take();
    left = Binary(Ptg::kUnion, left, Intersection(unionAllowed, depth), Node::Kind::ReferenceOp);
  }
  return left;
}

uint32_t Parser::Intersection(bool unionAllowed, int depth) {
  uint32_t left = Range(unionAllowed, depth);
  while (BlankBeforeOperand()) {
    ++at_;
    left = Binary(Ptg::kIsect, left, Range(unionAllowed, depth), Node::Kind::ReferenceOp);
  }
  return left;
}

uint32_t Parser::Range(bool unionAllowed, int depth) {
  uint32_t left = Primary(unionAllowed, depth);
  while (tokens_[at_].kind == Kind::Colon) {
    ++at_;
    left = Binary(Ptg::kRange, left, Primary(unionAllowed, depth), Node::Kind::ReferenceOp);
  }
  return left;
}

uint32_t Parser::Primary(bool unionAllowed, int depth) {
  (void)unionAllowed;
  const LexToken token = Take();
  switch (token.kind) {
    case Kind::Number: return Number(token.number);
    case Kind::Text: return Text(token);
    case Kind::Error: return Leaf(Ptg::kErr, {token.error});
    case Kind::Reference: return Reference(token);
    case Kind::Name: return NameOrBoolean(token);
    case Kind::Function: return Call(token, depth + 1);
    case Kind::OpenBrace: return ArrayConstant(token);
    case Kind::Open: {
      Node node;
      node.kind = Node::Kind::Paren;
      node.children = {Comparison(true, depth + 1)};
      if (!PeekIs(Kind::Close)) {
        if (PeekIs(Kind::End)) Fail(Peek().position, QStringLiteral("a closing parenthesis is missing"));
        Unexpected(Peek());
      }
      Take();
      return tree_.Add(std::move(node));
    }
    case Kind::Operator:
      Fail(token.position, QStringLiteral("an operand is missing before %1").arg(token.text));
    default: Unexpected(token);
  }
}

uint32_t Parser::Call(const LexToken& name, int depth) {
  if (depth > kMaxDepth) Fail(name.position, QStringLiteral("the formula is nested too deeply"));
  const FunctionInfo* info = FindFunction(name.text);
  const QString upper = name.text.toUpper();
  if (!info) {
    if (BuiltInFunctionId(upper)) {
      Fail(name.position, QStringLiteral("%1 is not a function the built-in spreadsheet server evaluates").arg(upper));
    }
    Fail(name.position, QStringLiteral("there is no function %1").arg(upper));
  }
  const LexToken open = Take();  // the lexer put "(" right after the name
  Node node;
  node.kind = Node::Kind::Function;
  node.function = info;
  if (PeekIs(Kind::Close)) {
    Take();
  } else {
    for (;;) {
      if (PeekIs(Kind::Comma) || PeekIs(Kind::Close)) {
        Node missing;
        missing.kind = Node::Kind::Missing;
        node.children.push_back(tree_.Add(std::move(missing)));
      } else {
        node.children.push_back(Comparison(false, depth));
      }
      if (PeekIs(Kind::Comma)) {
        Take();
        continue;
      }
      if (PeekIs(Kind::Close)) {
        Take();
        break;
      }
      if (PeekIs(Kind::End)) Fail(Peek().position, QStringLiteral("a closing parenthesis is missing"));
      Unexpected(Peek());
    }
  }
  const size_t count = node.children.size();
  if (count < info->minArgs || count > info->maxArgs) {
    const QString takes = info->minArgs == info->maxArgs
                              ? QStringLiteral("%1").arg(info->minArgs)
                              : QStringLiteral("%1 to %2").arg(info->minArgs).arg(info->maxArgs);
    Fail(name.position, QStringLiteral("%1 takes %2 argument(s), not %3").arg(upper, takes).arg(count));
  }
  (void)open;
  return tree_.Add(std::move(node));
}

int Parser::Sheet(const QString& name, int position) const {
  for (size_t i = 0; i < scope_.sheets.size(); ++i) {
    if (scope_.sheets[i].compare(name, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
  }
  Fail(position, QStringLiteral("there is no sheet \"%1\"").arg(name));
}

uint32_t Parser::Reference(const LexToken& token) {
  const ReferenceText& ref = token.reference;
  int first = -1;
  int last = -1;
  if (ref.hasSheet) {
    first = Sheet(ref.sheetFirst, token.position);
    last = ref.sheetLast.isEmpty() ? first : Sheet(ref.sheetLast, token.position);
    if (first > last) std::swap(first, last);
  }
  Biff::Bytes data;
  if (ref.hasSheet) PutU16(data, scope_.links.SheetSpan(first, last));
  if (ref.kind == ReferenceText::Kind::Deleted) {
    data.resize(ref.hasSheet ? 6 : 4, 0);
    return Leaf(Ptg::kRefErr3d, std::move(data), true);
  }
  if (ref.kind == ReferenceText::Kind::Cell) {
    PutU16(data, ref.row[0]);
    PutU16(data, ColumnField(ref.col[0], ref.rowAbsolute[0], ref.colAbsolute[0]));
    return Leaf(ref.hasSheet ? Ptg::kRef3d : Ptg::kRef, std::move(data), true);
  }
  uint32_t rows[2] = {ref.row[0], ref.row[1]};
  uint32_t cols[2] = {ref.col[0], ref.col[1]};
  bool rowAbs[2] = {ref.rowAbsolute[0], ref.rowAbsolute[1]};
  bool colAbs[2] = {ref.colAbsolute[0], ref.colAbsolute[1]};
  if (ref.kind == ReferenceText::Kind::Columns) {
    rows[0] = 0;
    rows[1] = CellAddress::kLastRow;
    rowAbs[0] = rowAbs[1] = true;
  } else if (ref.kind == ReferenceText::Kind::Rows) {
    cols[0] = 0;
    cols[1] = CellAddress::kLastCol;
    colAbs[0] = colAbs[1] = true;
  }
  // B3:A1 is A1:B3, each edge keeping its own $ mark.
  if (rows[0] > rows[1]) {
    std::swap(rows[0], rows[1]);
    std::swap(rowAbs[0], rowAbs[1]);
  }
  if (cols[0] > cols[1]) {
    std::swap(cols[0], cols[1]);
    std::swap(colAbs[0], colAbs[1]);
  }
  PutU16(data, rows[0]);
  PutU16(data, rows[1]);
  PutU16(data, ColumnField(cols[0], rowAbs[0], colAbs[0]));
  PutU16(data, ColumnField(cols[1], rowAbs[1], colAbs[1]));
  return Leaf(ref.hasSheet ? Ptg::kArea3d : Ptg::kArea, std::move(data), true);
}

uint32_t Parser::NameOrBoolean(const LexToken& token) {
  if (token.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0) return Leaf(Ptg::kBool, {1});
  if (token.text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) return Leaf(Ptg::kBool, {0});
  const uint32_t index = scope_.links.FindName(token.text, scope_.ownSheet);
  if (index == 0) Fail(token.position, QStringLiteral("there is no defined name %1").arg(token.text));
  Biff::Bytes data;
  PutU16(data, index);
  PutU16(data, 0);
  return Leaf(Ptg::kName, std::move(data), true);
}

uint32_t Parser::Number(double number) {
  if (number == std::floor(number) && number >= 0 && number <= 0xFFFF) {
    Biff::Bytes data;
    PutU16(data, static_cast<uint32_t>(number));
    return Leaf(Ptg::kInt, std::move(data));
  }
  Biff::Bytes data;
  PutDouble(data, number);
  return Leaf(Ptg::kNum, std::move(data));
}

uint32_t Parser::Text(const LexToken& token) {
  if (token.text.size() > kMaxText) {
    Fail(token.position, QStringLiteral("a text in a formula holds at most %1 characters, this one %2")
                             .arg(kMaxText)
                             .arg(token.text.size()));
  }
  Biff::Bytes data;
  PutText(data, token.text, false);
  return Leaf(Ptg::kStr, std::move(data));
}

// {1,2;3,4}: numbers (with a sign), texts, TRUE, FALSE and errors; "," between
// columns, ";" between rows, every row as long as the first.
uint32_t Parser::ArrayConstant(const LexToken& open) {
  Biff::Bytes values;
  size_t cols = 0;
  size_t rows = 1;
  size_t inRow = 0;
  for (;;) {
    LexToken item = Take();
    double sign = 1;
    if (item.kind == Kind::Operator && (item.text == QLatin1String("-") || item.text == QLatin1String("+"))) {
      sign = item.text == QLatin1String("-") ? -1 : 1;
      item = Take();
      if (item.kind != Kind::Number) Fail(item.position, QStringLiteral("a sign in an array constant must stand before a number"));
    }
    switch (item.kind) {
      case Kind::Number:
        values.push_back(0x01);
        PutDouble(values, sign * item.number);
        break;
      case Kind::Text:
        if (item.text.size() > kMaxText) Fail(item.position, QStringLiteral("a text in a formula holds at most 255 characters"));
        values.push_back(0x02);
        PutText(values, item.text, true);
        break;
      case Kind::Error:
        values.insert(values.end(), {0x10, item.error, 0, 0, 0, 0, 0, 0, 0});
        break;
      case Kind::Name:
        if (item.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0 ||
            item.text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) {
          const bool value = item.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0;
          values.insert(values.end(), {0x04, static_cast<uint8_t>(value ? 1 : 0), 0, 0, 0, 0, 0, 0, 0});
          break;
        }
        [[fallthrough]];
      default:
        Fail(item.position, QStringLiteral("an array constant holds only numbers, texts, TRUE, FALSE and errors"));
    }
    ++inRow;
    const LexToken separator = Take();
    if (separator.kind == Kind::Comma) continue;
    if (rows == 1) cols = inRow;
    if (inRow != cols) Fail(separator.position, QStringLiteral("every row of an array constant must be as long as the first"));
    if (separator.kind == Kind::Semicolon) {
      ++rows;
      inRow = 0;
      continue;
    }
    if (separator.kind == Kind::CloseBrace) break;
    if (separator.kind == Kind::End) Fail(separator.position, QStringLiteral("an array constant is not closed: } is missing"));
    Unexpected(separator);
  }
  if (cols > 256 || rows > 65536) Fail(open.position, QStringLiteral("the array constant is too large"));
  Node node;
  node.ptg = Ptg::kArray;
  node.classed = true;
  node.defaultClass = TokenClass::kArray;
  node.data.assign(7, 0);
  node.extra = {static_cast<uint8_t>(cols - 1)};
  PutU16(node.extra, static_cast<uint32_t>(rows - 1));
  node.extra.insert(node.extra.end(), values.begin(), values.end());
  return tree_.Add(std::move(node));
}

}  // namespace

FormulaTokens ParseFormula(QStringView text, FormulaScope& scope) { return Parser(text, scope).Run(); }
