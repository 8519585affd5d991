#pragma once
// Results of one function over the elements of one array, each distinct
// element worked out once. A column of answers holds a handful of distinct
// values thousands of times, and a text function such as LEN or SUBSTITUTE
// costs far more per element than looking its result up.
//
// Keys are taken from the array as it is: numbers by their bits, texts by
// their shared storage. Equal keys are equal values; equal values with
// unequal keys (two copies of one text) merely miss. Keys are valid while
// the array lives, so a memo lives for one pass over one array.

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
  struct Key {
    Value::Kind kind = Value::Kind::Missing;  // Missing: the slot is unused
    uint64_t bits = 0;                        // a number's bits, a boolean or error code
    const void* text = nullptr;               // a text's storage
    qsizetype size = 0;                       // and its length
    bool operator==(const Key&) const = default;
  };
  struct Entry {
    Key key;
    Value result;
  };
  static constexpr size_t kSlots = 64;

  static Key KeyOf(const Matrix& m, size_t i);
  static size_t SlotOf(const Key& key);

  std::array<Entry, kSlots> entries_;
  Entry* last_ = nullptr;    // the last found: answers repeat in runs, and the unwritten rows are all empty
  Entry* missed_ = nullptr;  // where Keep puts its result
  Key missedKey_;
};
