#include "engine/truth.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

#include "engine/files.h"
#include "engine/journal.h"
#include "engine/preparation.h"
#include "engine/text.h"

namespace lathmark {
namespace {

// A TRUTH file lists photographs, a line each; far larger is some other file.
constexpr std::size_t kMaxTruthBytes = std::size_t{16} << 20;
// A journal grows with every count; it is read up to the size its own reader takes.
constexpr std::size_t kMaxJournalBytes = std::size_t{256} << 20;
// More boards than any stack has, and few enough digits that the number cannot overflow.
constexpr std::size_t kMaxBoardDigits = 6;
constexpr long long kMaxBoards = 999'999;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t end = text.find(separator);
        parts.push_back(text.substr(0, end));
        if (end == std::string_view::npos) return parts;
        text.remove_prefix(end + 1);
    }
}

// A whole number of at least 1, digits only.
std::optional<int> boardsValue(std::string_view text) {
    text = trimBlanks(text);
    if (text.empty() || text.size() > kMaxBoardDigits) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1) return std::nullopt;
    return value;
}

// A field's text for a message: printable ASCII, cut when long.
std::string shown(std::string_view text) {
    constexpr std::size_t kMaxShown = 40;
    std::string out = "\"";
    for (char c : text.substr(0, kMaxShown)) out += (c >= 0x20 && c < 0x7F && c != '"') ? c : '?';
    if (text.size() > kMaxShown) out += "...";
    return out + "\"";
}

}  // namespace

TruthRead parseTruth(std::string_view text, const std::string& name) {
    TruthRead read;
    auto wrong = [&](int line, const std::string& what) {
        read.rows.clear();
        read.error = name + ":" + std::to_string(line) + ": " + what;
        return read;
    };
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    std::vector<std::string_view> lines = split(text, '\n');
    if (!lines.empty() && lines.back().empty()) lines.pop_back();  // the last line's break
    for (std::string_view& line : lines)
        if (line.ends_with('\r')) line.remove_suffix(1);
    if (lines.empty() || lines.front().empty())
        return wrong(1, "there is no header line naming the columns file and boards");

    std::optional<std::size_t> fileColumn;
    std::optional<std::size_t> boardsColumn;
    const std::vector<std::string_view> header = split(lines.front(), '\t');
    for (std::size_t column = 0; column < header.size(); ++column) {
        const std::string_view label = trimBlanks(header[column]);
        for (auto [wanted, found] : {std::pair{"file", &fileColumn}, {"boards", &boardsColumn}}) {
            if (label != wanted) continue;
            if (*found)
                return wrong(1, "the header names the column " + std::string(wanted) + " twice");
            *found = column;
        }
    }
    for (auto [wanted, found] : {std::pair{"file", &fileColumn}, {"boards", &boardsColumn}})
        if (!*found)
            return wrong(1, "the header line names no column " + std::string(wanted) +
                                " (columns are separated by tabs)");

    std::map<std::string, int> named;  // each photograph's first line
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const int number = static_cast<int>(i + 1);
        if (lines[i].empty()) continue;
        const std::vector<std::string_view> fields = split(lines[i], '\t');
        if (fields.size() < header.size())
            return wrong(number, "has " + std::to_string(fields.size()) + " fields, the header " +
                                     std::to_string(header.size()) +
                                     " (columns are separated by tabs)");
        const std::string_view file = trimBlanks(fields[*fileColumn]);
        if (file.empty()) return wrong(number, "the field file is empty");
        const std::optional<int> boards = boardsValue(fields[*boardsColumn]);
        if (!boards)
            return wrong(number, "boards " + shown(fields[*boardsColumn]) +
                                     " is not a whole number of at least 1");
        const std::string key = std::filesystem::path(file).lexically_normal().string();
        const auto [earlier, first] = named.emplace(key, number);
        if (!first)
            return wrong(number, shown(file) + " is named again (first on line " +
                                     std::to_string(earlier->second) + ")");
        read.rows.push_back({std::string(file), *boards, number});
    }
    if (read.rows.empty()) return wrong(1, "names no photographs");
    return read;
}

namespace {

TruthRead truthFileRows(std::string_view text, const std::filesystem::path& file) {
    TruthRead read = parseTruth(text, file.string());
    for (TruthRow& row : read.rows) row.file = (file.parent_path() / row.file).string();
    return read;
}

TruthRead unreadable(const std::filesystem::path& file, const ReadFailure& failure,
                     std::size_t maxBytes) {
    TruthRead read;
    read.error = file.string() + ": " + textFileFailure(failure, maxBytes);
    return read;
}

bool gone(const ReadFailure& failure) {
    return failure.kind == ReadFailure::Kind::CannotOpen &&
           (failure.error == ENOENT || failure.error == ENOTDIR);
}

// Why a photograph of the journal cannot be calibrated on as it recorded it, if it cannot. A
// photograph that cannot be read for another reason is kept: the calibration says why.
std::optional<std::string> whyLeftOut(const JournalTruth& truth,
                                      const std::filesystem::path& photograph) {
    if (truth.boards < 1) return "its true count is 0 boards, and calibration needs boards";
    if (truth.boards > kMaxBoards)
        return "its true count of " + std::to_string(truth.boards) +
               " boards is more than any stack has";
    if (!truth.digest) {
        std::error_code error;
        const auto status = std::filesystem::status(photograph, error);
        if (status.type() == std::filesystem::file_type::not_found) return "is gone";
        return std::nullopt;
    }
    std::string bytes;
    if (auto failure = readWholeFile(photograph, kMaxPhotographBytes, bytes))
        return gone(*failure) ? std::optional<std::string>("is gone") : std::nullopt;
    const StepResult<JpegPhotograph> read =
        readJpegData(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    if (read.ok() && read.value.digest == truth.digest) return std::nullopt;
    return std::string("its picture is not the one the journal recorded");
}

}  // namespace

TruthRead readTruth(const std::filesystem::path& file) {
    std::string text;
    if (auto failure = readWholeFile(file, kMaxTruthBytes, text))
        return unreadable(file, *failure, kMaxTruthBytes);
    return truthFileRows(text, file);
}

TruthRead journalTruthRows(std::string_view text, const std::filesystem::path& journal,
                           bool trustCounts) {
    TruthRead read;
    read.source = TruthSource::Journal;
    const std::string name = journal.string();
    // Read with every count once: those nobody checked are told apart by `checked`.
    const JournalTruths truths = journalTruths(text, true);
    if (truths.notAJournal) {
        read.error = name + ": " + *truths.notAJournal;
        return read;
    }
    for (const std::string& damage : truths.damage) read.notes.push_back(name + ": " + damage);

    // One truth a photograph, where the journal names it in more than one way: its latest.
    const std::filesystem::path folder = journal.parent_path();
    auto pathOf = [&](const JournalTruth& truth) {
        return (folder / truth.file).lexically_normal().string();
    };
    std::set<std::string> checked;
    for (const JournalTruth& truth : truths.photographs)
        if (truth.checked) checked.insert(pathOf(truth));
    std::vector<const JournalTruth*> taken;
    std::set<std::string> named;
    for (auto truth = truths.photographs.rbegin(); truth != truths.photographs.rend(); ++truth) {
        const std::string path = pathOf(*truth);
        if (!truth->checked && (!trustCounts || checked.count(path))) {
            if (!checked.count(path) && named.insert(path).second) ++read.unchecked;
            continue;
        }
        if (named.insert(path).second) taken.push_back(&*truth);
    }
    std::reverse(taken.begin(), taken.end());
    if (taken.empty()) {
        read.error = name + ": holds no " +
                     (trustCounts ? "count" : "corrected or confirmed count") + " to calibrate on";
        return read;
    }

    for (const JournalTruth* truth : taken) {
        const std::string photograph = (folder / truth->file).string();
        if (auto why = whyLeftOut(*truth, photograph)) {
            read.notes.push_back(photograph + ": " + *why + "; left out (" + name + ", line " +
                                 std::to_string(truth->line) + ")");
            ++read.leftOut;
            continue;
        }
        read.rows.push_back({photograph, static_cast<int>(truth->boards), truth->line});
    }
    if (read.rows.empty())
        read.error =
            name +
            (taken.size() == 1 ? ": the one photograph it holds a true count of is left out"
                               : ": each of the " + std::to_string(taken.size()) +
                                     " photographs it holds a true count of is left out") +
            "; nothing to calibrate on";
    return read;
}

TruthRead readJournalTruth(const std::filesystem::path& journal, bool trustCounts) {
    std::string text;
    if (auto failure = readWholeFile(journal, kMaxJournalBytes, text)) {
        TruthRead read = unreadable(journal, *failure, kMaxJournalBytes);
        read.source = TruthSource::Journal;
        return read;
    }
    return journalTruthRows(text, journal, trustCounts);
}

TruthRead readTruthOrJournal(const std::filesystem::path& file, bool trustCounts) {
    std::string text;
    if (auto failure = readWholeFile(file, kMaxJournalBytes, text))
        return unreadable(
            file, *failure,
            failure->kind == ReadFailure::Kind::TooLarge ? kMaxJournalBytes : kMaxTruthBytes);
    if (beginsAsJournal(text)) return journalTruthRows(text, file, trustCounts);
    if (text.size() > kMaxTruthBytes)
        return unreadable(file, ReadFailure{ReadFailure::Kind::TooLarge}, kMaxTruthBytes);
    return truthFileRows(text, file);
}

}  // namespace lathmark
