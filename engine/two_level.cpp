#include "engine/two_level.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#endif

namespace lathmark {
namespace {

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

// Bytes of a row shifted `Shift` bits towards the first column: each takes its low bits from
// the next byte, which must lie within the source row. With the shift a constant, the compiler
// runs the loop on many bytes at once.
template <int Shift>
void shiftBytes(const BYTE* __restrict from, BYTE* __restrict to, int count) {
    for (int k = 0; k < count; ++k)
        to[k] = static_cast<BYTE>((from[k] << Shift) | (from[k + 1] >> (8 - Shift)));
}
using ShiftBytes = void (*)(const BYTE*, BYTE*, int);
constexpr std::array<ShiftBytes, 8> kShiftBytes = {nullptr,       shiftBytes<1>, shiftBytes<2>,
                                                   shiftBytes<3>, shiftBytes<4>, shiftBytes<5>,
                                                   shiftBytes<6>, shiftBytes<7>};

// FreeImage keeps 24-bit pixels as blue, green, red on little-endian machines; the wide loops
// pick the channels apart by those positions.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__)) && \
    FI_RGBA_BLUE == 0 && FI_RGBA_GREEN == 1 && FI_RGBA_RED == 2
#define LATHMARK_WIDE_GREY 1

// Pixels a wide step works on: 48 bytes of colour in, 16 grey levels, 2 bytes of each result.
constexpr int kWideStep = 16;

// Eight pixels (24 bytes) are read as two overlapping halves: bytes 0 to 15 hold pixels 0 to 3,
// bytes 8 to 23 pixels 4 to 7. kSpread[channel] moves that channel of each pixel into the low
// byte of the pixel's own 32-bit lane, the other bytes 0 (a shuffle index of -1 gives 0).
constexpr std::array<std::int8_t, 32> spreadMask(int channel) {
    std::array<std::int8_t, 32> mask{};
    for (int lane = 0; lane < 8; ++lane)
        for (int byte = 0; byte < 4; ++byte) {
            // Pixel `lane` starts at byte 3 * lane of the eight; the second half is read from
            // byte 8 on, so there pixels 4 to 7 start at bytes 4, 7, 10 and 13.
            const int firstByte = lane < 4 ? 3 * lane : 3 * lane - 8;
            mask[static_cast<std::size_t>(4 * lane + byte)] =
                static_cast<std::int8_t>(byte == 0 ? firstByte + channel : -1);
        }
    return mask;
}
constexpr std::array<std::array<std::int8_t, 32>, 3> kSpread = {spreadMask(0), spreadMask(1),
                                                                spreadMask(2)};

__attribute__((target("avx2"))) inline __m256 channelOfEight(__m256i halves, int channel) {
    const __m256i mask = _mm256_loadu_si256(
        reinterpret_cast<const __m256i*>(kSpread[static_cast<std::size_t>(channel)].data()));
    return _mm256_cvtepi32_ps(_mm256_shuffle_epi8(halves, mask));
}

// greyLevel of eight pixels (24 bytes of colour): the same single-precision steps in the same
// order, eight at a time.
__attribute__((target("avx2"))) inline __m256i greyEight(const BYTE* pixels) {
    const __m256i halves = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 8)), 1);
    const __m256 redPart =
        _mm256_mul_ps(_mm256_set1_ps(0.2126F), channelOfEight(halves, FI_RGBA_RED));
    const __m256 greenPart =
        _mm256_mul_ps(_mm256_set1_ps(0.7152F), channelOfEight(halves, FI_RGBA_GREEN));
    const __m256 bluePart =
        _mm256_mul_ps(_mm256_set1_ps(0.0722F), channelOfEight(halves, FI_RGBA_BLUE));
    __m256 sum = _mm256_add_ps(redPart, greenPart);
    sum = _mm256_add_ps(sum, bluePart);
    sum = _mm256_add_ps(sum, _mm256_set1_ps(0.5F));
    return _mm256_cvttps_epi32(sum);
}

// Grey levels of 16 pixels (48 bytes of colour).
__attribute__((target("avx2"))) inline __m128i greySixteen(const BYTE* pixels) {
    const __m256i first = greyEight(pixels);
    const __m256i second = greyEight(pixels + 24);
    // Both halves narrowed to 16 bits, put back in pixel order, and narrowed to bytes.
    const __m256i words = _mm256_permute4x64_epi64(_mm256_packus_epi32(first, second), 0xD8);
    return _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
}

// The two-level bits of 16 grey levels at one threshold: 2 bytes, the first pixel in the
// highest bit of the first byte.
__attribute__((target("avx2"))) inline void packSixteen(__m128i grey, __m128i level, BYTE* bits) {
    const __m128i atLeast = _mm_cmpeq_epi8(_mm_max_epu8(grey, level), grey);
    // Each group of eight reversed, so that the mask of signs has the first pixel highest.
    const __m128i reversed = _mm_shuffle_epi8(
        atLeast, _mm_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(reversed));
    bits[0] = static_cast<BYTE>(mask & 0xFFu);
    bits[1] = static_cast<BYTE>(mask >> 8);
}

// greyLevel over a row, 16 pixels at a time; the last few pixels one by one.
__attribute__((target("avx2"))) void greyRowWide(const BYTE* __restrict pixels,
                                                 BYTE* __restrict grey, int width) {
    int x = 0;
    for (; x + kWideStep <= width; x += kWideStep)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(grey + x), greySixteen(pixels + 3 * x));
    for (; x < width; ++x) {
        const BYTE* pixel = pixels + 3 * x;
        grey[x] = greyLevel(pixel[FI_RGBA_RED], pixel[FI_RGBA_GREEN], pixel[FI_RGBA_BLUE]);
    }
}

// Both two-level rows of a row of colour pixels (or of grey levels, `colour` false), for the
// pixels in whole steps of 16; `width` is a multiple of 16.
__attribute__((target("avx2"))) void packRowsWide(const BYTE* __restrict pixels, bool colour,
                                                  int width, BYTE low, BYTE high,
                                                  BYTE* __restrict lowBits,
                                                  BYTE* __restrict highBits) {
    const __m128i lowLevel = _mm_set1_epi8(static_cast<char>(low));
    const __m128i highLevel = _mm_set1_epi8(static_cast<char>(high));
    int x = 0;
    for (; x + kWideStep <= width; x += kWideStep) {
        const __m128i grey = colour ? greySixteen(pixels + 3 * x)
                                    : _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + x));
        packSixteen(grey, lowLevel, lowBits + x / 8);
        packSixteen(grey, highLevel, highBits + x / 8);
    }
}
#endif

}  // namespace

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

TwoLevelPair thresholdTwice(FIBITMAP* photograph, BYTE low, BYTE high, bool wide) {
    if (!hasOwnThreshold(photograph))
        return {Bitmap(FreeImage_Threshold(photograph, low)),
                Bitmap(FreeImage_Threshold(photograph, high))};

    const int width = static_cast<int>(FreeImage_GetWidth(photograph));
    const int height = static_cast<int>(FreeImage_GetHeight(photograph));
    TwoLevelPair pair{newTwoLevel(width, height, photograph),
                      newTwoLevel(width, height, photograph)};
    if (!pair.low || !pair.high) return {};

    const bool colour = FreeImage_GetBPP(photograph) == 24;
    // The wide loop takes each row in whole steps; the rest of the row, fewer than a step's
    // pixels, goes through the portable loops.
    int wideWidth = 0;
#ifdef LATHMARK_WIDE_GREY
    if (wide && GreyConverter::wideAvailable()) wideWidth = width / kWideStep * kWideStep;
#else
    (void)wide;
#endif
    const int rest = width - wideWidth;
    GreyConverter converter(colour ? rest : 0, false);
    std::vector<BYTE> flags(static_cast<std::size_t>(rest + 7) & ~std::size_t{7});
    const Scanlines photographRows(photograph), lowRows(pair.low.get()), highRows(pair.high.get());
    for (int y = 0; y < height; ++y) {
        const BYTE* line = photographRows(y);
        BYTE* lowBits = lowRows(y);
        BYTE* highBits = highRows(y);
#ifdef LATHMARK_WIDE_GREY
        if (wideWidth > 0) packRowsWide(line, colour, wideWidth, low, high, lowBits, highBits);
#endif
        const BYTE* restPixels = line + (colour ? 3 : 1) * wideWidth;
        const BYTE* grey = colour ? converter.row(restPixels) : restPixels;
        packRows(grey, rest, low, high, flags.data(), lowBits + wideWidth / 8,
                 highBits + wideWidth / 8);
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
    const Scanlines sourceRows(binary), copyRows(copy.get());
    for (int y = 0; y < height; ++y) {
        // Row y from the bottom of the copy is row y from the bottom of the rectangle.
        const BYTE* __restrict from = sourceRows(sourceHeight - bottom + y) + firstByte;
        BYTE* __restrict to = copyRows(y);
        auto shifted = [&](int k) -> BYTE {
            const unsigned high = from[k];
            const unsigned low =
                (shift != 0 && k + 1 < usedSourceBytes - firstByte) ? from[k + 1] : 0u;
            return static_cast<BYTE>(((high << shift) | (low >> (8 - shift))) & 0xFFu);
        };
        if (shift == 0) {
            std::memcpy(to, from, static_cast<std::size_t>(wholeBytes));
        } else {
            kShiftBytes[static_cast<std::size_t>(shift)](from, to, std::max(inside, 0));
            for (int k = std::max(inside, 0); k < wholeBytes; ++k) to[k] = shifted(k);
        }
        if (rest != 0) to[wholeBytes] = static_cast<BYTE>(shifted(wholeBytes) & restMask);
    }
    return copy;
}

}  // namespace lathmark
