#include "spreadsheet/formula/ElementChain.h"

#include "spreadsheet/formula/FormulaFunctions.h"

namespace {

struct Found {
  bool functions = false;
  bool references = false;
};

bool ElementFunction(const FunctionInfo* info, uint32_t argc) {
  if (!info || !info->elementwise || !info->impl) return false;
  for (uint32_t i = 0; i < argc; ++i) {
    if (info->Param(i) != 'V') return false;
  }
  return true;
}

bool Walk(const FormulaProgram& program, uint32_t index, Found& found) {
  const FormulaNode& node = program.Node(index);
  switch (node.kind) {
    case NodeKind::Number:
    case NodeKind::Text:
    case NodeKind::Boolean:
    case NodeKind::Error:
    case NodeKind::Missing: return true;
    case NodeKind::Reference: found.references = true; return true;
    case NodeKind::Unary: return Walk(program, program.Child(node, 0), found);
    case NodeKind::Binary: {
      const auto op = static_cast<Operator>(node.op);
      if (op == Operator::Range || op == Operator::Union || op == Operator::Intersect) return false;
      return Walk(program, program.Child(node, 0), found) && Walk(program, program.Child(node, 1), found);
    }
    case NodeKind::Function: {
      if (!ElementFunction(FindFunction(node.function), node.argc)) return false;
      found.functions = true;
      for (uint32_t i = 0; i < node.argc; ++i) {
        if (!Walk(program, program.Child(node, i), found)) return false;
      }
      return true;
    }
    default: return false;  // names, array constants
  }
}

}  // namespace

bool IsElementChain(const FormulaProgram& program, uint32_t node) {
  const NodeKind kind = program.Node(node).kind;
  if (kind != NodeKind::Function && kind != NodeKind::Binary && kind != NodeKind::Unary) return false;
  Found found;
  return Walk(program, node, found) && found.functions && found.references;
}

std::vector<uint32_t> ChainReferences(const FormulaProgram& program, uint32_t node) {
  std::vector<uint32_t> refs;
  std::vector<uint32_t> todo{node};
  while (!todo.empty()) {
    const FormulaNode& at = program.Node(todo.back());
    todo.pop_back();
    if (at.kind == NodeKind::Reference) refs.push_back(at.payload);
    if (at.kind == NodeKind::Unary || at.kind == NodeKind::Binary || at.kind == NodeKind::Function) {
      for (uint32_t i = 0; i < at.argc; ++i) todo.push_back(program.Child(at, i));
    }
  }
  return refs;
}
