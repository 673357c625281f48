#include "engine/landscape.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/bitmap.h"
#include "engine/preparation.h"
#include "engine/rows.h"
#include "engine/two_level.h"

namespace lathmark {
namespace {

// How far a stability range must reach to either side for a count not to be uncertain: grey
// levels of THRESHOLD, and a share of BDLINE (at least 1).
constexpr int kSureThresholdReach = 3;
constexpr double kSureBdLineShare = 0.1;

// Band rows in the order of their dark pixels, fewest first, rows of equal dark pixels from the
// lowest: each entry holds the dark pixels in its high half and the row in its low half. Dark
// pixels are at most the photograph's width, so a counting sort orders them in one pass.
void sortRowsByDark(const int* dark, int height, std::vector<std::uint64_t>& order) {
    int most = 0;
    for (int y = 0; y < height; ++y) most = std::max(most, dark[y]);
    std::vector<int> first(static_cast<std::size_t>(most) + 2, 0);
    for (int y = 0; y < height; ++y) ++first[static_cast<std::size_t>(dark[y]) + 1];
    for (std::size_t level = 1; level < first.size(); ++level) first[level] += first[level - 1];
    order.resize(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        order[static_cast<std::size_t>(first[static_cast<std::size_t>(dark[y])]++)] =
            (static_cast<std::uint64_t>(dark[y]) << 32) | static_cast<std::uint32_t>(y);
}

// The rows for which one of a pass's rules holds, kept up to date as BDLINE rises. A rule never
// takes a row back at a higher BDLINE, and a rule that holds for some dark pixels holds for more
// as well; so the rows a rule gives up at each step are the next ones in the order of their
// dark pixels, and each row is looked at once per sweep, not once per BDLINE.
class RisingRule {
  public:
    void start(const std::vector<std::uint64_t>& order, RowSet& rows) {
        order_ = &order;
        rows_ = &rows;
        next_ = 0;
        rows.fill();
    }
    // Gives up the rows for which `holds(dark pixels)` no longer does; says whether there were
    // any.
    template <typename Holds>
    bool update(Holds holds) {
        const std::size_t before = next_;
        for (; next_ < order_->size(); ++next_) {
            const std::uint64_t entry = (*order_)[next_];
            if (holds(static_cast<int>(entry >> 32))) break;
            rows_->erase(static_cast<int>(entry & 0xFFFFFFFFu));
        }
        return next_ != before;
    }

  private:
    const std::vector<std::uint64_t>* order_ = nullptr;
    RowSet* rows_ = nullptr;
    std::size_t next_ = 0;
};

}  // namespace

StepResult<ThresholdTable> ThresholdTable::build(FIBITMAP* photograph,
                                                 const std::optional<Region>& region,
                                                 Levels levels) {
    const StepResult<Region> part = countedPart(photograph, region);
    if (!part.ok()) return Failed{*part.failure};
    StepResult<ThresholdTable> result;
    ThresholdTable& table = result.value;
    table.width_ = part.value.width;
    table.height_ = part.value.height;
    table.levels_ = levels;
    if (table.height_ > kMaxSearchRows)
        return Failed{"is too tall to search for settings: " + std::to_string(table.height_) +
                      " rows, more than " + std::to_string(kMaxSearchRows)};
    table.counts_.assign(
        static_cast<std::size_t>(2 * table.levelCount()) * static_cast<std::size_t>(table.height_),
        0);
    if (hasOwnThreshold(photograph)) {
        table.buildFromGrey(photograph, part.value);
    } else {
        const Bitmap cut = cutOut(photograph, part.value);
        result.failure = cut ? table.buildByLibrary(cut.get())
                             : "the region could not be cut out (out of memory?)";
    }
    return result;
}

// Each row's pixels, counted by grey level: one bin for the levels below the first threshold and
// one for each threshold's own level, so that a row's dark pixels at a threshold are the pixels
// of the bins up to it. The table is laid out level by level, so the rows are taken a block at a
// time: their counts go into a small table laid out row by row, which is then copied out level by
// level, each level's rows of the block side by side. Written a row at a time, every level of a
// row would land on a cache line of its own.
void ThresholdTable::buildFromGrey(FIBITMAP* photograph, const Region& part) {
    constexpr int kBlock = 16;
    const int levels = levelCount();
    const auto bins = static_cast<std::size_t>(levels + 1);
    // Levels at or above the last threshold are never dark; they share the last bin, unread.
    std::array<std::uint16_t, 256> binOf{};
    for (int grey = 0; grey < 256; ++grey)
        binOf[static_cast<std::size_t>(grey)] =
            static_cast<std::uint16_t>(std::clamp(grey - levels_.first + 1, 0, levels));
    GreyRows rows(photograph, part);
    const int edgeEnd = std::min(2 * kBandLeftColumn, width_);
    // Four histograms filled in turn, so that runs of one grey level do not wait on their own
    // increments.
    std::array<std::vector<int>, 4> rest;
    for (auto& histogram : rest) histogram.resize(bins);
    std::vector<int> edge(bins);
    std::vector<int> block(static_cast<std::size_t>(2 * levels * kBlock));
    for (int first = 0; first < height_; first += kBlock) {
        const int count = std::min(kBlock, height_ - first);
        for (int b = 0; b < count; ++b) {
            const BYTE* grey = rows.row(first + b);
            for (auto& histogram : rest) std::fill(histogram.begin(), histogram.end(), 0);
            std::fill(edge.begin(), edge.end(), 0);
            for (int x = kBandLeftColumn; x < edgeEnd; ++x) ++edge[binOf[grey[x]]];
            int x = 2 * kBandLeftColumn;
            for (; x + 4 <= width_; x += 4) {
                ++rest[0][binOf[grey[x]]];
                ++rest[1][binOf[grey[x + 1]]];
                ++rest[2][binOf[grey[x + 2]]];
                ++rest[3][binOf[grey[x + 3]]];
            }
            for (; x < width_; ++x) ++rest[0][binOf[grey[x]]];
            int* below4 = block.data() + static_cast<std::size_t>(2 * levels * b);
            int* below8 = below4 + levels;
            int sum4 = 0;
            int sum8 = 0;
            for (std::size_t bin = 0; bin < static_cast<std::size_t>(levels); ++bin) {
                const int here = rest[0][bin] + rest[1][bin] + rest[2][bin] + rest[3][bin];
                sum8 += here;
                sum4 += here + edge[bin];
                below4[bin] = sum4;
                below8[bin] = sum8;
            }
        }
        for (int level = 0; level < levels; ++level) {
            const int threshold = levels_.first + level;
            int* to4 = counts_.data() + offset(0, threshold) + static_cast<std::size_t>(first);
            int* to8 = counts_.data() + offset(levels, threshold) + static_cast<std::size_t>(first);
            for (int b = 0; b < count; ++b) {
                const std::size_t from = static_cast<std::size_t>(2 * levels * b + level);
                to4[b] = block[from];
                to8[b] = block[from + static_cast<std::size_t>(levels)];
            }
        }
    }
}

// Pixel formats the engine does not turn grey itself are thresholded by the library at every
// level, as a count would threshold them.
StepFailure ThresholdTable::buildByLibrary(FIBITMAP* photograph) {
    for (int threshold = levels_.first; threshold <= levels_.last; ++threshold) {
        const Bitmap binary(FreeImage_Threshold(photograph, static_cast<BYTE>(threshold)));
        if (!binary) return "its pixel format cannot be turned into black and white";
        countDarkRows(TwoLevelRows(binary.get()), counts_.data() + offset(0, threshold),
                      counts_.data() + offset(levelCount(), threshold));
    }
    return std::nullopt;
}

RowCounts rowsAt(const ThresholdTable& table, const Settings& settings) {
    RowCounts rows;
    rows.width = table.width();
    rows.height = table.height();
    rows.atThreshold = table.at(settings.threshold);
    rows.atLaterThreshold = table.at(settings.threshold + kPasses[1].thresholdIncrement);
    return stretchRows(std::move(rows), settings.stretch);
}

std::optional<PassLines> countAt(const ThresholdTable& table, const Settings& settings,
                                 PassWork& work) {
    const RowCounts rows = rowsAt(table, settings);
    const StepResult<Band> band = findBand(rows);
    if (!band.ok()) return std::nullopt;
    return countLines(band.value.counts, settings.bdLine, work);
}

// At each BDLINE a pass runs again only when its rules now flag other rows, or an earlier pass
// found other line rows; otherwise its line rows are those of the BDLINE before.
void sweepBdLines(const BandCounts& counts, int lowest, int highest,
                  const std::function<bool(int bdLine, const PassLines& lines)>& visit) {
    if (lowest > highest) return;
    const int height = counts.height;

    std::array<std::vector<std::uint64_t>, 4> orders;
    sortRowsByDark(counts.atThreshold.fromColumn4, height, orders[0]);
    sortRowsByDark(counts.atThreshold.fromColumn8, height, orders[1]);
    sortRowsByDark(counts.atLaterThreshold.fromColumn4, height, orders[2]);
    sortRowsByDark(counts.atLaterThreshold.fromColumn8, height, orders[3]);

    PassWork work;
    work.reset(height);
    std::array<PassRowFlags, kPassCount> flags;
    std::array<RisingRule, kPassCount> trimRules;
    std::array<RisingRule, kPassCount> lineRules;
    for (std::size_t pass = 0; pass < kPassCount; ++pass) {
        const std::size_t first = kPasses[pass].thresholdIncrement == 0 ? 0 : 2;
        flags[pass].trims.reset(height);
        flags[pass].lineRows.reset(height);
        trimRules[pass].start(orders[first], flags[pass].trims);
        lineRules[pass].start(orders[first + 1], flags[pass].lineRows);
    }
    RowSet before(height);

    for (int bdLine = lowest; bdLine <= highest; ++bdLine) {
        bool earlierChanged = bdLine == lowest;
        for (std::size_t pass = 0; pass < kPassCount; ++pass) {
            const PassRules rules(kPasses[pass], counts.width, bdLine);
            PassRowFlags& passFlags = flags[pass];
            bool changed = trimRules[pass].update([&](int dark) { return rules.trims(dark); });
            changed =
                lineRules[pass].update([&](int dark) { return rules.isLineRow(dark); }) || changed;
            const bool blankTrims = rules.trims(0);
            const bool blankIsLine = rules.isLineRow(0);
            changed = changed || blankTrims != passFlags.blankTrims ||
                      blankIsLine != passFlags.blankIsLine || earlierChanged;
            if (!changed) continue;
            passFlags.blankTrims = blankTrims;
            passFlags.blankIsLine = blankIsLine;
            before = work.lineRows[pass];
            runPass(static_cast<int>(pass), passFlags, work);
            earlierChanged = earlierChanged || work.lineRows[pass] != before;
        }
        if (!visit(bdLine, work.lines)) return;
    }
}

PassLines Landscape::passLines(int threshold, int bdLine) const {
    const auto& stored = lines_.at(threshold, bdLine);
    return {stored[0], stored[1], stored[2], stored[3]};
}

int Landscape::boards(int threshold, int bdLine) const {
    return counted(threshold) ? boardsOf(passLines(threshold, bdLine)) : 0;
}

Landscape settingsLandscape(const ThresholdTable& table, int bdLineMax, int stretch) {
    Landscape landscape;
    landscape.failures_.assign(kThresholds, std::nullopt);
    landscape.bandRows_.assign(kThresholds, 0);
    landscape.lines_ = SettingsGrid<std::array<std::uint16_t, kPassCount>>(bdLineMax);
    for (int threshold = 0; threshold < kThresholds; ++threshold) {
        const RowCounts rows = rowsAt(table, {.threshold = threshold, .stretch = stretch});
        const StepResult<Band> band = findBand(rows);
        landscape.failures_[static_cast<std::size_t>(threshold)] = band.failure;
        if (!band.ok()) continue;
        landscape.bandRows_[static_cast<std::size_t>(threshold)] = band.value.counts.height;
        sweepBdLines(
            band.value.counts, 0, landscape.bdLineMax(), [&](int bdLine, const PassLines& lines) {
                auto& stored = landscape.lines_.at(threshold, bdLine);
                for (std::size_t pass = 0; pass < kPassCount; ++pass)
                    stored[pass] = static_cast<std::uint16_t>(
                        std::min<int>(lines[pass], std::numeric_limits<std::uint16_t>::max()));
                return true;
            });
    }
    return landscape;
}

namespace {

// The boards at `settings` with THRESHOLD `threshold`; 0 where nothing is counted there.
int boardsAtThreshold(const ThresholdTable& table, const Settings& settings, int threshold,
                      PassWork& work) {
    Settings at = settings;
    at.threshold = threshold;
    const std::optional<PassLines> lines = countAt(table, at, work);
    return lines ? boardsOf(*lines) : 0;
}

}  // namespace

StabilityRanges stabilityRanges(const ThresholdTable& table, const Settings& settings) {
    const int threshold = settings.threshold;
    const int bdLine = settings.bdLine;
    StabilityRanges ranges;
    PassWork work;
    auto boardsAt = [&](int level) { return boardsAtThreshold(table, settings, level, work); };
    const int boards = boardsAt(threshold);
    int low = threshold;
    while (low > 0 && boardsAt(low - 1) == boards) --low;
    int high = threshold;
    while (high < Settings::kMaxThreshold && boardsAt(high + 1) == boards) ++high;
    ranges.threshold = {low, high};

    // BDLINE: one sweep upwards at the threshold, from the lowest BDLINE searched to the first
    // above the settings' own whose boards differ.
    const int lowestBdLine = std::min(0, bdLine);
    const int highestBdLine = std::max(table.width(), bdLine);
    int lowBdLine = lowestBdLine;
    int highBdLine = highestBdLine;
    const RowCounts rows = rowsAt(table, settings);
    const StepResult<Band> band = findBand(rows);
    if (band.ok())
        sweepBdLines(band.value.counts, lowestBdLine, highestBdLine,
                     [&](int level, const PassLines& lines) {
                         if (boardsOf(lines) == boards) return true;
                         if (level < bdLine) {
                             lowBdLine = level + 1;
                             return true;
                         }
                         highBdLine = level - 1;
                         return false;
                     });
    ranges.bdLine = {lowBdLine, highBdLine};

    auto shortOf = [](int reach, double sure, bool searchEnds) {
        return !searchEnds && reach < sure;
    };
    const double sureBdLine = std::max(1.0, kSureBdLineShare * bdLine);
    ranges.uncertain =
        shortOf(threshold - low, kSureThresholdReach, low == 0) ||
        shortOf(high - threshold, kSureThresholdReach, high == Settings::kMaxThreshold) ||
        shortOf(bdLine - lowBdLine, sureBdLine, lowBdLine == lowestBdLine) ||
        shortOf(highBdLine - bdLine, sureBdLine, highBdLine == highestBdLine);
    return ranges;
}

ThresholdTable::Levels checkLevels(const Settings& settings) {
    return {std::clamp(settings.threshold - kSureThresholdReach, 0, 255),
            std::clamp(settings.threshold + kSureThresholdReach + kPasses[1].thresholdIncrement, 0,
                       255)};
}

// The stability ranges are short exactly when a setting within the sure reach counts other
// boards (a range that ends where the search does never ends within that reach), so only those
// settings are counted here.
bool countDependsOnSettings(const ThresholdTable& table, const Settings& settings) {
    const int threshold = settings.threshold;
    const int bdLine = settings.bdLine;
    PassWork work;
    auto boardsAt = [&](int level) { return boardsAtThreshold(table, settings, level, work); };
    const int boards = boardsAt(threshold);
    const int lowestThreshold = std::max(0, threshold - kSureThresholdReach);
    const int highestThreshold = std::min(Settings::kMaxThreshold, threshold + kSureThresholdReach);
    for (int level = lowestThreshold; level <= highestThreshold; ++level)
        if (level != threshold && boardsAt(level) != boards) return true;

    const RowCounts rows = rowsAt(table, settings);
    const StepResult<Band> band = findBand(rows);
    if (!band.ok()) return false;
    // A BDLINE L below the settings' own shortens the range when bdLine - (L + 1) < sure, one
    // above when (L - 1) - bdLine < sure; the search runs from min(0, bdLine) to the width.
    const double sure = std::max(1.0, kSureBdLineShare * bdLine);
    const int lowest =
        std::max(std::min(0, bdLine), static_cast<int>(std::floor(bdLine - 1 - sure)) + 1);
    const int highest = std::min(std::max(table.width(), bdLine),
                                 static_cast<int>(std::ceil(bdLine + 1 + sure)) - 1);
    bool differs = false;
    sweepBdLines(band.value.counts, lowest, highest, [&](int, const PassLines& lines) {
        differs = boardsOf(lines) != boards;
        return !differs;
    });
    return differs;
}

}  // namespace lathmark
