#include "cli/watch.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "engine/arrivals.h"
#include "engine/folder_watch.h"
#include "engine/photographs.h"

namespace lathmark {
namespace {

// SIGINT, SIGTERM and SIGHUP as readable events, so that waiting for photographs and for the end is
// one poll; the signals are blocked while it lives and given back as they were after.
class EndSignals {
  public:
    EndSignals() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        sigaddset(&signals_, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &signals_, &before_);
        fd_ = Descriptor(::signalfd(-1, &signals_, SFD_CLOEXEC | SFD_NONBLOCK));
    }
    ~EndSignals() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    EndSignals(const EndSignals&) = delete;
    EndSignals& operator=(const EndSignals&) = delete;

    int fd() const { return fd_.get(); }

    // Takes the signal that came, so that it is not delivered once the signals are unblocked.
    void take() {
        signalfd_siginfo info{};
        while (::read(fd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
    }

  private:
    sigset_t signals_{};
    sigset_t before_{};
    Descriptor fd_;
};

class Watch {
  public:
    Watch(const std::filesystem::path& folder, const BatchOptions& options, Session& session)
        : folder_(folder), options_(options), session_(session), arrivals_(folder, true) {}

    Arrivals& arrivals() { return arrivals_; }

    // A name of the folder that may hold a new photograph.
    void consider(const std::string& name) {
        Arrivals::Arrival arrival = arrivals_.look(name, session_.stationBook());
        switch (arrival.kind) {
            case Arrivals::Arrival::Kind::Nothing:
                return;
            case Arrivals::Arrival::Kind::AlreadyCounted:
            case Arrivals::Arrival::Kind::Refused:
                arrivals_.settle(name, std::nullopt);
                refuse(arrival.file, arrival.reason, arrival.digest);
                return;
            case Arrivals::Arrival::Kind::Count:
                break;
        }
        PhotographOutcome outcome =
            countOne({arrival.file, {}, {}}, options_, nullptr, &arrival.photograph);
        if (arrivals_.settle(name, outcome.error)) session_.take(std::move(outcome));
    }

    // Everything the folder holds now, as at the start and after changes that were lost.
    void rescan() {
        for (const std::string& name : jpgEntries(folder_)) consider(name);
    }

    // The refusals of photographs that stayed unfinished: those that have not changed for a
    // while, or all of them at the end.
    void tellOverdue(bool all) {
        for (auto& [file, reason] : arrivals_.overdue(all)) refuse(file, reason, std::nullopt);
    }

  private:
    void refuse(const std::string& file, const std::string& reason,
                const std::optional<PhotographDigest>& digest) {
        PhotographOutcome outcome;
        outcome.file = file;
        outcome.error = reason;
        outcome.digest = digest;
        session_.take(std::move(outcome));
    }

    std::filesystem::path folder_;
    const BatchOptions& options_;
    Session& session_;
    Arrivals arrivals_;
};

// The sooner of two waits in milliseconds, where -1 is no wait at all.
int sooner(int a, int b) {
    if (a < 0) return b;
    if (b < 0) return a;
    return std::min(a, b);
}

}  // namespace

WatchEnd watchFolder(const std::filesystem::path& folder, const BatchOptions& options,
                     Session& session) {
    WatchEnd end;
    EndSignals endSignals;
    if (endSignals.fd() < 0) {
        say("lathmark-count: cannot wait for SIGINT, SIGTERM and SIGHUP (" + errnoText(errno) +
            "); nothing counted");
        return end;
    }
    // Watched before it is read, so that nothing that arrives in between is missed.
    FolderWatcher watcher(folder);
    if (watcher.failure()) {
        say("lathmark-count: " + folder.string() + " cannot be watched (" + *watcher.failure() +
            "); nothing counted");
        return end;
    }
    end.watched = true;
    session.begin();
    Watch watch(folder, options, session);
    watch.rescan();
    for (;;) {
        pollfd ready[2] = {{watcher.fd(), POLLIN, 0}, {endSignals.fd(), POLLIN, 0}};
        const int wait =
            sooner(sooner(watcher.retryMilliseconds(), watch.arrivals().millisecondsToOverdue()),
                   session.journalRetryMilliseconds());
        if (::poll(ready, 2, wait) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (ready[1].revents != 0) {
            endSignals.take();
            break;
        }
        for (const FolderChange& change : watcher.changes()) {
            switch (change.kind) {
                case FolderChange::Kind::Arrived:
                    watch.consider(change.name);
                    break;
                case FolderChange::Kind::Left:
                    watch.arrivals().left(change.name);
                    break;
                case FolderChange::Kind::Rescan:
                    watch.rescan();
                    break;
                case FolderChange::Kind::Gone:
                    end.folderWentAway = true;
                    say("lathmark-count: " + folder.string() +
                        " is gone (removed or renamed): photographs are not counted until a "
                        "folder is there again");
                    break;
                case FolderChange::Kind::Back:
                    say("lathmark-count: " + folder.string() +
                        " is there again: counting goes on with what it holds");
                    watch.rescan();
                    break;
            }
        }
        watch.tellOverdue(false);
        session.catchUpJournal();
    }
    watch.tellOverdue(true);
    return end;
}

}  // namespace lathmark
