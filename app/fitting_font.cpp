#include "app/fitting_font.h"

#include <QFontMetrics>
#include <algorithm>

namespace lathmark {
namespace {

constexpr double kPointStep = 0.75;

// The largest size, from `font`'s own down to `smallestPoints`, for which `fits` holds.
template <typename Fits>
QFont largestFitting(QFont font, double smallestPoints, Fits fits) {
    for (double points = font.pointSizeF(); points >= smallestPoints; points -= kPointStep) {
        font.setPointSizeF(points);
        if (fits(QFontMetrics(font))) return font;
    }
    return font;
}

}  // namespace

QString breakableText(const QString& text) {
    constexpr int kLongWord = 16;
    static const QString kBreakAfter = QStringLiteral(",/._-");
    QString out;
    int wordLength = 0;
    for (const QChar c : text) {
        out += c;
        wordLength = c.isSpace() ? 0 : wordLength + 1;
        if (wordLength > kLongWord && kBreakAfter.contains(c)) out += QChar(0x200B);
    }
    return out;
}

QFont fontFittingWrapped(QFont font, const QString& text, const QRect& box, Qt::Alignment alignment,
                         double smallestPoints) {
    const int flags = Qt::TextWordWrap | static_cast<int>(alignment);
    return largestFitting(font, smallestPoints, [&](const QFontMetrics& metrics) {
        const QRect needed = metrics.boundingRect(box, flags, text);
        return needed.width() <= box.width() && needed.height() <= box.height();
    });
}

QFont fontFittingLine(QFont font, const QString& text, int width) {
    return largestFitting(font, kPointStep, [&](const QFontMetrics& metrics) {
        return std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).width()) <=
               width;
    });
}

}  // namespace lathmark
