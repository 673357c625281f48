// Tests of the scanline row operations: on random two-level bitmaps of many widths they must
// give exactly what per-pixel library calls give, and never touch the padding past the last
// column.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "engine/rows.h"
#include "tests/support/bitmaps.h"

namespace lathmark {
namespace {

using test::blankBinary;
using test::darkPixelsByLibrary;

constexpr int kHeight = 4;

// Widths 1 to 70 cover every tail of a byte; the wider ones make rows long enough for whole
// 64-bit words between the first and last byte.
std::vector<int> testedWidths() {
    std::vector<int> widths = test::rowRange(1, 70);
    widths.insert(widths.end(), {72, 73, 80, 81, 127, 128, 129, 200, 517});
    return widths;
}

// A bitmap whose every scanline byte, padding included, is random.
Bitmap randomBinary(int width, std::mt19937& random) {
    Bitmap dib = blankBinary(width, kHeight);
    BYTE* bits = FreeImage_GetBits(dib.get());
    const auto size = std::size_t{FreeImage_GetPitch(dib.get())} * kHeight;
    for (std::size_t i = 0; i < size; ++i) bits[i] = static_cast<BYTE>(random() & 0xFF);
    return dib;
}

std::vector<BYTE> allBytes(FIBITMAP* dib) {
    const BYTE* bits = FreeImage_GetBits(dib);
    return {bits, bits + std::size_t{FreeImage_GetPitch(dib)} * FreeImage_GetHeight(dib)};
}

void setRowByLibrary(FIBITMAP* dib, int y, BYTE index) {
    for (unsigned x = 0; x < FreeImage_GetWidth(dib); ++x)
        FreeImage_SetPixelIndex(dib, x, static_cast<unsigned>(y), &index);
}

TEST(CountDarkPixels, EqualsPixelByPixelCountForAnyColumns) {
    std::mt19937 random(1234);
    for (int width : testedWidths()) {
        Bitmap dib = randomBinary(width, random);
        std::uniform_int_distribution<int> column(0, width);
        for (int trial = 0; trial < 60; ++trial) {
            const int y = trial % kHeight;
            int from = column(random), to = column(random);
            if (trial % 4 == 0) from = 0, to = width;  // whole rows too
            if (trial % 4 == 1) from = 4, to = width;  // the band and pass columns
            EXPECT_EQ(countDarkPixels(TwoLevelRows(dib.get()), y, from, to),
                      from < to ? darkPixelsByLibrary(dib.get(), y, from, to) : 0)
                << "width " << width << " row " << y << " columns " << from << ".." << to;
        }
    }
}

TEST(CountDarkPixels, ExtremesAndRowsOutside) {
    Bitmap dark = test::bandFromCounts(200, {0, 196});
    test::darken(dark.get(), 1, 0, 4);
    const TwoLevelRows rows(dark.get());
    EXPECT_EQ(countDarkPixels(rows, 1, 0, 200), 200);
    EXPECT_EQ(countDarkPixels(rows, 1, 3, 197), 194);
    EXPECT_EQ(countDarkPixels(rows, 0, 0, 200), 0);
    EXPECT_EQ(countDarkPixels(rows, -1, 0, 200), 0);
    EXPECT_EQ(countDarkPixels(rows, 2, 0, 200), 0);
}

struct FillCase {
    const char* name;
    void (*fill)(const TwoLevelRows&, int);
    BYTE index;
};

class RowFill : public testing::TestWithParam<FillCase> {};

// Each row of each width is filled once by the engine and once pixel by pixel on a clone; the
// two bitmaps must then agree byte for byte, padding included.
TEST_P(RowFill, ChangesOnlyTheRowsColumns) {
    std::mt19937 random(99);
    for (int width : testedWidths()) {
        for (int y = -1; y <= kHeight; ++y) {
            Bitmap dib = randomBinary(width, random);
            Bitmap expected(FreeImage_Clone(dib.get()));
            GetParam().fill(TwoLevelRows(dib.get()), y);
            if (y >= 0 && y < kHeight) setRowByLibrary(expected.get(), y, GetParam().index);
            EXPECT_EQ(allBytes(dib.get()), allBytes(expected.get()))
                << "width " << width << " row " << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, RowFill,
                         testing::Values(FillCase{"Whiten", whitenRow, 1},
                                         FillCase{"Blacken", blackenRow, 0}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace lathmark
