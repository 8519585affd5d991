#include "tools/LineShaper.h"

#include <algorithm>
#include <stdexcept>

namespace machine_sim {

namespace {

// Leaves out K . S E ~, the machine's other replies (A-G, T, Y, a-g, t, {, @)
// and line ends, so no piece of noise can pass for anything the machine says.
constexpr std::string_view kNoise = "0123456789hijmnopqruvwxz#%&*+-=/:;<>?!";

}  // namespace

std::string_view NoiseAlphabet() { return kNoise; }

bool IsDistinguishableNoise(std::string_view bytes) {
  return !bytes.empty() &&
         std::all_of(bytes.begin(), bytes.end(), [](char c) { return kNoise.find(c) != std::string_view::npos; });
}

LineShaper::LineShaper(ShapeSettings settings, std::uint32_t seed) : settings_(settings), rng_(seed) {
  if (settings_.maxPieces < 1) throw std::invalid_argument("a message needs at least one piece");
  if (settings_.maxGap.count() < 1) throw std::invalid_argument("the gap between pieces must be at least 1 ms");
  if (settings_.noisePercent < 0 || settings_.noisePercent > 100)
    throw std::invalid_argument("the noise rate is a percentage");
  if (settings_.noiseQuiet.count() < 0) throw std::invalid_argument("the quiet gap cannot be negative");
}

std::vector<Piece> LineShaper::Split(const std::string& message) {
  const int most = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(settings_.maxPieces), message.size()));
  if (most <= 1) return {Piece{message}};
  std::uniform_int_distribution<int> pieceCount(1, most);
  const int pieces = pieceCount(rng_);
  // Distinct cut points strictly inside the message.
  std::vector<std::size_t> cuts(message.size() - 1);
  for (std::size_t i = 0; i < cuts.size(); ++i) cuts[i] = i + 1;
  std::shuffle(cuts.begin(), cuts.end(), rng_);
  cuts.resize(static_cast<std::size_t>(pieces - 1));
  std::sort(cuts.begin(), cuts.end());
  cuts.push_back(message.size());

  std::vector<Piece> out;
  std::size_t start = 0;
  for (std::size_t cut : cuts) {
    Piece piece{message.substr(start, cut - start)};
    if (start > 0) piece.gapBefore = RandomGap();
    out.push_back(std::move(piece));
    start = cut;
  }
  return out;
}

bool LineShaper::NoiseDue() {
  if (settings_.noisePercent == 0) return false;
  std::uniform_int_distribution<int> percent(0, 99);
  return percent(rng_) < settings_.noisePercent;
}

Piece LineShaper::MakeNoise() {
  std::uniform_int_distribution<std::size_t> length(1, kMaxNoiseLength);
  std::uniform_int_distribution<std::size_t> pick(0, kNoise.size() - 1);
  Piece noise;
  for (std::size_t n = length(rng_); n > 0; --n) noise.bytes += kNoise[pick(rng_)];
  noise.gapBefore = RandomGap();
  noise.quietAfter = settings_.noiseQuiet;
  return noise;
}

std::chrono::milliseconds LineShaper::RandomGap() {
  std::uniform_int_distribution<long> gap(1, static_cast<long>(settings_.maxGap.count()));
  return std::chrono::milliseconds(gap(rng_));
}

}  // namespace machine_sim
