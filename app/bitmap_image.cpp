#include "app/bitmap_image.h"

#include <array>
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
    const Scanlines rows(dib);
    for (int y = 0; y < height; ++y) {
        const BYTE* source = rows(height - 1 - y);
        std::memcpy(image.scanLine(y), source, static_cast<std::size_t>(rowBytes));
    }
    return image;
}

// One row of colour pixels, `Step` bytes each in the library's channel order, as Qt's 32-bit
// colours. Built for AVX2 as well where the compiler can, which converts eight pixels at once.
template <int Step>
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
__attribute__((target_clones("avx2", "default")))
#endif
void colourRow(const BYTE* __restrict pixels, QRgb* __restrict target, int width) {
    for (int x = 0; x < width; ++x) {
        const BYTE* pixel = pixels + Step * x;
        target[x] = qRgb(pixel[FI_RGBA_RED], pixel[FI_RGBA_GREEN], pixel[FI_RGBA_BLUE]);
    }
}

// Colour pixels, 3 or 4 bytes each, in the library's channel order.
QImage copyColourPixels(FIBITMAP* dib, int bytesPerPixel) {
    const int width = static_cast<int>(FreeImage_GetWidth(dib));
    const int height = static_cast<int>(FreeImage_GetHeight(dib));
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) return image;
    const Scanlines rows(dib);
    for (int y = 0; y < height; ++y) {
        const BYTE* pixels = rows(height - 1 - y);
        auto* target = reinterpret_cast<QRgb*>(image.scanLine(y));
        if (bytesPerPixel == 3)
            colourRow<3>(pixels, target, width);
        else
            colourRow<4>(pixels, target, width);
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

QImage monoToRgb32(const QImage& mono) {
    if (mono.format() != QImage::Format_Mono || mono.colorCount() != 2) return mono;
    const QRgb colours[2] = {mono.color(0) | 0xFF000000u, mono.color(1) | 0xFF000000u};
    // The eight pixels of each byte value, the highest bit the leftmost pixel.
    std::array<std::array<QRgb, 8>, 256> eights;
    for (unsigned byte = 0; byte < 256; ++byte)
        for (unsigned bit = 0; bit < 8; ++bit)
            eights[byte][bit] = colours[(byte >> (7 - bit)) & 1u];

    const int width = mono.width();
    QImage image(mono.size(), QImage::Format_RGB32);
    if (image.isNull()) return image;
    for (int y = 0; y < mono.height(); ++y) {
        const uchar* bits = mono.constScanLine(y);
        auto* target = reinterpret_cast<QRgb*>(image.scanLine(y));
        const int wholeBytes = width / 8;
        for (int k = 0; k < wholeBytes; ++k)
            std::memcpy(target + 8 * k, eights[bits[k]].data(), sizeof eights[0]);
        for (int x = 8 * wholeBytes; x < width; ++x) target[x] = eights[bits[x / 8]][x % 8];
    }
    return image;
}

}  // namespace lathmark
