#include "engine/landscape.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <future>
#include <limits>

#include "engine/bitmap.h"
#include "engine/preparation.h"
#include "engine/rows.h"
#include "engine/two_level.h"
#include "engine/workers.h"

namespace lathmark {
namespace {

// How far a stability range must reach to either side for a count not to be uncertain: grey
// levels of THRESHOLD, and a share of BDLINE (at least 1).
constexpr int kSureThresholdReach = 3;
constexpr double kSureBdLineShare = 0.1;

// A threshold table is filled this many rows at a time (see buildFromGrey).
constexpr int kTableBlockRows = 16;

// Rows in the order of their dark pixels, fewest first, rows of equal dark pixels from the
// lowest. Dark pixels are at most the photograph's width, so a counting sort orders them in one
// pass; `first` is its working room.
template <typename Row>
void sortRowsByDark(const int* dark, int height, std::vector<Row>& order, std::vector<int>& first) {
    int most = 0;
    for (int y = 0; y < height; ++y) most = std::max(most, dark[y]);
    first.assign(static_cast<std::size_t>(most) + 2, 0);
    for (int y = 0; y < height; ++y) ++first[static_cast<std::size_t>(dark[y]) + 1];
    for (std::size_t level = 1; level < first.size(); ++level) first[level] += first[level - 1];
    order.resize(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        order[static_cast<std::size_t>(first[static_cast<std::size_t>(dark[y])]++)] =
            static_cast<Row>(y);
}

// The rows for which one of a pass's rules holds, kept up to date as BDLINE rises. A rule never
// takes a row back at a higher BDLINE, and a rule that holds for some dark pixels holds for more
// as well; so the rows a rule gives up at each step are the next ones in the order of their
// dark pixels, and each row is looked at once per sweep, not once per BDLINE. For the same
// reasons the next BDLINE at which the rule gives up a row is that at which it gives up the next
// row in that order.
class RisingRule {
  public:
    void start(const RowOrder& order, RowSet& rows) {
        order_ = &order;
        rows_ = &rows;
        next_ = 0;
        given_ = 0;
        changeAt_ = kUnknown;
        rows.fill();
    }
    // Gives up the rows for which `holds(dark pixels)` no longer does; says whether there were
    // any.
    template <typename Holds>
    bool update(Holds holds) {
        given_ = next_;
        const std::vector<std::uint32_t>& units = order_->units;
        for (; next_ < units.size(); ++next_) {
            const std::uint32_t unit = units[next_];
            if (holds(order_->dark[unit])) break;
            const int first = firstRow(unit);
            rows_->erase(first, first + order_->stretch);
        }
        if (next_ == given_) return false;
        changeAt_ = kUnknown;
        return true;
    }
    // Whether `matters(row)` holds for any band row the last update gave up.
    template <typename Matters>
    bool anyGiven(Matters matters) const {
        for (std::size_t i = given_; i < next_; ++i) {
            const int first = firstRow(order_->units[i]);
            const int end = std::min(first + order_->stretch, rows_->rows());
            for (int row = std::max(first, 0); row < end; ++row)
                if (matters(row)) return true;
        }
        return false;
    }
    // The lowest BDLINE above `bdLine` (at which update was just called) at which the rule gives
    // up a row, where `holdsAt(bdLine, dark pixels)` is the rule at any BDLINE; `beyond` where
    // it gives up none below `beyond`.
    template <typename HoldsAt>
    long long nextChange(int bdLine, long long beyond, HoldsAt holdsAt) {
        if (changeAt_ != kUnknown && changeAt_ > bdLine) return std::min(changeAt_, beyond);
        if (next_ == order_->units.size()) return changeAt_ = beyond;
        return changeAt_ =
                   firstFailing(bdLine, beyond, order_->dark[order_->units[next_]], holdsAt);
    }
    // The same for the rows up to `lastRow` only: the rule gives up the rows in the order of
    // their dark pixels, so the first of them still held is the next it gives up.
    template <typename HoldsAt>
    long long nextChangeUpTo(int lastRow, int bdLine, long long beyond, HoldsAt holdsAt) const {
        const std::vector<std::uint32_t>& units = order_->units;
        for (std::size_t i = next_; i < units.size(); ++i)
            if (firstRow(units[i]) <= lastRow)
                return firstFailing(bdLine, beyond, order_->dark[units[i]], holdsAt);
        return beyond;
    }

  private:
    static constexpr long long kUnknown = LLONG_MIN;
    int firstRow(std::uint32_t unit) const {
        return static_cast<int>(unit) * order_->stretch - order_->lowest;
    }
    // The lowest BDLINE above `bdLine`, where the rule holds for `dark`, at which it does not;
    // `beyond` where there is none below it.
    template <typename HoldsAt>
    static long long firstFailing(int bdLine, long long beyond, int dark, HoldsAt holdsAt) {
        // It holds at bdLine; steps that double find a BDLINE where it does not, and halving the
        // steps between finds the first.
        long long holding = bdLine;
        long long failing = beyond;
        for (long long step = 1; holding + step < beyond; step *= 2) {
            if (!holdsAt(static_cast<int>(holding + step), dark)) {
                failing = holding + step;
                break;
            }
            holding += step;
        }
        while (failing - holding > 1) {
            const long long middle = holding + (failing - holding) / 2;
            (holdsAt(static_cast<int>(middle), dark) ? holding : failing) = middle;
        }
        return failing;
    }

    const RowOrder* order_ = nullptr;
    RowSet* rows_ = nullptr;
    std::size_t next_ = 0;
    std::size_t given_ = 0;
    long long changeAt_ = kUnknown;
};

// What the sweep keeps of a pass's last run, to run it again only where what changed can change
// its line rows: the rows the earlier passes' lines lighten, those and the edge trims, and where
// the trims end.
struct PassState {
    RowSet lightened;
    RowSet whitened;
    int bottomEnd = 0;  // the first row above the bottom trim
    int topStart = 0;   // the last row below the top trim
};

// The highest row above row 0 that is no member of `rows`, or 0 where there is none: where the
// top trim ends. A top trim is often most of the band, so rows are looked at one by one only near
// the top, and below that the set is walked a run of members at a time.
int topNonMember(const RowSet& rows) {
    constexpr int kRowsOneByOne = 64;
    const int height = rows.rows();
    int y = height - 1;
    for (int seen = 0; y > 0 && seen < kRowsOneByOne; --y, ++seen)
        if (!rows.contains(y)) return y;
    int top = 0;
    for (int from = 1; from <= y;) {
        const int first = rows.nextNonMember(from);
        if (first > y) break;
        const int end = std::min(rows.nextMember(first), y + 1);
        top = end - 1;
        from = end;
    }
    return top;
}

// A pass as runPass runs it, with the rows lightened for it already in `state` unless
// `lighten` (when an earlier pass's line rows changed); its line rows are found only as far as
// it takes to find more than `enough` lines, and `rowsRead` is the highest row its lines found
// depend on.
void runPassKept(int pass, const PassRowFlags& flags, bool lighten, PassState& state,
                 PassWork& work, int enough, int& rowsRead) {
    if (lighten) lightenFoundLines(work, pass, state.lightened);
    work.trimmable.assignBlend(flags.trims, state.lightened, flags.blankTrims);
    const int height = state.lightened.rows();
    state.bottomEnd = work.trimmable.nextNonMember(0);
    state.topStart = topNonMember(work.trimmable);
    state.whitened = state.lightened;
    state.whitened.insert(0, state.bottomEnd);
    state.whitened.insert(state.topStart + 1, height);
    RowSet& lineRows = work.lineRows[static_cast<std::size_t>(pass)];
    lineRows.assignBlend(flags.lineRows, state.whitened, flags.blankIsLine);
    work.lines[static_cast<std::size_t>(pass)] =
        removeShortRunsAndCount(lineRows, enough, &rowsRead);
}

// The four row counts the passes see of a band, in the order of BandOrders.
std::array<const int*, 4> bandRows(const BandCounts& counts) {
    return {counts.atThreshold.fromColumn4, counts.atThreshold.fromColumn8,
            counts.atLaterThreshold.fromColumn4, counts.atLaterThreshold.fromColumn8};
}

}  // namespace

StepResult<ThresholdTable> ThresholdTable::build(FIBITMAP* photograph,
                                                 const std::optional<Region>& region, Levels levels,
                                                 int threads) {
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
        // Each thread takes whole blocks of rows, so no two write into one block.
        const int blocks = (table.height_ + kTableBlockRows - 1) / kTableBlockRows;
        const int parts = std::clamp(threads, 1, std::max(1, blocks));
        auto rowsOfPart = [&](int p) {
            table.buildFromGrey(photograph, part.value, p * blocks / parts * kTableBlockRows,
                                (p + 1) * blocks / parts * kTableBlockRows);
        };
        std::vector<std::future<void>> others;
        for (int p = 1; p < parts; ++p)
            others.push_back(aside([&rowsOfPart, p] { rowsOfPart(p); }));
        // The other parts write into the table: they are waited for however this one ends.
        const auto waitForOthers = [&others] {
            for (std::future<void>& other : others) other.wait();
        };
        try {
            rowsOfPart(0);
        } catch (...) {
            waitForOthers();
            throw;
        }
        waitForOthers();
        for (std::future<void>& other : others) other.get();  // what a part threw, if it did
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
void ThresholdTable::buildFromGrey(FIBITMAP* photograph, const Region& part, int firstRow,
                                   int endRow) {
    constexpr int kBlock = kTableBlockRows;
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
    endRow = std::min(endRow, height_);
    for (int first = firstRow; first < endRow; first += kBlock) {
        const int count = std::min(kBlock, endRow - first);
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

BandOrders bandOrders(const BandCounts& band) {
    BandOrders orders;
    std::vector<int> first;
    const std::array<const int*, 4> rows = bandRows(band);
    for (std::size_t which = 0; which < orders.size(); ++which) {
        sortRowsByDark(rows[which], band.height, orders[which].units, first);
        orders[which].dark = rows[which];
    }
    return orders;
}

void sweepBdLines(const BandCounts& counts, int lowest, int highest,
                  const std::function<bool(int bdLine, const PassLines& lines)>& visit) {
    sweepBdLineRuns(counts, bandOrders(counts), lowest, highest,
                    [&](int first, int last, const PassLines& lines) {
                        for (int bdLine = first; bdLine <= last; ++bdLine)
                            if (!visit(bdLine, lines)) return false;
                        return true;
                    });
}

// At each BDLINE a pass runs again only when its rules now flag other rows, or an earlier pass
// found other line rows; otherwise its line rows are those of the BDLINE before.
void sweepBdLineRuns(const BandCounts& counts, const BandOrders& orders, int lowest, int highest,
                     const std::function<bool(int first, int last, const PassLines& lines)>& visit,
                     std::optional<int> linesWanted) {
    if (lowest > highest) return;
    const int height = counts.height;

    PassWork work;
    work.reset(height);
    std::array<PassRowFlags, kPassCount> flags;
    std::array<PassState, kPassCount> states;
    std::array<RisingRule, kPassCount> trimRules;
    std::array<RisingRule, kPassCount> lineRules;
    for (std::size_t pass = 0; pass < kPassCount; ++pass) {
        const std::size_t first = kPasses[pass].thresholdIncrement == 0 ? 0 : 2;
        flags[pass].trims.reset(height);
        flags[pass].lineRows.reset(height);
        states[pass].lightened.reset(height);
        trimRules[pass].start(orders[first], flags[pass].trims);
        lineRules[pass].start(orders[first + 1], flags[pass].lineRows);
    }
    RowSet before(height);
    // Passes left out at some BDLINE since they last ran: their rules' rows and their own rows
    // are those of that run, so they run again from the start when next wanted.
    std::array<bool, kPassCount> behind{};
    const int wanted = linesWanted.value_or(INT_MAX);
    // The highest row on which the first pass's lines, as last found, depend.
    int firstPassRows = height;

    const long long beyond = static_cast<long long>(highest) + 1;
    for (int bdLine = lowest;;) {
        bool earlierChanged = bdLine == lowest;
        long long next = beyond;
        int found = 0;  // lines of the passes run so far
        for (std::size_t pass = 0; pass < kPassCount; ++pass) {
            if (found > wanted) {
                behind[pass] = true;
                work.lines[pass] = 0;
                continue;
            }
            const PassRules rules(kPasses[pass], counts.width, bdLine);
            PassRowFlags& passFlags = flags[pass];
            PassState& state = states[pass];
            const bool trimsChanged =
                trimRules[pass].update([&](int dark) { return rules.trims(dark); });
            const bool lineRowsChanged =
                lineRules[pass].update([&](int dark) { return rules.isLineRow(dark); });
            const bool blankTrims = rules.trims(0);
            const bool blankIsLine = rules.isLineRow(0);
            // A row given up by the trims changes the pass only where it was part of an edge
            // trim; one given up as a line row only where it was not whitened.
            const bool changed =
                earlierChanged || behind[pass] || blankTrims != passFlags.blankTrims ||
                blankIsLine != passFlags.blankIsLine ||
                (trimsChanged && trimRules[pass].anyGiven([&](int row) {
                    return (row < state.bottomEnd || row > state.topStart) &&
                           (passFlags.blankTrims || !state.lightened.contains(row));
                })) ||
                (lineRowsChanged &&
                 lineRules[pass].anyGiven([&](int row) { return !state.whitened.contains(row); }));
            // The rules at any BDLINE, for where they next flag other rows.
            auto trimsAt = [&](int at, int dark) {
                return PassRules(kPasses[pass], counts.width, at).trims(dark);
            };
            auto lineRowAt = [&](int at, int dark) {
                return PassRules(kPasses[pass], counts.width, at).isLineRow(dark);
            };
            next = std::min(next, trimRules[pass].nextChange(bdLine, beyond, trimsAt));
            next = std::min(next, lineRules[pass].nextChange(bdLine, beyond, lineRowAt));
            if (changed) {
                passFlags.blankTrims = blankTrims;
                passFlags.blankIsLine = blankIsLine;
                before = work.lineRows[pass];
                int rowsRead = height;
                runPassKept(static_cast<int>(pass), passFlags, earlierChanged || behind[pass],
                            state, work, wanted - found, rowsRead);
                if (pass == 0) firstPassRows = rowsRead;
                // A pass that stopped at more lines than wanted has only some of its line rows;
                // what it found stays true until its rules flag other rows, as it stays more.
                behind[pass] = false;
                earlierChanged = earlierChanged || work.lineRows[pass] != before;
            }
            found += work.lines[pass];
            // The first pass alone finds more lines than wanted: until its rules flag other rows
            // among those its lines depend on, it still does, whatever the other rows do. Those
            // rows lie below its top trim, which only shrinks as BDLINE rises; its bottom trim
            // ends among them. So the sweep goes on to the next such BDLINE, passing over those
            // at which only rows above them change.
            if (pass == 0 && found > wanted && firstPassRows <= state.topStart) {
                next =
                    std::min(trimRules[0].nextChangeUpTo(firstPassRows, bdLine, beyond, trimsAt),
                             lineRules[0].nextChangeUpTo(firstPassRows, bdLine, beyond, lineRowAt));
            }
        }
        // A row without dark pixels neither trims nor is a line row at any BDLINE from 0 up (the
        // band is at least a column wide), so below 0 alone the sweep takes every BDLINE.
        if (bdLine < 0) next = bdLine + 1;
        const int last = static_cast<int>(next - 1);
        if (!visit(bdLine, last, work.lines) || last >= highest) return;
        bdLine = last + 1;
    }
}

namespace {

// Whether the row counts at `threshold` are those at the one below, at both thresholds the
// passes see.
bool sameRowsAsBelow(const ThresholdTable& table, int threshold) {
    const auto size = static_cast<std::size_t>(table.height()) * sizeof(int);
    for (const int at : {threshold, threshold + kPasses[1].thresholdIncrement}) {
        const DarkPixels here = table.at(at);
        const DarkPixels below = table.at(at - 1);
        if (std::memcmp(here.fromColumn4, below.fromColumn4, size) != 0 ||
            std::memcmp(here.fromColumn8, below.fromColumn8, size) != 0)
            return false;
    }
    return true;
}

// The table's rows in the order of their dark pixels at each threshold level, from columns 4
// and from columns 8, each made when first asked for and kept until dropped.
class LevelOrders {
  public:
    explicit LevelOrders(const ThresholdTable& table) : table_(table) {}

    const std::vector<std::uint16_t>& at(int level, bool fromColumn8) {
        Level& kept = levels_[static_cast<std::size_t>(level)];
        if (!kept.made) {
            const DarkPixels dark = table_.at(level);
            sortRowsByDark(dark.fromColumn4, table_.height(), kept.orders[0], first_);
            sortRowsByDark(dark.fromColumn8, table_.height(), kept.orders[1], first_);
            kept.made = true;
        }
        return kept.orders[fromColumn8 ? 1 : 0];
    }
    void drop(int level) { levels_[static_cast<std::size_t>(level)] = {}; }

  private:
    struct Level {
        bool made = false;
        std::array<std::vector<std::uint16_t>, 2> orders;
    };
    const ThresholdTable& table_;
    std::array<Level, 256> levels_;
    std::vector<int> first_;
};
static_assert(kMaxSearchRows <= 65536, "a table's rows are kept in 16 bits");

// The band's order from its table's, at `stretch`: the table rows of which the band holds any
// of the `height` rows from row `lowest` up of the rows counted, each table row being `stretch`
// of them.
void takeBandOrder(const std::vector<std::uint16_t>& tableOrder, const int* dark, int stretch,
                   int lowest, int height, RowOrder& order) {
    order.units.clear();
    order.dark = dark;
    order.stretch = stretch;
    order.lowest = lowest;
    const int first = lowest / stretch;
    const auto units = static_cast<std::uint32_t>((lowest + height - 1) / stretch - first + 1);
    for (const std::uint16_t row : tableOrder)
        if (static_cast<std::uint32_t>(row - first) < units) order.units.push_back(row);
}

}  // namespace

void sweepLandscape(const ThresholdTable& table, int bdLineMax, int firstStretch, int lastStretch,
                    const LandscapeSweep& to) {
    LevelOrders levels(table);
    BandOrders orders;
    const int later = kPasses[1].thresholdIncrement;
    for (int threshold = 0; threshold < kThresholds; ++threshold) {
        if (threshold > 0 && sameRowsAsBelow(table, threshold)) {
            to.repeat(threshold);
            continue;
        }
        for (int stretch = firstStretch; stretch <= lastStretch; ++stretch) {
            const RowCounts rows = rowsAt(table, {.threshold = threshold, .stretch = stretch});
            const StepResult<Band> band = findBand(rows);
            to.band(threshold, stretch, band);
            if (!band.ok()) continue;
            const BandCounts& counts = band.value.counts;
            const int lowest = rows.height - band.value.edges.endRow();
            for (std::size_t which = 0; which < orders.size(); ++which) {
                const int level = threshold + (which < 2 ? 0 : later);
                const DarkPixels dark = table.at(level);
                takeBandOrder(levels.at(level, which % 2 == 1),
                              which % 2 == 1 ? dark.fromColumn8 : dark.fromColumn4, stretch, lowest,
                              counts.height, orders[which]);
            }
            sweepBdLineRuns(
                counts, orders, 0, bdLineMax,
                [&](int first, int last, const PassLines& lines) {
                    to.run(threshold, stretch, first, last, lines);
                    return true;
                },
                to.linesWanted);
        }
        levels.drop(threshold);
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
    LandscapeSweep sweep;
    sweep.band = [&](int threshold, int, const StepResult<Band>& band) {
        landscape.failures_[static_cast<std::size_t>(threshold)] = band.failure;
        if (band.ok())
            landscape.bandRows_[static_cast<std::size_t>(threshold)] = band.value.counts.height;
    };
    sweep.run = [&](int threshold, int, int first, int last, const PassLines& lines) {
        std::array<std::uint16_t, kPassCount> stored{};
        for (std::size_t pass = 0; pass < kPassCount; ++pass)
            stored[pass] = static_cast<std::uint16_t>(
                std::min<int>(lines[pass], std::numeric_limits<std::uint16_t>::max()));
        for (int bdLine = first; bdLine <= last; ++bdLine)
            landscape.lines_.at(threshold, bdLine) = stored;
    };
    sweep.repeat = [&](int threshold) {
        const auto at = static_cast<std::size_t>(threshold);
        landscape.failures_[at] = landscape.failures_[at - 1];
        landscape.bandRows_[at] = landscape.bandRows_[at - 1];
        for (int bdLine = 0; bdLine <= landscape.bdLineMax(); ++bdLine)
            landscape.lines_.at(threshold, bdLine) = landscape.lines_.at(threshold - 1, bdLine);
    };
    sweepLandscape(table, landscape.bdLineMax(), stretch, stretch, sweep);
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
