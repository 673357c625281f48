#pragma once
// Choosing the settings from photographs of known count. Each photograph's landscape says which
// settings count it right; the choice is the setting that counts the most photographs right,
// among those the one farthest from any setting that counts fewer right, among those the one
// with the smaller STRETCH, and among those the one nearest the current settings.
//
// Distances between settings: 3 grey levels of THRESHOLD weigh as much as 10 % of BDLINE at the
// setting measured from, but at least 1 % of the widest BDLINE searched (see MarginRule), and a
// setting's distance is the larger of the two. A margin of m thus means that every setting within
// 3 × m grey levels and m such units of BDLINE counts as many photographs right; the BDLINE just
// past the highest searched counts as one that counts fewer, as nothing is known of it.
// Of settings as near the current ones, the nearer by the sum of both distances wins, then the
// lower THRESHOLD, then the lower BDLINE.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/error.h"
#include "engine/grid.h"
#include "engine/landscape.h"
#include "engine/settings.h"

namespace lathmark {

// How many photographs each setting counts right: THRESHOLD 0 to 245, BDLINE 0 to bdLineMax.
using RightCounts = SettingsGrid<int>;

struct SettingsChoice {
    Settings settings;  // THRESHOLD, BDLINE and STRETCH chosen
    int right = 0;      // photographs it counts right
    // Around it, with the other setting fixed, the settings that count as many right.
    std::array<int, 2> thresholdRange{};
    std::array<int, 2> bdLineRange{};
    // Its distance to the nearest setting that counts fewer right; none if no setting does.
    std::optional<double> margin;
};

// One unit of BDLINE distance, in tenths of BDLINE, at BDLINE `bdLine` in a search of BDLINE 0
// to `bdLineMax` (it weighs as much as 3 grey levels of THRESHOLD): 10 % of the BDLINE measured
// from, but at least 1 % of the widest BDLINE searched (the counted width), and at least 1.
std::int64_t tenthOfBdLineAtLeastHundredthOfWidth(int bdLine, int bdLineMax);

// How a margin is measured: what one unit of BDLINE is, or no margin at all (no unit: the most
// right, then the nearest the current settings); and whether the end of the BDLINE searched
// counts as an edge, as if the settings beyond it counted fewer right (they are not searched, so
// nothing says they count as many). Calibration measures by the unit of the rules that tied best
// on the sample sets and the generated station and production-line sets, the one that favours
// neither end of BDLINE for its units alone; the benchmark that compared them (see
// bench/README.md) keeps the others.
struct MarginRule {
    using Unit = std::int64_t (*)(int bdLine, int bdLineMax);
    Unit unit = &tenthOfBdLineAtLeastHundredthOfWidth;
    bool searchEndIsEdge = true;
};

// The choice over one grid per STRETCH, from STRETCH 1 up: the most right at any STRETCH; then
// the widest margin within its STRETCH's grid; then the smaller STRETCH; then the nearest the
// `current` settings (which may lie outside the grid).
SettingsChoice chooseSettings(const std::vector<RightCounts>& byStretch, const Settings& current,
                              MarginRule rule = {});

// Whether setting `a` lies nearer the `current` settings than `b`, as chooseSettings measures it.
bool nearerCurrent(const Settings& a, const Settings& b, const Settings& current);

// Whether choice `a`, made within a region `aWidth` wide, is better than `b` within one `bWidth`
// wide: more photographs right; then the wider margin; then the wider region; then the smaller
// STRETCH; then the nearer the current settings.
bool betterChoice(const SettingsChoice& a, int aWidth, const SettingsChoice& b, int bWidth,
                  const Settings& current);

// What a calibration keeps of one photograph's landscapes at every STRETCH: which settings
// (THRESHOLD 0 to 245, BDLINE 0 to bdLineMax) count it right.
struct PhotographRight {
    std::vector<SettingsGrid<bool>> right;  // per STRETCH from 1 up
    // Per BDLINE, the count nearest its true boards that any setting of that BDLINE reaches.
    std::vector<int> nearest;
    // Per STRETCH and THRESHOLD, the band's height in photograph rows (before STRETCH); 0 where
    // there is no band.
    std::vector<std::array<int, kThresholds>> bandRows;
    StepFailure failure;  // why no setting counts anything, where none does

    bool ok() const { return !failure.has_value(); }
};
// With `nearestWanted` false, `nearest` is right only where some setting counts the photograph
// right (it is then `boards`); the settings that count more are passed over sooner, which is
// what makes a search for the region quick.
PhotographRight rightSettings(const ThresholdTable& table, int boards, int bdLineMax,
                              bool nearestWanted = true);

// The count nearest `boards` that any setting up to BDLINE `bdLineMax` reaches.
int nearestCount(const PhotographRight& photograph, int boards, int bdLineMax);

// The band's height, in photograph rows, of a photograph at `settings` (THRESHOLD and STRETCH).
int bandRowsAt(const PhotographRight& photograph, const Settings& settings);

// The THICKNESS, in hundredths of a row, that best explains band heights by boards (the least
// squares through the origin), from each photograph's band rows and true boards; 0 for none.
int fitThickness(const std::vector<std::pair<int, int>>& bandRowsAndBoards);

// Adds a photograph's right settings to one count per STRETCH (`sign` -1 takes them away).
void addRight(std::vector<RightCounts>& counts, const PhotographRight& photograph, int sign = 1);

}  // namespace lathmark
