#pragma once
// How the simulated machine puts its bytes on the line: whole, or split into
// random pieces with small gaps between them, and with occasional noise after
// a record, as a long or poorly screened cable delivers them.
//
// Noise is made so that a receiver can always tell it from a reply or a record,
// whichever piece of it arrives on its own: it never contains "K", ".", "S",
// "E" or "~" (nor any other byte the machine's replies begin with, nor a line
// end), and the next message follows only after a quiet gap.

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace machine_sim {

struct ShapeSettings {
  int maxPieces = 1;                          // 1: every message in one write
  std::chrono::milliseconds maxGap{15};       // between pieces: 1 ms up to this
  int noisePercent = 0;                       // chance of noise after a record
  std::chrono::milliseconds noiseQuiet{60};   // silence after noise
};

// One write on the line, after a gap since the previous write ended.
struct Piece {
  std::string bytes;
  std::chrono::milliseconds gapBefore{0};
  std::chrono::milliseconds quietAfter{0};
};

// The bytes that noise is drawn from.
std::string_view NoiseAlphabet();
bool IsDistinguishableNoise(std::string_view bytes);

class LineShaper {
 public:
  static constexpr std::size_t kMaxNoiseLength = 12;

  // Throws std::invalid_argument for settings out of range.
  explicit LineShaper(ShapeSettings settings = {}, std::uint32_t seed = 1);

  // The message cut at random points into 1..maxPieces non-empty pieces; the
  // first piece has no gap, the others 1..maxGap ms.
  std::vector<Piece> Split(const std::string& message);

  // Draws whether a record is followed by noise.
  bool NoiseDue();

  // A burst of 1..12 noise bytes after a short gap, then a quiet gap.
  Piece MakeNoise();

  const ShapeSettings& Settings() const { return settings_; }

 private:
  std::chrono::milliseconds RandomGap();

  ShapeSettings settings_;
  std::mt19937 rng_;
};

}  // namespace machine_sim
