#pragma once
// The TRUTH file of a calibration: tab-separated text whose header line names at least the
// columns `file` and `boards`, in any order (other columns are ignored), and then one line per
// photograph. A `file` is relative to the TRUTH file's folder.

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

// The rows, or the first thing wrong: "<file>:<line>: <what>".
struct TruthRead {
    std::vector<TruthRow> rows;
    std::optional<std::string> error;
};

// Reads TRUTH text; `name` names the file in the error.
TruthRead parseTruth(std::string_view text, const std::string& name);

// Reads a TRUTH file; each row's `file` is then the photograph's path, joined to the folder.
TruthRead readTruth(const std::filesystem::path& file);

}  // namespace lathmark
