#pragma once
// What the parts of the sample generator share: the random numbers, which must come out the same in
// the planning and the drawing of a photograph, the smooth wobbles and tints the drawing is made
// of, and the way a bad description is refused.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

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

// Colour casts, scaled so that the library's luminance (0.2126 r + 0.7152 g + 0.0722 b) of a
// tinted grey level L is L again: the counter then sees exactly the grey levels drawn.
struct Tint {
    double r, g, b;
};

inline Tint makeTint(double r, double g, double b) {
    const double luma = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    return {r / luma, g / luma, b / luma};
}

// Sum of sines with random wavelengths and phases: a smooth, aperiodic-looking wobble in -1..1.
struct Wobble {
    double wavelength[3] = {1, 1, 1};
    double phase[3] = {0, 0, 0};

    Wobble(Random& rnd, double shortest, double longest) {
        for (int k = 0; k < 3; ++k) {
            wavelength[k] = rnd.uniform(shortest, longest);
            phase[k] = rnd.uniform(0.0, kTwoPi);
        }
    }
    double at(double t) const {
        return 0.5 * std::sin(kTwoPi * t / wavelength[0] + phase[0]) +
               0.3 * std::sin(kTwoPi * t / wavelength[1] + phase[1]) +
               0.2 * std::sin(kTwoPi * t / wavelength[2] + phase[2]);
    }
};

// A function of one variable sampled at the integers first to last, read back with linear
// interpolation: the sines of a large photograph are then computed once per column, not once per
// pixel.
class Sampled {
  public:
    Sampled(int first, int last, const auto& function) : first_(first) {
        values_.reserve(static_cast<std::size_t>(last - first + 1));
        for (int t = first; t <= last; ++t) values_.push_back(function(static_cast<double>(t)));
    }
    double at(double t) const {
        const double position =
            std::clamp(t - first_, 0.0, static_cast<double>(values_.size() - 1));
        const auto index = static_cast<std::size_t>(position);
        if (index + 1 >= values_.size()) return values_.back();
        const double fraction = position - static_cast<double>(index);
        return values_[index] + fraction * (values_[index + 1] - values_[index]);
    }

  private:
    int first_;
    std::vector<double> values_;
};

// Rounds to the nearest level, clipping to 0 to 255 as a camera's sensor clips.
inline std::uint8_t toByte(double value) {
    if (!(value > 0.0)) return 0;
    if (value >= 255.0) return 255;
    return static_cast<std::uint8_t>(value + 0.5);
}

[[noreturn]] inline void refuse(const std::string& what, const std::string& problem) {
    throw std::invalid_argument(what + ": " + problem);
}

}  // namespace lathmark::samplegen::detail
