#pragma once
// A small seeded random source whose sequence is fixed by its algorithm
// (SplitMix64), so a city comes out byte for byte the same on every platform
// and standard library.
#include <cstdint>

namespace samplegen {

/** Deterministic pseudo-random numbers from a 64-bit seed. */
class Random {
 public:
  /** Starts the sequence at @p seed. */
  explicit Random(std::uint64_t seed) : state_(seed) {}

  /** The next 64 random bits. */
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }

  /** A value in [0, 1), from the top 53 bits. */
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }

  /** A value in [lo, hi). */
  double Range(double lo, double hi) { return lo + (hi - lo) * Unit(); }

  /** An integer in [lo, hi] (inclusive); hi must not be below lo. */
  int Int(int lo, int hi) {
    const std::uint64_t span = static_cast<std::uint64_t>(static_cast<std::int64_t>(hi) - lo + 1);
    return lo + static_cast<int>(Next() % span);
  }

  /** True with probability @p p. */
  bool Chance(double p) { return Unit() < p; }

 private:
  std::uint64_t state_;
};

}  // namespace samplegen
