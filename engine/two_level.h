#pragma once
// The library's grey levels of a photograph, computed faster than the library computes them, and
// new two-level (1 bit per pixel) images like the library's. A pixel is dark at a threshold where
// its grey level is below it, exactly as in FreeImage_Threshold's image of the photograph.

#include <FreeImage.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/bitmap.h"
#include "engine/settings.h"

namespace lathmark {

// The library's grey level of a colour. The products and sums are kept in single precision
// and in the library's order, one step per statement, so that no compiler fuses them.
inline BYTE greyLevel(BYTE red, BYTE green, BYTE blue) {
    const float redPart = 0.2126F * static_cast<float>(red);
    const float greenPart = 0.7152F * static_cast<float>(green);
    const float bluePart = 0.0722F * static_cast<float>(blue);
    float sum = redPart + greenPart;
    sum = sum + bluePart;
    sum = sum + 0.5F;
    return static_cast<BYTE>(sum);
}

// Grey levels of rows of 24-bit pixels, equal to greyLevel pixel by pixel, the arithmetic still
// greyLevel's, step for step. Two loops do it. The portable one first spreads the channels into
// separate arrays, so that the compiler can run the arithmetic on several pixels at once. The
// wide one, for processors with AVX2, picks the channels of 16 pixels apart by shuffling bytes
// and works on eight of them at once; the photograph is read only once.
class GreyConverter {
  public:
    // `wide` asks for the wide loop; it is used only where the processor has AVX2.
    explicit GreyConverter(int width, bool wide = true);
    // The grey levels of one row; valid until the next call.
    const BYTE* row(const BYTE* pixels);
    // The same, written into `grey` (a row's width of bytes).
    void rowInto(const BYTE* pixels, BYTE* grey);
    // Whether this processor runs the wide loop.
    static bool wideAvailable();

  private:
    int width_;
    bool wide_;
    std::vector<std::int32_t> red_, green_, blue_;
    std::vector<BYTE> grey_;
};

// Whether GreyConverter covers this photograph's pixel format (24-bit colour, or 8-bit grey whose
// bytes are grey levels); other formats go through the library's threshold.
bool hasOwnThreshold(FIBITMAP* photograph);

// The grey levels of the rows of one rectangle of a photograph whose pixel format
// hasOwnThreshold covers, from the rectangle's bottom row up: the rows the library's copy of that
// rectangle would hold, without copying it.
class GreyRows {
  public:
    GreyRows(FIBITMAP* photograph, const Region& part);
    // The grey levels of the rectangle's row y (0 its bottom row), its columns from the left;
    // valid until the next call.
    const BYTE* row(int y) {
        const BYTE* pixels = scanlines_(bottom_ + y) + (colour_ ? 3 : 1) * left_;
        return colour_ ? converter_.row(pixels) : pixels;
    }
    // The same, written into `grey` (the rectangle's width of bytes).
    void rowInto(int y, BYTE* grey) {
        const BYTE* pixels = scanlines_(bottom_ + y) + (colour_ ? 3 : 1) * left_;
        if (colour_)
            converter_.rowInto(pixels, grey);
        else
            std::copy_n(pixels, width_, grey);
    }

  private:
    Scanlines scanlines_;
    bool colour_;
    int left_;
    int width_;
    int bottom_;  // the scanline of the rectangle's bottom row
    GreyConverter converter_;
};

// A new 8-bit bitmap with a grey palette, whose bytes are grey levels; empty when out of memory.
Bitmap newGrey(int width, int height);

// A new two-level bitmap like the library's: black-and-white palette, the resolution of `like`,
// every bit 0 (padding included), as the library allocates it. Empty when out of memory.
Bitmap newTwoLevel(int width, int height, FIBITMAP* like);

}  // namespace lathmark
