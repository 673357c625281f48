#pragma once
// A table with one cell per pair of settings, THRESHOLD 0 to 245 by BDLINE 0 to a highest BDLINE:
// the settings landscape, the photographs each setting counts right, and the searches over them.

#include <algorithm>
#include <cstddef>
#include <vector>

#include "engine/settings.h"

namespace lathmark {

// THRESHOLD values a search covers: 0 to the highest a count can use.
constexpr int kThresholds = Settings::kMaxThreshold + 1;

template <typename T>
class SettingsGrid {
  public:
    SettingsGrid() = default;
    explicit SettingsGrid(int bdLineMax, const T& initial = T{})
        : bdLineMax_(std::max(0, bdLineMax)),
          cells_(static_cast<std::size_t>(kThresholds) * columns(), initial) {}

    int bdLineMax() const { return bdLineMax_; }

    typename std::vector<T>::reference at(int threshold, int bdLine) {
        return cells_[index(threshold, bdLine)];
    }
    typename std::vector<T>::const_reference at(int threshold, int bdLine) const {
        return cells_[index(threshold, bdLine)];
    }

  private:
    std::size_t columns() const { return static_cast<std::size_t>(bdLineMax_) + 1; }
    std::size_t index(int threshold, int bdLine) const {
        return static_cast<std::size_t>(threshold) * columns() + static_cast<std::size_t>(bdLine);
    }

    int bdLineMax_ = 0;
    std::vector<T> cells_;
};

}  // namespace lathmark
