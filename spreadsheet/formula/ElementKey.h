#pragma once
// What one element of an array holds as stored, to tell equal elements apart
// cheaply: numbers by their bits, texts by their shared storage. Equal keys
// are equal values; two copies of one text merely give unequal keys. A key
// is valid while its array lives.

#include "spreadsheet/formula/FormulaValue.h"

#include <cstdint>

struct ElementKey {
  Value::Kind kind = Value::Kind::Missing;  // Missing: no element (an unused slot)
  uint64_t bits = 0;                        // a number's bits, a boolean or error code
  const void* text = nullptr;               // a text's storage
  qsizetype size = 0;                       // and its length
  bool operator==(const ElementKey&) const = default;
};

ElementKey ElementKeyOf(const Matrix& m, size_t i);
uint64_t HashOf(const ElementKey& key);
