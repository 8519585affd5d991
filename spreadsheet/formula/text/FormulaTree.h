#pragma once
// A formula read from text, as a tree, before it becomes tokens: the
// parser builds it, the token writer turns it into the file format's
// parsed expression, giving each operand the class its place calls for.

#include "spreadsheet/formula/FormulaFunctions.h"
#include "spreadsheet/model/BiffRecords.h"

#include <cstdint>
#include <vector>

// Operand classes of the file format, in the bits of an operand token.
namespace TokenClass {
constexpr uint8_t kReference = 0x20;
constexpr uint8_t kValue = 0x40;
constexpr uint8_t kArray = 0x60;
}  // namespace TokenClass

struct FormulaTreeNode {
  enum class Kind : uint8_t {
    Leaf,         // one token: a constant, a reference, a name, an array constant
    Unary,        // ptg: tUplus, tUminus, tPercent
    Binary,       // ptg: tAdd .. tNe
    ReferenceOp,  // ptg: tRange, tIsect, tUnion; both sides references
    Paren,        // one child
    Function,     // function; children are its arguments
    Missing,      // an argument left out
  };
  Kind kind = Kind::Leaf;
  uint8_t ptg = 0;        // Leaf: the token's first byte (class bits clear); operators: the operator token
  bool classed = false;   // Leaf: an operand token that takes a class
  uint8_t defaultClass = TokenClass::kReference;  // Leaf: references and names; array constants: kArray
  Biff::Bytes data;       // Leaf: the token's bytes after the first
  Biff::Bytes extra;      // Leaf: an array constant's values, written after all tokens
  const FunctionInfo* function = nullptr;
  std::vector<uint32_t> children;
};

struct FormulaTree {
  std::vector<FormulaTreeNode> nodes;
  uint32_t root = 0;

  uint32_t Add(FormulaTreeNode node) {
    nodes.push_back(std::move(node));
    return static_cast<uint32_t>(nodes.size() - 1);
  }
};

// The tree as a cell formula's tokens (classes for a cell formula, IF and
// CHOOSE with their jump attributes), and the array constants' data.
struct FormulaTokens {
  Biff::Bytes tokens;
  Biff::Bytes extra;
};
FormulaTokens WriteFormulaTokens(const FormulaTree& tree);
