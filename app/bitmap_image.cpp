#include "app/bitmap_image.h"

#include <cstring>

#include "engine/bitmap.h"

namespace lathmark {
namespace {

// The bitmap's palette as Qt colours; entries it does not have stay black.
QList<QRgb> colourTable(FIBITMAP* dib, int entries) {
    QList<QRgb> table(entries, qRgb(0, 0, 0));
    const RGBQUAD* palette = FreeImage_GetPalette(dib);
    const int available = palette ? static_cast<int>(FreeImage_GetColorsUsed(dib)) : 0;
    for (int i = 0; i < entries && i < available; ++i)
        table[i] = qRgb(palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue);
    return table;
}

// Scan lines of the library run from the bottom up; QImage rows from the top down. Both
// formats below share the library's byte layout within a row, so each row is copied whole.
QImage copyRows(FIBITMAP* dib, QImage::Format format, int rowBytes) {
    const int width = static_cast<int>(FreeImage_GetWidth(dib));
    const int height = static_cast<int>(FreeImage_GetHeight(dib));
    QImage image(width, height, format);
    if (image.isNull()) return image;
    for (int y = 0; y < height; ++y) {
        const BYTE* source = FreeImage_GetScanLine(dib, height - 1 - y);
        std::memcpy(image.scanLine(y), source, static_cast<std::size_t>(rowBytes));
    }
    return image;
}

// Colour pixels, 3 or 4 bytes each, in the library's channel order.
QImage copyColourPixels(FIBITMAP* dib, int bytesPerPixel) {
    const int width = static_cast<int>(FreeImage_GetWidth(dib));
    const int height = static_cast<int>(FreeImage_GetHeight(dib));
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) return image;
    for (int y = 0; y < height; ++y) {
        const BYTE* pixel = FreeImage_GetScanLine(dib, height - 1 - y);
        auto* target = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x, pixel += bytesPerPixel)
            target[x] = qRgb(pixel[FI_RGBA_RED], pixel[FI_RGBA_GREEN], pixel[FI_RGBA_BLUE]);
    }
    return image;
}

}  // namespace

QImage toQImage(FIBITMAP* dib) {
    if (!dib || !FreeImage_HasPixels(dib)) return {};
    const bool plainBitmap = FreeImage_GetImageType(dib) == FIT_BITMAP;
    const unsigned bits = FreeImage_GetBPP(dib);
    const int width = static_cast<int>(FreeImage_GetWidth(dib));

    if (plainBitmap && bits == 1) {
        // One bit per pixel, leftmost pixel in the high bit: Qt's Mono layout.
        QImage image = copyRows(dib, QImage::Format_Mono, (width + 7) / 8);
        image.setColorTable(colourTable(dib, 2));
        return image;
    }
    if (plainBitmap && bits == 8) {
        QImage image = copyRows(dib, QImage::Format_Indexed8, width);
        image.setColorTable(colourTable(dib, 256));
        return image;
    }
    if (plainBitmap && (bits == 24 || bits == 32))
        return copyColourPixels(dib, static_cast<int>(bits / 8));

    // 4-bit, 16-bit and the library's other pixel types: let it make 24-bit colour first.
    const Bitmap converted(FreeImage_ConvertTo24Bits(dib));
    if (!converted || FreeImage_GetBPP(converted.get()) != 24) return {};
    return copyColourPixels(converted.get(), 3);
}

}  // namespace lathmark
