#pragma once
// A counter of the window: a whole number in red, in the font of the layout. A number too wide
// for the counter's box at that size is drawn at the largest smaller size at which it fits, so
// that no digit is ever cut off; a number that fits again is drawn at the layout's size again.

#include <QColor>
#include <QFont>
#include <QLabel>

namespace lathmark {

// The red of the counters, and of a message that says why nothing was counted.
inline const QColor kCounterRed{192, 0, 0};

// The amber of what may be wrong: an uncertain count, a photograph counted twice, a journal
// that cannot be written. Far enough from the red to be told apart at a glance.
inline const QColor kWarningAmber{230, 126, 0};

class CounterLabel : public QLabel {
    Q_OBJECT

  public:
    // A counter called `name` in `box` of `parent`, in `font`, aligned `horizontal` and at the
    // top, showing 0.
    CounterLabel(QWidget* parent, const char* name, const QRect& box, const QFont& font,
                 Qt::Alignment horizontal);

    void setNumber(long long number);

    // The font of the layout, at its own size.
    const QFont& layoutFont() const { return layoutFont_; }

  private:
    QFont layoutFont_;
};

}  // namespace lathmark
