#pragma once
// Row operations on two-level (1 bit per pixel) bitmaps, done on whole scanlines.
// A pixel's bit is its palette index: 0 is dark, 1 is light. Rows count from the bottom
// scanline, as the library's pixel calls do. Bits past the last column (scanline padding)
// are never read or changed, so the results equal those of per-pixel library calls.

#include <FreeImage.h>

namespace lathmark {

// Dark pixels in columns [fromColumn, toColumn) of row y.
int countDarkPixels(FIBITMAP* dib, int y, int fromColumn, int toColumn);

// Gives every pixel of row y, columns 0 to width-1, index 1 (whiten) or 0 (blacken).
// A row outside the bitmap is skipped, as the library skips pixel writes outside it.
void whitenRow(FIBITMAP* dib, int y);
void blackenRow(FIBITMAP* dib, int y);

// Whitens rows [fromRow, toRow), skipping those outside the bitmap.
void whitenRows(FIBITMAP* dib, int fromRow, int toRow);

}  // namespace lathmark
