#pragma once
// The worksheet functions the server evaluates, by their number in the
// file format's function table, with the kind of each argument and of the
// result: the one table that the evaluator, the decoder and the formula
// text parser share. The names of the other built-in functions are kept
// for printing formulas that use them.

#include "spreadsheet/formula/FormulaValue.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <vector>

class FormulaEvaluator;

struct FunctionCall {
  FormulaEvaluator& eval;
  std::vector<Value>& args;
  size_t Count() const { return args.size(); }
  bool Has(size_t i) const { return i < args.size() && args[i].kind != Value::Kind::Missing; }
};

using FunctionImpl = Value (*)(FunctionCall& call);

struct FunctionInfo {
  uint16_t id = 0;
  const char* name = "";
  uint8_t minArgs = 0;
  uint8_t maxArgs = 0;
  // One letter per argument, the last repeating: 'V' a value (references
  // give their value by intersection), 'R' as given (references stay), 'A'
  // an array (the argument is evaluated as an array formula).
  const char* params = "V";
  FunctionImpl impl = nullptr;  // nullptr: evaluated by the evaluator itself (IF, CHOOSE)
  // Applied element by element when a value argument is an array.
  bool elementwise = false;
  // What the result is: 'V' a value, 'R' a reference (IF, CHOOSE and
  // INDEX may give one), 'A' an array. Decides the token classes written.
  char returns = 'V';

  char Param(size_t i) const;
  bool FixedArgs() const { return minArgs == maxArgs; }
};

// nullptr for a function outside the evaluated set.
const FunctionInfo* FindFunction(uint16_t id);
// The same by name, without regard to case.
const FunctionInfo* FindFunction(QStringView name);
// Every function evaluated, in no particular order.
const std::vector<FunctionInfo>& EvaluatedFunctions();

// Any built-in function of the file format by number or name (upper case);
// empty or nullopt for one it does not have.
QString BuiltInFunctionName(uint16_t id);
std::optional<uint16_t> BuiltInFunctionId(QStringView name);
// How many arguments a function written with tFunc (a fixed count) takes,
// or -1 when the count is not fixed or not known here.
int BuiltInFunctionFixedArgs(uint16_t id);

namespace FunctionIds {
enum : uint16_t {
  kCount = 0, kIf = 1, kSum = 4, kChoose = 100, kSumProduct = 228, kAddIn = 255,
};
}

// The groups of functions, each in its own unit.
namespace Functions {
void AddMath(std::vector<FunctionInfo>& table);
void AddAggregate(std::vector<FunctionInfo>& table);
void AddCriteria(std::vector<FunctionInfo>& table);
void AddText(std::vector<FunctionInfo>& table);
void AddLogic(std::vector<FunctionInfo>& table);
void AddLookup(std::vector<FunctionInfo>& table);
void AddStatistics(std::vector<FunctionInfo>& table);
}  // namespace Functions
