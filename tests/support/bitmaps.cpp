#include "tests/support/bitmaps.h"

#include <gtest/gtest.h>

#include <algorithm>

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

std::vector<int> lightRows(FIBITMAP* dib) {
    std::vector<int> rows;
    const int width = static_cast<int>(FreeImage_GetWidth(dib));
    for (int y = 0; y < static_cast<int>(FreeImage_GetHeight(dib)); ++y)
        if (darkPixelsByLibrary(dib, y, 0, width) == 0) rows.push_back(y);
    return rows;
}

Bitmap bandFromCounts(int width, const std::vector<int>& darkFromBottom) {
    Bitmap band = blankBinary(width, static_cast<int>(darkFromBottom.size()));
    for (std::size_t y = 0; y < darkFromBottom.size(); ++y)
        darken(band.get(), static_cast<int>(y), 4, darkFromBottom[y]);
    return band;
}

std::vector<int> rowRange(int lo, int hi) {
    std::vector<int> rows;
    for (int y = lo; y <= hi; ++y) rows.push_back(y);
    return rows;
}

Bitmap greyPhotograph(int width, const std::vector<int>& greyFromBottom, int bitsPerPixel) {
    const int height = static_cast<int>(greyFromBottom.size());
    Bitmap photo(FreeImage_Allocate(width, height, bitsPerPixel));
    if (bitsPerPixel == 8) {
        RGBQUAD* palette = FreeImage_GetPalette(photo.get());
        for (int i = 0; i < 256; ++i) {
            const auto level = static_cast<BYTE>(i);
            palette[i] = RGBQUAD{level, level, level, 0};
        }
    }
    const int bytesPerPixel = bitsPerPixel / 8;
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(photo.get(), y);
        const auto grey = static_cast<BYTE>(greyFromBottom[static_cast<std::size_t>(y)]);
        std::fill(line, line + width * bytesPerPixel, grey);
    }
    return photo;
}

Bitmap stackPhotograph(const std::vector<Joint>& joints, int width) {
    std::vector<int> greys(80, 200);
    std::fill(greys.begin(), greys.begin() + 10, 20);
    std::fill(greys.begin() + 70, greys.end(), 20);
    Bitmap photo = greyPhotograph(width, greys);
    for (const Joint& joint : joints)
        for (int y = joint.firstRow; y < joint.firstRow + joint.rows; ++y) {
            BYTE* line = FreeImage_GetScanLine(photo.get(), y);
            std::fill(line + 4 * 3, line + (4 + joint.columns) * 3, static_cast<BYTE>(joint.grey));
        }
    return photo;
}

}  // namespace lathmark::test
