#include "engine/folder_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/photographs.h"

namespace lathmark {

FolderWatcher::FolderWatcher(const std::filesystem::path& folder)
    : folder_(folder), fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (!fd_) {
        failure_ = errnoText(errno);
        return;
    }
    if (!watch()) {
        failure_ = errnoText(errno);
        fd_ = Descriptor();
        return;
    }
    // The folder's own watch hears of its removal only once nothing holds it (a process working
    // in it does); its parent hears at once. Without a parent that can be watched, the folder's
    // own events must do.
    std::error_code error;
    std::filesystem::path whole = std::filesystem::absolute(folder_, error).lexically_normal();
    if (!whole.has_filename()) whole = whole.parent_path();  // "camera/" names "camera"
    const std::filesystem::path parent = whole.parent_path();
    name_ = whole.filename().string();
    if (!error && !name_.empty() && !parent.empty())
        parentWatch_ =
            ::inotify_add_watch(fd_.get(), parent.c_str(),
                                IN_DELETE | IN_MOVED_FROM | IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
}

bool FolderWatcher::watch() {
    const std::uint32_t events = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE |
                                 IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    watch_ = ::inotify_add_watch(fd_.get(), folder_.c_str(), events);
    return watch_ >= 0;
}

void FolderWatcher::goneNow(std::vector<FolderChange>& found) {
    // A folder renamed away is still watched where it went; its path is what counts.
    ::inotify_rm_watch(fd_.get(), watch_);
    watch_ = -1;
    found.push_back({FolderChange::Kind::Gone, {}});
}

std::vector<FolderChange> FolderWatcher::changes(int timeoutMilliseconds) {
    std::vector<FolderChange> found;
    if (!fd_) return found;
    if (gone()) {
        if (!watch()) return found;
        found.push_back({FolderChange::Kind::Back, {}});
    }
    if (timeoutMilliseconds != 0 && found.empty()) {
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
            if (event.mask & IN_Q_OVERFLOW) {
                found.push_back({FolderChange::Kind::Rescan, {}});
                continue;
            }
            if (event.wd == parentWatch_ && parentWatch_ >= 0) {
                if (event.len == 0 || name_ != std::string(name, ::strnlen(name, event.len)))
                    continue;
                if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
                    if (!gone()) goneNow(found);
                } else if (gone() && watch()) {
                    found.push_back({FolderChange::Kind::Back, {}});
                }
                continue;
            }
            // Events of a watch given up (a folder that went and came back) are old news.
            if (event.wd != watch_) continue;
            if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                goneNow(found);
                continue;
            }
            if (event.len == 0 || (event.mask & IN_ISDIR)) continue;
            const std::string file(name, ::strnlen(name, event.len));
            if (!isJpgName(file)) continue;
            if (event.mask & IN_CREATE) {
                // A file made to be written arrives when it is closed; a link is whole at once.
                struct stat entry {};
                if (::lstat((folder_ / file).c_str(), &entry) != 0) continue;
                if (!S_ISLNK(entry.st_mode) && !(S_ISREG(entry.st_mode) && entry.st_nlink > 1))
                    continue;
            }
            const bool arrived = event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE);
            found.push_back(
                {arrived ? FolderChange::Kind::Arrived : FolderChange::Kind::Left, file});
        }
    }
    return found;
}

}  // namespace lathmark
