#include "engine/calibration.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
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

// To a setting `thresholds` grey levels and `bdLines` BDLINE away, where a unit of BDLINE is
// `unit` tenths of BDLINE: the larger of thresholds / 3 and bdLines / unit; or their sum.
Distance distanceIn(int thresholds, int bdLines, std::int64_t unit, bool sum = false) {
    const std::int64_t along = std::abs(thresholds) * unit;
    const std::int64_t across = 10 * kThresholdUnit * std::abs(bdLines);
    return {sum ? along + across : std::max(along, across), kThresholdUnit * unit};
}

// The same from a setting with BDLINE `fromBdLine`, a unit of BDLINE being 10 % of it.
Distance distance(int thresholds, int bdLines, int fromBdLine, bool sum = false) {
    return distanceIn(thresholds, bdLines, bdLineUnitTenths(fromBdLine), sum);
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

    // `endIsEdge`: a setting just past the highest BDLINE counts fewer.
    NearestFewer(const RightCounts& counts, int best, bool endIsEdge)
        : below_(counts.bdLineMax(), kNone), above_(counts.bdLineMax(), kNone) {
        const int last = counts.bdLineMax();
        for (int threshold = 0; threshold < kThresholds; ++threshold) {
            int fewer = kNone;
            for (int bdLine = 0; bdLine <= last; ++bdLine) {
                if (counts.at(threshold, bdLine) < best) fewer = bdLine;
                below_.at(threshold, bdLine) = fewer;
            }
            fewer = endIsEdge ? last + 1 : kNone;
            for (int bdLine = last; bdLine >= 0; --bdLine) {
                if (counts.at(threshold, bdLine) < best) fewer = bdLine;
                above_.at(threshold, bdLine) = fewer;
            }
        }
    }

    // BDLINE steps from `bdLine` to the nearest setting of row `threshold` that counts fewer.
    std::optional<int> steps(int threshold, int bdLine) const {
        const int below = below_.at(threshold, bdLine);
        const int above = above_.at(threshold, bdLine);
        if (below == kNone && above == kNone) return std::nullopt;
        if (below == kNone) return above - bdLine;
        if (above == kNone) return bdLine - below;
        return std::min(bdLine - below, above - bdLine);
    }

  private:
    SettingsGrid<int> below_;
    SettingsGrid<int> above_;
};

bool anyFewer(const RightCounts& counts, int best) {
    for (int threshold = 0; threshold < kThresholds; ++threshold)
        for (int bdLine = 0; bdLine <= counts.bdLineMax(); ++bdLine)
            if (counts.at(threshold, bdLine) < best) return true;
    return false;
}

// Each setting's distance to the nearest one that counts fewer right (none if none does), for the
// settings that count `best` right. Along one BDLINE, a setting's distance to the fewer setting
// nearest in row t' is the larger of its THRESHOLD and its BDLINE distance, and the unit of both
// is fixed by the setting's own BDLINE; so for a whole column the distances are the smallest
// over t' of max(a |t - t'|, g(t')), where g(t') is row t's BDLINE distance. Searching the
// radius at which a |t - t'| overtakes the smallest g within it takes a few range minimums per
// setting instead of a walk over every row.
class Margins {
  public:
    // The end of the BDLINE searched is an edge only where some setting counts fewer right: where
    // all count alike, nothing tells one setting from another.
    Margins(const RightCounts& counts, int best, const MarginRule& rule)
        : fewer_(counts, best, rule.searchEndIsEdge && anyFewer(counts, best)),
          best_(best),
          unit_(rule.unit) {}

    // The margin of every setting of column `bdLine` that counts `best` right, in
    // margins[threshold]; the others are left alone.
    void column(const RightCounts& counts, int bdLine,
                std::vector<std::optional<Distance>>& margins) {
        constexpr std::int64_t kNone = INT64_MAX;
        // The distances' common denominator along this column, and their numerators.
        const std::int64_t tenths = unit_ ? unit_(bdLine, counts.bdLineMax()) : 10;
        const Distance unit = distanceIn(1, 0, tenths);
        const std::int64_t along = unit.numerator;
        for (int row = 0; row < kThresholds; ++row) {
            const std::optional<int> steps = fewer_.steps(row, bdLine);
            minimum_[0][static_cast<std::size_t>(row)] =
                steps ? distanceIn(0, *steps, tenths).numerator : kNone;
        }
        for (std::size_t level = 1, span = 1; level < kLevels; ++level, span *= 2)
            for (std::size_t row = 0; row + 2 * span <= kThresholds; ++row)
                minimum_[level][row] =
                    std::min(minimum_[level - 1][row], minimum_[level - 1][row + span]);
        auto within = [&](int threshold, int radius) {  // smallest g within the radius
            const auto low = static_cast<std::size_t>(std::max(0, threshold - radius));
            const auto high =
                static_cast<std::size_t>(std::min(kThresholds - 1, threshold + radius));
            const auto level = static_cast<std::size_t>(std::bit_width(high - low + 1) - 1);
            return std::min(minimum_[level][low],
                            minimum_[level][high + 1 - (std::size_t{1} << level)]);
        };
        for (int threshold = 0; threshold < kThresholds; ++threshold) {
            if (counts.at(threshold, bdLine) != best_) continue;
            std::optional<Distance>& margin = margins[static_cast<std::size_t>(threshold)];
            if (within(threshold, kThresholds) == kNone) {
                margin.reset();
                continue;
            }
            // The smallest radius at which the THRESHOLD distance reaches the nearest g within.
            int low = 0, high = kThresholds;
            while (low < high) {
                const int radius = (low + high) / 2;
                if (along * radius >= within(threshold, radius))
                    high = radius;
                else
                    low = radius + 1;
            }
            std::int64_t numerator = along * low;
            if (low > 0) numerator = std::min(numerator, within(threshold, low - 1));
            margin = Distance{numerator, unit.denominator};
        }
    }

  private:
    static constexpr std::size_t kLevels = 8;  // 2^8 > 246 rows
    NearestFewer fewer_;
    int best_;
    MarginRule::Unit unit_;
    std::array<std::array<std::int64_t, kThresholds>, kLevels> minimum_{};
};

// Whether margin `a` is wider than `b`; no margin (no setting counts fewer) is the widest.
bool wider(const std::optional<Distance>& a, const std::optional<Distance>& b) {
    if (!a) return b.has_value();
    return b && *b < *a;
}

}  // namespace

std::int64_t tenthOfBdLineAtLeastHundredthOfWidth(int bdLine, int bdLineMax) {
    return std::max<std::int64_t>(bdLineUnitTenths(bdLine), bdLineMax / 10);
}

bool nearerCurrent(const Settings& a, const Settings& b, const Settings& current) {
    auto nearness = [&](const Settings& s) {
        const int thresholds = s.threshold - current.threshold;
        const int bdLines = s.bdLine - current.bdLine;
        return Nearness{distance(thresholds, bdLines, current.bdLine),
                        distance(thresholds, bdLines, current.bdLine, true)};
    };
    return nearness(a) < nearness(b);
}

bool betterChoice(const SettingsChoice& a, int aWidth, const SettingsChoice& b, int bWidth,
                  const Settings& current) {
    if (a.right != b.right) return a.right > b.right;
    // No margin (no setting counts fewer right) is the widest.
    if (a.margin != b.margin) return !a.margin || (b.margin && *a.margin > *b.margin);
    if (aWidth != bWidth) return aWidth > bWidth;
    if (a.settings.stretch != b.settings.stretch) return a.settings.stretch < b.settings.stretch;
    return nearerCurrent(a.settings, b.settings, current);
}

namespace {

// Whether count `a` lies nearer `boards` than count `b`; of two as near, the smaller.
bool nearer(int a, int b, int boards) {
    const int da = std::abs(a - boards);
    const int db = std::abs(b - boards);
    return da != db ? da < db : a < b;
}

}  // namespace

int nearestCount(const PhotographRight& photograph, int boards, int bdLineMax) {
    const auto end = photograph.nearest.begin() +
                     std::min<std::ptrdiff_t>(bdLineMax + 1, std::ssize(photograph.nearest));
    const auto found = std::min_element(photograph.nearest.begin(), end,
                                        [&](int a, int b) { return nearer(a, b, boards); });
    return found == end ? 0 : *found;
}

PhotographRight rightSettings(const ThresholdTable& table, int boards, int bdLineMax,
                              bool nearestWanted) {
    PhotographRight found;
    found.nearest.assign(static_cast<std::size_t>(std::max(0, bdLineMax)) + 1, 0);
    for (int stretch = Settings::kMinStretch; stretch <= Settings::kMaxStretch; ++stretch) {
        found.right.emplace_back(bdLineMax, false);
        found.bandRows.emplace_back().fill(0);
    }
    const int columns = found.right.front().bdLineMax();
    // The first THRESHOLD and STRETCH that count anything give every BDLINE its nearest count,
    // the others only a nearer one.
    bool anyBand = false;
    bool firstBand = false;
    LandscapeSweep sweep;
    if (!nearestWanted) sweep.linesWanted = boards - 1;
    sweep.band = [&](int threshold, int stretch, const StepResult<Band>& band) {
        const auto s = static_cast<std::size_t>(stretch - 1);
        if (!band.ok()) {
            found.failure = band.failure;
            return;
        }
        found.bandRows[s][static_cast<std::size_t>(threshold)] = band.value.counts.height / stretch;
        firstBand = !anyBand;
        anyBand = true;
    };
    sweep.run = [&](int threshold, int stretch, int first, int last, const PassLines& lines) {
        const int counted = boardsOf(lines);
        if (counted == boards) {
            SettingsGrid<bool>& right = found.right[static_cast<std::size_t>(stretch - 1)];
            for (int bdLine = first; bdLine <= last; ++bdLine) right.at(threshold, bdLine) = true;
        }
        for (int bdLine = first; bdLine <= std::min(last, columns); ++bdLine) {
            int& nearest = found.nearest[static_cast<std::size_t>(bdLine)];
            if (firstBand || nearer(counted, nearest, boards)) nearest = counted;
        }
    };
    sweep.repeat = [&](int threshold) {
        for (std::size_t s = 0; s < found.right.size(); ++s) {
            found.bandRows[s][static_cast<std::size_t>(threshold)] =
                found.bandRows[s][static_cast<std::size_t>(threshold) - 1];
            SettingsGrid<bool>& right = found.right[s];
            for (int bdLine = 0; bdLine <= columns; ++bdLine)
                if (right.at(threshold - 1, bdLine)) right.at(threshold, bdLine) = true;
        }
    };
    sweepLandscape(table, bdLineMax, Settings::kMinStretch, Settings::kMaxStretch, sweep);
    if (anyBand) found.failure.reset();
    return found;
}

int bandRowsAt(const PhotographRight& photograph, const Settings& settings) {
    return photograph.bandRows[static_cast<std::size_t>(settings.stretch - 1)]
                              [static_cast<std::size_t>(settings.threshold)];
}

int fitThickness(const std::vector<std::pair<int, int>>& bandRowsAndBoards) {
    // t = sum(h b) / sum(b b), in hundredths, halves up.
    long long heights = 0;
    long long squares = 0;
    for (const auto& [rows, boards] : bandRowsAndBoards) {
        heights += static_cast<long long>(rows) * boards;
        squares += static_cast<long long>(boards) * boards;
    }
    if (squares == 0 || heights <= 0) return 0;
    const long long hundredths = (200 * heights + squares) / (2 * squares);
    return static_cast<int>(std::min<long long>(hundredths, Settings::kMaxThicknessHundredths));
}

void addRight(std::vector<RightCounts>& counts, const PhotographRight& photograph, int sign) {
    for (std::size_t stretch = 0; stretch < counts.size(); ++stretch) {
        RightCounts& grid = counts[stretch];
        const SettingsGrid<bool>& right = photograph.right[stretch];
        for (int threshold = 0; threshold < kThresholds; ++threshold)
            for (int bdLine = 0; bdLine <= grid.bdLineMax(); ++bdLine)
                if (right.at(threshold, bdLine)) grid.at(threshold, bdLine) += sign;
    }
}

SettingsChoice chooseSettings(const std::vector<RightCounts>& byStretch, const Settings& current,
                              MarginRule rule) {
    int best = 0;
    for (const RightCounts& counts : byStretch)
        for (int threshold = 0; threshold < kThresholds; ++threshold)
            for (int bdLine = 0; bdLine <= counts.bdLineMax(); ++bdLine)
                best = std::max(best, counts.at(threshold, bdLine));

    SettingsChoice choice;
    std::optional<Distance> chosenMargin;
    Nearness chosenNearness;
    bool found = false;
    SettingsGrid<std::optional<Distance>> margins;
    // Wider margin first, then the smaller STRETCH, then the nearer.
    auto better = [&](const std::optional<Distance>& margin, int stretch,
                      const Nearness& nearness) {
        if (!found || wider(margin, chosenMargin)) return true;
        if (wider(chosenMargin, margin)) return false;
        if (stretch != choice.settings.stretch) return stretch < choice.settings.stretch;
        return nearness < chosenNearness;
    };
    std::vector<std::optional<Distance>> column(kThresholds);
    for (std::size_t index = 0; index < byStretch.size(); ++index) {
        const RightCounts& counts = byStretch[index];
        const int stretch = static_cast<int>(index) + 1;
        // The margins of this STRETCH's settings that count `best` right, column by column.
        std::optional<Margins> calculator;
        for (int bdLine = 0; bdLine <= counts.bdLineMax(); ++bdLine) {
            bool any = false;
            for (int threshold = 0; threshold < kThresholds && !any; ++threshold)
                any = counts.at(threshold, bdLine) == best;
            if (!any || rule.unit == nullptr) continue;
            if (!calculator) {
                calculator.emplace(counts, best, rule);
                margins = SettingsGrid<std::optional<Distance>>(counts.bdLineMax());
            }
            calculator->column(counts, bdLine, column);
            for (int threshold = 0; threshold < kThresholds; ++threshold)
                margins.at(threshold, bdLine) = column[static_cast<std::size_t>(threshold)];
        }
        for (int threshold = 0; threshold < kThresholds; ++threshold)
            for (int bdLine = 0; bdLine <= counts.bdLineMax(); ++bdLine) {
                if (counts.at(threshold, bdLine) != best) continue;
                const std::optional<Distance> margin =
                    rule.unit == nullptr ? std::nullopt : margins.at(threshold, bdLine);
                const int thresholds = threshold - current.threshold;
                const int bdLines = bdLine - current.bdLine;
                const Nearness nearness{distance(thresholds, bdLines, current.bdLine),
                                        distance(thresholds, bdLines, current.bdLine, true)};
                if (!better(margin, stretch, nearness)) continue;
                found = true;
                chosenMargin = margin;
                chosenNearness = nearness;
                choice.settings = {.threshold = threshold, .bdLine = bdLine, .stretch = stretch};
            }
    }

    const Settings& chosen = choice.settings;
    const RightCounts& counts = byStretch[static_cast<std::size_t>(chosen.stretch - 1)];
    choice.right = best;
    if (chosenMargin) choice.margin = chosenMargin->value();
    auto same = [&](int threshold, int bdLine) { return counts.at(threshold, bdLine) == best; };
    choice.thresholdRange = {chosen.threshold, chosen.threshold};
    while (choice.thresholdRange[0] > 0 && same(choice.thresholdRange[0] - 1, chosen.bdLine))
        --choice.thresholdRange[0];
    while (choice.thresholdRange[1] < Settings::kMaxThreshold &&
           same(choice.thresholdRange[1] + 1, chosen.bdLine))
        ++choice.thresholdRange[1];
    choice.bdLineRange = {chosen.bdLine, chosen.bdLine};
    while (choice.bdLineRange[0] > 0 && same(chosen.threshold, choice.bdLineRange[0] - 1))
        --choice.bdLineRange[0];
    while (choice.bdLineRange[1] < counts.bdLineMax() &&
           same(chosen.threshold, choice.bdLineRange[1] + 1))
        ++choice.bdLineRange[1];
    return choice;
}

}  // namespace lathmark
