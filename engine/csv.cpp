#include "engine/csv.h"

#include <algorithm>

namespace lathmark {

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

namespace {

// Whether a spreadsheet would run the text, were its leading "'"s taken off: so that a text that
// begins with "'" itself reads back as it was.
bool beginsAFormula(std::string_view text) {
    const std::size_t first = text.find_first_not_of('\'');
    return first != std::string_view::npos &&
           std::string_view("=+-@\t\r").find(text[first]) != std::string_view::npos;
}

}  // namespace

std::string csvTextField(std::string_view text) {
    return csvField(beginsAFormula(text) ? "'" + std::string(text) : std::string(text));
}

std::string csvTextValue(std::string field) {
    if (!field.empty() && field.front() == '\'' && beginsAFormula(field)) field.erase(0, 1);
    return field;
}

CsvScan scanCsvRecord(std::string_view text, std::size_t at) {
    CsvScan scan;
    std::string field;
    bool quoted = false;     // inside a quoted field
    bool wasQuoted = false;  // the field began with a quote, which has closed
    bool fieldStarted = false;
    auto endField = [&] {
        scan.fields.push_back(std::move(field));
        field.clear();
        wasQuoted = false;
        fieldStarted = false;
    };
    std::size_t i = at;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
                wasQuoted = true;
            }
            continue;
        }
        if (c == ',') {
            endField();
        } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            endField();
            scan.end = i + (c == '\r' ? 2 : 1);
            scan.ended = true;
            return scan;
        } else if (c == '"') {
            if (fieldStarted || wasQuoted) break;
            quoted = true;
            fieldStarted = true;
        } else {
            if (wasQuoted) break;
            field += c;
            fieldStarted = true;
        }
    }
    scan.end = i;
    if (i < text.size() || quoted) {
        scan.bad = true;
        scan.openQuote = quoted;
        return scan;
    }
    if (fieldStarted || wasQuoted || !scan.fields.empty()) endField();
    return scan;
}

bool parseCsv(std::string_view text, std::vector<CsvRecord>& records, int& badLine) {
    records.clear();
    int line = 1;
    const auto linesIn = [&text](std::size_t from, std::size_t to) {
        return static_cast<int>(std::count(text.begin() + static_cast<long>(from),
                                           text.begin() + static_cast<long>(to), '\n'));
    };
    for (std::size_t at = 0; at < text.size();) {
        CsvScan scan = scanCsvRecord(text, at);
        if (scan.bad) {
            // A quote left open is told where its record begins; other trouble where it is.
            badLine = line + (scan.openQuote ? 0 : linesIn(at, scan.end));
            return false;
        }
        records.push_back({line, std::move(scan.fields)});
        line += linesIn(at, scan.end);
        at = scan.end;
    }
    return true;
}

}  // namespace lathmark
