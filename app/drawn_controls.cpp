#include "app/drawn_controls.h"

#include <QPainter>
#include <QRect>

namespace lathmark {
namespace {

// Decorations sit over labels of the counter box, so they must neither take clicks nor focus.
void makeDecoration(QWidget* widget) {
    widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    widget->setFocusPolicy(Qt::NoFocus);
}

}  // namespace

RectangleShape::RectangleShape(QWidget* parent) : QWidget(parent) {
    makeDecoration(this);
}

void RectangleShape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(QPen());
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

LineShape::LineShape(QWidget* parent) : QWidget(parent) {
    makeDecoration(this);
}

void LineShape::setEnds(QPoint from, QPoint to) {
    from_ = from;
    to_ = to;
    // The widget covers exactly the pixels of the line's bounding box, ends included.
    setGeometry(QRect(from, to).normalized());
    update();
}

void LineShape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(QPen());
    painter.drawLine(from_ - pos(), to_ - pos());
}

}  // namespace lathmark
