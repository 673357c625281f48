#include "app/photograph_list.h"

#include <QByteArray>
#include <QIcon>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QSignalBlocker>
#include <algorithm>
#include <functional>

#include "app/counter_label.h"
#include "app/station.h"
#include "engine/photographs.h"

namespace lathmark {
namespace {

// Where an entry keeps the bytes of its file name.
constexpr int kNativeNameRole = Qt::UserRole;

QListWidgetItem* listedPhotograph(const QListWidget* list, const std::string& name) {
    for (int row = 0; row < list->count(); ++row)
        if (photographName(list->item(row)) == name) return list->item(row);
    return nullptr;
}

// A mark drawn by `draw` in a square as high as a line of the list, on a transparent ground, so
// that every name starts in the same column.
QIcon drawnMark(const std::function<void(QPainter&)>& draw) {
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    painter.end();
    return QIcon(pixmap);
}

// A dot of `colour`; none for an invalid colour.
QIcon dot(const QColor& colour) {
    return drawnMark([&colour](QPainter& painter) {
        if (!colour.isValid()) return;
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(QRectF(2, 2, 8, 8));
    });
}

// A ring of `colour`: a count the operator corrected.
QIcon ring(const QColor& colour) {
    return drawnMark([&colour](QPainter& painter) {
        painter.setPen(QPen(colour, 2));
        painter.drawEllipse(QRectF(2, 2, 8, 8));
    });
}

// A tick of `colour`: a count the operator confirmed.
QIcon check(const QColor& colour) {
    return drawnMark([&colour](QPainter& painter) {
        painter.setPen(QPen(colour, 2));
        painter.drawPolyline(QPolygonF({QPointF(2, 6.5), QPointF(5, 9.5), QPointF(10, 2.5)}));
    });
}

}  // namespace

QString fromNative(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string photographName(const QListWidgetItem* entry) {
    return entry->data(kNativeNameRole).toByteArray().toStdString();
}

QListWidgetItem* listPhotograph(QListWidget* list, const std::string& name) {
    if (QListWidgetItem* entry = listedPhotograph(list, name)) return entry;
    // Entries that move down keep their selection, which Qt still reports as a change of it.
    const QSignalBlocker noPick(list);
    int row = 0;
    while (row < list->count() && photographNameBefore(photographName(list->item(row)), name))
        ++row;
    auto* entry = new QListWidgetItem(fromNative(name));
    entry->setData(kNativeNameRole, QByteArray::fromStdString(name));
    list->insertItem(row, entry);
    return entry;
}

void unlistPhotograph(QListWidget* list, const std::string& name) {
    const QSignalBlocker noPick(list);
    delete listedPhotograph(list, name);
}

void relistPhotographs(QListWidget* list, const std::vector<std::string>& names) {
    const QSignalBlocker noPick(list);
    for (int row = list->count() - 1; row >= 0; --row)
        if (std::find(names.begin(), names.end(), photographName(list->item(row))) == names.end())
            delete list->takeItem(row);
    for (const std::string& name : names) listPhotograph(list, name);
}

void markPhotographs(QListWidget* list,
                     const std::function<PhotographMark(const std::string&)>& of) {
    // By PhotographMark, in its order.
    struct Shown {
        QIcon icon;
        const char* tip;
    };
    static const Shown shown[] = {{dot(QColor()), "Not counted in this book"},
                                  {dot(QColor(0, 150, 0)), "Counted in this book"},
                                  {dot(kWarningAmber), "Counted in this book, uncertain"},
                                  {dot(kCounterRed), "Refused in this book"},
                                  {ring(QColor(0, 150, 0)), "Corrected in this book"},
                                  {check(QColor(0, 150, 0)), "Confirmed in this book"}};
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem* entry = list->item(row);
        const Shown& mark = shown[static_cast<std::size_t>(of(photographName(entry)))];
        entry->setIcon(mark.icon);
        entry->setToolTip(mark.tip);
    }
}

}  // namespace lathmark
