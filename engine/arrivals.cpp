#include "engine/arrivals.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <tuple>

#include "engine/decode_verdict.h"
#include "engine/files.h"
#include "engine/photographs.h"

namespace lathmark {

Arrivals::Arrivals(std::filesystem::path folder, bool withFolder)
    : folder_(std::move(folder)), withFolder_(withFolder) {}

std::string Arrivals::fileOf(const std::string& name) const {
    return withFolder_ ? (folder_ / name).string() : name;
}

Arrivals::Arrival Arrivals::look(const std::string& name, const StationBook& book) {
    const std::filesystem::path path = folder_ / name;
    Arrival arrival;
    arrival.file = fileOf(name);
    struct stat entry {};
    if (::lstat(path.c_str(), &entry) != 0) return arrival;  // gone again
    Seen& seen = seen_[name];
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0) {
        if (!S_ISLNK(entry.st_mode)) return arrival;  // gone between the two looks
        // A link to nothing is said once, until the link changes.
        if (seen.identity == identityFrom(entry)) return arrival;
        seen = {identityFrom(entry), std::nullopt};
        const int error = errno;
        arrival.kind = Arrival::Kind::Refused;
        arrival.reason = brokenLink(path);
        if (arrival.reason.empty()) arrival.reason = "cannot be read: " + errnoText(error);
        return arrival;
    }
    // A file looked at already, unchanged since, is not read again.
    const FileIdentity identity = identityFrom(target);
    if (seen.identity == identity) return arrival;
    seen.identity = identity;

    arrival.photograph = readJpegFile(path);
    if (!arrival.photograph.ok()) {
        seen.digest.reset();
        arrival.kind = Arrival::Kind::Count;  // the count says why it cannot be read
        return arrival;
    }
    arrival.digest = arrival.photograph.value.digest;
    // The same image under the same name: touched, closed again, given a trailer or its end.
    const bool sameAsBefore = arrival.digest && arrival.digest == seen.digest;
    seen.digest = arrival.digest;
    const BookCount* holder = book.holding(arrival.digest);
    if (sameAsBefore || (holder && holder->file == arrival.file)) {
        arrival.photograph = {};
        return arrival;
    }
    if (holder) {
        arrival.photograph = {};
        arrival.kind = Arrival::Kind::AlreadyCounted;
        arrival.countedAs = holder->file;
        arrival.reason = alreadyCountedReason(holder->file);
        return arrival;
    }
    arrival.kind = Arrival::Kind::Count;
    return arrival;
}

bool Arrivals::settle(const std::string& name, const std::optional<std::string>& refusal) {
    if (refusal && refusedAsUnfinished(*refusal)) {
        held_[name] = {*refusal, Clock::now()};
        return false;
    }
    held_.erase(name);
    return true;
}

void Arrivals::know(const std::string& name) {
    const std::filesystem::path path = folder_ / name;
    const std::optional<FileIdentity> identity = identityOf(path);
    const StepResult<JpegPhotograph> read = readJpegFile(path);
    seen_[name] = {identity, read.ok() ? read.value.digest : std::nullopt};
}

void Arrivals::left(const std::string& name) {
    seen_.erase(name);
    held_.erase(name);
}

std::vector<std::pair<std::string, std::string>> Arrivals::overdue(bool all) {
    std::vector<std::pair<std::string, std::string>> told;
    const Clock::time_point now = Clock::now();
    for (auto it = held_.begin(); it != held_.end();) {
        if (all || now - it->second.since >= kSettle) {
            told.emplace_back(fileOf(it->first), std::move(it->second.reason));
            it = held_.erase(it);
        } else {
            ++it;
        }
    }
    return told;
}

int Arrivals::millisecondsToOverdue() const {
    if (held_.empty()) return -1;
    Clock::time_point first = Clock::time_point::max();
    for (const auto& [name, held] : held_) first = std::min(first, held.since);
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(first + kSettle - Clock::now());
    return static_cast<int>(std::max<std::int64_t>(0, left.count()) + 1);
}

std::vector<std::string> arrivedWhileClosed(const std::filesystem::path& folder,
                                            const std::vector<std::string>& names,
                                            const JournalStart& journal) {
    if (!journal.lastTime) return {};
    std::vector<std::tuple<std::int64_t, std::string>> arrived;
    for (const std::string& name : names) {
        const std::filesystem::path path = folder / name;
        struct stat entry {};
        struct stat target {};
        if (::lstat(path.c_str(), &entry) != 0 || ::stat(path.c_str(), &target) != 0) continue;
        if (std::max(entry.st_ctim.tv_sec, target.st_ctim.tv_sec) < *journal.lastTime) continue;
        const auto recorded = journal.digests.find(name);
        if (recorded != journal.digests.end()) {
            const StepResult<JpegPhotograph> read = readJpegFile(path);
            if (read.ok() && read.value.digest == recorded->second) continue;
        }
        arrived.emplace_back(identityFrom(target).modifiedNanoseconds, name);
    }
    std::sort(arrived.begin(), arrived.end());
    std::vector<std::string> oldestFirst;
    for (auto& [written, name] : arrived) oldestFirst.push_back(std::move(name));
    return oldestFirst;
}

}  // namespace lathmark
