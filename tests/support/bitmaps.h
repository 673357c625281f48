#pragma once
// Builders of tiny two-level bitmaps for the engine's tests, so that each case is a few lines.

#include <initializer_list>
#include <string>
#include <vector>

#include "engine/bitmap.h"

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

// Rows of a bitmap that are entirely light (every column 0 to width-1).
std::vector<int> lightRows(FIBITMAP* dib);

// A band `width` wide whose row y has darkFromBottom[y] dark pixels from column 4 on, the first
// column the passes count as a line pixel.
Bitmap bandFromCounts(int width, const std::vector<int>& darkFromBottom);

// The rows lo to hi, both included.
std::vector<int> rowRange(int lo, int hi);

// A photograph `width` wide with 8 (grey palette) or 24 bits per pixel whose row y has grey level
// greyFromBottom[y].
Bitmap greyPhotograph(int width, const std::vector<int>& greyFromBottom, int bitsPerPixel = 24);

// A joint between two boards: `rows` rows of grey level `grey` from row firstRow up, in columns
// 4 to 4 + columns - 1.
struct Joint {
    int firstRow;
    int grey;
    int columns = 100;
    int rows = 5;
};

// A 24-bit photograph 80 rows high: dark floor (rows 0 to 9) and wall (rows 70 to 79), light
// boards (grey 200) between them with the given joints. Its band is rows 10 to 68.
Bitmap stackPhotograph(const std::vector<Joint>& joints, int width = 104);

}  // namespace lathmark::test
