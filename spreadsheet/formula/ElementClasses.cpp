#include "spreadsheet/formula/ElementClasses.h"

#include "spreadsheet/formula/ElementKey.h"

#include <bit>

bool ClassifyElements(const Matrix& m, size_t maxClasses, ElementClasses& out) {
  // Open addressing, at most half full: a class is found in a probe or two.
  const size_t tableSize = std::bit_ceil(2 * maxClasses + 2);
  std::vector<ElementKey> keys(tableSize);
  std::vector<uint32_t> classes(tableSize, UINT32_MAX);
  out.classOf.resize(m.Size());
  out.first.clear();
  out.count.clear();
  ElementKey lastKey;
  uint32_t lastClass = UINT32_MAX;
  for (size_t i = 0; i < m.Size(); ++i) {
    const ElementKey key = ElementKeyOf(m, i);
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
