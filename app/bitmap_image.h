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

}  // namespace lathmark
