#pragma once
// The working state of one count: the bitmaps of the run, the row profiles and the band.
//
// A row profile holds one entry per row of the bitmap being profiled, row 0 being the bottom
// row. Profiles grow to fit the bitmap, so photographs of any height can be counted; entries
// at or above the current height are not part of the profile and read as 0.

#include <algorithm>
#include <vector>

#include "engine/bitmap.h"

namespace lathmark {

using RowProfile = std::vector<int>;

// The entry of row y, or 0 for a row outside [0, height).
inline int entryAt(const RowProfile& profile, int y, int height) {
    return (y >= 0 && y < height && static_cast<std::size_t>(y) < profile.size())
               ? profile[static_cast<std::size_t>(y)]
               : 0;
}

// Profiles start with room for a camera frame's 577 rows and grow beyond that when needed.
inline void fitProfile(RowProfile& profile, int rows) {
    constexpr std::size_t kInitialRows = 577;
    const auto wanted = std::max(kInitialRows, static_cast<std::size_t>(rows));
    if (profile.size() < wanted) profile.resize(wanted, 0);
}

// Dark pixels of each photograph row at one threshold, row 0 being the bottom row: in columns 4
// and up (the band edges and the passes' trims) and in columns 8 and up (their line rows).
struct RowCounts {
    std::vector<int> fromColumn4;
    std::vector<int> fromColumn8;
};

struct CountingState {
    Bitmap dibSource;  // the decoded photograph
    Bitmap dibBinary;  // the photograph thresholded to two levels
    Bitmap dibBand;    // the result image: the band cut out of the last two-level image

    RowCounts rowsAtThreshold;       // of dibBinary
    RowCounts rowsAtLaterThreshold;  // of the photograph thresholded at THRESHOLD + 10

    RowProfile bandProfile;  // dark pixels per photograph row from column 4, background marked
    RowProfile passProfile1;
    RowProfile passProfile2;
    RowProfile passProfile3;
    RowProfile passProfile4;

    int bandTop = 0;     // band edges, rows counted from the top of the photograph
    int bandBottom = 0;  // (the band is rows min..max-1 of the two, top-down)
    int width = 0;       // size of the bitmap being profiled: after preparation, the band's
    int height = 0;
};

}  // namespace lathmark
