#include "cli/watch.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "engine/decode_verdict.h"
#include "engine/folder_watch.h"
#include "engine/photographs.h"

namespace lathmark {
namespace {

// SIGINT and SIGTERM as readable events, so that waiting for photographs and for the end is one
// poll; the signals are blocked while it lives and given back as they were after.
class EndSignals {
  public:
    EndSignals() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
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
        : folder_(folder), options_(options), session_(session) {}

    // A photograph of the folder that may be new: counted unless this very file was counted.
    void consider(const std::string& name) {
        const std::filesystem::path path = folder_ / name;
        const std::optional<FileIdentity> identity = identityOf(path);
        if (!identity) return;  // gone again before it could be looked at
        const auto seen = seen_.find(name);
        if (seen != seen_.end() && seen->second == *identity) return;
        seen_[name] = *identity;
        held_.erase(name);
        PhotographOutcome outcome = countOne({path.string(), {}, {}}, options_);
        if (outcome.error && refusedAsUnfinished(*outcome.error)) {
            held_[name] = std::move(outcome);
            return;
        }
        session_.take(outcome);
    }

    // A photograph that left: one held back as unfinished was never a photograph.
    void left(const std::string& name) { held_.erase(name); }

    // Everything the folder holds now, as after changes that were lost.
    void rescan() {
        for (const std::string& name : listPhotographs(folder_)) consider(name);
    }

    // The refusals held back for photographs that never became whole.
    void end() {
        for (auto& [name, outcome] : held_) session_.take(outcome);
        held_.clear();
    }

  private:
    std::filesystem::path folder_;
    const BatchOptions& options_;
    Session& session_;
    std::map<std::string, FileIdentity> seen_;
    std::map<std::string, PhotographOutcome> held_;
};

}  // namespace

bool watchFolder(const std::filesystem::path& folder, const BatchOptions& options,
                 Session& session) {
    EndSignals endSignals;
    if (endSignals.fd() < 0) {
        say("lathmark-count: cannot wait for SIGINT and SIGTERM (" + errnoText(errno) +
            "); nothing counted");
        return false;
    }
    // Watched before it is read, so that nothing that arrives in between is missed.
    FolderWatcher watcher(folder);
    if (watcher.failure()) {
        say("lathmark-count: " + folder.string() + " cannot be watched (" + *watcher.failure() +
            "); nothing counted");
        return false;
    }
    session.begin();
    Watch watch(folder, options, session);
    watch.rescan();
    for (;;) {
        pollfd ready[2] = {{watcher.fd(), POLLIN, 0}, {endSignals.fd(), POLLIN, 0}};
        if (::poll(ready, 2, -1) < 0) {
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
                    watch.left(change.name);
                    break;
                case FolderChange::Kind::Rescan:
                    watch.rescan();
                    break;
            }
        }
    }
    watch.end();
    return true;
}

}  // namespace lathmark
