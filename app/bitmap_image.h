#pragma once
// Turns a bitmap decoded by the engine into a QImage, so the window shows exactly the pixels
// that were counted instead of decoding the file a second time.

#include <FreeImage.h>

#include <QImage>
#include <QSize>

#include "engine/settings.h"

namespace lathmark {

// A top-down copy of `dib`. Handles 1-, 8-, 24- and 32-bit bitmaps directly (palettes
// included) and other pixel formats through the library's 24-bit conversion. Gives a null
// QImage for no bitmap, or for one that neither way can turn into colours.
QImage toQImage(FIBITMAP* dib);

// `dib` as a picture box of `box` pixels shows it: no wider and no higher than the box, each
// pixel the average of the photograph's pixels it covers, so that a photograph of millions of
// pixels is turned into Qt's form and scaled once, not at every paint. A photograph that fits
// the box comes back whole, as toQImage gives it. Gives a null QImage where toQImage does.
QImage toShownImage(FIBITMAP* dib, QSize box);

// A one-bit image (QImage::Format_Mono) as its picture box of `box` pixels shows it: no larger
// than the box either way, each pixel the share of light and dark it covers, and in 32-bit
// colour (QImage::Format_RGB32), the form a pixmap needs on screen. Other images come back
// as they are.
QImage toShownImage(const QImage& mono, QSize box);

// Draws the outline of `region`, a rectangle of a photograph of `photograph` pixels, on
// `shown`, that photograph scaled to its own size. The line lies inside the region, 2 pixels of
// `shown` wide, so that it stays visible however the picture is stretched into its box.
// The rows of a region read along a slope: they rise `rise` rows a column to the right of
// column `middle` (0: a level region).
struct RegionSlope {
    double rise = 0;
    double middle = 0;
};
void outlineRegion(QImage& shown, QSize photograph, const Region& region, const QColor& colour,
                   const RegionSlope& slope = {});

// A one-bit image (QImage::Format_Mono) in 32-bit colour (QImage::Format_RGB32), the form a
// pixmap needs on screen, made eight pixels at a time from a table: several times faster than
// Qt's own conversion, which the pixmap would otherwise make. Other images come back as they are.
QImage monoToRgb32(const QImage& mono);

}  // namespace lathmark
