// Fuzz target: the TRUTH file reader of --calibrate on any bytes. Besides not crashing, a read
// gives either rows or an error, and both must be right for the text:
//
// - an error reads "truth.tsv:<line>: <what>", the line one of the text's (or 1 for an empty
//   text), on one printable line of reasonable length, and comes without rows;
// - every row comes from its own line, in order, and that line holds all the header's fields:
//   its file is the line's file field without the blanks around it, never empty, and its
//   boards the boards field, a whole number of at least 1;
// - every line after the header that is not empty gives a row (none is dropped unread), and no
//   photograph is named twice;
// - the same text reads the same twice.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/truth.h"
#include "fuzz/pace.h"

namespace {

const std::string kName = "truth.tsv";

[[noreturn]] void broken(const char* what, const std::string& detail) {
    std::fprintf(stderr, "broken TRUTH read: %s\n  %s\n", what, detail.c_str());
    std::abort();
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t end = text.find(separator);
        parts.push_back(text.substr(0, end));
        if (end == std::string_view::npos) return parts;
        text.remove_prefix(end + 1);
    }
}

std::string_view withoutBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// The text's lines as a person counts them: cut at LF, without a CR at the end, a final LF
// starting no new line; a byte-order mark before the first is no part of it.
std::vector<std::string_view> linesOf(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::vector<std::string_view> lines = split(text, '\n');
    if (lines.back().empty()) lines.pop_back();
    for (std::string_view& line : lines)
        if (line.ends_with('\r')) line.remove_suffix(1);
    return lines;
}

void checkError(const std::string& error, std::size_t lines) {
    const std::string prefix = kName + ":";
    if (error.rfind(prefix, 0) != 0) broken("the error does not start with the file name", error);
    std::size_t at = prefix.size();
    std::size_t number = 0;
    while (at < error.size() && error[at] >= '0' && error[at] <= '9') {
        number = number * 10 + static_cast<std::size_t>(error[at] - '0');
        if (number > std::max<std::size_t>(lines, 1))
            broken("the error names a line past the end of the text", error);
        ++at;
    }
    if (number == 0) broken("the error names no line", error);
    if (error.compare(at, 2, ": ") != 0 || error.size() == at + 2)
        broken("the error says nothing after the line number", error);
    for (char c : error) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E)
            broken("the error holds a control or non-ASCII byte", error);
    }
    if (error.size() > 300) broken("the error is too long", error);
}

void checkRows(const lathmark::TruthRead& read, const std::vector<std::string_view>& lines) {
    if (read.rows.empty() || lines.empty()) broken("no rows and no error", "");
    const std::vector<std::string_view> header = split(lines.front(), '\t');
    std::size_t fileColumn = header.size();
    std::size_t boardsColumn = header.size();
    for (std::size_t column = 0; column < header.size(); ++column) {
        const std::string_view label = withoutBlanks(header[column]);
        if (label == "file") fileColumn = column;
        if (label == "boards") boardsColumn = column;
    }
    if (fileColumn == header.size() || boardsColumn == header.size())
        broken("rows read under a header without the columns file and boards",
               std::string(lines.front()));

    std::size_t next = 0;  // the next row to be matched with a line
    std::set<std::string> files;
    for (std::size_t index = 1; index < lines.size(); ++index) {
        if (lines[index].empty()) continue;
        const std::string number = std::to_string(index + 1);
        if (next == read.rows.size()) broken("a line gave no row", "line " + number);
        const lathmark::TruthRow& row = read.rows[next++];
        if (row.line != static_cast<int>(index + 1))
            broken("a row names another line than its own, or a line gave no row",
                   "line " + number + ", row of line " + std::to_string(row.line));
        const std::vector<std::string_view> fields = split(lines[index], '\t');
        if (fields.size() < header.size())
            broken("a row was read from a line with a missing field", "line " + number);
        if (row.file.empty() || row.file != withoutBlanks(fields[fileColumn]))
            broken("a row's file is not its line's file field", "line " + number);
        std::string_view digits = withoutBlanks(fields[boardsColumn]);
        while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
        if (row.boards < 1 || digits != std::to_string(row.boards))
            broken("a row's boards is not its line's boards field", "line " + number);
        if (!files.insert(std::filesystem::path(row.file).lexically_normal().string()).second)
            broken("a photograph is named twice", "line " + number);
    }
    if (next != read.rows.size()) broken("more rows than lines", "");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lathmark::fuzz::countExecution();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const lathmark::TruthRead read = lathmark::parseTruth(text, kName);
    const std::vector<std::string_view> lines = linesOf(text);
    if (read.error) {
        if (!read.rows.empty()) broken("an error, and rows as well", *read.error);
        checkError(*read.error, lines.size());
    } else {
        checkRows(read, lines);
    }

    const lathmark::TruthRead again = lathmark::parseTruth(text, kName);
    bool same = again.error == read.error && again.rows.size() == read.rows.size();
    for (std::size_t i = 0; same && i < read.rows.size(); ++i)
        same = again.rows[i].file == read.rows[i].file &&
               again.rows[i].boards == read.rows[i].boards &&
               again.rows[i].line == read.rows[i].line;
    if (!same) broken("the same text read differently twice", "");
    return 0;
}
