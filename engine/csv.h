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

// A text cell that a spreadsheet opening the file will show and not run: one that begins with
// "=", "+", "-", "@", a tab or a carriage return (the beginnings of a formula), after any "'"s,
// gets a "'" before it; then as csvField.
std::string csvTextField(std::string_view text);
// Such a cell's text as it was written: the "'" taken off again where csvTextField put it.
std::string csvTextValue(std::string field);

// One record of CSV text scanned from `at`: its fields, and where the next record begins.
struct CsvScan {
    std::vector<std::string> fields;
    std::size_t end = 0;     // just after its line end, or where the text or the trouble is
    bool ended = false;      // it ends with CR LF or LF outside quotes, not with the text
    bool openQuote = false;  // the text ends inside a quoted field
    bool bad = false;        // not CSV: a quote inside a field that was not quoted, or text after a
                             // closing quote (`end` is where); or a quote left open
};
CsvScan scanCsvRecord(std::string_view text, std::size_t at);

// Splits CSV text into records. A record ends at CR LF or LF outside quotes; the last one need
// not end with a line end. False when the text is not CSV (a quote left open, a quote inside a
// field that was not quoted, text after a closing quote); `badLine` then says on which line (for
// a quote left open, the line its record begins on).
bool parseCsv(std::string_view text, std::vector<CsvRecord>& records, int& badLine);

}  // namespace lathmark
