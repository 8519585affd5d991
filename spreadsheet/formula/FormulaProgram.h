#pragma once
// A formula decoded from its parsed-expression tokens into an expression
// tree. References are kept relative: a coordinate marked relative holds
// the offset from the cell the formula is evaluated for, so that one
// program serves every cell of a filled-down (shared) formula.

#include "spreadsheet/formula/FormulaValue.h"

#include <cstdint>
#include <memory>
#include <vector>

// How deep names within names are followed. The evaluator and the dependency
// graph share it: a name the evaluator reads must be one the graph follows.
inline constexpr int kMaxNameDepth = 32;

enum class NodeKind : uint8_t {
  Number,     // payload: index in numbers
  Text,       // payload: index in texts
  Boolean,    // op: 0 or 1
  Error,      // op: the error code
  Missing,    // an argument left out: IF(A1,,2)
  Array,      // payload: index in arrays
  Reference,  // payload: index in refs
  Name,       // payload: the 1-based index of the defined name
  Unary,      // op: Operator; one child
  Binary,     // op: Operator; two children
  Function,   // function: its number; argc children
};

enum class Operator : uint8_t {
  Add, Subtract, Multiply, Divide, Power, Concat,
  Less, LessEqual, Equal, GreaterEqual, Greater, NotEqual,
  Intersect, Union, Range,
  Plus, Minus, Percent,
};

// Where a token's reference points. kOwnSheet: the sheet of the formula.
struct RefSpec {
  static constexpr int32_t kOwnSheet = -1;
  static constexpr int32_t kBadSheet = -2;  // a deleted sheet or an external workbook: #REF!
  int32_t sheetFirst = kOwnSheet;
  int32_t sheetLast = kOwnSheet;
  int32_t row[2] = {0, 0};  // first, last; offsets where relative
  int32_t col[2] = {0, 0};
  bool rowRelative[2] = {false, false};
  bool colRelative[2] = {false, false};
  bool invalid = false;  // a reference the writer already knew to be #REF!
};

struct FormulaNode {
  NodeKind kind = NodeKind::Number;
  uint8_t op = 0;
  uint16_t function = 0;
  uint16_t argc = 0;
  uint32_t payload = 0;  // constant tables, or the first child in ProgramArgs
};

struct FormulaProgram {
  std::vector<FormulaNode> nodes;
  std::vector<uint32_t> args;  // children of operators and functions, in order
  std::vector<double> numbers;
  std::vector<QString> texts;
  std::vector<RefSpec> refs;
  std::vector<std::shared_ptr<const Matrix>> arrays;
  uint32_t root = 0;

  const FormulaNode& Node(uint32_t index) const { return nodes[index]; }
  uint32_t Child(const FormulaNode& node, uint32_t i) const { return args[node.payload + i]; }
};

// The position a program is evaluated for: relative coordinates count from it.
struct CellPosition {
  uint16_t sheet = 0;
  uint32_t row = 0;
  uint16_t col = 0;
};

// The area a reference points at from a position, or #REF!; sheetCount
// bounds 3D references.
bool ResolveRef(const RefSpec& ref, const CellPosition& at, int sheetCount, Area& out);
