#pragma once
// The one file layer every reader and writer goes through: files read whole without ever waiting
// on a pipe or device, and files written whole or not at all (every file the programs write
// goes through FileWriter).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

struct stat;

namespace lathmark {

// Owns one open file descriptor and closes it when it goes.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes now; false if closing reported an error (errno tells which).
    bool close();

  private:
    int fd_;
};

// Writes all of `bytes` from the descriptor's position; 0, or why not (an errno value).
int writeFully(int fd, std::string_view bytes);

// Why a file could not be read whole.
struct ReadFailure {
    enum class Kind {
        CannotOpen,  // `error` says why: no such file, no permission, a loop of links, ...
        Directory,
        NotRegular,  // a pipe, device or socket: never read, as it could block or never end
        TooLarge,    // more than the caller's limit
        CannotRead,  // `error` says why
    };
    Kind kind;
    int error = 0;  // an errno value, for CannotOpen and CannotRead
};

// Reads a regular file of at most `maxBytes` into `bytes`. The file is opened without waiting,
// then checked as opened, so a pipe put in its place meanwhile is refused, not waited on.
std::optional<ReadFailure> readWholeFile(const std::filesystem::path& file, std::size_t maxBytes,
                                         std::string& bytes);

// The failure in words that follow a text file's name: "cannot be opened: ...", "is larger than
// 1 MiB", ...
std::string textFileFailure(const ReadFailure& failure, std::size_t maxBytes);

// Why `file` must not be replaced, if it must not: something other than a regular file has
// its name (a symbolic link counts as what it leads to). The words follow the file's name in a
// message: "is a directory", "is a named pipe, not a regular file", ... Nothing when the name
// is free or holds a regular file.
std::optional<std::string> notReplaceable(const std::filesystem::path& file);

// A file written whole or not at all: the bytes go to a new temporary file beside the target,
// which is then renamed to the target's name, so that a reader sees the old file or the new
// one, never part of either, and a failure part way (a full disk) leaves the old file as it
// was. What had the name is replaced, never written through: a file with other names (hard
// links) keeps its contents under them, a symbolic link is replaced by the file. A target that
// exists and is not a regular file is refused, never replaced. A file written over keeps its
// permissions and, where the process may give it, its owner and group; a new file gets
// rw-r--r-- less the process's file creation mask.
//
// The temporary file is made at once, so that a target that cannot be written is known before
// the work that fills it; until it is renamed or given up, a SIGINT, SIGTERM, SIGHUP or SIGPIPE
// that ends the process removes it first. Its name is hidden (a dot before the target's name,
// then six random characters) and is cut to fit the file system's longest name.
class FileWriter {
  public:
    // How an earlier file is replaced once the new one is whole.
    enum class Replacing {
        // Renamed over: at every moment the name holds the old file or the new one, and ext4
        // writes the new one out at once so that a crash cannot leave it empty. That write
        // costs a count of a small photograph more than the count itself.
        Atomically,
        // The old file is removed just before the rename: for a moment no file has the name,
        // and a crash then may leave the new one empty; for files that are made again as
        // cheaply as they were made (the result images).
        RemovingTheOldFirst,
    };

    explicit FileWriter(std::filesystem::path target, Replacing replacing = Replacing::Atomically);
    // Removes the temporary file if it was not renamed.
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    const std::filesystem::path& target() const { return target_; }
    // Why the temporary file could not be made, if it could not: words that follow the
    // target's name in parentheses, such as "Permission denied".
    const std::optional<std::string>& failure() const { return failure_; }

    // Writes `bytes` to the temporary file and renames it to the target: once only. Says why
    // it could not, in the same form as failure(); the target is then as it was.
    std::optional<std::string> commit(std::string_view bytes);

  private:
    void giveUp();

    std::filesystem::path target_;
    Replacing replacing_;
    std::string temporary_;
    Descriptor fd_;
    int slot_ = -1;  // the temporary file's place among those removed at a signal
    std::optional<std::string> failure_;
};

// Writes `bytes` to `file` through a FileWriter; says why it could not, if it could not.
std::optional<std::string> writeWholeFile(
    const std::filesystem::path& file, std::string_view bytes,
    FileWriter::Replacing replacing = FileWriter::Replacing::Atomically);

// The words of an errno value.
std::string errnoText(int error);

// Which file a name holds: the same name written again, or another file moved in under it, has
// another identity. Cheap to find, so that an unchanged file is not read again.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;

    bool operator==(const FileIdentity&) const = default;
    // The file itself, the same for every name of one file whatever is written to it.
    std::pair<std::uint64_t, std::uint64_t> file() const { return {device, inode}; }
};

// The identity of what `file` names now (links followed), if it can be found.
std::optional<FileIdentity> identityOf(const std::filesystem::path& file);
// The identity that a file's status gives.
FileIdentity identityFrom(const struct stat& status);

}  // namespace lathmark
