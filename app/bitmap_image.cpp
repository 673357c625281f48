#include "app/bitmap_image.h"

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

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

// Where each column (or row) of the scaled picture begins among the `from` columns of the
// photograph, and where the last ends: `to` + 1 edges. Every photograph column belongs to
// exactly one picture column.
std::vector<int> spanEdges(int from, int to) {
    std::vector<int> edges(static_cast<std::size_t>(to) + 1);
    for (int i = 0; i <= to; ++i)
        edges[static_cast<std::size_t>(i)] =
            static_cast<int>((static_cast<std::int64_t>(i) * from + to - 1) / to);
    return edges;
}

// Adds `count` bytes to as many sums, of 16 bits where no sum can pass 65535 (at most 257 rows
// a span), which adds twice as many at once as 32. Built for AVX2 as well where the compiler
// can.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define LATHMARK_AVX2_TOO __attribute__((target_clones("avx2", "default")))
#else
#define LATHMARK_AVX2_TOO
#endif
LATHMARK_AVX2_TOO void addBytes(const BYTE* __restrict bytes, std::uint16_t* __restrict sums,
                                int count) {
    for (int i = 0; i < count; ++i) sums[i] = static_cast<std::uint16_t>(sums[i] + bytes[i]);
}
LATHMARK_AVX2_TOO void addBytes(const BYTE* __restrict bytes, std::uint32_t* __restrict sums,
                                int count) {
    for (int i = 0; i < count; ++i) sums[i] += bytes[i];
}
#undef LATHMARK_AVX2_TOO
constexpr int kMostRowsIn16Bits = 65535 / 255;

// Averages `Channels` bytes a pixel (one: a level 0 to 255 that `palette` gives the colour of;
// three or four: the library's channel order) over the spans of `columns` and `rows`, the
// bytes of each row, from the top, given by `rowAt`. The rows of a span are added up byte by
// byte first, in one straight pass over each, then the columns of that sum.
template <int Channels, typename Sum, typename RowAt>
QImage averageWith(RowAt&& rowAt, const std::vector<int>& columns, const std::vector<int>& rows,
                   const QList<QRgb>& palette) {
    const int width = static_cast<int>(columns.size()) - 1;
    const int height = static_cast<int>(rows.size()) - 1;
    const int sourceWidth = columns.back();
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) return image;
    const int rowBytes = sourceWidth * Channels;
    std::vector<Sum> sums(static_cast<std::size_t>(rowBytes));
    for (int y = 0; y < height; ++y) {
        const int top = rows[static_cast<std::size_t>(y)];
        const int bottom = rows[static_cast<std::size_t>(y) + 1];
        std::fill(sums.begin(), sums.end(), Sum{0});
        for (int row = top; row < bottom; ++row) addBytes(rowAt(row), sums.data(), rowBytes);

        auto* target = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int left = columns[static_cast<std::size_t>(x)];
            const int right = columns[static_cast<std::size_t>(x) + 1];
            const auto count = static_cast<std::uint32_t>((bottom - top) * (right - left));
            const auto mean = [count](std::uint32_t total) {
                return static_cast<int>((total + count / 2) / count);
            };
            const Sum* sum = sums.data() + static_cast<std::ptrdiff_t>(left) * Channels;
            if constexpr (Channels == 1) {
                std::uint32_t total = 0;
                for (int c = left; c < right; ++c) total += *sum++;
                target[x] = palette[mean(total)];
            } else {
                std::uint32_t red = 0, green = 0, blue = 0;
                for (int c = left; c < right; ++c, sum += Channels) {
                    red += sum[FI_RGBA_RED];
                    green += sum[FI_RGBA_GREEN];
                    blue += sum[FI_RGBA_BLUE];
                }
                target[x] = qRgb(mean(red), mean(green), mean(blue));
            }
        }
    }
    return image;
}

template <int Channels, typename RowAt>
QImage averagePixels(RowAt&& rowAt, const std::vector<int>& columns, const std::vector<int>& rows,
                     const QList<QRgb>& palette) {
    int mostRows = 0;
    for (std::size_t y = 0; y + 1 < rows.size(); ++y)
        mostRows = std::max(mostRows, rows[y + 1] - rows[y]);
    if (mostRows <= kMostRowsIn16Bits)
        return averageWith<Channels, std::uint16_t>(rowAt, columns, rows, palette);
    return averageWith<Channels, std::uint32_t>(rowAt, columns, rows, palette);
}

// The size of a picture of `size` shown in `box`: no larger either way.
QSize shownSize(QSize size, QSize box) {
    return box.isEmpty() ? size : size.boundedTo(box);
}

}  // namespace

QImage toShownImage(FIBITMAP* dib, QSize box) {
    if (!dib || !FreeImage_HasPixels(dib) || box.isEmpty()) return toQImage(dib);
    const int width = static_cast<int>(FreeImage_GetWidth(dib));
    const int height = static_cast<int>(FreeImage_GetHeight(dib));
    const QSize shown = shownSize({width, height}, box);
    if (shown == QSize(width, height)) return toQImage(dib);

    const std::vector<int> columns = spanEdges(width, shown.width());
    const std::vector<int> rows = spanEdges(height, shown.height());
    const Scanlines lines(dib);
    const auto rowAt = [&lines, height](int row) -> const BYTE* { return lines(height - 1 - row); };
    const unsigned bits = FreeImage_GetBPP(dib);
    if (FreeImage_GetImageType(dib) == FIT_BITMAP) {
        // Grey levels average as they are; the photographs are decoded as such or in colour.
        if (bits == 8 && FreeImage_GetColorType(dib) == FIC_MINISBLACK)
            return averagePixels<1>(rowAt, columns, rows, colourTable(dib, 256));
        if (bits == 24) return averagePixels<3>(rowAt, columns, rows, {});
        if (bits == 32) return averagePixels<4>(rowAt, columns, rows, {});
    }
    // Anything else (not what a JPEG decodes to) goes through Qt's own smooth scaling.
    return toQImage(dib).scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage toShownImage(const QImage& mono, QSize box) {
    const QSize shown = shownSize(mono.size(), box);
    if (mono.format() != QImage::Format_Mono || mono.colorCount() != 2 || shown == mono.size())
        return monoToRgb32(mono);
    // Each pixel's bit as a level, 0 or 255, and the levels between the two colours.
    QList<QRgb> palette(256);
    const QColor dark = QColor::fromRgb(mono.color(0)), light = QColor::fromRgb(mono.color(1));
    for (int level = 0; level < 256; ++level) {
        const auto blend = [level](int from, int to) {
            return (from * (255 - level) + to * level + 127) / 255;
        };
        palette[level] = qRgb(blend(dark.red(), light.red()), blend(dark.green(), light.green()),
                              blend(dark.blue(), light.blue()));
    }
    // The eight levels of each byte value, the highest bit the leftmost pixel.
    std::array<std::array<BYTE, 8>, 256> eights;
    for (unsigned byte = 0; byte < 256; ++byte)
        for (unsigned bit = 0; bit < 8; ++bit)
            eights[byte][bit] = (byte >> (7 - bit)) & 1u ? 255 : 0;
    const auto bytes = static_cast<std::size_t>(mono.width() + 7) / 8;
    std::vector<BYTE> levels(bytes * 8);
    const auto rowAt = [&](int row) -> const BYTE* {
        const uchar* bits = mono.constScanLine(row);
        for (std::size_t k = 0; k < bytes; ++k)
            std::memcpy(levels.data() + 8 * k, eights[bits[k]].data(), 8);
        return levels.data();
    };
    return averagePixels<1>(rowAt, spanEdges(mono.width(), shown.width()),
                            spanEdges(mono.height(), shown.height()), palette);
}

void outlineRegion(QImage& shown, QSize photograph, const Region& region, const QColor& colour,
                   const RegionSlope& slope) {
    if (shown.isNull() || photograph.isEmpty()) return;
    if (shown.format() != QImage::Format_RGB32 && shown.format() != QImage::Format_ARGB32)
        shown = shown.convertToFormat(QImage::Format_RGB32);
    const double across = static_cast<double>(shown.width()) / photograph.width();
    const double down = static_cast<double>(shown.height()) / photograph.height();
    constexpr double kLine = 2;
    // The pen is centred on the path: half a line inside the region's edges keeps it all inside.
    const QRectF outline =
        QRectF(region.left * across, region.top * down, region.width * across, region.height * down)
            .adjusted(kLine / 2, kLine / 2, -kLine / 2, -kLine / 2)
            .normalized();
    QPainter painter(&shown);
    painter.setPen(QPen(colour, kLine, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    if (slope.rise == 0) {
        painter.drawRect(outline);
        return;
    }
    // Along a slope the region's rows rise to the right from the column they were levelled about.
    auto raised = [&](QPointF corner) {
        const double column = corner.x() / across;
        return QPointF(corner.x(), corner.y() - slope.rise * (column - slope.middle) * down);
    };
    const QPointF corners[] = {raised(outline.topLeft()), raised(outline.topRight()),
                               raised(outline.bottomRight()), raised(outline.bottomLeft())};
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawPolygon(corners, 4);
}

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
