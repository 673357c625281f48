#pragma once
// Joints that are not level: a stack photographed a degree or two off level has joints that
// climb across the picture, and a row of the photograph crosses many of them. Before the rows
// are counted, each column of the counted part is moved up or down so that lines of the joints'
// slope become rows; everything after that counts as it does for a level stack. Free of Qt.

#include <FreeImage.h>

#include <optional>

#include "engine/bitmap.h"
#include "engine/error.h"
#include "engine/settings.h"

namespace lathmark {

// The slopes searched for ANGLE=auto: up to 5 degrees either way, to 0.05 degrees.
inline constexpr int kMostFoundSlopeHundredths = 500;
inline constexpr int kFoundSlopeStepHundredths = 5;

// The grey levels of the counted part (`region`, or all) of a photograph, as an 8-bit grey
// bitmap with a grey palette, each column moved so that a line rising `hundredths` of a degree
// to the right lies along one row. Column x is moved by tan(slope) (x - the middle column) rows,
// rounded; a row that would come from beyond the part repeats the part's edge row.
StepResult<Bitmap> levelledPart(FIBITMAP* photograph, const std::optional<Region>& region,
                                int hundredths);

// The slope (in hundredths of a degree, within kMostFoundSlopeHundredths either way, a multiple
// of kFoundSlopeStepHundredths) at which the rows of the counted part are sharpest: the one whose
// profile along it (each row's grey level summed along the slope) changes most from row to row.
// A level part gives 0 unless another slope is sharper.
StepResult<int> sharpestSlope(FIBITMAP* photograph, const std::optional<Region>& region);

// The counted part in grey as the count reads it: levelled at `angle`, or at the sharpest slope
// where it is automatic, with the slope used (in hundredths of a degree). At a slope of 0 the
// part is as it is in the photograph, and the photograph itself is counted.
struct Levelled {
    Bitmap part;
    int hundredths = 0;
};
StepResult<Levelled> levelled(FIBITMAP* photograph, const std::optional<Region>& region,
                              const Angle& angle);

}  // namespace lathmark
