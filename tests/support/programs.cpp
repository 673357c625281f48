#include "tests/support/programs.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace lathmark::test {

std::string shellQuoted(const std::filesystem::path& path) {
    // A quote inside ends the quoted word, adds an escaped quote and starts another. Built by
    // appending: GCC 12 warns falsely about "'" + std::string at -O3.
    std::string text(1, '\'');
    for (const char c : path.string()) text.append(c == '\'' ? "'\\''" : std::string(1, c));
    text.push_back('\'');
    return text;
}

ProgramRun runProgram(const std::string& command, const std::filesystem::path& errFile) {
    ProgramRun run;
    const std::string withErrors = command + " 2>" + shellQuoted(errFile);
    FILE* pipe = ::popen(withErrors.c_str(), "r");
    if (pipe == nullptr) return run;
    std::array<char, 4096> buffer;
    while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
        run.out.append(buffer.data(), n);
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(errFile, std::ios::binary);
    run.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
}

std::filesystem::path samplesFolder() {
    return std::filesystem::path(LATHMARK_SOURCE_DIR) / "samples";
}

std::filesystem::path counterProgram() {
    return std::filesystem::path(LATHMARK_BIN_DIR) / "lathmark-count";
}

std::map<std::string, int> boardsOfTable(const std::filesystem::path& table) {
    std::map<std::string, int> boards;
    std::istringstream lines(readBytes(table));
    std::string line;
    std::getline(lines, line);  // header
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string file;
        int count = 0;
        if (fields >> file >> count) boards[file] = count;
    }
    return boards;
}

std::vector<nlohmann::json> jsonLines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

ProgramRun CounterTest::run(const std::string& command) const {
    return runProgram(command, scratch() / "stderr.txt");
}

ProgramRun CounterTest::count(const std::string& arguments) const {
    return run(shellQuoted(counterProgram()) + " " + arguments);
}

std::filesystem::path CounterTest::write(const std::string& name,
                                         const std::string& content) const {
    writeBytes(scratch() / name, content);
    return scratch() / name;
}

}  // namespace lathmark::test
