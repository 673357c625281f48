#include <system_error>

#include "cli/commands.h"
#include "cli/outputs.h"
#include "engine/settings_file.h"

namespace lathmark {

std::filesystem::path defaultSettingsPath() {
    return settingsPathIn(executableFolder());
}

// The settings file's, with each option given over its own key (--bdline, --threshold,
// --stretch, --region, --thickness); the file's other keys are kept. Without the file beside
// the executable, --bdline and --threshold together are enough. What could be read of a file
// with mistakes is used, and every count is then marked uncertain (the doubt), unless each
// mistake concerns a key an option gives. Nothing (after a word) where no file can be read and
// the options do not make settings alone. Problems are always printed; warnings unless --quiet.
std::optional<SettingsInEffect> settingsInEffect(const Options& options) {
    SettingsInEffect inEffect;
    const std::filesystem::path path =
        options.settingsFile ? std::filesystem::path(*options.settingsFile) : defaultSettingsPath();
    std::error_code error;
    const bool optionsAlone = options.bdLine && options.threshold;
    if (!(optionsAlone && !options.settingsFile && !std::filesystem::exists(path, error))) {
        const lathmark::SettingsRead read = lathmark::readSettings(path);
        for (const std::string& problem : read.problems) say(problem);
        if (!options.quiet)
            for (const std::string& warning : read.warnings)
                say("lathmark-count: warning: " + warning);
        if (read.unreadable && !optionsAlone) {
            say("lathmark-count: nothing counted; give a settings file that can be read "
                "(--settings FILE), or --bdline and --threshold");
            return std::nullopt;
        }
        std::vector<std::string> replaced;
        if (options.bdLine) replaced.push_back("BDLINE");
        if (options.threshold) replaced.push_back("THRESHOLD");
        if (options.stretch) replaced.push_back("STRETCH");
        if (options.region) replaced.push_back("REGION");
        if (options.thickness) replaced.push_back("THICKNESS");
        if (options.angle) replaced.push_back("ANGLE");
        inEffect.doubt = lathmark::settingsDoubt(read, replaced);
        if (!inEffect.doubt.empty() && !options.quiet)
            say("lathmark-count: every count is marked uncertain while " + path.string() +
                " has a mistake; mend it, or give the option of the key in question (--bdline, "
                "--threshold, --stretch, --region, --thickness, --angle): an option replaces "
                "that one "
                "key, and the file's other keys are still used");
        inEffect.settings = read.settings;
        inEffect.file = path;
    }
    lathmark::Settings& settings = inEffect.settings;
    if (options.bdLine) settings.bdLine = *options.bdLine;
    if (options.threshold) settings.threshold = *options.threshold;
    if (options.stretch) settings.stretch = *options.stretch;
    // Both were checked as the command line was read.
    if (options.region) {
        settings.regionFound = *options.region == lathmark::kFoundRegionText;
        settings.region = *options.region == "full" || settings.regionFound
                              ? std::nullopt
                              : lathmark::parseRegion(*options.region).region;
    }
    if (options.thickness)
        settings.thicknessHundredths = *lathmark::parseThickness(*options.thickness).hundredths;
    if (options.angle) settings.angle = *lathmark::parseAngle(*options.angle).angle;
    return inEffect;
}

}  // namespace lathmark
