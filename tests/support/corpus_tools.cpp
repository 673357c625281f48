// What the corpus's tests use besides its files: matching words in a reason, finding a JPEG's
// frame header, and the guards that keep a count from taking the machine's memory or hanging on a
// named pipe.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>

#include "tests/support/corpus.h"

#if defined(__SANITIZE_ADDRESS__)
#define LATHMARK_CORPUS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LATHMARK_CORPUS_ASAN 1
#endif
#endif

namespace lathmark::test {

namespace fs = std::filesystem;

bool mentions(const std::string& text, const std::string& words) {
    const auto lower = [](unsigned char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
    };
    return std::search(text.begin(), text.end(), words.begin(), words.end(),
                       [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

std::optional<JpegFrame> findJpegFrame(const std::string& bytes) {
    const auto at = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() < 4 || at(0) != 0xFF || at(1) != 0xD8) return std::nullopt;
    std::size_t i = 2;
    while (i + 4 <= bytes.size()) {
        if (at(i) != 0xFF) return std::nullopt;
        const unsigned char marker = at(i + 1);
        if (marker == 0xFF) {  // fill byte before a marker
            ++i;
            continue;
        }
        const std::size_t length = (std::size_t{at(i + 2)} << 8) | at(i + 3);
        // SOF0 to SOF15, except DHT (C4), JPG (C8) and DAC (CC), which share the range.
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (i + 10 > bytes.size()) return std::nullopt;
            return JpegFrame{marker, i, (at(i + 5) << 8) | at(i + 6), (at(i + 7) << 8) | at(i + 8),
                             at(i + 9)};
        }
        if (marker == 0xDA || marker == 0xD9) return std::nullopt;  // scan or end before a frame
        i += 2 + length;
    }
    return std::nullopt;
}

bool AddressSpaceCap::available() {
#ifdef LATHMARK_CORPUS_ASAN
    return false;
#else
    return true;
#endif
}

std::uint64_t AddressSpaceCap::currentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

AddressSpaceCap::AddressSpaceCap(std::uint64_t headroomBytes) {
    if (!available()) return;
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0) return;
    const rlim_t wanted = static_cast<rlim_t>(currentBytes() + headroomBytes);
    // A tighter limit set from outside stays.
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= wanted) return;
    previousSoftLimit_ = limit.rlim_cur;
    limit.rlim_cur = wanted;
    active_ = ::setrlimit(RLIMIT_AS, &limit) == 0;
}

AddressSpaceCap::~AddressSpaceCap() {
    if (!active_) return;
    rlimit limit{};
    ::getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = static_cast<rlim_t>(previousSoftLimit_);
    ::setrlimit(RLIMIT_AS, &limit);
}

PipeRescuer::PipeRescuer(fs::path pipe, std::chrono::milliseconds grace)
    : pipe_(std::move(pipe)), previousSigpipe_(std::signal(SIGPIPE, SIG_IGN)) {
    thread_ = std::thread([this, grace] { standBy(grace); });
}

PipeRescuer::~PipeRescuer() {
    done_ = true;
    thread_.join();
    std::signal(SIGPIPE, previousSigpipe_);
}

void PipeRescuer::standBy(std::chrono::milliseconds grace) {
    const auto poll = std::chrono::milliseconds(20);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (!done_ && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(poll);
    while (!done_) {
        // Opening the writing end without blocking works only while some reader has the pipe
        // open or waits in open() for a writer; a reader then sees the file end.
        const int writer = ::open(pipe_.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) {
            rescued_ = true;
            ::close(writer);
        }
        // A writer that waits for room gets it.
        const int reader = ::open(pipe_.c_str(), O_RDONLY | O_NONBLOCK);
        if (reader >= 0) {
            char buffer[65536];
            while (::read(reader, buffer, sizeof buffer) > 0) rescued_ = true;
            ::close(reader);
        }
        std::this_thread::sleep_for(poll);
    }
}

}  // namespace lathmark::test
