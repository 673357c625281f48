#pragma once
// The batch counter's line for each photograph (text or JSON) and its last line, the book.

#include <string>

#include "cli/batch.h"

namespace lathmark {

// The whole batch: what its last line says.
struct Book {
    long long boards = 0;
    int counted = 0;
    int failed = 0;
    int uncertain = 0;
    Settings settings;  // in effect for the batch

    void add(const PhotographOutcome& outcome);
};

// "stack_01.jpg: 12 boards (lines 11 + 0 + 0 + 0), 8.1 ms; by thickness 11.96 boards; the same
// boards at THRESHOLD 120 to 135 and BDLINE 31 to 52, uncertain", and a line end; names made
// safe for a terminal.
std::string textLine(const PhotographOutcome& outcome);

// "Book: 137 boards in 12 photographs (2 uncertain)" and a line end.
std::string textBook(const Book& book);

// One JSON object on one line, and a line end: the photograph's file and error, or its count
// (boards, pass lines, band, time, stability ranges, thickness count, verdict, warning, joints,
// region).
std::string jsonLine(const PhotographOutcome& outcome);

// The batch's last JSON line: the book, the photographs counted and not, the uncertain ones and
// the settings in effect.
std::string jsonBook(const Book& book);

}  // namespace lathmark
