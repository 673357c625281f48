#include "engine/files.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

namespace lathmark {
namespace {

// ---- Temporary files removed when a signal ends the process ----
//
// Each temporary file being written has a slot here while it exists. A slot's state says who
// may touch its path: the writer alone while it is Taken, anyone may read it while it is Live,
// and the signal handler alone once it has made it Removing. All of it is lock-free atomics, so
// the handler may use it from any thread at any moment.

enum SlotState : int { kFree, kTaken, kLive, kRemoving };

struct TemporarySlot {
    std::atomic<int> state{kFree};
    std::atomic<const char*> path{nullptr};
};
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<const char*>::is_always_lock_free);

// More than are ever written at once: one result image per job (at most 1024 jobs), the report,
// the window's result image, a settings file and a landscape.
constexpr int kTemporarySlots = 1100;
TemporarySlot temporarySlots[kTemporarySlots];

// The signals that end a process by default and that an operator or a pipeline sends.
constexpr int kCleanedUpSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void removeTemporariesAndEnd(int signal) {
    const int savedErrno = errno;
    for (TemporarySlot& slot : temporarySlots) {
        int live = kLive;
        if (slot.state.compare_exchange_strong(live, kRemoving)) ::unlink(slot.path.load());
    }
    errno = savedErrno;
    // The handler went back to the default on entry, and the signal is blocked until the
    // handler returns: then it ends the process as it would have without the handler.
    ::raise(signal);
}

// Installs the handler once, for each of the signals whose action is still the default, so
// that a signal the process ignores stays ignored and a handler of the program's own stays.
void installSignalCleanUp() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int signal : kCleanedUpSignals) {
            struct sigaction current {};
            if (::sigaction(signal, nullptr, &current) != 0) continue;
            if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
            struct sigaction cleanUp {};
            cleanUp.sa_handler = removeTemporariesAndEnd;
            sigemptyset(&cleanUp.sa_mask);
            cleanUp.sa_flags = SA_RESETHAND;
            ::sigaction(signal, &cleanUp, nullptr);
        }
    });
}

// A slot for a temporary file about to be made; its path is set before the file is made.
int takeSlot() {
    installSignalCleanUp();
    while (true) {
        for (int i = 0; i < kTemporarySlots; ++i) {
            int free = kFree;
            if (temporarySlots[i].state.compare_exchange_strong(free, kTaken)) return i;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Gives the slot back once its file is gone or renamed. Should a signal's handler be removing
// the file at that moment, the process is ending: the path must stay valid until it does.
void releaseSlot(int i) {
    TemporarySlot& slot = temporarySlots[i];
    int state = slot.state.load();
    while (state != kRemoving && !slot.state.compare_exchange_weak(state, kTaken)) {
    }
    if (state == kRemoving)
        while (true) ::pause();
    slot.path.store(nullptr);
    slot.state.store(kFree);
}

// Six letters and digits, different in every call.
std::string randomCharacters() {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<std::uint64_t> calls{0};
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits))
        bits = static_cast<std::uint64_t>(
                   std::chrono::steady_clock::now().time_since_epoch().count()) *
                   0x9E3779B97F4A7C15u +
               calls.fetch_add(1);
    std::string text(6, 'X');
    for (char& c : text) {
        c = kAlphabet[bits % (sizeof kAlphabet - 1)];
        bits /= sizeof kAlphabet - 1;
    }
    return text;
}

// The name of a temporary file for `target`: a dot, the target's name and a dot before the
// random characters, the target's name cut short where the whole would be longer than the
// folder's file system allows (at the start of a character, so that a UTF-8 name stays valid).
std::string temporaryName(const std::filesystem::path& target, const std::string& random) {
    const std::filesystem::path folder =
        target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (longest <= 0) longest = NAME_MAX;
    const std::size_t added = 2 + random.size();
    const std::size_t room =
        static_cast<std::size_t>(longest) > added ? static_cast<std::size_t>(longest) - added : 1;
    std::string name = target.filename().string();
    if (name.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name.resize(cut);
    }
    return "." + name + "." + random;
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

std::optional<std::string> notReplaceable(const std::filesystem::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return std::nullopt;
    if (S_ISDIR(info.st_mode)) return "is a directory";
    if (S_ISFIFO(info.st_mode)) return "is a named pipe, not a regular file";
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "is a device, not a regular file";
    if (S_ISSOCK(info.st_mode)) return "is a socket, not a regular file";
    return "is not a regular file";
}

FileWriter::FileWriter(std::filesystem::path target, Replacing replacing)
    : target_(std::move(target)), replacing_(replacing) {
    if (auto refused = notReplaceable(target_)) {
        failure_ = "it " + *refused;
        return;
    }
    slot_ = takeSlot();
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        temporary_ = (target_.parent_path() / temporaryName(target_, randomCharacters())).string();
        temporarySlots[slot_].path.store(temporary_.c_str());
        fd_ = Descriptor(
            ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        error = fd_ ? 0 : errno;
    }
    if (error != 0) {
        releaseSlot(slot_);
        slot_ = -1;
        failure_ = errnoText(error);
        return;
    }
    temporarySlots[slot_].state.store(kLive);
}

FileWriter::~FileWriter() {
    giveUp();
}

void FileWriter::giveUp() {
    fd_.close();
    if (slot_ < 0) return;
    ::unlink(temporary_.c_str());
    releaseSlot(slot_);
    slot_ = -1;
}

std::optional<std::string> FileWriter::commit(std::string_view bytes) {
    if (failure_) return failure_;
    if (slot_ < 0) return std::string("it was written already");
    int error = writeFully(fd_.get(), bytes);
    std::optional<std::string> refused;
    struct stat old {};
    if (error == 0 && ::lstat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        // The owner first, as a change of owner clears the set-user-ID and set-group-ID bits.
        // Only root may give a file away; anyone may give it a group they belong to.
        // Where neither may be kept, the file becomes the writer's, as any file it makes does;
        // a file system without permissions keeps none either. Neither stops the writing.
        struct stat now {};
        if (::fstat(fd_.get(), &now) == 0 &&
            (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
            const bool kept = ::fchown(fd_.get(), old.st_uid, old.st_gid) == 0 ||
                              ::fchown(fd_.get(), static_cast<uid_t>(-1), old.st_gid) == 0;
            static_cast<void>(kept);
        }
        const bool modeKept = ::fchmod(fd_.get(), old.st_mode & 07777) == 0;
        static_cast<void>(modeKept);
    } else if (error == 0) {
        // Something put in the target's place since the writer was made is not replaced either.
        if (auto other = notReplaceable(target_)) refused = "it " + *other;
    }
    if (!fd_.close() && error == 0) error = errno != 0 ? errno : EIO;
    if (error == 0 && !refused && replacing_ == Replacing::RemovingTheOldFirst)
        ::unlink(target_.c_str());  // should it fail, the rename replaces the old file
    if (error == 0 && !refused && ::rename(temporary_.c_str(), target_.c_str()) != 0) error = errno;
    if (error == 0 && !refused) {
        releaseSlot(slot_);
        slot_ = -1;
        return std::nullopt;
    }
    giveUp();
    return refused ? refused : errnoText(error);
}

std::optional<std::string> writeWholeFile(const std::filesystem::path& file, std::string_view bytes,
                                          FileWriter::Replacing replacing) {
    FileWriter writer(file, replacing);
    if (writer.failure()) return writer.failure();
    return writer.commit(bytes);
}

FileIdentity identityFrom(const struct stat& status) {
    return {
        static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
        static_cast<std::int64_t>(status.st_size),
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

std::optional<FileIdentity> identityOf(const std::filesystem::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) return std::nullopt;
    return identityFrom(status);
}

}  // namespace lathmark
