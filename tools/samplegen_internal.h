#pragma once
// What the two halves of the sample generator share: the random numbers, which must come out the
// same in the planning and the drawing of a photograph, and the way a bad description is refused.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>

namespace lathmark::samplegen::detail {

inline constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Random numbers with hand-written distributions on top of std::mt19937, whose raw output the
// standard fixes, so that a seed gives the same photograph with every standard library.
class Random {
  public:
    explicit Random(std::uint32_t seed) : engine_(seed) {}

    // Uniform in the open interval (0, 1).
    double unit() { return (static_cast<double>(engine_()) + 0.5) / 4294967296.0; }

    double uniform(double low, double high) { return low + (high - low) * unit(); }

    // Uniform integer in [low, high]; low when high < low.
    int integer(int low, int high) {
        if (high <= low) return low;
        const double span = static_cast<double>(high) - static_cast<double>(low) + 1.0;
        const int step = static_cast<int>(std::floor(unit() * span));
        return std::min(high, low + step);
    }

    // Standard normal deviate by the Box-Muller transform; the second value of each pair is kept
    // for the next call.
    double normal() {
        if (hasSpare_) {
            hasSpare_ = false;
            return spare_;
        }
        const double radius = std::sqrt(-2.0 * std::log(unit()));
        const double angle = kTwoPi * unit();
        spare_ = radius * std::sin(angle);
        hasSpare_ = true;
        return radius * std::cos(angle);
    }

  private:
    std::mt19937 engine_;
    double spare_ = 0.0;
    bool hasSpare_ = false;
};

// Derives independent seeds for the separate random streams of one photograph.
inline std::uint32_t streamSeed(std::uint32_t seed, std::uint32_t stream) {
    std::uint32_t z = seed + 0x9E3779B9u * (stream + 1u);
    z = (z ^ (z >> 16)) * 0x85EBCA6Bu;
    z = (z ^ (z >> 13)) * 0xC2B2AE35u;
    return z ^ (z >> 16);
}

[[noreturn]] inline void refuse(const std::string& what, const std::string& problem) {
    throw std::invalid_argument(what + ": " + problem);
}

}  // namespace lathmark::samplegen::detail
