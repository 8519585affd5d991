#pragma once
// Which formulas read which cells: the areas formulas read, found by cell. Small areas are filed under the blocks of cells they cover, so
// a change looks only at the formulas near it; areas over many blocks
// (whole columns and rows) sit in one list per sheet that every change of
// that sheet looks through.

#include "spreadsheet/formula/FormulaValue.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

class DependencyIndex {
 public:
  explicit DependencyIndex(int sheetCount) : large_(static_cast<size_t>(sheetCount)) {}

  // What target (a number the owner gives meaning to) reads the cells of area.
  void Add(uint32_t target, const Area& area);
  // Every area target reads is forgotten (a formula written over).
  void Remove(uint32_t target);

  // Calls visit(target) for every target that reads the cell; a target
  // may come more than once.
  template <typename Visit>
  void ForEachReader(uint16_t sheet, uint32_t row, uint16_t col, Visit visit) const {
    if (const auto bucket = buckets_.find(Key(sheet, row / kBlockRows, col / kBlockCols)); bucket != buckets_.end()) {
      for (uint32_t entry : bucket->second) {
        if (entries_[entry].area.Contains(sheet, row, col)) visit(entries_[entry].target);
      }
    }
    if (sheet < large_.size()) {
      for (uint32_t entry : large_[sheet]) {
        if (entries_[entry].area.Contains(sheet, row, col)) visit(entries_[entry].target);
      }
    }
  }

 private:
  static constexpr uint32_t kBlockRows = 64;
  static constexpr uint32_t kBlockCols = 16;
  static constexpr uint64_t kMaxBlocks = 16;  // more blocks than this: a large area

  struct Entry {
    Area area;
    uint32_t target;
  };

  static uint64_t Key(uint16_t sheet, uint32_t rowBlock, uint32_t colBlock) {
    return (static_cast<uint64_t>(sheet) << 32) | (static_cast<uint64_t>(rowBlock) << 8) | colBlock;
  }
  static bool Large(const Area& area);
  // Calls file(list) for every list the entry of area is filed in.
  template <typename File>
  void ForEachList(const Area& area, File file);

  std::vector<Entry> entries_;
  std::vector<uint32_t> freeEntries_;  // of removed targets, to be used again
  std::unordered_map<uint64_t, std::vector<uint32_t>> buckets_;
  std::vector<std::vector<uint32_t>> large_;  // by sheet
  std::unordered_map<uint32_t, std::vector<uint32_t>> entriesOf_;  // by target
};
