#pragma once
// The one file layer every reader and writer goes through: files read whole without ever waiting
// on a pipe or device, and files written whole or not at all.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

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

// Writes `bytes` to a new file beside `file` and renames it to that name, so that the file
// appears whole or not at all and whatever had the name before is replaced, never written
// through. `replaceFirst` removes a file of that name just before the rename. Says why it
// failed, if it did.
std::optional<std::string> writeWholeFile(const std::filesystem::path& file, std::string_view bytes,
                                          bool replaceFirst = false);

// Writes `bytes` over `file` in place, if it is a regular file with no other name: the file
// keeps its inode, and it is not emptied first. Gives 0 when written, an errno value when
// writing failed part way, and nothing when the file cannot be written in place (a symbolic
// link, a file with other names, one not open to writing).
std::optional<int> writeInPlace(const std::filesystem::path& file, std::string_view bytes);

// The words of an errno value.
std::string errnoText(int error);

}  // namespace lathmark
