#include "engine/calibration.h"

#include <algorithm>
#include <cstdlib>

namespace lathmark {
namespace {

// Grey levels of THRESHOLD in one unit of distance.
constexpr std::int64_t kThresholdUnit = 3;
// One unit of BDLINE distance is 10 % of the BDLINE measured from, at least 1: in tenths.
std::int64_t bdLineUnitTenths(int bdLine) {
    return std::max<std::int64_t>(10, std::abs(bdLine));
}

// A distance between settings as an exact fraction, so that equal distances compare equal.
struct Distance {
    std::int64_t numerator = 0;
    std::int64_t denominator = 1;
    bool operator<(const Distance& other) const {
        return numerator * other.denominator < other.numerator * denominator;
    }
    double value() const {
        return static_cast<double>(numerator) / static_cast<double>(denominator);
    }
};

// From a setting with BDLINE `fromBdLine` to one `thresholds` grey levels and `bdLines` BDLINE
// away: the larger of thresholds / 3 and bdLines / (10 % of fromBdLine); or their sum.
Distance distance(int thresholds, int bdLines, int fromBdLine, bool sum = false) {
    const std::int64_t unit = bdLineUnitTenths(fromBdLine);
    const std::int64_t along = std::abs(thresholds) * unit;
    const std::int64_t across = 10 * kThresholdUnit * std::abs(bdLines);
    return {sum ? along + across : std::max(along, across), kThresholdUnit * unit};
}

// How near a setting lies to the current settings: by distance, and among settings as far, by
// the sum of both distances, so that the setting straight across is nearer than one diagonally.
struct Nearness {
    Distance larger;
    Distance sum;
    bool operator<(const Nearness& other) const {
        if (larger < other.larger) return true;
        if (other.larger < larger) return false;
        return sum < other.sum;
    }
};

// For every setting, the nearest BDLINE in its own THRESHOLD row, below and above, whose count
// is under `best`; kNone where there is none.
class NearestFewer {
  public:
    static constexpr int kNone = -1;

    NearestFewer(const RightCounts& counts, int best)
        : columns_(counts.bdLineMax() + 1),
          below_(static_cast<std::size_t>(kThresholds * columns_)),
          above_(below_.size()) {
        for (int threshold = 0; threshold < kThresholds; ++threshold) {
            int last = kNone;
            for (int bdLine = 0; bdLine < columns_; ++bdLine) {
                if (counts.at(threshold, bdLine) < best) last = bdLine;
                below_[index(threshold, bdLine)] = last;
            }
            last = kNone;
            for (int bdLine = columns_ - 1; bdLine >= 0; --bdLine) {
                if (counts.at(threshold, bdLine) < best) last = bdLine;
                above_[index(threshold, bdLine)] = last;
            }
        }
    }

    // BDLINE steps from `bdLine` to the nearest setting of row `threshold` that counts fewer.
    std::optional<int> steps(int threshold, int bdLine) const {
        const int below = below_[index(threshold, bdLine)];
        const int above = above_[index(threshold, bdLine)];
        if (below == kNone && above == kNone) return std::nullopt;
        if (below == kNone) return above - bdLine;
        if (above == kNone) return bdLine - below;
        return std::min(bdLine - below, above - bdLine);
    }

  private:
    std::size_t index(int threshold, int bdLine) const {
        return static_cast<std::size_t>(threshold * columns_ + bdLine);
    }
    int columns_;
    std::vector<int> below_;
    std::vector<int> above_;
};

// The distance from a setting to the nearest one that counts fewer right; none if none does.
// Rows farther away in THRESHOLD than the nearest found so far cannot hold a nearer one.
std::optional<Distance> marginOf(const NearestFewer& fewer, int threshold, int bdLine) {
    std::optional<Distance> margin;
    for (int rows = 0; rows < kThresholds; ++rows) {
        if (margin && !(distance(rows, 0, bdLine) < *margin)) break;
        for (int row : {threshold - rows, threshold + rows}) {
            if (row < 0 || row >= kThresholds) continue;
            if (const std::optional<int> steps = fewer.steps(row, bdLine)) {
                const Distance d = distance(rows, *steps, bdLine);
                if (!margin || d < *margin) margin = d;
            }
            if (rows == 0) break;
        }
    }
    return margin;
}

// Whether margin `a` is wider than `b`; no margin (no setting counts fewer) is the widest.
bool wider(const std::optional<Distance>& a, const std::optional<Distance>& b) {
    if (!a) return b.has_value();
    return b && *b < *a;
}

}  // namespace

RightCounts::RightCounts(int bdLineMax)
    : bdLineMax_(std::max(0, bdLineMax)),
      counts_(static_cast<std::size_t>(kThresholds) * static_cast<std::size_t>(bdLineMax_ + 1), 0) {
}

SettingsChoice chooseSettings(const RightCounts& counts, int currentThreshold, int currentBdLine) {
    return chooseSettings(std::vector<RightCounts>{counts}, currentThreshold, currentBdLine);
}

SettingsChoice chooseSettings(const std::vector<RightCounts>& byStretch, int currentThreshold,
                              int currentBdLine) {
    int best = 0;
    for (const RightCounts& counts : byStretch)
        for (int threshold = 0; threshold < kThresholds; ++threshold)
            for (int bdLine = 0; bdLine <= counts.bdLineMax(); ++bdLine)
                best = std::max(best, counts.at(threshold, bdLine));

    SettingsChoice choice;
    std::optional<Distance> chosenMargin;
    Nearness chosenNearness;
    bool found = false;
    // Wider margin first, then the smaller STRETCH, then the nearer.
    auto better = [&](const std::optional<Distance>& margin, int stretch,
                      const Nearness& nearness) {
        if (!found || wider(margin, chosenMargin)) return true;
        if (wider(chosenMargin, margin)) return false;
        if (stretch != choice.stretch) return stretch < choice.stretch;
        return nearness < chosenNearness;
    };
    for (std::size_t index = 0; index < byStretch.size(); ++index) {
        const RightCounts& counts = byStretch[index];
        const int stretch = static_cast<int>(index) + 1;
        const NearestFewer fewer(counts, best);
        for (int threshold = 0; threshold < kThresholds; ++threshold)
            for (int bdLine = 0; bdLine <= counts.bdLineMax(); ++bdLine) {
                if (counts.at(threshold, bdLine) != best) continue;
                const std::optional<Distance> margin = marginOf(fewer, threshold, bdLine);
                const int thresholds = threshold - currentThreshold;
                const int bdLines = bdLine - currentBdLine;
                const Nearness nearness{distance(thresholds, bdLines, currentBdLine),
                                        distance(thresholds, bdLines, currentBdLine, true)};
                if (!better(margin, stretch, nearness)) continue;
                found = true;
                chosenMargin = margin;
                chosenNearness = nearness;
                choice.threshold = threshold;
                choice.bdLine = bdLine;
                choice.stretch = stretch;
            }
    }

    const RightCounts& counts = byStretch[static_cast<std::size_t>(choice.stretch - 1)];
    choice.right = best;
    if (chosenMargin) choice.margin = chosenMargin->value();
    auto same = [&](int threshold, int bdLine) { return counts.at(threshold, bdLine) == best; };
    choice.thresholdRange = {choice.threshold, choice.threshold};
    while (choice.thresholdRange[0] > 0 && same(choice.thresholdRange[0] - 1, choice.bdLine))
        --choice.thresholdRange[0];
    while (choice.thresholdRange[1] < kMaxThreshold &&
           same(choice.thresholdRange[1] + 1, choice.bdLine))
        ++choice.thresholdRange[1];
    choice.bdLineRange = {choice.bdLine, choice.bdLine};
    while (choice.bdLineRange[0] > 0 && same(choice.threshold, choice.bdLineRange[0] - 1))
        --choice.bdLineRange[0];
    while (choice.bdLineRange[1] < counts.bdLineMax() &&
           same(choice.threshold, choice.bdLineRange[1] + 1))
        ++choice.bdLineRange[1];
    return choice;
}

}  // namespace lathmark
