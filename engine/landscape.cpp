#include "engine/landscape.h"

#include <algorithm>
#include <limits>

#include "engine/bitmap.h"
#include "engine/two_level.h"

namespace lathmark {
namespace {

// How far a stability range must reach to either side for a count not to be uncertain: grey
// levels of THRESHOLD, and a share of BDLINE (at least 1).
constexpr int kSureThresholdReach = 3;
constexpr double kSureBdLineShare = 0.1;

// Band rows in the order of their dark pixels, fewest first: each entry holds the dark pixels
// in its high half and the row in its low half.
void sortRowsByDark(const int* dark, int height, std::vector<std::uint64_t>& order) {
    order.resize(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        order[static_cast<std::size_t>(y)] =
            (static_cast<std::uint64_t>(dark[y]) << 32) | static_cast<std::uint32_t>(y);
    std::sort(order.begin(), order.end());
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

StepFailure ThresholdTable::build(FIBITMAP* photograph, ThresholdTable& table) {
    table.width_ = static_cast<int>(FreeImage_GetWidth(photograph));
    table.height_ = static_cast<int>(FreeImage_GetHeight(photograph));
    if (table.height_ > kMaxSearchRows)
        return "is too tall to search for settings: " + std::to_string(table.height_) +
               " rows, more than " + std::to_string(kMaxSearchRows);
    table.counts_.assign(
        static_cast<std::size_t>(2 * kLevels) * static_cast<std::size_t>(table.height_), 0);
    if (!hasOwnThreshold(photograph)) return table.buildByLibrary(photograph);
    table.buildFromGrey(photograph);
    return std::nullopt;
}

// Each row's grey levels, counted level by level; a row's dark pixels at a threshold are then
// the pixels of the levels below it.
void ThresholdTable::buildFromGrey(FIBITMAP* photograph) {
    const bool colour = FreeImage_GetBPP(photograph) == 24;
    GreyConverter converter(colour ? width_ : 0);
    const Scanlines rows(photograph);
    const int edgeEnd = std::min(2 * kBandLeftColumn, width_);
    std::array<int, kLevels> edge{};
    std::array<int, kLevels> rest{};
    for (int y = 0; y < height_; ++y) {
        const BYTE* grey = colour ? converter.row(rows(y)) : rows(y);
        edge.fill(0);
        rest.fill(0);
        for (int x = kBandLeftColumn; x < edgeEnd; ++x) ++edge[grey[x]];
        for (int x = 2 * kBandLeftColumn; x < width_; ++x) ++rest[grey[x]];
        int below4 = 0;
        int below8 = 0;
        for (int level = 0; level < kLevels; ++level) {
            at(0, level)[y] = below4;
            at(kLevels, level)[y] = below8;
            const auto index = static_cast<std::size_t>(level);
            below8 += rest[index];
            below4 += edge[index] + rest[index];
        }
    }
}

// Pixel formats the engine does not turn grey itself are thresholded by the library at every
// level, as a count would threshold them.
StepFailure ThresholdTable::buildByLibrary(FIBITMAP* photograph) {
    RowCounts counts;
    for (int level = 0; level < kLevels; level += 2) {
        const TwoLevelPair pair =
            thresholdTwice(photograph, static_cast<BYTE>(level), static_cast<BYTE>(level + 1));
        if (!pair.low || !pair.high)
            return "its pixel format cannot be turned into black and white";
        for (const auto& [binary, threshold] :
             {std::pair{pair.low.get(), level}, std::pair{pair.high.get(), level + 1}}) {
            countRows(binary, counts);
            std::copy(counts.fromColumn4.begin(), counts.fromColumn4.end(), at(0, threshold));
            std::copy(counts.fromColumn8.begin(), counts.fromColumn8.end(), at(kLevels, threshold));
        }
    }
    return std::nullopt;
}

BandAtThreshold bandAt(const ThresholdTable& table, int threshold, int stretch) {
    BandAtThreshold band;
    const int later = threshold + kPasses[1].thresholdIncrement;
    std::array<const int*, 4> rows = {table.fromColumn4(threshold), table.fromColumn8(threshold),
                                      table.fromColumn4(later), table.fromColumn8(later)};
    if (stretch > 1) {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            std::vector<int>& stretched = band.stretched_[i];
            stretched.assign(rows[i], rows[i] + table.height());
            stretchRows(stretched, stretch);
            rows[i] = stretched.data();
        }
    }
    const int height = table.height() * stretch;
    band.edges = findBandEdges(rows[0], table.width(), height);
    band.failure = bandProblem(table.width(), band.edges);
    if (band.failure) return band;
    band.counts =
        bandCounts(band.edges, table.width(), height, {rows[0], rows[1]}, {rows[2], rows[3]});
    return band;
}

std::optional<PassLines> countAt(const ThresholdTable& table, int threshold, int bdLine,
                                 PassWork& work, int stretch) {
    const BandAtThreshold band = bandAt(table, threshold, stretch);
    if (band.failure) return std::nullopt;
    return countLines(band.counts, bdLine, work);
}

// At each BDLINE a pass runs again only when its rules now flag other rows, or an earlier pass
// found other line rows; otherwise its line rows are those of the BDLINE before.
void sweepBdLines(const BandAtThreshold& band, int lowest, int highest,
                  const std::function<bool(int bdLine, const PassLines& lines)>& visit) {
    if (band.failure || lowest > highest) return;
    const BandCounts& counts = band.counts;
    const int height = counts.height;

    std::array<std::vector<std::uint64_t>, 4> orders;
    sortRowsByDark(counts.atThreshold.trim, height, orders[0]);
    sortRowsByDark(counts.atThreshold.line, height, orders[1]);
    sortRowsByDark(counts.atLaterThreshold.trim, height, orders[2]);
    sortRowsByDark(counts.atLaterThreshold.line, height, orders[3]);

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
    const auto& stored = lines_[index(threshold, bdLine)];
    return {stored[0], stored[1], stored[2], stored[3]};
}

int Landscape::boards(int threshold, int bdLine) const {
    return counted(threshold) ? boardsOf(passLines(threshold, bdLine)) : 0;
}

Landscape settingsLandscape(const ThresholdTable& table, int bdLineMax, int stretch) {
    Landscape landscape;
    landscape.bdLineMax_ = std::max(0, bdLineMax);
    landscape.failures_.assign(kThresholds, std::nullopt);
    landscape.lines_.assign(
        static_cast<std::size_t>(kThresholds) * static_cast<std::size_t>(landscape.bdLineMax_ + 1),
        {});
    for (int threshold = 0; threshold < kThresholds; ++threshold) {
        const BandAtThreshold band = bandAt(table, threshold, stretch);
        landscape.failures_[static_cast<std::size_t>(threshold)] = band.failure;
        sweepBdLines(band, 0, landscape.bdLineMax_, [&](int bdLine, const PassLines& lines) {
            auto& stored = landscape.lines_[landscape.index(threshold, bdLine)];
            for (std::size_t pass = 0; pass < kPassCount; ++pass)
                stored[pass] = static_cast<std::uint16_t>(
                    std::min<int>(lines[pass], std::numeric_limits<std::uint16_t>::max()));
            return true;
        });
    }
    return landscape;
}

StabilityRanges stabilityRanges(const ThresholdTable& table, int threshold, int bdLine,
                                int stretch) {
    StabilityRanges ranges;
    PassWork work;
    auto boardsAt = [&](int level) {
        const std::optional<PassLines> lines = countAt(table, level, bdLine, work, stretch);
        return lines ? boardsOf(*lines) : 0;
    };
    const int boards = boardsAt(threshold);
    int low = threshold;
    while (low > 0 && boardsAt(low - 1) == boards) --low;
    int high = threshold;
    while (high < kMaxThreshold && boardsAt(high + 1) == boards) ++high;
    ranges.threshold = {low, high};

    // BDLINE: one sweep upwards at the threshold, from the lowest BDLINE searched to the first
    // above the settings' own whose boards differ.
    const int lowestBdLine = std::min(0, bdLine);
    const int highestBdLine = std::max(table.width(), bdLine);
    int lowBdLine = lowestBdLine;
    int highBdLine = highestBdLine;
    sweepBdLines(bandAt(table, threshold, stretch), lowestBdLine, highestBdLine,
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
    ranges.uncertain = shortOf(threshold - low, kSureThresholdReach, low == 0) ||
                       shortOf(high - threshold, kSureThresholdReach, high == kMaxThreshold) ||
                       shortOf(bdLine - lowBdLine, sureBdLine, lowBdLine == lowestBdLine) ||
                       shortOf(highBdLine - bdLine, sureBdLine, highBdLine == highestBdLine);
    return ranges;
}

}  // namespace lathmark
