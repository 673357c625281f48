#include "cli/batch.h"

#include <chrono>
#include <map>
#include <system_error>

#include "engine/photographs.h"
#include "engine/report.h"

namespace lathmark {
std::vector<std::string> expandArguments(const std::vector<std::string>& arguments) {
    std::vector<std::string> files;
    for (const std::string& argument : arguments) {
        std::error_code error;
        if (!std::filesystem::is_directory(argument, error)) {
            files.push_back(argument);
            continue;
        }
        for (const std::string& name : listPhotographs(argument))
            files.push_back((std::filesystem::path(argument) / name).string());
    }
    return files;
}

std::filesystem::path resultImagePath(const std::filesystem::path& folder,
                                      const std::string& file) {
    return folder / std::filesystem::path(file).filename().replace_extension(".bmp");
}

std::optional<std::string> resultImageClash(const std::vector<std::string>& files,
                                            const std::filesystem::path& folder) {
    // The same photograph named twice writes the same image twice, which loses nothing.
    const auto same = [](const std::string& a, const std::string& b) {
        return std::filesystem::path(a).lexically_normal() ==
               std::filesystem::path(b).lexically_normal();
    };
    std::map<std::filesystem::path, std::string> writers;
    for (const std::string& file : files) {
        const auto [earlier, first] = writers.emplace(resultImagePath(folder, file), file);
        if (!first && !same(earlier->second, file))
            return earlier->second + " and " + file + " would both write the result image " +
                   earlier->first.string();
    }
    return std::nullopt;
}

PhotographOutcome countOne(const std::string& file, const BatchOptions& options) {
    const auto start = std::chrono::steady_clock::now();
    CountResult result = countBoards(file, options.settings, {.stability = options.stability});
    PhotographOutcome outcome;
    outcome.file = file;
    if (!result.ok()) {
        outcome.error = result.error->reason;
        return outcome;
    }
    outcome.warning = result.warning;
    if (!result.stabilityProblem.empty())
        outcome.warning += (outcome.warning.empty() ? "" : "; ") + result.stabilityProblem;
    outcome.passLines = result.passLines;
    outcome.band = result.band;
    outcome.joints = std::move(result.joints);
    outcome.photographWidth = result.photographWidth;
    outcome.photographHeight = result.photographHeight;
    outcome.stretch = options.settings.stretch;
    outcome.stable = result.stable;
    if (options.markedFolder) {
        const auto target = resultImagePath(*options.markedFolder, file);
        if (auto failure = writeBmp(result.marked.get(), target)) {
            outcome.error = "counted, but the result image " + *failure;
            return outcome;
        }
    }
    outcome.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

}  // namespace lathmark
