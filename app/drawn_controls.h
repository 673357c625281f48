#pragma once
// The two drawn decorations of the window: an unfilled rectangle and a straight line, both in
// the default pen. They take no focus and let mouse clicks through to what lies beneath.

#include <QPoint>
#include <QWidget>

namespace lathmark {

// An unfilled rectangle whose outline runs along the inside of its own geometry.
class RectangleShape : public QWidget {
  public:
    explicit RectangleShape(QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A line between two points of the parent, both ends included.
class LineShape : public QWidget {
  public:
    explicit LineShape(QWidget* parent);

    void setEnds(QPoint from, QPoint to);
    QPoint from() const { return from_; }
    QPoint to() const { return to_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPoint from_;
    QPoint to_;
};

}  // namespace lathmark
