#pragma once
// Joints that are not level: a stack photographed a degree or two off level has joints that
// climb across the picture, and a row of the photograph crosses many of them. Before the rows
// are counted, each column of the counted part is moved up or down so that lines of the joints'
// slope become rows; everything after that counts as it does for a level stack. Free of Qt.

#include <FreeImage.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/bitmap.h"
#include "engine/error.h"
#include "engine/settings.h"

namespace lathmark {

// The slopes searched for ANGLE=auto: up to 5 degrees either way, to 0.05 degrees.
inline constexpr int kMostFoundSlopeHundredths = 500;
inline constexpr int kFoundSlopeStepHundredths = 5;

// The counted part in grey as the count reads it: levelled at the settings' ANGLE, or at the
// sharpest slope where it is automatic, with the slope used (in hundredths of a degree). With
// REGION=auto, the whole photograph is levelled (about its middle column) and the part is the
// stack found in it (stack_finding.h), in the levelled photograph's rows and columns. Otherwise
// the part is the region (or the whole photograph), levelled about its own middle column; at a
// slope of 0 it is as it is in the photograph, and the photograph itself is counted.
struct Levelled {
    Bitmap part;
    int hundredths = 0;
    std::optional<Region> found;  // where the stack was found, with REGION=auto
    std::string doubt;            // why its ends are in doubt, if they are
};
StepResult<Levelled> levelled(FIBITMAP* photograph, const Settings& settings);

// The slope (in hundredths of a degree, within kMostFoundSlopeHundredths either way, a multiple
// of kFoundSlopeStepHundredths) at which the rows of a grey bitmap are sharpest: the one whose
// profile along it (each row's grey level summed along the slope) changes most from row to row.
// A level part gives 0 unless another slope is sharper.
int sharpestSlope(FIBITMAP* grey);

// Each row's grey levels summed from column `fromColumn` on, for the rows `first` to `end` - 1
// counted from the top of a grey bitmap.
std::vector<double> rowProfile(FIBITMAP* grey, int first, int end, int fromColumn);

}  // namespace lathmark
