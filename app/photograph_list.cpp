#include "app/photograph_list.h"

#include <QByteArray>
#include <QListWidget>
#include <QSignalBlocker>
#include <algorithm>

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

}  // namespace lathmark
