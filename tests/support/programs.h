#pragma once
// Running our programs from tests as a shell runs them, for end-to-end checks.

#include <filesystem>
#include <string>

namespace lathmark::test {

// A path for the shell, in single quotes.
std::string shellQuoted(const std::filesystem::path& path);

struct ProgramRun {
    int status = -1;  // the exit status; -1 if the program did not exit (a signal ended it)
    std::string out;
    std::string err;
};

// Runs `command` with /bin/sh, its standard error sent to `errFile`, which is read back.
ProgramRun runProgram(const std::string& command, const std::filesystem::path& errFile);

}  // namespace lathmark::test
