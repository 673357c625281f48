#pragma once
// The settings landscape of a photograph: its boards and pass lines at every pair of settings,
// THRESHOLD 0 to 245 and BDLINE 0 to the photograph's width, at one STRETCH; and its stability
// ranges, how far either setting can move before the boards change. Both start from one sweep over
// the decoded photograph that gives every row's dark pixels at every threshold, and both run the
// count's own stages on those counts (findBand, the passes), so they agree with a count at any
// setting.
//
// Every function here is free of shared state: several photographs can be searched at once on
// different threads.

#include <FreeImage.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "engine/counting_state.h"
#include "engine/error.h"
#include "engine/grid.h"
#include "engine/passes.h"
#include "engine/settings.h"

namespace lathmark {

// The most rows a photograph may have for a search: its table takes 2 KB a row.
constexpr int kMaxSearchRows = 16384;

// Dark pixels of every row of a photograph at every threshold 0 to 255 (or at the thresholds of a
// narrower range), in columns 4 and up and in columns 8 and up: all that a count sees of the
// photograph, at any THRESHOLD of the range.
// The thresholds a table holds, first to last.
struct ThresholdLevels {
    int first = 0;
    int last = 255;
};

class ThresholdTable {
  public:
    using Levels = ThresholdLevels;
    // The table of `photograph`, or of its `region` (whose own rows and columns these are, as
    // for a count); fails for a region that does not fit, a part too tall to search or a pixel
    // format that cannot be turned into black and white. `levels` must lie within 0 to 255.
    // `threads` (1 or more) share the rows between them: a count that waits for its table
    // builds it on both cores.
    static StepResult<ThresholdTable> build(FIBITMAP* photograph,
                                            const std::optional<Region>& region = {},
                                            Levels levels = ThresholdLevels{}, int threads = 1);

    int width() const { return width_; }
    int height() const { return height_; }
    bool holds(int threshold) const {
        return threshold >= levels_.first && threshold <= levels_.last;
    }
    // Each row's dark pixels at `threshold` (one the table holds), row 0 being the bottom row.
    DarkPixels at(int threshold) const {
        return {counts_.data() + offset(0, threshold),
                counts_.data() + offset(levelCount(), threshold)};
    }

  private:
    int levelCount() const { return levels_.last - levels_.first + 1; }
    std::size_t offset(int first, int threshold) const {
        return static_cast<std::size_t>(first + threshold - levels_.first) *
               static_cast<std::size_t>(height_);
    }
    void buildFromGrey(FIBITMAP* photograph, const Region& part, int firstRow, int endRow);
    StepFailure buildByLibrary(FIBITMAP* photograph);

    int width_ = 0;
    int height_ = 0;
    Levels levels_;
    std::vector<int> counts_;  // [column 4 or 8][threshold][row]
};

// The row counts a count at `settings` (THRESHOLD and STRETCH) sees, borrowed from the table
// where STRETCH is 1.
RowCounts rowsAt(const ThresholdTable& table, const Settings& settings);

// The pass lines at `settings`, or nothing where the band cannot be counted.
std::optional<PassLines> countAt(const ThresholdTable& table, const Settings& settings,
                                 PassWork& work);

inline int boardsOf(const PassLines& lines) {
    return lines[0] + lines[1] + lines[2] + lines[3] + 1;
}

// The passes over `band` at every BDLINE from `lowest` to `highest` in turn, giving the same pass
// lines as countLines at each; each BDLINE and its lines go to `visit`, which returns false to
// stop the sweep.
void sweepBdLines(const BandCounts& band, int lowest, int highest,
                  const std::function<bool(int bdLine, const PassLines& lines)>& visit);

// A band's rows in the order of their dark pixels, fewest first, rows of equal dark pixels from
// the lowest: for each of the four row counts the passes see, at THRESHOLD from columns 4 and 8
// and at the later threshold from columns 4 and 8. The rows come in units of `stretch` band rows
// that have the same dark pixels (a photograph row at that STRETCH): unit u is band rows
// u × stretch - lowest on, those of them within the band.
struct RowOrder {
    std::vector<std::uint32_t> units;
    const int* dark = nullptr;  // each unit's dark pixels
    int stretch = 1;
    int lowest = 0;
};
using BandOrders = std::array<RowOrder, 4>;
// The orders of a band's own rows, a row a unit.
BandOrders bandOrders(const BandCounts& band);

// The same sweep given the band's `orders`, in runs: each run of BDLINEs over which the pass
// lines stay the same goes to `visit` (its first and last BDLINE), which returns false to stop.
// Between two BDLINEs at which a pass's rules flag other rows, nothing changes, so the sweep
// goes from one such BDLINE to the next and not through every BDLINE between.
// With `linesWanted`, only where the passes find that many lines is the count wanted: where the
// passes run so far already find more, the later passes are not run (their lines are handed on
// as 0, and the run is as long as the earlier passes' lines stay), since a later pass only adds
// lines; and the pass that went past stops counting there, so it may hand on fewer lines than it
// has, but always more than wanted. A search for the settings that count a photograph right
// needs no more.
void sweepBdLineRuns(const BandCounts& band, const BandOrders& orders, int lowest, int highest,
                     const std::function<bool(int first, int last, const PassLines& lines)>& visit,
                     std::optional<int> linesWanted = std::nullopt);

// What a sweep of a whole landscape hands on, THRESHOLD by THRESHOLD from 0 to 245, and at each
// THRESHOLD STRETCH by STRETCH: the band found, and where there is one, the pass lines in runs
// of BDLINE from 0 to bdLineMax. A THRESHOLD whose row counts are those of the THRESHOLD below
// (at both thresholds the passes see) goes to `repeat` instead: it is what that one is at every
// STRETCH.
struct LandscapeSweep {
    std::function<void(int threshold, int stretch, const StepResult<Band>& band)> band;
    std::function<void(int threshold, int stretch, int first, int last, const PassLines& lines)>
        run;
    std::function<void(int threshold)> repeat;
    // Where set, the runs are those of sweepBdLineRuns with these lines wanted: a run whose
    // lines are more may stand for a count that is higher still.
    std::optional<int> linesWanted;
};
// Sweeps the landscape of `table` at STRETCH firstStretch to lastStretch. Each threshold level's
// rows are put in order of their dark pixels once, and every band's orders are taken from them.
void sweepLandscape(const ThresholdTable& table, int bdLineMax, int firstStretch, int lastStretch,
                    const LandscapeSweep& to);

// Boards and pass lines at every THRESHOLD 0 to 245 and every BDLINE 0 to bdLineMax.
class Landscape {
  public:
    int bdLineMax() const { return lines_.bdLineMax(); }
    // Why nothing can be counted at this THRESHOLD (there is no band), or nothing.
    const StepFailure& failure(int threshold) const {
        return failures_[static_cast<std::size_t>(threshold)];
    }
    bool counted(int threshold) const { return !failure(threshold).has_value(); }
    // The band's height at this THRESHOLD, in rows of the photograph as counted (each repeated
    // STRETCH times); 0 where there is no band.
    int bandRows(int threshold) const { return bandRows_[static_cast<std::size_t>(threshold)]; }
    PassLines passLines(int threshold, int bdLine) const;
    // 0 where nothing is counted.
    int boards(int threshold, int bdLine) const;

  private:
    friend Landscape settingsLandscape(const ThresholdTable& table, int bdLineMax, int stretch);
    std::vector<StepFailure> failures_;
    std::vector<int> bandRows_;
    SettingsGrid<std::array<std::uint16_t, kPassCount>> lines_;
};

// The landscape of the photograph in `table`, BDLINE from 0 to bdLineMax, at one STRETCH.
Landscape settingsLandscape(const ThresholdTable& table, int bdLineMax, int stretch = 1);

// The settings around a pair of settings over which the boards stay the same: THRESHOLD with
// BDLINE fixed, and BDLINE with THRESHOLD fixed. Each is searched over THRESHOLD 0 to 245 and
// BDLINE 0 to the photograph's width, widened to take in the settings themselves.
struct StabilityRanges {
    std::array<int, 2> threshold{};
    std::array<int, 2> bdLine{};
    // Whether a range reaches less than 3 grey levels, or less than 10 % of BDLINE (at least
    // 1), to either side; a range that ends where the search does is not short there.
    bool uncertain = false;
};
StabilityRanges stabilityRanges(const ThresholdTable& table, const Settings& settings);

// The self-check of a count: whether its stability ranges would be short, found from the few
// settings next to its own alone, so that it costs little more than the count. It needs a table
// that holds THRESHOLD - 3 to THRESHOLD + 13 (checkLevels), and it gives exactly the verdict
// `stabilityRanges(...).uncertain` gives.
ThresholdTable::Levels checkLevels(const Settings& settings);
bool countDependsOnSettings(const ThresholdTable& table, const Settings& settings);

}  // namespace lathmark
