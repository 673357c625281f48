#pragma once
// Running our programs from tests as a shell runs them, for end-to-end checks: any command, and
// lathmark-count over the committed samples from a test with a scratch folder of its own.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace lathmark::test {

// A word or path for the shell, in single quotes, whatever it holds.
std::string shellQuoted(const std::filesystem::path& path);

struct ProgramRun {
    int status = -1;  // the exit status; -1 if the program did not exit (a signal ended it)
    std::string out;
    std::string err;
};

// Runs `command` with /bin/sh, its standard error sent to `errFile`, which is read back.
ProgramRun runProgram(const std::string& command, const std::filesystem::path& errFile);

// The committed sample photographs, and lathmark-count as built beside the tests.
std::filesystem::path samplesFolder();
std::filesystem::path counterProgram();

// File name -> true board count, from a table of samples such as manifest.tsv or truth.tsv: a
// header line, then each file and its board count first on its line.
std::map<std::string, int> boardsOfTable(const std::filesystem::path& table);

// Each line of lathmark-count --json output, parsed.
std::vector<nlohmann::json> jsonLines(const std::string& out);

// A test that runs lathmark-count, with a scratch folder of its own.
class CounterTest : public ::testing::Test {
  protected:
    // Runs `command`, its standard error kept in the scratch folder.
    ProgramRun run(const std::string& command) const;
    // Runs lathmark-count with `arguments` (already shell-quoted where needed).
    ProgramRun count(const std::string& arguments) const;
    // Writes `content` into the file `name` in the scratch folder; returns its path.
    std::filesystem::path write(const std::string& name, const std::string& content) const;
    const std::filesystem::path& scratch() const { return folder_.path(); }
    static std::string quoted(const std::filesystem::path& path) { return shellQuoted(path); }

  private:
    ScratchFolder folder_ = scratchFolderForThisTest("lathmark-cli");
};

}  // namespace lathmark::test
