#pragma once
// The four line-counting passes. They are one procedure; a table holds what differs from pass
// to pass. Pass 1 works on the band of the photograph thresholded at THRESHOLD; passes 2 to 4
// each start from a fresh band of the photograph thresholded at THRESHOLD + 10, lighten the
// lines that earlier passes found, and look for fainter ones with looser limits.

#include <array>
#include <cstdint>

#include "engine/counting_state.h"

namespace lathmark {

struct PassParameters {
    int thresholdIncrement;       // added to THRESHOLD for this pass's two-level image
    bool trimProfileLineMinimum;  // trim profile rows below BDLINE count as 0 (pass 1 only)
    double trimRatio;             // edge rows above trimRatio × BDLINE dark pixels are trimmed
    double fullRowRatio;          // a row above fullRowRatio × W dark pixels is full
    double lineMinimumRatio;      // a row below lineMinimumRatio × BDLINE is no line row
    RowProfile CountingState::*profile;  // the pass profile this pass writes
};

constexpr int kPassCount = 4;

// One row per pass. Each pass also lightens the lines of every pass before it.
inline constexpr std::array<PassParameters, kPassCount> kPasses{{
    {0, true, 0.5, 0.7, 1.0, &CountingState::passProfile1},
    {10, false, 1.0, 0.6, 0.8, &CountingState::passProfile2},
    {10, false, 0.5, 0.1, 0.3, &CountingState::passProfile3},
    {10, false, 0.4, 0.05, 0.15, &CountingState::passProfile4},
}};

// Runs pass `pass` (0 to 3) on state.dibBand, which must be a fresh, unlightened band, and
// returns the number of lines it found. Writes the band, bandProfile and the pass profile.
int runPass(CountingState& state, int pass, std::int16_t bdLine);

// Lightens, in the band, the lines of the earlier passes' profiles with their margins: one scan
// upwards whose cursor all profiles share.
void lightenFoundLines(CountingState& state, int pass);

// Builds the pass profile row by row, clearing runs of one to three line rows as it goes.
void buildPassProfile(CountingState& state, const PassParameters& parameters, std::int16_t bdLine);

// Maximal runs of positive entries among rows 0 to height-1.
int countRuns(const RowProfile& profile, int height);

}  // namespace lathmark
