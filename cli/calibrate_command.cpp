#include <iostream>
#include <sstream>

#include "cli/calibration_output.h"
#include "cli/commands.h"
#include "cli/landscape_svg.h"
#include "cli/outputs.h"
#include "cli/progress.h"
#include "engine/settings_file.h"
#include "engine/truth.h"

namespace lathmark {

int calibrateSettings(const Options& options, const lathmark::Settings& settings,
                      StandardOutput& out) {
    const lathmark::TruthRead truth = lathmark::readTruth(*options.truth);
    if (truth.error) {
        say(*truth.error);
        say("lathmark-count: nothing counted");
        return kUsageError;
    }

    // The files to be written are checked, and made ready, before anything is counted. The
    // settings go to the file a link leads to, as the programs beside it read that one.
    std::vector<lathmark::OutputFile> outputs;
    if (options.writeSettingsFile)
        outputs.push_back({"the settings file", lathmark::followLinks(*options.writeSettingsFile)});
    if (options.landscapeFile) outputs.push_back({"the landscape", *options.landscapeFile});
    std::vector<lathmark::InputFile> inputs{{"the TRUTH file " + *options.truth, *options.truth}};
    for (const lathmark::TruthRow& row : truth.rows)
        inputs.push_back({"the photograph " + row.file, row.file});
    if (auto problem = lathmark::outputsProblem(outputs, inputs)) {
        say("lathmark-count: " + *problem + "; nothing counted");
        return kUsageError;
    }
    std::optional<lathmark::FileWriter> settingsFile;
    std::optional<lathmark::FileWriter> landscapeFile;
    if (options.writeSettingsFile &&
        !ready(settingsFile, lathmark::followLinks(*options.writeSettingsFile),
               "the settings file " + *options.writeSettingsFile))
        return kUsageError;
    if (options.landscapeFile &&
        !ready(landscapeFile, *options.landscapeFile, "the landscape " + *options.landscapeFile))
        return kUsageError;

    int failed = 0;
    // Photographs decoded and searched, then (--find-region) column windows searched.
    lathmark::ProgressLine progress(truth.rows.size(), !options.quiet, "photographs decoded");
    bool searchingWindows = false;
    lathmark::CalibrationOptions calibrationOptions{.jobs = options.jobs,
                                                    .findRegion = options.findRegion};
    calibrationOptions.progress = [&](const lathmark::CalibrationOptions::Step& step) {
        if (step.windows && !searchingWindows) {
            searchingWindows = true;
            progress.restart(step.total, "windows searched");
        }
        progress.resize(step.total);
        progress.advance();
    };
    const std::optional<lathmark::Calibration> calibration = lathmark::calibrate(
        truth.rows, settings, calibrationOptions, [&](const lathmark::PhotographSearch& search) {
            progress.hide(true);
            if (search.error) {
                ++failed;
                say(search.file + ": " + *search.error);
            } else if (!search.warning.empty() && !options.quiet) {
                say(search.file + ": warning: " + search.warning);
            }
        });
    progress.finish();
    if (!calibration) {
        say("lathmark-count: none of the photographs of " + *options.truth +
            " could be counted; nothing to calibrate on");
        return kUsageError;
    }
    if (options.json) {
        out.put(lathmark::calibrationJson(*calibration) + "\n");
    } else {
        std::ostringstream text;
        lathmark::printCalibration(*calibration, text);
        out.put(text.str());
    }

    bool written = out.checked();
    if (settingsFile) {
        const lathmark::Settings& chosen = calibration->choice.settings;
        if (!options.quiet) {
            if (auto weak = lathmark::weakChoice(*calibration))
                say("lathmark-count: warning: the " + *weak + "; " + *options.writeSettingsFile +
                    " is written all the same");
            if (auto why = lathmark::noThicknessWhy(*calibration))
                say("lathmark-count: warning: " + *options.writeSettingsFile + " gets " + *why);
        }
        std::optional<std::string> failure;
        if (auto problem = lathmark::bdLineProblem(chosen.bdLine))
            failure = *options.writeSettingsFile + " could not be written: " + *problem;
        else if (auto why = settingsFile->commit(
                     lathmark::settingsHeader(*calibration,
                                              "lathmark-count --calibrate " + *options.truth) +
                     lathmark::settingsText(chosen)))
            failure = *options.writeSettingsFile + " could not be written (" + *why + ")";
        if (failure) {
            say("lathmark-count: " + *failure);
            written = false;
        }
    }
    if (landscapeFile)
        if (auto failure = landscapeFile->commit(lathmark::landscapeSvg(*calibration))) {
            say("lathmark-count: " + *options.landscapeFile + " could not be written (" + *failure +
                ")");
            written = false;
        }
    if (failed > 0)
        std::cerr << "lathmark-count: " << failed << " of " << truth.rows.size()
                  << " photographs could not be counted and were left out\n";
    if (!written) return kUsageError;
    return failed > 0 ? kSomeFailed : kAllCounted;
}

}  // namespace lathmark
