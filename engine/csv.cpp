#include "engine/csv.h"

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

bool parseCsv(std::string_view text, std::vector<CsvRecord>& records, int& badLine) {
    records.clear();
    int line = 1;
    CsvRecord record{1, {}};
    std::string field;
    bool quoted = false;     // inside a quoted field
    bool wasQuoted = false;  // the field began with a quote, which has closed
    bool fieldStarted = false;
    auto endField = [&] {
        record.fields.push_back(std::move(field));
        field.clear();
        wasQuoted = false;
        fieldStarted = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    quoted = false;
                    wasQuoted = true;
                }
            } else {
                if (c == '\n') ++line;
                field += c;
            }
            continue;
        }
        if (c == ',') {
            endField();
        } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            if (c == '\r') ++i;
            endField();
            records.push_back(std::move(record));
            ++line;
            record = CsvRecord{line, {}};
        } else if (c == '"') {
            if (fieldStarted || wasQuoted) {
                badLine = line;
                return false;
            }
            quoted = true;
            fieldStarted = true;
        } else {
            if (wasQuoted) {
                badLine = line;
                return false;
            }
            field += c;
            fieldStarted = true;
        }
    }
    if (quoted) {
        badLine = record.line;  // where the field that never closes began
        return false;
    }
    if (fieldStarted || wasQuoted || !record.fields.empty()) {
        endField();
        records.push_back(std::move(record));
    }
    return true;
}

}  // namespace lathmark
