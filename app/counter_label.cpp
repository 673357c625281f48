#include "app/counter_label.h"

#include <QPalette>

#include "app/fitting_font.h"

namespace lathmark {

CounterLabel::CounterLabel(QWidget* parent, const char* name, const QRect& box, const QFont& font,
                           Qt::Alignment horizontal)
    : QLabel(parent), layoutFont_(font) {
    setObjectName(name);
    setGeometry(box);
    setAlignment(horizontal | Qt::AlignTop);
    QPalette red = palette();
    red.setColor(QPalette::WindowText, kCounterRed);
    setPalette(red);
    setNumber(0);
}

void CounterLabel::setNumber(long long number) {
    const QString text = QString::number(number);
    setFont(fontFittingLine(layoutFont_, text, contentsRect().width()));
    setText(text);
}

}  // namespace lathmark
