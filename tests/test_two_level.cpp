// Our grey levels, thresholds and cuts against the library's own operations: the engine uses
// ours because they are faster, so they must give the very same bytes.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

#include "engine/two_level.h"
#include "tests/support/bitmaps.h"

namespace lathmark {
namespace {

// Everything the BMP writer and the counting read of a bitmap: size, depth, palette,
// resolution and every byte of every scanline, padding included.
void expectSameBitmap(FIBITMAP* ours, FIBITMAP* library, const std::string& what) {
    ASSERT_TRUE(ours) << what;
    ASSERT_TRUE(library) << what;
    ASSERT_EQ(FreeImage_GetWidth(ours), FreeImage_GetWidth(library)) << what;
    ASSERT_EQ(FreeImage_GetHeight(ours), FreeImage_GetHeight(library)) << what;
    ASSERT_EQ(FreeImage_GetBPP(ours), FreeImage_GetBPP(library)) << what;
    ASSERT_EQ(FreeImage_GetPitch(ours), FreeImage_GetPitch(library)) << what;
    EXPECT_EQ(FreeImage_GetColorsUsed(ours), FreeImage_GetColorsUsed(library)) << what;
    EXPECT_EQ(FreeImage_GetColorType(ours), FreeImage_GetColorType(library)) << what;
    EXPECT_EQ(FreeImage_GetDotsPerMeterX(ours), FreeImage_GetDotsPerMeterX(library)) << what;
    EXPECT_EQ(FreeImage_GetDotsPerMeterY(ours), FreeImage_GetDotsPerMeterY(library)) << what;
    for (unsigned i = 0; i < FreeImage_GetColorsUsed(ours); ++i) {
        const RGBQUAD a = FreeImage_GetPalette(ours)[i], b = FreeImage_GetPalette(library)[i];
        EXPECT_TRUE(a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen && a.rgbBlue == b.rgbBlue &&
                    a.rgbReserved == b.rgbReserved)
            << what << ", palette entry " << i;
    }
    const unsigned pitch = FreeImage_GetPitch(ours);
    for (unsigned y = 0; y < FreeImage_GetHeight(ours); ++y)
        ASSERT_EQ(0, std::memcmp(FreeImage_GetScanLine(ours, static_cast<int>(y)),
                                 FreeImage_GetScanLine(library, static_cast<int>(y)), pitch))
            << what << ", row " << y;
}

// A 4096 x 4096 colour photograph that holds every 24-bit colour once, at an odd resolution.
Bitmap everyColour() {
    Bitmap dib(FreeImage_Allocate(4096, 4096, 24));
    for (int y = 0; y < 4096; ++y) {
        BYTE* pixel = FreeImage_GetScanLine(dib.get(), y);
        for (unsigned x = 0; x < 4096; ++x, pixel += 3) {
            const unsigned colour = static_cast<unsigned>(y) * 4096u + x;
            pixel[FI_RGBA_RED] = static_cast<BYTE>(colour >> 16);
            pixel[FI_RGBA_GREEN] = static_cast<BYTE>(colour >> 8);
            pixel[FI_RGBA_BLUE] = static_cast<BYTE>(colour);
        }
    }
    FreeImage_SetDotsPerMeterX(dib.get(), 2835);
    FreeImage_SetDotsPerMeterY(dib.get(), 3780);
    return dib;
}

// Both loops of the converter (the wide one where this processor has it), and the one-pixel
// function, against the library for all 2^24 colours.
class GreyLevels : public ::testing::TestWithParam<bool> {};

TEST_P(GreyLevels, EqualTheLibrarysForEveryColour) {
    const bool wide = GetParam();
    if (wide && !GreyConverter::wideAvailable()) GTEST_SKIP() << "no AVX2 on this processor";
    const Bitmap colours = everyColour();
    const Bitmap libraryGrey(FreeImage_ConvertToGreyscale(colours.get()));
    ASSERT_EQ(FreeImage_GetBPP(libraryGrey.get()), 8u);
    GreyConverter converter(4096, wide);
    long long differing = 0, differingOneByOne = 0;
    for (int y = 0; y < 4096; ++y) {
        const BYTE* pixels = FreeImage_GetScanLine(colours.get(), y);
        const BYTE* ours = converter.row(pixels);
        const BYTE* library = FreeImage_GetScanLine(libraryGrey.get(), y);
        for (int x = 0; x < 4096; ++x) {
            differing += ours[x] != library[x];
            const BYTE* pixel = pixels + 3 * x;
            differingOneByOne += greyLevel(pixel[FI_RGBA_RED], pixel[FI_RGBA_GREEN],
                                           pixel[FI_RGBA_BLUE]) != library[x];
        }
    }
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(differingOneByOne, 0);
}

INSTANTIATE_TEST_SUITE_P(Loops, GreyLevels, ::testing::Values(false, true),
                         [](const auto& loop) { return loop.param ? "Wide" : "Portable"; });

// Both threshold loops: the wide one (where this processor has it) takes whole steps of 16
// pixels and leaves the rest of a row to the portable one.
class Threshold : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (GetParam() && !GreyConverter::wideAvailable())
            GTEST_SKIP() << "no AVX2 on this processor";
    }
};

TEST_P(Threshold, EqualsTheLibrarysForEveryGreyLevelAndEveryThreshold) {
    // Every grey level in each row, in a width that leaves padding bits.
    const int width = 259;
    Bitmap grey(FreeImage_Allocate(width, 3, 8));
    RGBQUAD* palette = FreeImage_GetPalette(grey.get());
    for (int i = 0; i < 256; ++i)
        palette[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < width; ++x)
            FreeImage_GetScanLine(grey.get(), y)[x] = static_cast<BYTE>((x * 7 + y * 31) % 256);
    ASSERT_TRUE(hasOwnThreshold(grey.get()));
    for (int level = 0; level < 256; ++level) {
        const auto byte = static_cast<BYTE>(level);
        const TwoLevelPair ours = thresholdTwice(grey.get(), byte, byte, GetParam());
        const Bitmap library(FreeImage_Threshold(grey.get(), byte));
        expectSameBitmap(ours.low.get(), library.get(), "threshold " + std::to_string(level));
        expectSameBitmap(ours.high.get(), library.get(), "threshold " + std::to_string(level));
    }
}

TEST_P(Threshold, OfAColourPhotographEqualsTheLibrarysAtBothLevels) {
    const Bitmap everything = everyColour();
    // A part 259 pixels wide, so that rows end within a byte and leave padding bits.
    const Bitmap part(FreeImage_Copy(everything.get(), 1000, 2000, 1259, 2040));
    for (FIBITMAP* colours : {everything.get(), part.get()}) {
        ASSERT_TRUE(hasOwnThreshold(colours));
        for (auto [low, high] : {std::pair<BYTE, BYTE>{128, 138}, {0, 10}, {245, 255}}) {
            const TwoLevelPair ours = thresholdTwice(colours, low, high, GetParam());
            const Bitmap libraryLow(FreeImage_Threshold(colours, low));
            const Bitmap libraryHigh(FreeImage_Threshold(colours, high));
            const std::string size = std::to_string(FreeImage_GetWidth(colours)) + " wide, ";
            expectSameBitmap(ours.low.get(), libraryLow.get(), size + "low " + std::to_string(low));
            expectSameBitmap(ours.high.get(), libraryHigh.get(),
                             size + "high " + std::to_string(high));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Loops, Threshold, ::testing::Values(false, true),
                         [](const auto& loop) { return loop.param ? "Wide" : "Portable"; });

TEST(ThresholdFormats, OtherPixelFormatsGoThroughTheLibrary) {
    Bitmap wide(FreeImage_Allocate(9, 4, 32));
    EXPECT_FALSE(hasOwnThreshold(wide.get()));
    const TwoLevelPair ours = thresholdTwice(wide.get(), 128, 138);
    const Bitmap library(FreeImage_Threshold(wide.get(), 128));
    expectSameBitmap(ours.low.get(), library.get(), "32-bit");
}

TEST(Cut, EqualsTheLibrarysCopyOfRandomRectangles) {
    std::mt19937 random(20261207);
    for (int round = 0; round < 300; ++round) {
        const int width = 1 + static_cast<int>(random() % 140);
        const int height = 1 + static_cast<int>(random() % 12);
        Bitmap source = test::blankBinary(width, height);
        FreeImage_SetDotsPerMeterX(source.get(), 1000 + static_cast<unsigned>(round));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (random() % 2) test::darken(source.get(), y, x, 1);
        const int left = static_cast<int>(random() % static_cast<unsigned>(width));
        const int right =
            left + 1 + static_cast<int>(random() % static_cast<unsigned>(width - left));
        const int top = static_cast<int>(random() % static_cast<unsigned>(height));
        const int bottom =
            top + 1 + static_cast<int>(random() % static_cast<unsigned>(height - top));
        const Bitmap ours = copyTwoLevel(source.get(), left, top, right, bottom);
        const Bitmap library(FreeImage_Copy(source.get(), left, top, right, bottom));
        expectSameBitmap(ours.get(), library.get(),
                         std::to_string(width) + "x" + std::to_string(height) + " cut " +
                             std::to_string(left) + "," + std::to_string(top) + "-" +
                             std::to_string(right) + "," + std::to_string(bottom));
    }
}

TEST(Cut, RefusesRectanglesOutsideTheBitmapOrOfNoPixels) {
    const Bitmap source = test::blankBinary(20, 10);
    for (auto [left, top, right, bottom] : std::vector<std::array<int, 4>>{{-1, 0, 5, 5},
                                                                           {0, -1, 5, 5},
                                                                           {0, 0, 21, 5},
                                                                           {0, 0, 5, 11},
                                                                           {4, 3, 4, 8},
                                                                           {4, 3, 9, 3}})
        EXPECT_FALSE(copyTwoLevel(source.get(), left, top, right, bottom))
            << left << "," << top << "-" << right << "," << bottom;
}

}  // namespace
}  // namespace lathmark
