#include "tests/support/programs.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace lathmark::test {

std::string shellQuoted(const std::filesystem::path& path) {
    // Built by appending: GCC 12 warns falsely about "'" + std::string at -O3.
    std::string text(1, '\'');
    text.append(path.string()).push_back('\'');
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

}  // namespace lathmark::test
