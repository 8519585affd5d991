#pragma once
// Where the simulated operator's sheets come from: a list written down by a
// person (dropped in order, starting over at the end) or an endless stream of
// random ones that a seed makes reproducible.

#include "tools/SheetPattern.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace machine_sim {

class SheetSource {
 public:
  static constexpr int kDefaultColumns = 66;

  // Throws std::invalid_argument for an empty list.
  static SheetSource FromList(std::vector<Sheet> sheets);
  // Throws std::invalid_argument unless columns > 0.
  static SheetSource Random(std::uint32_t seed, int columns = kDefaultColumns);

  Sheet Next();

  // The length of the list; nothing for random sheets, which never run out.
  std::optional<std::size_t> ListedCount() const;

 private:
  SheetSource() = default;
  Sheet RandomSheet();
  ColumnMarks RandomColumn();

  std::vector<Sheet> listed_;
  std::size_t nextListed_ = 0;
  int randomColumns_ = 0;
  std::mt19937 rng_;
};

}  // namespace machine_sim
