#include "spreadsheet/recalc/DependencyIndex.h"

void DependencyIndex::Add(uint32_t target, const Area& area) {
  const uint32_t entry = static_cast<uint32_t>(entries_.size());
  entries_.push_back({area, target});
  const uint32_t rowBlocks = area.rowLast / kBlockRows - area.rowFirst / kBlockRows + 1;
  const uint32_t colBlocks = area.colLast / kBlockCols - area.colFirst / kBlockCols + 1u;
  for (uint32_t sheet = area.sheetFirst; sheet <= area.sheetLast && sheet < large_.size(); ++sheet) {
    if (static_cast<uint64_t>(rowBlocks) * colBlocks > kMaxBlocks) {
      large_[sheet].push_back(entry);
      continue;
    }
    for (uint32_t r = area.rowFirst / kBlockRows; r <= area.rowLast / kBlockRows; ++r) {
      for (uint32_t c = area.colFirst / kBlockCols; c <= area.colLast / kBlockCols; ++c) {
        buckets_[Key(static_cast<uint16_t>(sheet), r, c)].push_back(entry);
      }
    }
  }
}
