#pragma once
// Grey levels and two-level (1 bit per pixel) images made in one sweep over the photograph.
// Each result equals, byte for byte, what the library's own operations give
// (FreeImage_ConvertToGreyscale, FreeImage_Threshold, FreeImage_Copy); they are only faster:
// the photograph is turned grey once for both thresholds, and bits are written by the byte.

#include <FreeImage.h>

#include <cstdint>
#include <vector>

#include "engine/bitmap.h"

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
// and works on eight of them at once; the photograph is read only once. thresholdTwice runs the
// same wide arithmetic on whole steps of 16 pixels and this class on the rest of each row, so
// the grey levels of both loops are the ones it compares.
class GreyConverter {
  public:
    // `wide` asks for the wide loop; it is used only where the processor has AVX2.
    explicit GreyConverter(int width, bool wide = true);
    // The grey levels of one row; valid until the next call.
    const BYTE* row(const BYTE* pixels);
    // Whether this processor runs the wide loop.
    static bool wideAvailable();

  private:
    int width_;
    bool wide_;
    std::vector<std::int32_t> red_, green_, blue_;
    std::vector<BYTE> grey_;
};

// Whether thresholdTwice and greyLevel cover this photograph's pixel format (24-bit colour and
// 8-bit grey); other formats go through the library.
bool hasOwnThreshold(FIBITMAP* photograph);

// The photograph thresholded at `low` and at `high`, as FreeImage_Threshold makes them: grey
// below the threshold is index 0 (black), the rest index 1 (white). Empty bitmaps when out of
// memory. `wide` asks for the loop that works on 16 pixels at once where the processor has
// AVX2; both loops give the same bits.
struct TwoLevelPair {
    Bitmap low;
    Bitmap high;
};
TwoLevelPair thresholdTwice(FIBITMAP* photograph, BYTE low, BYTE high, bool wide = true);

// A new two-level bitmap like the library's: black-and-white palette, the resolution of `like`,
// every bit 0 (padding included), as the library allocates it. Empty when out of memory.
Bitmap newTwoLevel(int width, int height, FIBITMAP* like);

// The rectangle of a two-level bitmap from column `left` to `right` - 1 and from top-down row
// `top` to `bottom` - 1, as FreeImage_Copy makes it. Empty for a rectangle outside the bitmap
// or of no pixels.
Bitmap copyTwoLevel(FIBITMAP* binary, int left, int top, int right, int bottom);

}  // namespace lathmark
