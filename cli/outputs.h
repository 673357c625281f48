#pragma once
// The files the batch counter is to write, checked before anything is counted: none may replace
// something that is not a regular file, or one of the files the run reads (however named); none
// may lie in a folder that does not exist; no two may be one file.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lathmark {

struct OutputFile {
    std::string what;  // "the report", "the result image", ...
    std::filesystem::path file;
    bool folderMade = false;  // its folder is made before it is written (--marked)
};

struct InputFile {
    std::string what;  // "the photograph a.jpg", "the TRUTH file truth.tsv", ...
    std::string file;
};

// Why the outputs must not be written, in words such as "the report r.html would replace the
// photograph r.html"; nothing if they may.
std::optional<std::string> outputsProblem(const std::vector<OutputFile>& outputs,
                                          const std::vector<InputFile>& inputs);

}  // namespace lathmark
