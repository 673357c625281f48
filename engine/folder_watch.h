#pragma once
// Watching a folder for photographs as a camera writes them, with Linux's file-change
// notification (inotify). A photograph arrives when a file of it is closed after writing or is
// moved in, so that one still being written is not seen until it is whole; it leaves when it is
// removed or moved away. Both faces use it: the window with a socket notifier on fd(), the
// batch counter with poll().

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
        // Changes were lost (the kernel's queue ran over) or the folder itself went: what the
        // folder holds must be read again.
        Rescan,
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

    // The changes that have happened since the last call, in order; waits at most
    // `timeoutMilliseconds` for the first (0: does not wait, -1: waits for ever).
    std::vector<FolderChange> changes(int timeoutMilliseconds = 0);

  private:
    Descriptor fd_;
    std::optional<std::string> failure_;
};

}  // namespace lathmark
