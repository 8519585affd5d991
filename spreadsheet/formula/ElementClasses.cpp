#include "spreadsheet/formula/ElementClasses.h"

#include <bit>

namespace {

struct Key {
  Value::Kind kind = Value::Kind::Empty;
  uint64_t bits = 0;           // a number's bits, a boolean or error code
  const void* text = nullptr;  // a text's storage
  qsizetype size = 0;          // and its length
  bool operator==(const Key&) const = default;
};

Key KeyOf(const Matrix& m, size_t i) {
  Key key;
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

uint64_t HashOf(const Key& key) {
  // Whole numbers differ in their high bits alone: every bit is mixed in.
  uint64_t h = key.bits ^ reinterpret_cast<uintptr_t>(key.text) ^ (static_cast<uint64_t>(key.kind) << 59);
  h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ULL;
  h = (h ^ (h >> 27)) * 0x94d049bb133111ebULL;
  return h ^ (h >> 31);
}

}  // namespace

bool ClassifyElements(const Matrix& m, size_t maxClasses, ElementClasses& out) {
  // Open addressing, at most half full: a class is found in a probe or two.
  const size_t tableSize = std::bit_ceil(2 * maxClasses + 2);
  std::vector<Key> keys(tableSize);
  std::vector<uint32_t> classes(tableSize, UINT32_MAX);
  out.classOf.resize(m.Size());
  out.first.clear();
  out.count.clear();
  Key lastKey;
  uint32_t lastClass = UINT32_MAX;
  for (size_t i = 0; i < m.Size(); ++i) {
    const Key key = KeyOf(m, i);
    if (lastClass == UINT32_MAX || !(key == lastKey)) {
      size_t slot = HashOf(key) & (tableSize - 1);
      while (classes[slot] != UINT32_MAX && !(keys[slot] == key)) slot = (slot + 1) & (tableSize - 1);
      if (classes[slot] == UINT32_MAX) {
        if (out.first.size() == maxClasses) return false;
        keys[slot] = key;
        classes[slot] = static_cast<uint32_t>(out.first.size());
        out.first.push_back(i);
        out.count.push_back(0);
      }
      lastKey = key;
      lastClass = classes[slot];
    }
    out.classOf[i] = lastClass;
    ++out.count[lastClass];
  }
  return true;
}
