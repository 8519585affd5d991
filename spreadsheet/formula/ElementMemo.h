#pragma once
// Results of one function over the elements of one array, each distinct
// element worked out once. A column of answers holds a handful of distinct
// values thousands of times, and a text function such as LEN or SUBSTITUTE
// costs far more per element than looking its result up.
//
// Two copies of one text merely miss (see ElementKey). Keys are valid while
// the array lives, so a memo lives for one pass over one array.

#include "spreadsheet/formula/ElementKey.h"
#include "spreadsheet/formula/FormulaValue.h"

#include <array>
#include <cstdint>

class ElementMemo {
 public:
  // The result remembered for element i of m, or nullptr. A miss leaves
  // the slot for Keep.
  const Value* Find(const Matrix& m, size_t i);
  // Remembers the result of the element last missed by Find.
  void Keep(const Value& result);

 private:
  struct Entry {
    ElementKey key;  // Missing while the slot is unused
    Value result;
  };
  static constexpr size_t kSlots = 64;

  std::array<Entry, kSlots> entries_;
  Entry* last_ = nullptr;    // the last found: answers repeat in runs, and the unwritten rows are all empty
  Entry* missed_ = nullptr;  // where Keep puts its result
  ElementKey missedKey_;
};
