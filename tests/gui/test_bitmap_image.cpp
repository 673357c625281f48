// The window shows the engine's decoded bitmaps through toQImage: these tests pin the row
// order (the library stores the bottom row first), the channel order, the padding at the end
// of each scan line and the palettes.

#include <gtest/gtest.h>

#include <QImage>
#include <random>

#include "app/bitmap_image.h"
#include "engine/bitmap.h"

namespace lathmark {
namespace {

// Sets pixel (x, yFromTop) of a 24- or 32-bit bitmap.
void setColour(FIBITMAP* dib, int x, int yFromTop, QRgb colour) {
    const int height = static_cast<int>(FreeImage_GetHeight(dib));
    const int bytes = static_cast<int>(FreeImage_GetBPP(dib)) / 8;
    BYTE* pixel = FreeImage_GetScanLine(dib, height - 1 - yFromTop) + x * bytes;
    pixel[FI_RGBA_RED] = static_cast<BYTE>(qRed(colour));
    pixel[FI_RGBA_GREEN] = static_cast<BYTE>(qGreen(colour));
    pixel[FI_RGBA_BLUE] = static_cast<BYTE>(qBlue(colour));
}

// A colour that differs for every pixel, and in every channel, of a small picture.
QRgb colourAt(int x, int y) {
    return qRgb(10 + 40 * x, 20 + 30 * y, 200 - 17 * x - 13 * y);
}

void expectColours(const QImage& image, int width, int height) {
    ASSERT_EQ(image.size(), QSize(width, height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            EXPECT_EQ(image.pixel(x, y), colourAt(x, y)) << "pixel " << x << "," << y;
}

TEST(BitmapImage, ColourBitmapsKeepRowsChannelsAndLinePadding) {
    // Width 5 gives 15 bytes of pixels in a 16-byte scan line at 24 bits.
    for (int bits : {24, 32}) {
        SCOPED_TRACE(bits);
        const Bitmap dib(FreeImage_Allocate(5, 3, bits));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) setColour(dib.get(), x, y, colourAt(x, y));
        expectColours(toQImage(dib.get()), 5, 3);
    }
}

TEST(BitmapImage, GreyAndColouredPalettesGiveTheirColours) {
    const Bitmap dib(FreeImage_Allocate(3, 2, 8));
    RGBQUAD* palette = FreeImage_GetPalette(dib.get());
    for (int i = 0; i < 256; ++i) {
        const auto level = static_cast<BYTE>(i);
        palette[i] = RGBQUAD{level, level, level, 0};
    }
    palette[7] = RGBQUAD{30, 60, 90, 0};  // blue 30, green 60, red 90
    const BYTE top[] = {0, 7, 255};
    const BYTE bottom[] = {128, 64, 7};
    std::copy(std::begin(top), std::end(top), FreeImage_GetScanLine(dib.get(), 1));
    std::copy(std::begin(bottom), std::end(bottom), FreeImage_GetScanLine(dib.get(), 0));

    const QImage image = toQImage(dib.get()).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(image.size(), QSize(3, 2));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(1, 0), qRgb(90, 60, 30));
    EXPECT_EQ(image.pixel(2, 0), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(0, 1), qRgb(128, 128, 128));
    EXPECT_EQ(image.pixel(1, 1), qRgb(64, 64, 64));
    EXPECT_EQ(image.pixel(2, 1), qRgb(90, 60, 30));
}

TEST(BitmapImage, TwoLevelBitmapKeepsItsPixelsAcrossByteEdges) {
    // 11 columns: the second byte of each line is only partly used.
    const int width = 11;
    const int height = 4;
    const Bitmap dib(FreeImage_Allocate(width, height, 1));
    RGBQUAD* palette = FreeImage_GetPalette(dib.get());
    palette[0] = RGBQUAD{0, 0, 0, 0};
    palette[1] = RGBQUAD{255, 255, 255, 0};
    auto dark = [](int x, int yFromTop) { return (x * 3 + yFromTop * 5) % 7 < 3; };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            BYTE index = dark(x, y) ? 0 : 1;
            FreeImage_SetPixelIndex(dib.get(), static_cast<unsigned>(x),
                                    static_cast<unsigned>(height - 1 - y), &index);
        }
    }

    const QImage image = toQImage(dib.get()).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(image.size(), QSize(width, height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            EXPECT_EQ(image.pixel(x, y), dark(x, y) ? qRgb(0, 0, 0) : qRgb(255, 255, 255))
                << "pixel " << x << "," << y;
}

TEST(BitmapImage, OtherPixelFormatsGoThroughColourAndNoBitmapGivesNoImage) {
    const Bitmap dib(FreeImage_Allocate(3, 2, 4));
    RGBQUAD* palette = FreeImage_GetPalette(dib.get());
    palette[0] = RGBQUAD{0, 0, 0, 0};
    palette[5] = RGBQUAD{10, 20, 30, 0};
    BYTE index = 5;
    FreeImage_SetPixelIndex(dib.get(), 2, 1, &index);  // top right

    const QImage image = toQImage(dib.get());
    ASSERT_EQ(image.size(), QSize(3, 2));
    EXPECT_EQ(image.pixel(2, 0), qRgb(30, 20, 10));
    EXPECT_EQ(image.pixel(2, 1), qRgb(0, 0, 0));

    EXPECT_TRUE(toQImage(nullptr).isNull());
}

TEST(MonoToRgb32, EqualsQtsOwnConversion) {
    // Widths around a byte, random bits (padding bits set too), a palette that is not black
    // and white, and the result image's own palette as the window reads it back.
    std::mt19937 random(7);
    for (int width : {1, 7, 8, 9, 16, 23, 764}) {
        SCOPED_TRACE(width);
        QImage mono(width, 5, QImage::Format_Mono);
        mono.setColorTable({qRgb(200, 10, 30), qRgb(5, 250, 128)});
        for (int y = 0; y < mono.height(); ++y)
            for (qsizetype i = 0; i < mono.bytesPerLine(); ++i)
                mono.scanLine(y)[i] = static_cast<uchar>(random());
        const QImage ours = monoToRgb32(mono);
        EXPECT_EQ(ours.format(), QImage::Format_RGB32);
        EXPECT_EQ(ours, mono.convertToFormat(QImage::Format_RGB32));
    }
    const QImage colour(3, 2, QImage::Format_RGB32);
    EXPECT_EQ(monoToRgb32(colour), colour);
}

// A photograph of 6 x 4 pixels in blocks of 2 x 2, shown in a box of 3 x 2: each shown pixel
// is the mean of its block. Blocks are even levels, and the last a checker of 0 and 255.
constexpr int kBlockLevels[2][3] = {{10, 60, 110}, {160, 210, -1}};

int levelAt(int x, int y) {
    const int block = kBlockLevels[y / 2][x / 2];
    return block >= 0 ? block : ((x + y) % 2 == 0 ? 0 : 255);
}

TEST(ShownImage, EachPixelIsTheMeanOfThePhotographsPixelsItCovers) {
    // Grey as decoded (8 bits, a grey palette), and colour, one level in each channel.
    const auto colourOf = [](int bits, int level) {
        return bits == 8 ? qRgb(level, level, level) : qRgb(level, level / 2, 255 - level);
    };
    for (int bits : {8, 24, 32}) {
        SCOPED_TRACE(bits);
        const Bitmap dib(bits == 8 ? FreeImage_AllocateT(FIT_BITMAP, 6, 4, 8)
                                   : FreeImage_Allocate(6, 4, bits));
        if (bits == 8) {
            RGBQUAD* palette = FreeImage_GetPalette(dib.get());
            for (int i = 0; i < 256; ++i)
                palette[i] =
                    RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
        }
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x) {
                if (bits == 8)
                    FreeImage_GetScanLine(dib.get(), 3 - y)[x] = static_cast<BYTE>(levelAt(x, y));
                else
                    setColour(dib.get(), x, y, colourOf(bits, levelAt(x, y)));
            }
        const QImage shown = toShownImage(dib.get(), QSize(3, 2));
        ASSERT_EQ(shown.size(), QSize(3, 2));
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                const int level = kBlockLevels[y][x];
                const QRgb expected = level >= 0  ? colourOf(bits, level)
                                      : bits == 8 ? qRgb(128, 128, 128)
                                                  : qRgb(128, 64, 128);
                EXPECT_EQ(shown.pixel(x, y), expected) << x << "," << y;
            }

        // Only what is larger than the box is made smaller, and only that way.
        EXPECT_EQ(toShownImage(dib.get(), QSize(6, 4)), toQImage(dib.get()));
        EXPECT_EQ(toShownImage(dib.get(), QSize(10, 2)).size(), QSize(6, 2));
    }

    // A result image: its two colours, and halfway between them where half its pixels are dark.
    QImage mono(6, 4, QImage::Format_Mono);
    mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) mono.setPixel(x, y, levelAt(x, y) >= 128 ? 1 : 0);
    const QImage shown = toShownImage(mono, QSize(3, 2));
    ASSERT_EQ(shown.format(), QImage::Format_RGB32);
    EXPECT_EQ(shown.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(shown.pixel(0, 1), qRgb(255, 255, 255));
    EXPECT_EQ(shown.pixel(2, 1), qRgb(128, 128, 128));
    EXPECT_EQ(toShownImage(mono, QSize(6, 4)), monoToRgb32(mono));
}

}  // namespace
}  // namespace lathmark
