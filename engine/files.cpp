#include "engine/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace lathmark {
namespace {

std::string errnoText(int error) {
    return std::generic_category().message(error);
}

// The process's file creation mask, so that a written file gets the permissions any new file
// would get.
mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now; false if closing reported an error.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

}  // namespace

std::optional<std::string> readTextFile(const std::filesystem::path& file, std::size_t maxBytes,
                                        std::string& text) {
    // Not blocking, so that a pipe put in place of the file cannot hold the reader up.
    const Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return "cannot be opened: " + errnoText(errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return "cannot be opened: " + errnoText(errno);
    if (S_ISDIR(info.st_mode)) return "cannot be opened: " + errnoText(EISDIR);
    if (!S_ISREG(info.st_mode)) return std::string("cannot be opened: not a regular file");
    const std::string tooLarge = "is larger than " + std::to_string(maxBytes >> 20) + " MiB";
    if (static_cast<std::uintmax_t>(info.st_size) > maxBytes) return tooLarge;

    // Room for the file and one byte more, to see whether it grew after fstat; a file that grew
    // is read on, up to one byte past the limit.
    text.assign(static_cast<std::size_t>(info.st_size) + 1, '\0');
    std::size_t size = 0;
    while (true) {
        if (size == text.size()) {
            if (size > maxBytes) break;
            text.resize(std::min(2 * size, maxBytes + 1));
        }
        const ssize_t got = ::read(fd.get(), text.data() + size, text.size() - size);
        if (got < 0) {
            if (errno == EINTR) continue;
            return "cannot be read: " + errnoText(errno);
        }
        if (got == 0) break;
        size += static_cast<std::size_t>(got);
    }
    if (size > maxBytes) return tooLarge;
    text.resize(size);
    return std::nullopt;
}

std::optional<std::string> writeWholeFile(const std::filesystem::path& file, std::string_view bytes,
                                          bool replaceFirst) {
    std::string name(1, '.');
    name.append(file.filename().string()).append(".XXXXXX");
    std::string temporary = (file.parent_path() / name).string();
    Descriptor fd(::mkstemp(temporary.data()));
    if (fd.get() < 0) return errnoText(errno);
    int error = 0;
    for (std::size_t written = 0; written < bytes.size() && error == 0;) {
        const ssize_t n = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            error = n < 0 ? errno : EIO;
        else
            written += static_cast<std::size_t>(n);
    }
    ::fchmod(fd.get(), 0644 & ~currentUmask());
    if (!fd.close() && error == 0) error = errno != 0 ? errno : EIO;
    if (error == 0 && replaceFirst) ::unlink(file.c_str());
    if (error == 0 && ::rename(temporary.c_str(), file.c_str()) != 0) error = errno;
    if (error == 0) return std::nullopt;
    ::unlink(temporary.c_str());
    return errnoText(error);
}

}  // namespace lathmark
