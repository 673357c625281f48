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
namespace {

// What the settings file written says it was written by, from what.
std::string writtenFrom(const Options& options, bool journal) {
    return "lathmark-count --calibrate " + *options.truth +
           (journal && options.trustCounts ? " --trust-counts" : "");
}

}  // namespace

int calibrateSettings(const Options& options, const lathmark::Settings& settings,
                      StandardOutput& out) {
    const lathmark::TruthRead truth =
        lathmark::readTruthOrJournal(*options.truth, options.trustCounts);
    const bool journal = truth.source == lathmark::TruthSource::Journal;
    // The photographs a journal leaves out are warnings, but they may be why nothing is left.
    if (!options.quiet || truth.error)
        for (const std::string& note : truth.notes) say(note);
    if (truth.error) {
        std::string error = *truth.error;
        if (journal && truth.unchecked > 0 && truth.leftOut == 0)
            error += " (--trust-counts takes its counts of " + std::to_string(truth.unchecked) +
                     " photographs that no one corrected or confirmed as true as well)";
        say(error);
        say("lathmark-count: nothing counted");
        return kUsageError;
    }
    if (options.trustCounts && !journal && !options.quiet)
        say("lathmark-count: warning: --trust-counts is for a journal; every count of " +
            *options.truth + ", a TRUTH file, is taken as true in any case");
    const std::string countsFrom = journal ? "the journal" : "the TRUTH file";

    // The files to be written are checked, and made ready, before anything is counted. The
    // settings go to the file a link leads to, as the programs beside it read that one.
    std::vector<lathmark::OutputFile> outputs;
    if (options.writeSettingsFile)
        outputs.push_back({"the settings file", lathmark::followLinks(*options.writeSettingsFile)});
    if (options.landscapeFile) outputs.push_back({"the landscape", *options.landscapeFile});
    std::vector<lathmark::InputFile> inputs{{countsFrom + " " + *options.truth, *options.truth}};
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
        lathmark::printCalibration(*calibration, text, countsFrom);
        out.put(text.str());
    }

    bool written = out.checked();
    if (settingsFile) {
        const lathmark::Settings& chosen = calibration->choice.settings;
        if (!options.quiet) {
            if (auto weak = lathmark::weakChoice(*calibration, countsFrom))
                say("lathmark-count: warning: the " + *weak + "; " + *options.writeSettingsFile +
                    " is written all the same");
            if (auto why = lathmark::noThicknessWhy(*calibration))
                say("lathmark-count: warning: " + *options.writeSettingsFile + " gets " + *why);
        }
        std::optional<std::string> failure;
        if (auto problem = lathmark::bdLineProblem(chosen.bdLine))
            failure = *options.writeSettingsFile + " could not be written: " + *problem;
        else if (auto why = settingsFile->commit(
                     lathmark::settingsHeader(*calibration, writtenFrom(options, journal)) +
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
