// The window's list kept up to date with the working folder (WATCH=1): a photograph that
// arrives joins the list in its place and is counted at once; one that leaves, leaves the list.

#include <QLabel>
#include <QListWidget>
#include <QSocketNotifier>
#include <filesystem>

#include "app/main_window.h"
#include "app/photograph_list.h"
#include "engine/folder_watch.h"
#include "engine/photographs.h"

namespace lathmark {
namespace {

std::filesystem::path workingFolder() {
    std::error_code error;
    return std::filesystem::current_path(error);
}

}  // namespace

void Lathmark::startWatching() {
    watcher = std::make_unique<FolderWatcher>(workingFolder());
    if (const std::optional<std::string> failure = watcher->failure()) {
        watcher.reset();
        const QString said = Label3->text();
        showMessage((said.isEmpty() ? "" : said + " ") + "The working folder cannot be watched (" +
                        fromNative(*failure) + "); photographs that arrive must be picked.",
                    Tone::Warning);
        return;
    }
    watchNotifier = new QSocketNotifier(watcher->fd(), QSocketNotifier::Read, this);
    connect(watchNotifier, &QSocketNotifier::activated, this, &Lathmark::folderChanged);
    // What arrived while the list was being made and the settings read.
    relistPhotographs(File1, listPhotographs(workingFolder()));
}

void Lathmark::folderChanged() {
    for (const FolderChange& change : watcher->changes()) {
        switch (change.kind) {
            case FolderChange::Kind::Arrived:
                photographArrived(change.name);
                break;
            case FolderChange::Kind::Left:
                unlistPhotograph(File1, change.name);
                break;
            case FolderChange::Kind::Rescan:
                relistPhotographs(File1, listPhotographs(workingFolder()));
                break;
        }
    }
}

// A photograph written whole or moved in: listed, and counted whether it is new or written
// again under a listed name. The very file a count of the book was made of (a file closed
// again without a change, or one renamed in the folder) is listed but not counted again.
void Lathmark::photographArrived(const std::string& name) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(name, error)) return;  // gone again, or no file
    QListWidgetItem* entry = listPhotograph(File1, name);
    const std::optional<FileIdentity> identity = identityOf(name);
    for (const BookCount& count : station.book().counts())
        if (count.identity && count.identity == identity) return;

    File1->scrollToItem(entry);
    if (entry->isSelected()) {
        // Selecting it again is no change of the selection, so no pick: count it here.
        selectedFile = name;
        countSelectedFile();
    } else {
        File1->setCurrentItem(entry);  // a pick
    }
}

}  // namespace lathmark
