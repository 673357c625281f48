#pragma once
// Watching a folder for photographs as a camera writes them, with Linux's file-change
// notification (inotify). A photograph arrives when a file of it is closed after writing, is
// moved in, or is made as a link (symbolic or hard: a link is whole when it is made), so that
// one still being written is not seen until it is closed; it leaves when it is removed or moved
// away. When the folder itself goes (removed, or renamed away), its path is watched for its
// return: the faces call changes() every retryMilliseconds() meanwhile. Both faces use it: the
// window with a socket notifier on fd() and a timer, the batch counter with poll().

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/files.h"

namespace lathmark {

struct FolderChange {
    enum class Kind {
        Arrived,  // written and closed, or moved in
        Left,     // removed or moved away
        // Changes were lost (the kernel's queue ran over): what the folder holds must be read
        // again.
        Rescan,
        // The folder was removed or renamed: nothing arrives until it is back.
        Gone,
        // A folder is at the path again: what it holds must be read again.
        Back,
    };
    Kind kind = Kind::Arrived;
    std::string name;  // the photograph's name in the folder (Arrived, Left)
};

class FolderWatcher {
  public:
    // Starts watching `folder` for "*.jpg" files (letter case ignored).
    explicit FolderWatcher(const std::filesystem::path& folder);

    // Why the folder cannot be watched, if it cannot.
    const std::optional<std::string>& failure() const { return failure_; }
    // Readable when changes wait; -1 if the folder is not watched.
    int fd() const { return fd_.get(); }
    // Whether the folder is gone, and how often to call changes() meanwhile (-1: no need).
    bool gone() const { return watch_ < 0; }
    int retryMilliseconds() const { return fd_ && gone() ? 200 : -1; }

    // The changes that have happened since the last call, in order; waits at most
    // `timeoutMilliseconds` for the first (0: does not wait, -1: waits for ever). While the
    // folder is gone it does not wait: it looks whether the folder is back.
    std::vector<FolderChange> changes(int timeoutMilliseconds = 0);

  private:
    bool watch();
    void goneNow(std::vector<FolderChange>& found);

    std::filesystem::path folder_;
    std::string name_;  // the folder's name in its parent
    Descriptor fd_;
    int watch_ = -1;
    int parentWatch_ = -1;
    std::optional<std::string> failure_;
};

}  // namespace lathmark
