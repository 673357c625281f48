#pragma once
// Preparing a photograph for counting: decode it, threshold it to two levels, find the band of
// rows the stack occupies and cut that band out.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/counting_state.h"
#include "engine/passes.h"

namespace lathmark {

// Columns 0 to 3 of a photograph never belong to the band.
constexpr int kBandLeftColumn = 4;

// A failed step says why, in words that follow the photograph's name.
using StepFailure = std::optional<std::string>;

// The most pixels a photograph may have. Its size is read from the frame header first, so a
// file that claims more is refused before anything is decoded: no file can make a count
// allocate more than about 300 MB for its pixels (the decoder's own buffers come on top: up to
// about twice that again for a progressive photograph).
constexpr std::uint64_t kMaxPhotographPixels = 100'000'000;

// The largest JPEG file accepted; far more than any photograph within the pixel budget needs.
constexpr std::size_t kMaxPhotographBytes = 256u << 20;

// Decodes the JPEG file into state.dibSource, without its metadata segments (see
// jpeg_segments.h). A photograph whose picture data ends early is refused, though the decoder
// could fill in the rest (see cut_off.h). Whatever the decoder noted on the way, for a
// photograph it decoded whole (such as stray bytes before a marker), is left in
// libraryMessages() for the caller to pass on as a warning.
StepFailure decodePhotograph(CountingState& state, const std::filesystem::path& file);

// The same for a JPEG photograph held in memory.
StepFailure decodePhotographFromMemory(CountingState& state, const std::uint8_t* data,
                                       std::size_t size);

// state.dibBinary := state.dibSource thresholded at `threshold` (0 to 255): grey levels below
// it become dark (index 0), all others light (index 1). `later` gets the photograph thresholded
// at `laterThreshold`, for the later passes: both come from one sweep over the photograph.
StepFailure thresholdPhotograph(CountingState& state, int threshold, int laterThreshold,
                                Bitmap& later);
StepFailure thresholdPhotograph(CountingState& state, int threshold);

// Dark pixels of each row of a two-level image of the photograph, in columns 4 and up and in
// columns 8 and up.
void countRows(FIBITMAP* binary, RowCounts& counts);

// The band's edges, counted from the photograph's top: the rows between the background below
// and above the stack. A row is background when more than 0.7 of the photograph's width is dark
// in columns 4 and up; `darkFromColumn4` holds those dark pixels for each row from the bottom.
struct BandEdges {
    int top = 0;
    int bottom = 0;
    int firstRow() const { return std::min(top, bottom); }  // of the band, from the top
    int endRow() const { return std::max(top, bottom); }    // one past its last row
    int height() const { return endRow() - firstRow(); }
};
bool isBackgroundRow(int darkFromColumn4, int width);
BandEdges findBandEdges(const int* darkFromColumn4, int width, int height);

// Why a photograph `width` wide with these band edges has no band to count, or nothing: too
// narrow for band columns, or a band of no rows.
StepFailure bandProblem(int width, const BandEdges& edges);

// The most times a photograph row may be repeated before counting (STRETCH).
constexpr int kMaxStretch = 4;

// Repeats each row's count `stretch` times, as if each row of the photograph were repeated.
void stretchRows(std::vector<int>& rows, int stretch);

// From state.dibBinary: width and height of the photograph, its rows' dark pixels, the profile
// of columns 4 and up with background rows marked, and the band edges bandTop and bandBottom.
void findBandEdges(CountingState& state);

// The same from the row counts in state.rowsAtThreshold, for a photograph state.width wide
// and state.height high.
void findBandEdgesInRows(CountingState& state);

// Cuts the band out of `binary`, a two-level image of the photograph's size, as the library's
// copy of that rectangle would.
Bitmap cutBand(const CountingState& state, FIBITMAP* binary);

// state.dibBand := the band of state.dibBinary; width and height become the band's size.
// Fails for a photograph too narrow to have band columns, or a band of no rows.
StepFailure cutBandFromBinary(CountingState& state);

// The band's rows as the passes see them: the rows between `edges` of each photograph row's
// dark pixels at THRESHOLD and at THRESHOLD + 10 (arrays from the photograph's bottom row).
BandCounts bandCounts(const BandEdges& edges, int photographWidth, int photographHeight,
                      const BandRowCounts& atThreshold, const BandRowCounts& atLaterThreshold);

}  // namespace lathmark
