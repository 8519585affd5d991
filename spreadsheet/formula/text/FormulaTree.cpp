#include "spreadsheet/formula/text/FormulaTree.h"

#include "spreadsheet/formula/FormulaTokens.h"

#include <algorithm>

namespace {

using namespace TokenClass;

constexpr size_t kJumpSize = 4;     // tAttrIf, tAttrGoto
constexpr size_t kFuncVarSize = 4;  // tFuncVar

uint8_t ClassBits(char letter) { return letter == 'V' ? kValue : letter == 'A' ? kArray : kReference; }

bool IsChoice(const FunctionInfo* f) { return f->id == FunctionIds::kIf || f->id == FunctionIds::kChoose; }

void Append(Biff::Bytes& to, const Biff::Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

Biff::Bytes Attr(uint8_t kind, uint16_t value) {
  return {Ptg::kAttr, kind, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
}

// Tokens take the class their place expects, as the application gives
// them: a place that takes a value dereferences (or, inside an argument
// that takes arrays, reads every cell), a place that takes a reference
// keeps it. force is the state "inside an argument that takes arrays".
class TokenWriter {
 public:
  explicit TokenWriter(const FormulaTree& tree) : tree_(tree) {}

  FormulaTokens Run() {
    FormulaTokens out;
    out.tokens = Emit(tree_.root, 'V', false);
    out.extra = std::move(extra_);
    return out;
  }

 private:
  Biff::Bytes Emit(uint32_t index, char expected, bool force);
  Biff::Bytes Leaf(const FormulaTreeNode& node, char expected, bool force);
  Biff::Bytes Function(const FormulaTreeNode& node, char expected, bool force);
  Biff::Bytes Choice(const FormulaTreeNode& node, const std::vector<Biff::Bytes>& args, uint8_t call);

  static uint8_t OperandClass(uint8_t defaultClass, char expected, bool force) {
    if (expected == 'V') return force ? kArray : kValue;
    if (expected == 'A') return kArray;
    return defaultClass;
  }

  const FormulaTree& tree_;
  Biff::Bytes extra_;
};

Biff::Bytes TokenWriter::Emit(uint32_t index, char expected, bool force) {
  const FormulaTreeNode& node = tree_.nodes[index];
  switch (node.kind) {
    case FormulaTreeNode::Kind::Leaf: return Leaf(node, expected, force);
    case FormulaTreeNode::Kind::Missing: return {Ptg::kMissArg};
    case FormulaTreeNode::Kind::Paren: {
      Biff::Bytes out = Emit(node.children[0], expected, force);
      out.push_back(Ptg::kParen);
      return out;
    }
    case FormulaTreeNode::Kind::Unary:
    case FormulaTreeNode::Kind::Binary: {
      // Operands of value operators take values, or arrays inside arrays.
      const char operand = expected == 'R' ? 'V' : expected;
      Biff::Bytes out;
      for (uint32_t child : node.children) Append(out, Emit(child, operand, force));
      out.push_back(node.ptg);
      return out;
    }
    case FormulaTreeNode::Kind::ReferenceOp: {
      // The operands stay references; a tMemFunc before them carries the
      // class of the whole and the size of the expression.
      Biff::Bytes body;
      for (uint32_t child : node.children) Append(body, Emit(child, 'R', force));
      body.push_back(node.ptg);
      Biff::Bytes out{static_cast<uint8_t>(OperandClass(kReference, expected, force) | Ptg::kMemFunc),
                      static_cast<uint8_t>(body.size()), static_cast<uint8_t>(body.size() >> 8)};
      Append(out, body);
      return out;
    }
    case FormulaTreeNode::Kind::Function: return Function(node, expected, force);
  }
  return {};
}

Biff::Bytes TokenWriter::Leaf(const FormulaTreeNode& node, char expected, bool force) {
  // Sized once and filled in place: a push_back followed by an insert
  // trips GCC 12's array-bounds check at -O3 with fortified builds.
  Biff::Bytes out(1 + node.data.size());
  out[0] = node.classed ? static_cast<uint8_t>(node.ptg | OperandClass(node.defaultClass, expected, force)) : node.ptg;
  std::copy(node.data.begin(), node.data.end(), out.begin() + 1);
  Append(extra_, node.extra);
  return out;
}

Biff::Bytes TokenWriter::Function(const FormulaTreeNode& node, char expected, bool force) {
  const FunctionInfo& f = *node.function;
  const char returns = f.returns;
  char cls = returns;
  bool inner = false;  // the arguments are inside an array argument
  if (force) {
    cls = returns == 'R' && expected == 'R' ? 'R' : 'A';
    inner = returns == 'V' || IsChoice(&f);
  } else if (returns != expected) {
    cls = expected == 'R' ? returns : expected;
    inner = expected == 'A' && (returns == 'V' || IsChoice(&f));
  }
  std::vector<Biff::Bytes> args;
  for (size_t i = 0; i < node.children.size(); ++i) {
    char param = f.Param(i);
    // IF and CHOOSE inside an array argument pick element by element: the
    // values they pick from are arrays too.
    if (inner && IsChoice(&f) && param == 'R') param = 'V';
    args.push_back(Emit(node.children[i], param, inner));
  }
  const uint8_t classBits = ClassBits(cls);
  if (IsChoice(&f)) {
    const uint8_t call = static_cast<uint8_t>(Ptg::kFuncVar | classBits);
    return Choice(node, args, call);
  }
  Biff::Bytes out;
  for (const Biff::Bytes& arg : args) Append(out, arg);
  if (f.FixedArgs()) {
    out.insert(out.end(), {static_cast<uint8_t>(Ptg::kFunc | classBits), static_cast<uint8_t>(f.id), static_cast<uint8_t>(f.id >> 8)});
  } else {
    out.insert(out.end(), {static_cast<uint8_t>(Ptg::kFuncVar | classBits), static_cast<uint8_t>(args.size()),
                           static_cast<uint8_t>(f.id), static_cast<uint8_t>(f.id >> 8)});
  }
  return out;
}

// IF and CHOOSE with the jumps the application writes: after the
// condition (or index) where each argument starts, and after each
// argument a jump past the function.
Biff::Bytes TokenWriter::Choice(const FormulaTreeNode& node, const std::vector<Biff::Bytes>& args, uint8_t call) {
  const FunctionInfo& f = *node.function;
  const Biff::Bytes callToken{call, static_cast<uint8_t>(args.size()), static_cast<uint8_t>(f.id),
                              static_cast<uint8_t>(f.id >> 8)};
  Biff::Bytes out = args[0];
  const size_t choices = args.size() - 1;
  // After each choice: the bytes left up to the end of the call, less one.
  std::vector<size_t> after(choices);
  size_t rest = kFuncVarSize;
  for (size_t k = choices; k-- > 0;) {
    after[k] = rest - 1;
    rest += args[k + 1].size() + kJumpSize;
  }
  if (f.id == FunctionIds::kIf) {
    Append(out, Attr(Ptg::kAttrIf, static_cast<uint16_t>(args[1].size() + kJumpSize)));
  } else {
    // The jump table counts from its own start: where each choice begins,
    // then where the call begins.
    Biff::Bytes table{Ptg::kAttr, Ptg::kAttrChoose, static_cast<uint8_t>(choices), static_cast<uint8_t>(choices >> 8)};
    size_t at = 2 * (choices + 1);
    for (size_t k = 0; k <= choices; ++k) {
      table.push_back(static_cast<uint8_t>(at));
      table.push_back(static_cast<uint8_t>(at >> 8));
      if (k < choices) at += args[k + 1].size() + kJumpSize;
    }
    Append(out, table);
  }
  for (size_t k = 0; k < choices; ++k) {
    Append(out, args[k + 1]);
    Append(out, Attr(Ptg::kAttrGoto, static_cast<uint16_t>(after[k])));
  }
  Append(out, callToken);
  return out;
}

}  // namespace

FormulaTokens WriteFormulaTokens(const FormulaTree& tree) { return TokenWriter(tree).Run(); }
