#pragma once
// The criteria of SUMIF and COUNTIF ("5", ">=3", "<>", "a*"), and the
// wildcard matching that they and the exact lookups share.

#include "spreadsheet/formula/FormulaEvaluator.h"
#include "spreadsheet/formula/FormulaValue.h"

#include <QString>

// Whether text matches pattern: "*" any run, "?" one character, "~" takes
// the next character literally; without regard to case; whole text only.
bool WildcardMatch(QStringView pattern, QStringView text);

class CellCriterion {
 public:
  // From the criteria argument: a number, boolean or error matches equal
  // cells; a text may start with =, <>, <, <=, >, >=.
  explicit CellCriterion(const Value& criteria);

  bool Matches(const Value& cell) const;
  // Matches for a cell holding the number x, without making a value of it.
  bool MatchesNumber(double x) const;
  // Whether an empty cell matches (so a caller can count the empty cells
  // of a range without visiting each).
  bool MatchesEmpty() const { return matchesEmpty_; }

 private:
  enum class Op { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual };
  bool Compare(int order) const;

  Op op_ = Op::Equal;
  Value operand_;          // number, text, boolean or error
  bool wildcard_ = false;  // a text operand with * or ?
  bool emptyOnly_ = false;  // "=": only truly empty cells
  bool matchesEmpty_ = false;
};
