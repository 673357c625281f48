#include "engine/truth.h"

#include <map>

#include "engine/files.h"
#include "engine/text.h"

namespace lathmark {
namespace {

// A TRUTH file lists photographs, a line each; far larger is some other file.
constexpr std::size_t kMaxTruthBytes = std::size_t{16} << 20;
// More boards than any stack has, and few enough digits that the number cannot overflow.
constexpr std::size_t kMaxBoardDigits = 6;

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

TruthRead readTruth(const std::filesystem::path& file) {
    std::string text;
    if (auto failure = readWholeFile(file, kMaxTruthBytes, text)) {
        TruthRead read;
        read.error = file.string() + ": " + textFileFailure(*failure, kMaxTruthBytes);
        return read;
    }
    TruthRead read = parseTruth(text, file.string());
    for (TruthRow& row : read.rows) row.file = (file.parent_path() / row.file).string();
    return read;
}

}  // namespace lathmark
