#include "cli/batch.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "engine/report.h"

namespace lathmark {
namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

bool isJpgName(const std::string& name) {
    return name.size() > 4 && lowerCase(name.substr(name.size() - 4)) == ".jpg";
}

}  // namespace

std::vector<std::string> listPhotographs(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (isJpgName(name) && !it->is_directory(typeError)) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string la = lowerCase(a), lb = lowerCase(b);
        return la != lb ? la < lb : a < b;
    });
    return names;
}

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

PhotographOutcome countOne(const std::string& file, const BatchOptions& options) {
    const auto start = std::chrono::steady_clock::now();
    CountResult result = countBoards(file, options.bdLine, options.thresholdLevel);
    PhotographOutcome outcome;
    outcome.file = file;
    if (!result.ok()) {
        outcome.error = result.error->reason;
        return outcome;
    }
    outcome.warning = result.warning;
    outcome.passLines = result.passLines;
    outcome.band = result.band;
    if (options.markedFolder) {
        const auto target = *options.markedFolder /
                            std::filesystem::path(file).filename().replace_extension(".bmp");
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
