#pragma once
// Row operations on two-level (1 bit per pixel) bitmaps, done on whole scanlines.
// A pixel's bit is its palette index: 0 is dark, 1 is light. Rows count from the bottom
// scanline, as the library's pixel calls do. Bits past the last column (scanline padding)
// are never read or changed, so the results equal those of per-pixel library calls.

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>

namespace lathmark {

// The scanlines of a two-level bitmap, looked up once so that loops over rows need no library
// call per row.
class TwoLevelRows {
  public:
    explicit TwoLevelRows(FIBITMAP* dib)
        : bits_(FreeImage_GetBits(dib)),
          pitch_(FreeImage_GetPitch(dib)),
          width_(static_cast<int>(FreeImage_GetWidth(dib))),
          height_(static_cast<int>(FreeImage_GetHeight(dib))) {}

    int width() const { return width_; }
    int height() const { return height_; }
    bool contains(int y) const { return y >= 0 && y < height_; }
    BYTE* row(int y) const { return bits_ + static_cast<std::size_t>(y) * pitch_; }

  private:
    BYTE* bits_;
    std::size_t pitch_;
    int width_;
    int height_;
};

// Dark pixels in columns [fromColumn, toColumn) of row y; 0 for a row outside the bitmap.
int countDarkPixels(const TwoLevelRows& rows, int y, int fromColumn, int toColumn);

// Each row's dark pixels in columns 4 and up and in columns 8 and up, of a two-level bitmap.
void countDarkRows(const TwoLevelRows& rows, int* fromColumn4, int* fromColumn8);

// Gives every pixel of row y, columns 0 to width-1, index 1 (whiten) or 0 (blacken).
// A row outside the bitmap is skipped, as the library skips pixel writes outside it.
void whitenRow(const TwoLevelRows& rows, int y);
void blackenRow(const TwoLevelRows& rows, int y);

}  // namespace lathmark
