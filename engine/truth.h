#pragma once
// The photographs a calibration learns from, with their true counts. A TRUTH file and a journal
// are two readers of the same list.
//
// A TRUTH file is tab-separated text whose header line names at least the columns `file` and
// `boards`, in any order (other columns are ignored), and then one line per photograph. A
// journal (journal.h) gives the counts its operator corrected or confirmed. In both, a `file`
// is relative to the folder of the file that names it.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lathmark {

struct TruthRow {
    std::string file;  // as the line names it
    int boards = 0;    // at least 1
    int line = 0;      // its line in the file, from 1
};

enum class TruthSource { TruthFile, Journal };

// The rows, or the first thing wrong: "<file>:<line>: <what>" (a journal's: "<file>: <what>").
struct TruthRead {
    std::vector<TruthRow> rows;
    std::optional<std::string> error;
    TruthSource source = TruthSource::TruthFile;
    // Words to show before calibrating, each a line: the photographs of a journal left out and
    // why, and the journal's damage. They stay when there is an error too, as they may tell why.
    std::vector<std::string> notes;
    // Of a journal read without taking its counts as true: how many photographs it holds only
    // counts of that nobody corrected or confirmed, and which are not in the rows.
    int unchecked = 0;
    // Of a journal: how many photographs were left out, each with a note.
    int leftOut = 0;
};

// Reads TRUTH text; `name` names the file in the error.
TruthRead parseTruth(std::string_view text, const std::string& name);

// Reads a TRUTH file; each row's `file` is then the photograph's path, joined to the folder.
TruthRead readTruth(const std::filesystem::path& file);

// The true counts a journal's text holds (journalTruths), each photograph's path joined to the
// journal's folder: the operator's latest correction or confirmation of it, and with
// `trustCounts` the latest count of those nobody checked. A photograph is left out, with a note,
// when it is gone, when its picture is not the one the journal recorded (by the digest; a
// journal that recorded none is taken by the names), or when its true count is no boards; one
// the journal names in more than one way ("a.jpg", "./a.jpg") is taken once, by its latest. An
// error when none is left. `journal` names the file, and its folder is the photographs'.
TruthRead journalTruthRows(std::string_view text, const std::filesystem::path& journal,
                           bool trustCounts);

// Reads a journal (as the window writes Lathmark-journal.csv) that way.
TruthRead readJournalTruth(const std::filesystem::path& journal, bool trustCounts);

// Reads a file as a journal when it begins as one, else as a TRUTH file (`trustCounts` does
// nothing then: all its counts are true).
TruthRead readTruthOrJournal(const std::filesystem::path& file, bool trustCounts);

}  // namespace lathmark
