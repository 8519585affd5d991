#include "spreadsheet/recalc/DependencyIndex.h"

#include <algorithm>

bool DependencyIndex::Large(const Area& area) {
  const uint32_t rowBlocks = area.rowLast / kBlockRows - area.rowFirst / kBlockRows + 1;
  const uint32_t colBlocks = area.colLast / kBlockCols - area.colFirst / kBlockCols + 1u;
  return static_cast<uint64_t>(rowBlocks) * colBlocks > kMaxBlocks;
}

template <typename File>
void DependencyIndex::ForEachList(const Area& area, File file) {
  const bool large = Large(area);
  for (uint32_t sheet = area.sheetFirst; sheet <= area.sheetLast && sheet < large_.size(); ++sheet) {
    if (large) {
      file(large_[sheet]);
      continue;
    }
    for (uint32_t r = area.rowFirst / kBlockRows; r <= area.rowLast / kBlockRows; ++r) {
      for (uint32_t c = area.colFirst / kBlockCols; c <= area.colLast / kBlockCols; ++c) {
        file(buckets_[Key(static_cast<uint16_t>(sheet), r, c)]);
      }
    }
  }
}

void DependencyIndex::Add(uint32_t target, const Area& area) {
  uint32_t entry = 0;
  if (!freeEntries_.empty()) {
    entry = freeEntries_.back();
    freeEntries_.pop_back();
    entries_[entry] = {area, target};
  } else {
    entry = static_cast<uint32_t>(entries_.size());
    entries_.push_back({area, target});
  }
  entriesOf_[target].push_back(entry);
  ForEachList(area, [entry](std::vector<uint32_t>& list) { list.push_back(entry); });
}

void DependencyIndex::Remove(uint32_t target) {
  const auto found = entriesOf_.find(target);
  if (found == entriesOf_.end()) return;
  for (uint32_t entry : found->second) {
    ForEachList(entries_[entry].area, [entry](std::vector<uint32_t>& list) {
      const auto at = std::find(list.begin(), list.end(), entry);
      if (at == list.end()) return;
      *at = list.back();
      list.pop_back();
    });
    freeEntries_.push_back(entry);
  }
  entriesOf_.erase(found);
}
