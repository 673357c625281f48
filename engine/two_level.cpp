#include "engine/two_level.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace lathmark {
namespace {

// A new two-level bitmap like the library's: black-and-white palette, the resolution of
// `like`, every bit 0 (padding included),
// as the library allocates it.
Bitmap newTwoLevel(int width, int height, FIBITMAP* like) {
    Bitmap dib(FreeImage_Allocate(width, height, 1));
    if (!dib) return dib;
    RGBQUAD* palette = FreeImage_GetPalette(dib.get());
    palette[0] = RGBQUAD{0, 0, 0, 0};
    palette[1] = RGBQUAD{255, 255, 255, 0};
    FreeImage_SetDotsPerMeterX(dib.get(), FreeImage_GetDotsPerMeterX(like));
    FreeImage_SetDotsPerMeterY(dib.get(), FreeImage_GetDotsPerMeterY(like));
    return dib;
}

// Packs a row of grey levels into the rows of both two-level images: a bit is 1 (light) where
// the grey level is at or above that image's threshold; padding bits stay 0. Both comparisons
// go first into one flag byte per pixel (bit 0 for `low`, bit 1 for `high`), a loop the
// compiler runs on many pixels at once; then each eight flags become a byte with one
// multiplication, the first pixel in the highest bit. `flags` holds the row width rounded up to
// a multiple of 8.
void packRows(const BYTE* __restrict grey, int width, BYTE low, BYTE high, BYTE* __restrict flags,
              BYTE* __restrict lowBits, BYTE* __restrict highBits) {
    for (int x = 0; x < width; ++x)
        flags[x] = static_cast<BYTE>((grey[x] >= low ? 1u : 0u) | (grey[x] >= high ? 2u : 0u));
    const int bytes = (width + 7) >> 3;
    std::fill(flags + width, flags + 8 * bytes, BYTE{0});

    constexpr std::uint64_t kLowestBits = 0x0101010101010101u;
    // Moves bit 0 of byte i of a word to bit 63 - i, without carries between them.
    constexpr std::uint64_t kGather = 0x8040201008040201u;
    for (int k = 0; k < bytes; ++k) {
        std::uint64_t eight;
        std::memcpy(&eight, flags + 8 * k, sizeof eight);
        if constexpr (std::endian::native == std::endian::big) eight = __builtin_bswap64(eight);
        lowBits[k] = static_cast<BYTE>(((eight & kLowestBits) * kGather) >> 56);
        highBits[k] = static_cast<BYTE>((((eight >> 1) & kLowestBits) * kGather) >> 56);
    }
}

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define LATHMARK_WIDE_GREY 1
// greyLevel over a row, straight from the interleaved pixels.
__attribute__((target("avx2"))) void greyRowWide(const BYTE* __restrict pixels,
                                                 BYTE* __restrict grey, int width) {
    for (int x = 0; x < width; ++x) {
        const BYTE* pixel = pixels + 3 * x;
        grey[x] = greyLevel(pixel[FI_RGBA_RED], pixel[FI_RGBA_GREEN], pixel[FI_RGBA_BLUE]);
    }
}
#endif

}  // namespace

bool GreyConverter::wideAvailable() {
#ifdef LATHMARK_WIDE_GREY
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
#else
    return false;
#endif
}

GreyConverter::GreyConverter(int width, bool wide)
    : width_(width),
      wide_(wide && wideAvailable()),
      red_(wide_ ? 0 : static_cast<std::size_t>(width)),
      green_(wide_ ? 0 : static_cast<std::size_t>(width)),
      blue_(wide_ ? 0 : static_cast<std::size_t>(width)),
      grey_(static_cast<std::size_t>(width)) {}

const BYTE* GreyConverter::row(const BYTE* pixels) {
    // Copied to a local: the stores below could otherwise alias the member, and the compiler
    // would read it again after each one instead of running the loops on several pixels at once.
    const int width = width_;
    BYTE* __restrict grey = grey_.data();
#ifdef LATHMARK_WIDE_GREY
    if (wide_) {
        greyRowWide(pixels, grey, width);
        return grey;
    }
#endif
    std::int32_t* __restrict red = red_.data();
    std::int32_t* __restrict green = green_.data();
    std::int32_t* __restrict blue = blue_.data();
    for (int x = 0; x < width; ++x) {
        red[x] = pixels[3 * x + FI_RGBA_RED];
        green[x] = pixels[3 * x + FI_RGBA_GREEN];
        blue[x] = pixels[3 * x + FI_RGBA_BLUE];
    }
    for (int x = 0; x < width; ++x) {
        const float redPart = 0.2126F * static_cast<float>(red[x]);
        const float greenPart = 0.7152F * static_cast<float>(green[x]);
        const float bluePart = 0.0722F * static_cast<float>(blue[x]);
        float sum = redPart + greenPart;
        sum = sum + bluePart;
        sum = sum + 0.5F;
        grey[x] = static_cast<BYTE>(static_cast<std::int32_t>(sum));
    }
    return grey;
}

bool hasOwnThreshold(FIBITMAP* photograph) {
    if (FreeImage_GetImageType(photograph) != FIT_BITMAP || !FreeImage_HasPixels(photograph))
        return false;
    const unsigned bpp = FreeImage_GetBPP(photograph);
    return bpp == 24 || (bpp == 8 && FreeImage_GetColorType(photograph) == FIC_MINISBLACK);
}

TwoLevelPair thresholdTwice(FIBITMAP* photograph, BYTE low, BYTE high) {
    if (!hasOwnThreshold(photograph))
        return {Bitmap(FreeImage_Threshold(photograph, low)),
                Bitmap(FreeImage_Threshold(photograph, high))};

    const int width = static_cast<int>(FreeImage_GetWidth(photograph));
    const int height = static_cast<int>(FreeImage_GetHeight(photograph));
    TwoLevelPair pair{newTwoLevel(width, height, photograph),
                      newTwoLevel(width, height, photograph)};
    if (!pair.low || !pair.high) return {};

    const bool colour = FreeImage_GetBPP(photograph) == 24;
    GreyConverter converter(colour ? width : 0);
    std::vector<BYTE> flags(static_cast<std::size_t>(width + 7) & ~std::size_t{7});
    for (int y = 0; y < height; ++y) {
        const BYTE* line = FreeImage_GetScanLine(photograph, y);
        const BYTE* grey = colour ? converter.row(line) : line;
        packRows(grey, width, low, high, flags.data(), FreeImage_GetScanLine(pair.low.get(), y),
                 FreeImage_GetScanLine(pair.high.get(), y));
    }
    return pair;
}

Bitmap copyTwoLevel(FIBITMAP* binary, int left, int top, int right, int bottom) {
    const int sourceWidth = static_cast<int>(FreeImage_GetWidth(binary));
    const int sourceHeight = static_cast<int>(FreeImage_GetHeight(binary));
    if (left < 0 || top < 0 || right > sourceWidth || bottom > sourceHeight || left >= right ||
        top >= bottom)
        return Bitmap();
    const int width = right - left;
    const int height = bottom - top;
    Bitmap copy = newTwoLevel(width, height, binary);
    if (!copy) return copy;

    const int usedSourceBytes = (sourceWidth + 7) >> 3;
    const int firstByte = left >> 3;
    const int shift = left & 7;
    const int wholeBytes = width >> 3;
    const int rest = width & 7;
    const auto restMask = static_cast<BYTE>(0xFFu << (8 - rest));
    // Whole bytes of the copy whose source bytes lie within the used part of the source row.
    const int inside = std::min(wholeBytes, usedSourceBytes - firstByte - 1);
    for (int y = 0; y < height; ++y) {
        // Row y from the bottom of the copy is row y from the bottom of the rectangle.
        const BYTE* __restrict from =
            FreeImage_GetScanLine(binary, sourceHeight - bottom + y) + firstByte;
        BYTE* __restrict to = FreeImage_GetScanLine(copy.get(), y);
        auto shifted = [&](int k) -> BYTE {
            const unsigned high = from[k];
            const unsigned low =
                (shift != 0 && k + 1 < usedSourceBytes - firstByte) ? from[k + 1] : 0u;
            return static_cast<BYTE>(((high << shift) | (low >> (8 - shift))) & 0xFFu);
        };
        if (shift == 0) {
            std::memcpy(to, from, static_cast<std::size_t>(wholeBytes));
        } else {
            int k = 0;
            for (; k < inside; ++k)
                to[k] = static_cast<BYTE>((from[k] << shift) | (from[k + 1] >> (8 - shift)));
            for (; k < wholeBytes; ++k) to[k] = shifted(k);
        }
        if (rest != 0) to[wholeBytes] = static_cast<BYTE>(shifted(wholeBytes) & restMask);
    }
    return copy;
}

}  // namespace lathmark
