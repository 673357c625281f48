#include "engine/preparation.h"

#include <algorithm>
#include <cstdint>

#include "engine/passes.h"
#include "engine/rows.h"
#include "engine/two_level.h"

namespace lathmark {
namespace {

// A row with more dark pixels than this share of the width is background (floor or wall).
constexpr double kBackgroundRatio = 0.7;

// Pixels of grey[from, to) below `low` and below `high`. The sums run in blocks short enough for
// byte-sized counters, which the compiler adds up many at a time.
void countBelow(const BYTE* __restrict grey, int from, int to, BYTE low, BYTE high, int& belowLow,
                int& belowHigh) {
    constexpr int kBlock = 255;
    for (int start = from; start < to; start += kBlock) {
        const int end = std::min(to, start + kBlock);
        std::uint8_t lowCount = 0;
        std::uint8_t highCount = 0;
        for (int x = start; x < end; ++x) {
            lowCount = static_cast<std::uint8_t>(lowCount + (grey[x] < low ? 1 : 0));
            highCount = static_cast<std::uint8_t>(highCount + (grey[x] < high ? 1 : 0));
        }
        belowLow += lowCount;
        belowHigh += highCount;
    }
}

// The rows' counts from the photograph's own grey levels (24-bit colour or 8-bit grey).
void countGreyRows(FIBITMAP* photograph, const Region& part, BYTE low, BYTE high, RowCounts& rows) {
    const int width = rows.width;
    const int edgeEnd = std::min(2 * kBandLeftColumn, width);
    GreyRows greyRows(photograph, part);
    int* const lowFrom4 = rows.fill(0);
    int* const lowFrom8 = rows.fill(1);
    int* const highFrom4 = rows.fill(2);
    int* const highFrom8 = rows.fill(3);
    for (int y = 0; y < rows.height; ++y) {
        const BYTE* grey = greyRows.row(y);
        int edgeLow = 0, edgeHigh = 0, restLow = 0, restHigh = 0;
        countBelow(grey, kBandLeftColumn, edgeEnd, low, high, edgeLow, edgeHigh);
        countBelow(grey, 2 * kBandLeftColumn, width, low, high, restLow, restHigh);
        lowFrom8[y] = restLow;
        lowFrom4[y] = edgeLow + restLow;
        highFrom8[y] = restHigh;
        highFrom4[y] = edgeHigh + restHigh;
    }
}

// Other pixel formats are cut to the counted part and thresholded by the library, and the dark
// bits of its two-level images counted.
StepFailure countLibraryRows(FIBITMAP* photograph, const Region& part, BYTE low, BYTE high,
                             RowCounts& rows) {
    const Bitmap cut = cutOut(photograph, part);
    if (!cut) return "the region could not be cut out (out of memory?)";
    for (const auto& [level, first] : {std::pair{low, 0}, std::pair{high, 2}}) {
        const Bitmap binary(FreeImage_Threshold(cut.get(), level));
        if (!binary) return "its pixel format cannot be turned into black and white";
        countDarkRows(TwoLevelRows(binary.get()), rows.fill(first), rows.fill(first + 1));
    }
    return std::nullopt;
}

StepFailure bandProblem(int width, const BandEdges& edges) {
    if (width <= kBandLeftColumn)
        return "is too narrow: " + std::to_string(width) + (width == 1 ? " pixel" : " pixels") +
               " wide, but the board band needs at least " + std::to_string(kBandLeftColumn + 1);
    if (edges.height() == 0)
        return "has no board band: only one of its rows is not dark background";
    return std::nullopt;
}

}  // namespace

StepResult<Region> countedPart(FIBITMAP* photograph, const std::optional<Region>& region) {
    const int width = static_cast<int>(FreeImage_GetWidth(photograph));
    const int height = static_cast<int>(FreeImage_GetHeight(photograph));
    if (auto problem = regionProblem(region, width, height)) return Failed{*problem};
    return region.value_or(Region{0, 0, width, height});
}

Bitmap cutOut(FIBITMAP* photograph, const Region& part) {
    return Bitmap(FreeImage_Copy(photograph, part.left, part.top, part.left + part.width,
                                 part.top + part.height));
}

StepResult<RowCounts> countRows(FIBITMAP* photograph, const Settings& settings) {
    if (auto problem = countingProblem(settings)) return Failed{*problem};
    const StepResult<Region> part = countedPart(photograph, settings.region);
    if (!part.ok()) return Failed{*part.failure};
    RowCounts rows = RowCounts::held(part.value.width, part.value.height);
    const auto low = static_cast<BYTE>(settings.threshold);
    const auto high = static_cast<BYTE>(settings.threshold + kPasses[1].thresholdIncrement);
    if (hasOwnThreshold(photograph))
        countGreyRows(photograph, part.value, low, high, rows);
    else if (auto failure = countLibraryRows(photograph, part.value, low, high, rows))
        return Failed{*failure};
    return stretchRows(std::move(rows), settings.stretch);
}

RowCounts stretchRows(RowCounts rows, int stretch) {
    if (stretch <= 1) return rows;
    RowCounts stretched = RowCounts::held(rows.width, rows.height * stretch);
    const int* from[] = {rows.atThreshold.fromColumn4, rows.atThreshold.fromColumn8,
                         rows.atLaterThreshold.fromColumn4, rows.atLaterThreshold.fromColumn8};
    for (int which = 0; which < 4; ++which) {
        int* to = stretched.fill(which);
        for (int y = 0; y < rows.height; ++y)
            std::fill_n(to + static_cast<std::ptrdiff_t>(y) * stretch, stretch, from[which][y]);
    }
    return stretched;
}

bool isBackgroundRow(int darkFromColumn4, int width) {
    return darkFromColumn4 > kBackgroundRatio * width;
}

BandEdges findBandEdges(const int* darkFromColumn4, int width, int height) {
    // Walk in from each edge over background rows. The bottom walk may end past the top row;
    // the top walk stops at row 0 at the latest.
    BandEdges edges;
    int y = 0;
    while (y < height && isBackgroundRow(darkFromColumn4[y], width)) ++y;
    edges.bottom = height - y;
    y = height - 1;
    while (y > 0 && isBackgroundRow(darkFromColumn4[y], width)) --y;
    edges.top = height - y;
    return edges;
}

StepResult<Band> findBand(const RowCounts& rows) {
    Band band;
    band.edges = findBandEdges(rows.atThreshold.fromColumn4, rows.width, rows.height);
    if (auto problem = bandProblem(rows.width, band.edges)) return Failed{*problem};
    // Band row 0 is the photograph row just above the rows below the band.
    const int lowest = rows.height - band.edges.endRow();
    band.counts = {rows.width - kBandLeftColumn, band.edges.height(),
                   rows.atThreshold.above(lowest), rows.atLaterThreshold.above(lowest)};
    return band;
}

}  // namespace lathmark
