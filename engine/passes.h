#pragma once
// The four line-counting passes. They are one procedure; a table holds what differs from pass
// to pass. Pass 1 looks at the band of the photograph thresholded at THRESHOLD; passes 2 to 4
// each look at a fresh band of the photograph thresholded at THRESHOLD + 10, lighten the lines
// that earlier passes found, and look for fainter ones with looser limits.
//
// A pass sees the band only through each row's dark pixels (over the band's whole width for
// its edge trims, from band column 4 on for its line rows) and through the rows it lightens,
// which then count 0. So the passes work on row counts and sets of rows, never on bitmaps: the
// count of a photograph, its settings landscape and its stability ranges all run this code.

#include <array>
#include <climits>
#include <cstdint>

#include "engine/counting_state.h"
#include "engine/row_set.h"
#include "engine/settings.h"

namespace lathmark {

struct PassParameters {
    int thresholdIncrement;       // added to THRESHOLD for this pass's two-level image
    bool trimProfileLineMinimum;  // trim profile rows below BDLINE count as 0 (pass 1 only)
    double trimRatio;             // edge rows above trimRatio × BDLINE dark pixels are trimmed
    double fullRowRatio;          // a row above fullRowRatio × W dark pixels is full
    double lineMinimumRatio;      // a row below lineMinimumRatio × BDLINE is no line row
};

constexpr int kPassCount = 4;

// One row per pass. Each pass also lightens the lines of every pass before it.
inline constexpr std::array<PassParameters, kPassCount> kPasses{{
    {0, true, 0.5, 0.7, 1.0},
    {10, false, 1.0, 0.6, 0.8},
    {10, false, 0.5, 0.1, 0.3},
    {10, false, 0.4, 0.05, 0.15},
}};

// Every pass's threshold must be a grey level at the highest THRESHOLD.
static_assert(Settings::kMaxThreshold + kPasses[1].thresholdIncrement == 255);

// The rows a pass sees: at THRESHOLD or at THRESHOLD + 10.
inline const DarkPixels& passRows(const BandCounts& band, int pass) {
    return kPasses[static_cast<std::size_t>(pass)].thresholdIncrement == 0 ? band.atThreshold
                                                                           : band.atLaterThreshold;
}

// Line rows per pass.
using PassLines = std::array<int, kPassCount>;

// One pass's rules for the dark pixels of a single row, at one BDLINE: what the row's entry in
// the trim profile and in the pass profile becomes. A whitened row is a row of 0 dark pixels.
class PassRules {
  public:
    PassRules(const PassParameters& parameters, int bandWidth, int bdLine);

    // Trim profile: full rows become W; in the first pass, rows below BDLINE become 0.
    int trimEntry(int dark) const {
        if (dark > fullTrimLimit_) dark = width_;
        if (trimMinimum_ && dark < bdLine_) dark = 0;
        return dark;
    }
    // Whether an edge row with this many dark pixels is trimmed.
    bool trims(int dark) const { return trimEntry(dark) > trimLimit_; }

    // Pass profile: full rows become W, then rows below the line minimum become 0.
    int lineEntry(int dark) const {
        if (dark > fullRowLimit_) dark = width_;
        if (dark < lineMinimum_) dark = 0;
        return dark;
    }
    bool isLineRow(int dark) const { return lineEntry(dark) != 0; }

  private:
    int width_;
    int bdLine_;
    bool trimMinimum_;
    double fullTrimLimit_;
    double trimLimit_;
    double fullRowLimit_;
    double lineMinimum_;
};

// The band rows for which a pass's rules hold, before the pass lightens or trims any.
struct PassRowFlags {
    RowSet trims;              // rows an edge trim would whiten
    RowSet lineRows;           // rows dark enough for line rows
    bool blankTrims = false;   // the same for a row without dark pixels
    bool blankIsLine = false;  // (a row the pass has whitened)
};

// Applies a pass's rules to every row of the band: its edge trims see a row's dark pixels over the
// band's width, its line rows those from band column 4 on.
void flagRows(const PassRules& rules, const DarkPixels& rows, int height, PassRowFlags& flags);

// The passes' results and their working rows, kept between passes and reused from count to
// count so that no pass allocates.
struct PassWork {
    std::array<RowSet, kPassCount> lineRows;  // each pass's line rows
    PassLines lines{};                        // each pass's lines
    RowSet whitened;                          // rows the current pass has lightened or trimmed
    RowSet trimmable;

    // Room for a band of `height` rows; every set empty.
    void reset(int height);
};

// Rows lightened for pass `pass`: each line of an earlier pass with its margins, found by one
// scan upwards whose cursor the earlier passes' line rows share.
void lightenFoundLines(const PassWork& work, int pass, RowSet& whitened);

// Removes runs of one to three line rows that start at row 2 or higher and end below the top
// row, and counts the runs that are left; or, once it has counted more than `enough`, stops
// there and gives what it has counted, the rows above left as they were. `rowsRead`, where
// given, is set to the highest row on which what it counted depends (rows() where it went to
// the top).
int removeShortRunsAndCount(RowSet& lineRows, int enough = INT_MAX, int* rowsRead = nullptr);

// Runs pass `pass` (0 to 3) on rows flagged by its rules, after the earlier passes have run on
// `work`; leaves its line rows and lines in `work` and returns its lines.
int runPass(int pass, const PassRowFlags& flags, PassWork& work);

// All four passes over a band at one BDLINE.
PassLines countLines(const BandCounts& band, int bdLine, PassWork& work);

}  // namespace lathmark
