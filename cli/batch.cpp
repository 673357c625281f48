#include "cli/batch.h"

#include <sys/stat.h>

#include <chrono>
#include <map>
#include <string_view>
#include <system_error>
#include <utility>

#include "engine/files.h"
#include "engine/photographs.h"
#include "engine/report.h"

namespace lathmark {
namespace {

namespace fs = std::filesystem;

bool endsWithIgnoringCase(const std::string& name, std::string_view end) {
    if (name.size() < end.size()) return false;
    const std::string_view tail = std::string_view(name).substr(name.size() - end.size());
    for (std::size_t i = 0; i < end.size(); ++i) {
        const char c = tail[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != end[i]) return false;
    }
    return true;
}

// The *.jpg entries of a folder argument, in order, or why it gives none.
void addFolder(const std::string& folder, BatchArguments& batch) {
    std::vector<std::string> names;
    bool anyEntry = false;
    bool anyJpeg = false;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        anyEntry = true;
        const std::string name = it->path().filename().string();
        if (isJpgName(name))
            names.push_back(name);
        else if (endsWithIgnoringCase(name, ".jpeg"))
            anyJpeg = true;
    }
    if (error) {
        batch.folderProblems.push_back(folder +
                                       ": folder cannot be read: " + errnoText(error.value()));
    } else if (names.empty()) {
        batch.folderProblems.push_back(
            folder + (!anyEntry ? ": folder is empty"
                      : anyJpeg ? ": folder holds no *.jpg photographs (*.jpeg files are not "
                                  "counted: name them *.jpg)"
                                : ": folder holds no *.jpg photographs"));
    }
    sortPhotographNames(names);
    for (const std::string& name : names)
        batch.photographs.push_back({(fs::path(folder) / name).string(), {}, {}});
}

}  // namespace

std::vector<std::string> BatchArguments::files() const {
    std::vector<std::string> names;
    names.reserve(photographs.size());
    for (const BatchPhotograph& photograph : photographs) names.push_back(photograph.file);
    return names;
}

BatchArguments expandArguments(const std::vector<std::string>& arguments) {
    BatchArguments batch;
    for (const std::string& argument : arguments) {
        std::error_code error;
        if (fs::is_directory(argument, error))
            addFolder(argument, batch);
        else
            batch.photographs.push_back({argument, {}, {}});
    }
    std::map<std::pair<std::uint64_t, std::uint64_t>, const std::string*> first;
    for (BatchPhotograph& photograph : batch.photographs) {
        photograph.unreadable = brokenLink(photograph.file);
        const std::optional<FileIdentity> identity = identityOf(photograph.file);
        if (!identity) continue;
        const auto [earlier, isFirst] = first.emplace(identity->file(), &photograph.file);
        if (isFirst) continue;
        photograph.warning =
            (*earlier->second == photograph.file
                 ? std::string("named more than once in this batch")
                 : "the same file as " + *earlier->second + ", named earlier in this batch") +
            ": counted again, so its boards are in the book again";
    }
    return batch;
}

std::filesystem::path resultImagePath(const std::filesystem::path& folder,
                                      const std::string& file) {
    return folder / std::filesystem::path(file).filename().replace_extension(".bmp");
}

std::optional<std::string> resultImageClash(const std::vector<std::string>& files,
                                            const std::filesystem::path& folder) {
    // The same photograph named twice, however, writes the same image twice, which loses
    // nothing.
    const auto same = [](const std::string& a, const std::string& b) {
        if (fs::path(a).lexically_normal() == fs::path(b).lexically_normal()) return true;
        const std::optional<FileIdentity> first = identityOf(a);
        const std::optional<FileIdentity> second = identityOf(b);
        return first && second && first->file() == second->file();
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

PhotographOutcome countOne(const BatchPhotograph& photograph, const BatchOptions& options,
                           PixelBudget* budget, const StepResult<JpegPhotograph>* read) {
    const auto start = std::chrono::steady_clock::now();
    PhotographOutcome outcome;
    outcome.file = photograph.file;
    outcome.warning = photograph.warning;
    const auto noted = [&outcome](const std::string& warning) {
        if (!warning.empty()) outcome.warning += (outcome.warning.empty() ? "" : "; ") + warning;
    };
    if (!photograph.unreadable.empty()) {
        outcome.error = photograph.unreadable;
        return outcome;
    }
    if (read && !read->ok()) {
        outcome.error = *read->failure;
        return outcome;
    }
    const CountOptions countOptions{.stability = options.stability,
                                    .selfCheck = options.selfCheck,
                                    .settingsDoubt = options.settingsDoubt,
                                    .budget = budget};
    CountResult result =
        read ? countJpeg(read->value, photograph.file, options.settings, countOptions)
             : countBoards(photograph.file, options.settings, countOptions);
    outcome.digest = result.digest;
    if (!result.ok()) {
        outcome.error = result.error->reason;
        return outcome;
    }
    noted(result.warning);
    noted(result.stabilityProblem);
    outcome.passLines = result.passLines;
    outcome.band = result.band;
    outcome.joints = std::move(result.joints);
    outcome.photographWidth = result.photographWidth;
    outcome.photographHeight = result.photographHeight;
    outcome.stretch = options.settings.stretch;
    outcome.region = result.settings.region;
    outcome.angleHundredths = result.angleHundredths;
    outcome.regionFound = result.settings.regionFound;
    outcome.stable = result.stable;
    outcome.certainty = result.certainty;
    if (options.markedFolder) {
        const auto target = resultImagePath(*options.markedFolder, photograph.file);
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
