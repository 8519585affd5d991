#include "tools/SheetSource.h"

#include <stdexcept>

namespace machine_sim {

SheetSource SheetSource::FromList(std::vector<Sheet> sheets) {
  if (sheets.empty()) throw std::invalid_argument("the sheet list is empty");
  SheetSource source;
  source.listed_ = std::move(sheets);
  return source;
}

SheetSource SheetSource::Random(std::uint32_t seed, int columns) {
  if (columns <= 0) throw std::invalid_argument("a sheet needs at least one column");
  SheetSource source;
  source.randomColumns_ = columns;
  source.rng_.seed(seed);
  return source;
}

Sheet SheetSource::Next() {
  if (listed_.empty()) return RandomSheet();
  const Sheet& sheet = listed_[nextListed_];
  nextListed_ = (nextListed_ + 1) % listed_.size();
  return sheet;
}

std::optional<std::size_t> SheetSource::ListedCount() const {
  if (listed_.empty()) return std::nullopt;
  return listed_.size();
}

Sheet SheetSource::RandomSheet() {
  Sheet sheet;
  sheet.columns.reserve(static_cast<std::size_t>(randomColumns_));
  for (int i = 0; i < randomColumns_; ++i) sheet.columns.push_back(RandomColumn());
  return sheet;
}

// Roughly like a real class: most answers have one mark, some are left blank,
// a few have two or more (which multiple-bubble mode must report in full).
ColumnMarks SheetSource::RandomColumn() {
  std::uniform_int_distribution<int> percent(0, 99);
  std::uniform_int_distribution<int> bubble(1, kBubbleCount);
  const int roll = percent(rng_);
  if (roll < 15) return kNoMarks;
  ColumnMarks marks = BubbleBit(bubble(rng_));
  if (roll >= 80) marks |= BubbleBit(bubble(rng_));
  if (roll >= 95) marks |= BubbleBit(bubble(rng_));
  return marks;
}

}  // namespace machine_sim
