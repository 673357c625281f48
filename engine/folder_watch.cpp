#include "engine/folder_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/photographs.h"

namespace lathmark {

FolderWatcher::FolderWatcher(const std::filesystem::path& folder)
    : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (!fd_) {
        failure_ = errnoText(errno);
        return;
    }
    const std::uint32_t events = IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM |
                                 IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    if (::inotify_add_watch(fd_.get(), folder.c_str(), events) < 0) {
        failure_ = errnoText(errno);
        fd_ = Descriptor();
    }
}

std::vector<FolderChange> FolderWatcher::changes(int timeoutMilliseconds) {
    std::vector<FolderChange> found;
    if (!fd_) return found;
    if (timeoutMilliseconds != 0) {
        pollfd ready{fd_.get(), POLLIN, 0};
        if (::poll(&ready, 1, timeoutMilliseconds) <= 0) return found;
    }
    // Large enough for many events at once; each is a header and a name of at most NAME_MAX.
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t length = ::read(fd_.get(), buffer, sizeof buffer);
        if (length <= 0) break;  // EAGAIN: nothing more waits
        for (ssize_t at = 0; at < length;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const char* name = buffer + at + sizeof(inotify_event);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
            if (event.mask & (IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                found.push_back({FolderChange::Kind::Rescan, {}});
                continue;
            }
            if (event.len == 0 || (event.mask & IN_ISDIR)) continue;
            const std::string file(name, ::strnlen(name, event.len));
            if (!isJpgName(file)) continue;
            const bool arrived = event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO);
            found.push_back(
                {arrived ? FolderChange::Kind::Arrived : FolderChange::Kind::Left, file});
        }
    }
    return found;
}

}  // namespace lathmark
