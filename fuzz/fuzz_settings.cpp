// Fuzz target: the settings reader on any bytes. Besides not crashing, what it gives back must
// be usable as it is: every problem names the file and a line of it, fits on one line of a
// terminal or message box (and every warning names the file and fits as well), a value counting
// would refuse never passes without a problem, the same text always reads the same, and settings
// written out read back to themselves.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/settings_file.h"
#include "fuzz/pace.h"

namespace {

const std::string kFile = "fuzz.ini";

[[noreturn]] void broken(const char* what, const std::string& problem) {
    std::fprintf(stderr, "broken settings read: %s\n  problem: %s\n", what, problem.c_str());
    std::abort();
}

std::size_t countLines(std::string_view text) {
    // Lines as the reader cuts them: at LF, a final LF starting no new line.
    std::size_t lines = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n') ++lines;
    if (!text.empty() && text.back() != '\n') ++lines;
    return lines;
}

// "fuzz.ini:<line>: <what>", the line a number from 1 to the number of lines; returns the line.
std::size_t checkProblem(const std::string& problem, std::size_t lines) {
    const std::string prefix = kFile + ":";
    if (problem.rfind(prefix, 0) != 0) broken("does not start with the file name", problem);
    std::size_t pos = prefix.size();
    std::size_t number = 0;
    const std::size_t digitsFrom = pos;
    while (pos < problem.size() && problem[pos] >= '0' && problem[pos] <= '9') {
        number = number * 10 + static_cast<std::size_t>(problem[pos] - '0');
        if (number > lines) broken("names a line past the end of the text", problem);
        ++pos;
    }
    if (pos == digitsFrom || number == 0) broken("names no line", problem);
    if (problem.compare(pos, 2, ": ") != 0 || problem.size() == pos + 2)
        broken("has no text after the line number", problem);
    for (char c : problem) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) broken("holds a control character", problem);
        if (byte > 0x7E) broken("holds a byte outside ASCII", problem);
    }
    // Values are quoted cut short, so a runaway line cannot make a runaway problem.
    if (problem.size() > 300) broken("is too long", problem);
    return number;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lathmark::fuzz::countExecution();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const lathmark::SettingsRead read = lathmark::parseSettings(text, kFile);

    const std::size_t lines = countLines(text);
    // A line has one key and so at most one problem; problems come in the order of the lines,
    // so that the operator can fix them from the top down.
    std::size_t lastLine = 0;
    for (const std::string& problem : read.problems) {
        const std::size_t line = checkProblem(problem, lines);
        if (line <= lastLine) broken("two problems for one line, or out of order", problem);
        lastLine = line;
    }
    if (read.ok() != read.problems.empty()) broken("ok() disagrees with the problems", "");

    // A THRESHOLD or STRETCH that counting would refuse is always reported.
    if (lathmark::countingProblem(read.settings) && read.ok())
        broken("an unusable THRESHOLD or STRETCH passed without a problem", "");

    // Warnings are printed as problems are: each names the file, holds printable ASCII only and
    // stays short.
    for (const std::string& warning : read.warnings) {
        if (warning.rfind(kFile + ":", 0) != 0) broken("a warning does not name the file", warning);
        for (char c : warning)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
                broken("a warning holds a control character or a byte outside ASCII", warning);
        if (warning.size() > 300) broken("a warning is too long", warning);
    }

    const lathmark::SettingsRead again = lathmark::parseSettings(text, kFile);
    if (again.settings != read.settings || again.problems != read.problems)
        broken("the same text read differently twice", "");

    // What --write-settings would write of these settings reads back to them, without a problem.
    const lathmark::SettingsRead written =
        lathmark::parseSettings(lathmark::settingsText(read.settings), kFile);
    if (read.ok() && !written.ok())
        broken("settings written out read back with a problem", written.problems.front());
    if (written.settings != read.settings)
        broken("settings written out read back to other settings", "");
    return 0;
}
