#include "tests/support/bitmaps.h"

#include <gtest/gtest.h>

namespace lathmark::test {

Bitmap blankBinary(int width, int height) {
    Bitmap dib(FreeImage_Allocate(width, height, 1));
    RGBQUAD* palette = FreeImage_GetPalette(dib.get());
    palette[0] = RGBQUAD{0, 0, 0, 0};
    palette[1] = RGBQUAD{255, 255, 255, 0};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            BYTE light = 1;
            FreeImage_SetPixelIndex(dib.get(), static_cast<unsigned>(x), static_cast<unsigned>(y),
                                    &light);
        }
    return dib;
}

Bitmap binaryFromRows(const std::vector<std::string>& rowsFromBottom) {
    const int width = rowsFromBottom.empty() ? 0 : static_cast<int>(rowsFromBottom[0].size());
    Bitmap dib = blankBinary(width, static_cast<int>(rowsFromBottom.size()));
    for (std::size_t y = 0; y < rowsFromBottom.size(); ++y) {
        EXPECT_EQ(static_cast<int>(rowsFromBottom[y].size()), width) << "row " << y;
        for (int x = 0; x < width; ++x)
            if (rowsFromBottom[y][static_cast<std::size_t>(x)] == '#')
                darken(dib.get(), static_cast<int>(y), x, 1);
    }
    return dib;
}

void darken(FIBITMAP* dib, int y, int from, int count) {
    for (int x = from; x < from + count; ++x) {
        BYTE dark = 0;
        FreeImage_SetPixelIndex(dib, static_cast<unsigned>(x), static_cast<unsigned>(y), &dark);
    }
}

int darkPixelsByLibrary(FIBITMAP* dib, int y, int from, int to) {
    int dark = 0;
    for (int x = from; x < to; ++x) {
        BYTE index = 1;
        FreeImage_GetPixelIndex(dib, static_cast<unsigned>(x), static_cast<unsigned>(y), &index);
        dark += index == 0;
    }
    return dark;
}

std::vector<int> profileRows(const RowProfile& profile, int height) {
    return std::vector<int>(profile.begin(), profile.begin() + height);
}

CountingState stateWithBand(Bitmap band) {
    CountingState state;
    state.width = band.width();
    state.height = band.height();
    state.dibBand = std::move(band);
    return state;
}

RowProfile profileWithRuns(int height, std::initializer_list<std::pair<int, int>> runs, int value) {
    RowProfile profile;
    fitProfile(profile, height);
    for (auto [from, to] : runs)
        for (int y = from; y <= to; ++y) profile[static_cast<std::size_t>(y)] = value;
    return profile;
}

std::vector<int> lightRows(FIBITMAP* dib) {
    std::vector<int> rows;
    const int width = static_cast<int>(FreeImage_GetWidth(dib));
    for (int y = 0; y < static_cast<int>(FreeImage_GetHeight(dib)); ++y)
        if (darkPixelsByLibrary(dib, y, 0, width) == 0) rows.push_back(y);
    return rows;
}

}  // namespace lathmark::test
