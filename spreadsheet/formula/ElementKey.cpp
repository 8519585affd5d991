#include "spreadsheet/formula/ElementKey.h"

#include <bit>

ElementKey ElementKeyOf(const Matrix& m, size_t i) {
  ElementKey key;
  key.kind = m.KindAt(i);
  switch (key.kind) {
    case Value::Kind::Number: key.bits = std::bit_cast<uint64_t>(m.NumberAt(i)); break;
    case Value::Kind::Boolean: key.bits = m.BooleanAt(i) ? 1 : 0; break;
    case Value::Kind::Error: key.bits = static_cast<uint64_t>(m.ErrorAt(i)); break;
    case Value::Kind::Text:
      key.text = m.TextAt(i).constData();
      key.size = m.TextAt(i).size();
      break;
    default: key.kind = Value::Kind::Empty; break;
  }
  return key;
}

uint64_t HashOf(const ElementKey& key) {
  // Whole numbers differ in their high bits alone: every bit is mixed in.
  uint64_t h = key.bits ^ reinterpret_cast<uintptr_t>(key.text) ^ (static_cast<uint64_t>(key.kind) << 59);
  h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ULL;
  h = (h ^ (h >> 27)) * 0x94d049bb133111ebULL;
  return h ^ (h >> 31);
}
