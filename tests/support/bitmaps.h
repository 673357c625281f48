#pragma once
// Builders of tiny two-level bitmaps for the engine's tests, so that each case is a few lines.

#include <initializer_list>
#include <string>
#include <vector>

#include "engine/bitmap.h"
#include "engine/counting_state.h"

namespace lathmark::test {

// A 1-bit bitmap with the library's black-and-white palette (index 0 black), all light.
Bitmap blankBinary(int width, int height);

// A 1-bit bitmap from text rows, listed from the bottom row (row 0) upwards: '#' is a dark
// pixel, anything else light. All rows must be `width` long.
Bitmap binaryFromRows(const std::vector<std::string>& rowsFromBottom);

// Darkens `count` pixels of row y, starting at column `from`.
void darken(FIBITMAP* dib, int y, int from, int count);

// Dark pixels of row y, read one pixel at a time through the library.
int darkPixelsByLibrary(FIBITMAP* dib, int y, int from, int to);

// Rows of a profile, as a vector of rows 0 to height-1.
std::vector<int> profileRows(const RowProfile& profile, int height);

// A band-sized CountingState ready for a pass: dibBand = `band`, width and height set.
CountingState stateWithBand(Bitmap band);

// A profile of `height` rows that is `value` on the listed rows [from, to] and 0 elsewhere.
RowProfile profileWithRuns(int height, std::initializer_list<std::pair<int, int>> runs,
                           int value = 1);

// Rows of a bitmap that are entirely light (every column 0 to width-1).
std::vector<int> lightRows(FIBITMAP* dib);

}  // namespace lathmark::test
