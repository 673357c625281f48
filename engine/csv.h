#pragma once
// CSV as RFC 4180 writes it, for the batch counter's output and the station's journal alike.

#include <string>
#include <string_view>
#include <vector>

namespace lathmark {

// A field as it stands, or in double quotes with each quote doubled where it holds a comma, a
// quote, a CR or an LF.
std::string csvField(std::string_view text);

// One record of CSV text and the line (from 1) it begins on.
struct CsvRecord {
    int line = 0;
    std::vector<std::string> fields;
};

// Splits CSV text into records. A record ends at CR LF or LF outside quotes; the last one need
// not end with a line end. False when the text is not CSV (a quote left open, a quote inside a
// field that was not quoted, text after a closing quote); `badLine` then says on which line (for
// a quote left open, the line its record begins on).
bool parseCsv(std::string_view text, std::vector<CsvRecord>& records, int& badLine);

}  // namespace lathmark
