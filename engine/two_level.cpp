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

// FreeImage keeps 24-bit pixels as blue, green, red on little-endian machines; the wide loops
// pick the channels apart by those positions.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__)) && \
    FI_RGBA_BLUE == 0 && FI_RGBA_GREEN == 1 && FI_RGBA_RED == 2
#define LATHMARK_WIDE_GREY 1

// Pixels a wide step works on: 48 bytes of colour in, 16 grey levels out.
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
    rowInto(pixels, grey_.data());
    return grey_.data();
}

void GreyConverter::rowInto(const BYTE* pixels, BYTE* __restrict grey) {
    // Copied to a local: the stores below could otherwise alias the member, and the compiler
    // would read it again after each one instead of running the loops on several pixels at once.
    const int width = width_;
#ifdef LATHMARK_WIDE_GREY
    if (wide_) {
        greyRowWide(pixels, grey, width);
        return;
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
}

GreyRows::GreyRows(FIBITMAP* photograph, const Region& part)
    : scanlines_(photograph),
      colour_(FreeImage_GetBPP(photograph) == 24),
      left_(part.left),
      width_(part.width),
      bottom_(static_cast<int>(FreeImage_GetHeight(photograph)) - part.top - part.height),
      converter_(colour_ ? part.width : 0) {}

bool hasOwnThreshold(FIBITMAP* photograph) {
    if (FreeImage_GetImageType(photograph) != FIT_BITMAP || !FreeImage_HasPixels(photograph))
        return false;
    const unsigned bpp = FreeImage_GetBPP(photograph);
    return bpp == 24 || (bpp == 8 && FreeImage_GetColorType(photograph) == FIC_MINISBLACK);
}

Bitmap newGrey(int width, int height) {
    Bitmap grey(FreeImage_Allocate(width, height, 8));
    if (!grey) return grey;
    for (int i = 0; i < 256; ++i) {
        const auto level = static_cast<BYTE>(i);
        FreeImage_GetPalette(grey.get())[i] = {level, level, level, 0};
    }
    return grey;
}

}  // namespace lathmark
