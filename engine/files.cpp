#include "engine/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace lathmark {
namespace {

// The process's file creation mask, so that a written file gets the permissions any new file
// would get.
mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

}  // namespace

std::string errnoText(int error) {
    return std::generic_category().message(error);
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

bool Descriptor::close() {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
}

int writeFully(int fd, std::string_view bytes) {
    for (std::size_t written = 0; written < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

std::optional<ReadFailure> readWholeFile(const std::filesystem::path& file, std::size_t maxBytes,
                                         std::string& bytes) {
    using Kind = ReadFailure::Kind;
    const Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return ReadFailure{Kind::CannotOpen, errno};
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return ReadFailure{Kind::CannotOpen, errno};
    if (S_ISDIR(info.st_mode)) return ReadFailure{Kind::Directory};
    if (!S_ISREG(info.st_mode)) return ReadFailure{Kind::NotRegular};
    if (static_cast<std::uintmax_t>(info.st_size) > maxBytes) return ReadFailure{Kind::TooLarge};

    // Room for the file and one byte more, to see whether it grew after fstat; a file that grew
    // is read on, up to one byte past the limit.
    bytes.assign(static_cast<std::size_t>(info.st_size) + 1, '\0');
    std::size_t size = 0;
    while (true) {
        if (size == bytes.size()) {
            if (size > maxBytes) break;
            bytes.resize(std::min(2 * size, maxBytes + 1));
        }
        const ssize_t got = ::read(fd.get(), bytes.data() + size, bytes.size() - size);
        if (got < 0) {
            if (errno == EINTR) continue;
            return ReadFailure{Kind::CannotRead, errno};
        }
        if (got == 0) break;
        size += static_cast<std::size_t>(got);
    }
    if (size > maxBytes) return ReadFailure{Kind::TooLarge};
    bytes.resize(size);
    return std::nullopt;
}

std::string textFileFailure(const ReadFailure& failure, std::size_t maxBytes) {
    using Kind = ReadFailure::Kind;
    switch (failure.kind) {
        case Kind::CannotOpen:
            return "cannot be opened: " + errnoText(failure.error);
        case Kind::Directory:
            return "cannot be opened: " + errnoText(EISDIR);
        case Kind::NotRegular:
            return "cannot be opened: not a regular file";
        case Kind::TooLarge:
            return "is larger than " + std::to_string(maxBytes >> 20) + " MiB";
        case Kind::CannotRead:
            return "cannot be read: " + errnoText(failure.error);
    }
    return "cannot be read";
}

std::optional<std::string> writeWholeFile(const std::filesystem::path& file, std::string_view bytes,
                                          bool replaceFirst) {
    std::string name(1, '.');
    name.append(file.filename().string()).append(".XXXXXX");
    std::string temporary = (file.parent_path() / name).string();
    Descriptor fd(::mkstemp(temporary.data()));
    if (!fd) return errnoText(errno);
    int error = writeFully(fd.get(), bytes);
    ::fchmod(fd.get(), 0644 & ~currentUmask());
    if (!fd.close() && error == 0) error = errno != 0 ? errno : EIO;
    if (error == 0 && replaceFirst) ::unlink(file.c_str());
    if (error == 0 && ::rename(temporary.c_str(), file.c_str()) != 0) error = errno;
    if (error == 0) return std::nullopt;
    ::unlink(temporary.c_str());
    return errnoText(error);
}

std::optional<int> writeInPlace(const std::filesystem::path& file, std::string_view bytes) {
    // Not blocking, in case a pipe has taken the file's place since it was looked at.
    Descriptor fd(::open(file.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return std::nullopt;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1)
        return std::nullopt;
    int error = writeFully(fd.get(), bytes);
    if (error == 0 && info.st_size > static_cast<off_t>(bytes.size()) &&
        ::ftruncate(fd.get(), static_cast<off_t>(bytes.size())) != 0)
        error = errno;
    if (!fd.close() && error == 0) error = errno;
    return error;
}

}  // namespace lathmark
