// Our grey levels and row counts against the library's own operations: the engine uses ours
// because they are faster, so they must give the very same numbers and bytes.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

#include "engine/preparation.h"
#include "engine/rows.h"
#include "engine/two_level.h"
#include "tests/support/bitmaps.h"

namespace lathmark {
namespace {

// Each row's dark pixels from columns 4 and 8 in the library's two-level image of `photograph`
// at `level`, against `ours`.
void expectRowsOfLibrary(FIBITMAP* photograph, int level, const DarkPixels& ours,
                         const std::string& what) {
    const Bitmap library(FreeImage_Threshold(photograph, static_cast<BYTE>(level)));
    ASSERT_TRUE(library) << what;
    const TwoLevelRows bits(library.get());
    const int width = bits.width();
    long long differing = 0;
    for (int y = 0; y < bits.height(); ++y) {
        const int from8 = countDarkPixels(bits, y, 8, width);
        differing += ours.fromColumn8[y] != from8;
        differing += ours.fromColumn4[y] != countDarkPixels(bits, y, 4, std::min(8, width)) + from8;
    }
    EXPECT_EQ(differing, 0) << what << " at " << level;
}

// The row counts of a count at `threshold` against the library's two-level images at both of
// the count's thresholds.
void expectRowCountsOfLibrary(FIBITMAP* photograph, int threshold, const std::string& what) {
    const StepResult<RowCounts> rows = countRows(photograph, {.threshold = threshold});
    ASSERT_TRUE(rows.ok()) << what << ": " << *rows.failure;
    ASSERT_EQ(rows.value.height, static_cast<int>(FreeImage_GetHeight(photograph)));
    expectRowsOfLibrary(photograph, threshold, rows.value.atThreshold, what);
    expectRowsOfLibrary(photograph, threshold + 10, rows.value.atLaterThreshold, what);
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

TEST(RowCounts, EqualTheLibrarysTwoLevelImagesForEveryGreyLevelAndThreshold) {
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
    for (int threshold = 0; threshold <= Settings::kMaxThreshold; ++threshold)
        expectRowCountsOfLibrary(grey.get(), threshold, "grey");
}

TEST(RowCounts, OfColourPhotographsEqualTheLibrarysAtBothThresholds) {
    const Bitmap everything = everyColour();
    // A part 259 pixels wide, so that rows end within a byte; one 4096 wide, with 2^20 colours;
    // one 6 wide, narrower than the columns left of the passes' line pixels.
    const Bitmap narrow(FreeImage_Copy(everything.get(), 1000, 2000, 1259, 2040));
    const Bitmap wide(FreeImage_Copy(everything.get(), 0, 1000, 4096, 1256));
    const Bitmap thin(FreeImage_Copy(everything.get(), 77, 3000, 83, 3010));
    for (FIBITMAP* colours : {narrow.get(), wide.get(), thin.get()}) {
        ASSERT_TRUE(hasOwnThreshold(colours));
        for (int threshold : {0, 1, 128, 200, 245})
            expectRowCountsOfLibrary(colours, threshold,
                                     std::to_string(FreeImage_GetWidth(colours)) + " wide");
    }
}

TEST(RowCounts, OtherPixelFormatsGoThroughTheLibrary) {
    Bitmap wide(FreeImage_Allocate(9, 4, 32));
    for (int y = 0; y < 4; ++y) std::memset(FreeImage_GetScanLine(wide.get(), y), 60 * y, 9 * 4);
    EXPECT_FALSE(hasOwnThreshold(wide.get()));
    for (int threshold : {0, 100, 150, 245})
        expectRowCountsOfLibrary(wide.get(), threshold, "32-bit");
}

// The result image is drawn into a new two-level image: it must look to the BMP writer like the
// library's own two-level image of the photograph (depth, palette, colour type, resolution).
TEST(NewTwoLevel, IsLikeTheLibrarysTwoLevelImage) {
    Bitmap photograph = test::greyPhotograph(37, {10, 200, 90}, 24);
    FreeImage_SetDotsPerMeterX(photograph.get(), 2835);
    FreeImage_SetDotsPerMeterY(photograph.get(), 3780);
    const Bitmap library(FreeImage_Threshold(photograph.get(), 128));
    const Bitmap ours = newTwoLevel(37, 3, photograph.get());
    ASSERT_TRUE(ours);
    EXPECT_EQ(FreeImage_GetBPP(ours.get()), FreeImage_GetBPP(library.get()));
    EXPECT_EQ(FreeImage_GetPitch(ours.get()), FreeImage_GetPitch(library.get()));
    EXPECT_EQ(FreeImage_GetColorType(ours.get()), FreeImage_GetColorType(library.get()));
    EXPECT_EQ(FreeImage_GetDotsPerMeterX(ours.get()), 2835u);
    EXPECT_EQ(FreeImage_GetDotsPerMeterY(ours.get()), 3780u);
    ASSERT_EQ(FreeImage_GetColorsUsed(ours.get()), FreeImage_GetColorsUsed(library.get()));
    for (unsigned i = 0; i < FreeImage_GetColorsUsed(ours.get()); ++i)
        EXPECT_EQ(std::memcmp(&FreeImage_GetPalette(ours.get())[i],
                              &FreeImage_GetPalette(library.get())[i], sizeof(RGBQUAD)),
                  0)
            << "palette entry " << i;
}

}  // namespace
}  // namespace lathmark
