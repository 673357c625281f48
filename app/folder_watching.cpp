// The window's watch of its working folder. The folder itself is always watched, so that the
// operator hears at once when it is removed or renamed (a standing line until it is back; the
// window then works in the folder at that path again). With WATCH=1 the list is kept up to date
// as well, and each photograph that arrives is counted by the engine's rule of arrivals: once,
// however it reaches the folder; one still being written when it is whole; those that arrived
// while the window was closed when it opens.

#include <unistd.h>

#include <QLabel>
#include <QListWidget>
#include <QSignalBlocker>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <filesystem>

#include "app/captions.h"
#include "app/main_window.h"
#include "app/photograph_list.h"
#include "engine/arrivals.h"
#include "engine/folder_watch.h"
#include "engine/photographs.h"

namespace lathmark {

void Lathmark::startWatching() {
    std::error_code error;
    folder = std::filesystem::current_path(error);
    watcher = std::make_unique<FolderWatcher>(folder);
    if (const std::optional<std::string> failure = watcher->failure()) {
        watcher.reset();
        if (!settings.watch) return;
        const QString said = Label3->text();
        showMessage((said.isEmpty() ? "" : said + " ") + "The working folder cannot be watched (" +
                        fromNative(*failure) + "); photographs that arrive must be picked.",
                    Tone::Warning);
        return;
    }
    watchNotifier = new QSocketNotifier(watcher->fd(), QSocketNotifier::Read, this);
    connect(watchNotifier, &QSocketNotifier::activated, this, &Lathmark::folderChanged);
    watchTimer = new QTimer(this);
    watchTimer->setSingleShot(true);
    connect(watchTimer, &QTimer::timeout, this, &Lathmark::folderChanged);
    if (!settings.watch) return;

    arrivals = std::make_unique<Arrivals>(folder, false);
    // What arrived while the list was being made and the settings read.
    const std::vector<std::string> names = listPhotographs(folder);
    relistPhotographs(File1, names);
    showMarks();
    const JournalStart& journal = station.journalAtStart();
    const std::vector<std::string> whileClosed = arrivedWhileClosed(folder, names, journal);
    for (const std::string& name : names)
        if (std::find(whileClosed.begin(), whileClosed.end(), name) == whileClosed.end())
            arrivals->know(name);
    // Counted after the resume, oldest first, each as if it had arrived now.
    for (const std::string& name : whileClosed) photographArrived(name);
    armWatchTimer();
}

void Lathmark::folderChanged() {
    for (const FolderChange& change : watcher->changes()) {
        switch (change.kind) {
            case FolderChange::Kind::Arrived:
                if (arrivals) photographArrived(change.name);
                break;
            case FolderChange::Kind::Left:
                if (!arrivals) break;
                arrivals->left(change.name);
                unlistPhotograph(File1, change.name);
                break;
            case FolderChange::Kind::Rescan:
                if (arrivals) rereadFolder();
                break;
            case FolderChange::Kind::Gone:
                folderStanding = folder.string() +
                                 " is gone (removed or renamed): nothing can be counted until "
                                 "a folder is there again";
                showStanding();
                break;
            case FolderChange::Kind::Back:
                // The window works in the folder at its path, not in the one that went.
                if (::chdir(folder.c_str()) != 0) break;
                folderStanding.clear();
                showStanding();
                rereadFolder();
                break;
        }
    }
    if (arrivals)
        for (auto& [file, reason] : arrivals->overdue()) refuseArrival(file, reason, {}, {});
    armWatchTimer();
}

// The list made what the folder holds, and (WATCH=1) each photograph that is new counted.
void Lathmark::rereadFolder() {
    relistPhotographs(File1, listPhotographs(folder));
    showMarks();
    if (arrivals)
        for (const std::string& name : jpgEntries(folder)) photographArrived(name);
}

// While the folder is gone it is looked for a few times a second; while a photograph is held
// back as unfinished, its refusal waits for the timer.
void Lathmark::armWatchTimer() {
    int wait = watcher->retryMilliseconds();
    const int overdue = arrivals ? arrivals->millisecondsToOverdue() : -1;
    if (wait < 0 || (overdue >= 0 && overdue < wait)) wait = overdue;
    if (wait >= 0)
        watchTimer->start(wait);
    else
        watchTimer->stop();
}

void Lathmark::photographArrived(const std::string& name) {
    Arrivals::Arrival arrival = arrivals->look(name, station.book());
    switch (arrival.kind) {
        case Arrivals::Arrival::Kind::Nothing: {
            std::error_code error;
            if (std::filesystem::is_regular_file(folder / name, error)) listPhotograph(File1, name);
            return;
        }
        case Arrivals::Arrival::Kind::AlreadyCounted:
        case Arrivals::Arrival::Kind::Refused:
            arrivals->settle(name, std::nullopt);
            refuseArrival(name, arrival.reason, arrival.digest, arrival.countedAs);
            return;
        case Arrivals::Arrival::Kind::Count:
            break;
    }
    const std::string before = selectedFile;
    selectedFile = name;
    if (!countSelectedFile(&arrival.photograph, true)) {
        selectedFile = before;  // held back until it is whole, and listed meanwhile
        listPhotograph(File1, name);
        return;
    }
    pickQuietly(name);
}

// A photograph that arrived and is not counted: its record, and the refusal shown as that of a
// pick, with the book's count of the same image on the trust line.
void Lathmark::refuseArrival(const std::string& name, const std::string& reason,
                             const std::optional<PhotographDigest>& digest,
                             const std::string& countedAs) {
    const std::string note = station.refused(name, reason, digest);
    std::error_code error;
    if (std::filesystem::exists(folder / name, error)) pickQuietly(name);
    showRefusal(fromNative(name + ": " + reason + (note.empty() ? "" : " " + note)));
    if (!countedAs.empty()) showCertainty(fromNative(alreadyCountedLine(countedAs)), true);
}

// The entry selected and shown without a pick: its photograph was dealt with already.
void Lathmark::pickQuietly(const std::string& name) {
    QListWidgetItem* entry = listPhotograph(File1, name);
    const QSignalBlocker quiet(File1);
    File1->setCurrentItem(entry);
    File1->scrollToItem(entry);
    File1->viewport()->update();
}

}  // namespace lathmark
