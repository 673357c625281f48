#include "app/settings.h"

namespace lathmark {

std::filesystem::path defaultSettingsPath() {
    return settingsPathIn(executableFolder());
}

std::string settingsProblemsText(const std::filesystem::path& file, const SettingsRead& read) {
    std::string text =
        "The settings file " + file.string() +
        (read.problems.empty() ? " may not say what was meant:\n" : " has problems:\n");
    for (const std::string& problem : read.problems) text += "\n" + problem;
    if (!read.problems.empty() && !read.warnings.empty()) text += "\n\nWarnings:\n";
    for (const std::string& warning : read.warnings) text += "\n" + warning;
    const Settings& settings = read.settings;
    text += "\n\nLathmark goes on with BDLINE " + std::to_string(settings.bdLine) +
            " and THRESHOLD " + std::to_string(settings.threshold) +
            (settings.stretch == 1 ? "" : " and STRETCH " + std::to_string(settings.stretch)) +
            ". Every count is marked uncertain until the file is mended.";
    return text;
}

}  // namespace lathmark
