#include "spreadsheet/recalc/ColumnCopy.h"

#include <algorithm>
#include <tuple>

void MergeSummary(AreaSummary& into, const AreaSummary& part) {
  if (part.numbers > 0) {
    into.min = into.numbers == 0 ? part.min : std::min(into.min, part.min);
    into.max = into.numbers == 0 ? part.max : std::max(into.max, part.max);
  }
  into.sum += part.sum;
  into.numbers += part.numbers;
  into.filled += part.filled;
  // The first error, row by row and then by column.
  if (part.hasError && (!into.hasError || std::tie(part.errorRow, part.errorCol) < std::tie(into.errorRow, into.errorCol))) {
    into.hasError = true;
    into.error = part.error;
    into.errorRow = part.errorRow;
    into.errorCol = part.errorCol;
  }
}

void ColumnCopy::Put(uint32_t row, const CopiedCell& cell) {
  ++version_;
  if (row >= cells_.size()) {
    if (cell.kind == CopiedCell::Empty) return;
    cells_.resize(static_cast<size_t>(row) + 1);
  }
  cells_[row] = cell;
  if (row / kBlockRows < known_.size()) known_[row / kBlockRows] = false;
}

void ColumnCopy::Scan(uint32_t first, uint32_t last, uint16_t col, AreaSummary& summary) const {
  AreaSummary part;
  for (uint32_t row = first; row <= last; ++row) {
    const CopiedCell& cell = cells_[row];
    switch (cell.kind) {
      case CopiedCell::Empty: continue;
      case CopiedCell::Number:
        part.min = part.numbers == 0 ? cell.number : std::min(part.min, cell.number);
        part.max = part.numbers == 0 ? cell.number : std::max(part.max, cell.number);
        part.sum += cell.number;
        ++part.numbers;
        break;
      case CopiedCell::Error:
        if (!part.hasError) {
          part.hasError = true;
          part.error = static_cast<ErrorCode>(cell.code);
          part.errorRow = row;
          part.errorCol = col;
        }
        break;
      default: break;
    }
    ++part.filled;
  }
  MergeSummary(summary, part);
}

void ColumnCopy::Summarize(uint32_t first, uint32_t last, uint16_t col, AreaSummary& summary) const {
  const size_t blocks = (cells_.size() + kBlockRows - 1) / kBlockRows;
  if (known_.size() != blocks) {
    known_.assign(blocks, false);
    blocks_.assign(blocks, AreaSummary{});
  }
  for (uint32_t row = first; row <= last;) {
    const uint32_t block = row / kBlockRows;
    const uint32_t blockEnd = std::min<uint32_t>((block + 1) * kBlockRows - 1, static_cast<uint32_t>(cells_.size() - 1));
    const uint32_t end = std::min(last, blockEnd);
    if (row == block * kBlockRows && end == blockEnd) {
      if (!known_[block]) {
        blocks_[block] = AreaSummary{};
        Scan(row, end, col, blocks_[block]);
        known_[block] = true;
      }
      MergeSummary(summary, blocks_[block]);
    } else {
      Scan(row, end, col, summary);
    }
    row = end + 1;
  }
}
