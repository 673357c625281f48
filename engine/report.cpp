#include "engine/report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "engine/files.h"
#include "engine/library_messages.h"
#include "engine/passes.h"
#include "engine/rows.h"

namespace lathmark {
namespace {

// Writes all of `bytes` from the start of the file; 0, or why not (an errno value).
int writeAll(int descriptor, const BYTE* bytes, std::size_t size) {
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n =
            ::pwrite(descriptor, bytes + written, size - written, static_cast<off_t>(written));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

// Writes `bytes` over `file` in place, if it is a regular file with no other name: the file
// keeps its inode, and it is not emptied first (a file emptied on opening is pushed to disk at
// once when closed). Gives 0 when written, an errno value when writing failed part way, and
// nothing when the file cannot be written in place (a symbolic link, a file with other names,
// one not open to writing): the caller then writes a new file.
std::optional<int> overwriteInPlace(const std::filesystem::path& file, const BYTE* bytes,
                                    std::size_t size) {
    // Not blocking, in case a pipe has taken the file's place since it was looked at.
    const int descriptor = ::open(file.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
        ::close(descriptor);
        return std::nullopt;
    }
    int error = writeAll(descriptor, bytes, size);
    if (error == 0 && info.st_size > static_cast<off_t>(size) &&
        ::ftruncate(descriptor, static_cast<off_t>(size)) != 0)
        error = errno;
    if (::close(descriptor) != 0 && error == 0) error = errno;
    return error;
}

}  // namespace

void drawResultImage(CountingState& state) {
    const TwoLevelRows marked(state.dibBand.get());
    for (int y = 0; y < state.height; ++y) {
        bool lineRow = false;
        for (const PassParameters& pass : kPasses)
            lineRow = lineRow || entryAt(state.*pass.profile, y, state.height) > 0;
        if (lineRow)
            blackenRow(marked, y);
        else
            whitenRow(marked, y);
    }
}

std::optional<std::string> writeBmp(FIBITMAP* dib, const std::filesystem::path& file) {
    namespace fs = std::filesystem;
    auto notWritten = [&file](const std::string& why) {
        return file.string() + " could not be written (" + why + ")";
    };
    // A pipe or device in the way would hold the writer up for ever, and a folder cannot be
    // overwritten; neither is replaced.
    std::error_code error;
    const fs::file_type type = fs::status(file, error).type();
    if (type != fs::file_type::regular && type != fs::file_type::not_found &&
        type != fs::file_type::none)
        return notWritten(type == fs::file_type::directory ? "a directory has that name"
                                                           : "it is not a regular file");

    listenToLibraryMessages();
    clearLibraryMessages();
    std::unique_ptr<FIMEMORY, decltype(&FreeImage_CloseMemory)> memory(FreeImage_OpenMemory(),
                                                                       &FreeImage_CloseMemory);
    BYTE* bytes = nullptr;
    DWORD size = 0;
    if (!memory || !FreeImage_SaveToMemory(FIF_BMP, dib, memory.get(), 0) ||
        !FreeImage_AcquireMemory(memory.get(), &bytes, &size)) {
        const std::string why = libraryMessages();
        return notWritten(why.empty() ? "the library could not make a BMP of it" : why);
    }

    // An earlier result image is written over in place; writing a new file and renaming it
    // over the old one would cost a new inode, and the file system would push the new file to
    // disk at once. A reader at that moment, or a failure part way, can leave a half-written
    // file; the failure is reported.
    if (type == fs::file_type::regular)
        if (const std::optional<int> inPlace = overwriteInPlace(file, bytes, size))
            return *inPlace == 0 ? std::nullopt
                                 : std::optional<std::string>(notWritten(std::strerror(*inPlace)));

    // A new file is written beside the target and renamed to its name, so that it appears
    // whole. Something else with the name (a symbolic link, a file with other names) is removed
    // just before the rename and so replaced, not written through.
    if (auto failure =
            writeWholeFile(file, std::string_view(reinterpret_cast<const char*>(bytes), size),
                           type == fs::file_type::regular))
        return notWritten(*failure);
    return std::nullopt;
}

std::string detectionMessage(long long boards) {
    return "Detected " + std::to_string(boards) + " obvious lines.";
}

std::string secondsText(std::uint32_t milliseconds, const std::string& separator) {
    // Hundredths of a second, rounded half up, in whole numbers so nothing is lost to floats.
    const std::uint64_t hundredths = (std::uint64_t{milliseconds} + 5) / 10;
    const std::uint64_t whole = hundredths / 100;
    const auto fraction = static_cast<unsigned>(hundredths % 100);
    std::string text = std::to_string(whole);
    if (fraction == 0) return text;
    text += separator;
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
    return text;
}

std::string processTimeCaption(std::uint32_t milliseconds, const std::string& separator) {
    return "Process Time: " + secondsText(milliseconds, separator) + " sec.";
}

std::uint32_t tickCount() {
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

}  // namespace lathmark
