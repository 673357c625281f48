#pragma once
// Turns a bitmap decoded by the engine into a QImage, so the window shows exactly the pixels
// that were counted instead of decoding the file a second time.

#include <FreeImage.h>

#include <QImage>

namespace lathmark {

// A top-down copy of `dib`. Handles 1-, 8-, 24- and 32-bit bitmaps directly (palettes
// included) and other pixel formats through the library's 24-bit conversion. Gives a null
// QImage for no bitmap, or for one that neither way can turn into colours.
QImage toQImage(FIBITMAP* dib);

// A one-bit image (QImage::Format_Mono) in 32-bit colour (QImage::Format_RGB32), the form a
// pixmap needs on screen, made eight pixels at a time from a table: several times faster than
// Qt's own conversion, which the pixmap would otherwise make. Other images come back as they are.
QImage monoToRgb32(const QImage& mono);

}  // namespace lathmark
