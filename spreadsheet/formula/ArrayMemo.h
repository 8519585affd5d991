#pragma once
// Arrays that the formulas of one recalculation work out alike, kept for
// its length. A class's statistics read the same columns over and over:
// every question's figures compare the scores with "" and with the group
// cuts, and several figures of one question compare its column with the
// key. Each such array is made once; the next formula takes it as it is.
//
// Kept are an area's values, as of the version the reader gives for it (so
// a cell changed meanwhile means reading it again); an operator applied to a
// kept area and one value (a number, a text, a single cell's value), such as
// a column compared with its key; and an operator applied to two of those,
// such as the answers that are right and scored. Arrays made from those are
// seldom made twice and are not kept.
// Kept arrays hold their operands, so no array made later can take an
// address a key still names.

#include "spreadsheet/formula/ElementClasses.h"
#include "spreadsheet/formula/FormulaProgram.h"

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>

class ArrayMemo {
 public:
  using Array = std::shared_ptr<const Matrix>;

  // The area's values kept at this version, or nullptr.
  Array FindArea(const Area& area, uint64_t version) const;
  void KeepArea(const Area& area, uint64_t version, Array values);

  // Whether op on a and b is kept here: one a kept area's values and the
  // other a single value, or both kept results of that kind.
  bool Keeps(const Array& a, const Array& b) const;
  // The result kept for op on a and b, or nullptr.
  Array FindResult(Operator op, const Array& a, const Array& b) const;
  void KeepResult(Operator op, const Array& a, const Array& b, Array result);

  // The classes of a kept area's values (nullptr: too many), or nothing
  // when they were not kept; KeepClasses keeps them for kept areas only.
  using Classes = std::shared_ptr<const ElementClasses>;
  const Classes* FindClasses(const Array& values) const;
  void KeepClasses(const Array& values, Classes classes);

  void Clear();

 private:
  struct AreaKey {
    Area area;
    bool operator==(const AreaKey&) const = default;
  };
  struct AreaHash {
    size_t operator()(const AreaKey& key) const;
  };
  struct AreaEntry {
    uint64_t version = 0;
    Array values;
  };
  // An operand: a kept area by its address, a single value by what it holds.
  struct Operand {
    const Matrix* array = nullptr;
    Value::Kind kind = Value::Kind::Empty;
    uint64_t bits = 0;
    QString text;
    bool operator==(const Operand& other) const;
  };
  struct ResultKey {
    Operator op = Operator::Add;
    Operand left;
    Operand right;
    bool operator==(const ResultKey&) const = default;
  };
  struct ResultHash {
    size_t operator()(const ResultKey& key) const;
  };
  struct ResultEntry {
    Array left;  // held so that their addresses stay theirs
    Array right;
    Array result;
  };

  static Operand OperandOf(const Array& m);
  static size_t HashOf(const Operand& operand);

  std::unordered_map<AreaKey, AreaEntry, AreaHash> areas_;
  std::unordered_set<const Matrix*> kept_;     // the values of areas_, and those replaced
  std::unordered_set<const Matrix*> combined_;  // results of an area and a single value
  std::unordered_map<ResultKey, ResultEntry, ResultHash> results_;
  std::vector<Array> replaced_;  // areas read again: results may still name them
  std::unordered_map<const Matrix*, Classes> classes_;
};
