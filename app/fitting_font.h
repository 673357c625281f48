#pragma once
// Text that must be read whole in a box of the layout is drawn at the largest size at which it
// fits, from the size of the layout down in steps of 0.75 pt, a pixel on a 96 dpi screen.

#include <QFont>
#include <QRect>
#include <QString>

namespace lathmark {

// `text` with a place to break a line after each comma, slash, dot, hyphen and underscore of a
// long word (a zero-width space), so that a path or a CSV header wraps instead of running out of
// its box at both edges.
QString breakableText(const QString& text);

// The largest size, from `font`'s own down to `smallestPoints`, at which `text` wrapped at
// spaces fits `box` when laid out with `alignment`; the smallest if none does.
QFont fontFittingWrapped(QFont font, const QString& text, const QRect& box, Qt::Alignment alignment,
                         double smallestPoints);

// The largest size, from `font`'s own down, at which `text` on one line is at most `width`
// pixels wide, glyphs that reach past their advance included; the smallest if none is.
QFont fontFittingLine(QFont font, const QString& text, int width);

}  // namespace lathmark
