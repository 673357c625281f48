// lathmark-count: counts the boards in stack photographs from the command line, with the same
// engine as the window.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <set>
#include <sstream>
#include <thread>

#include "cli/batch.h"
#include "cli/calibration_output.h"
#include "cli/csv_output.h"
#include "cli/landscape_svg.h"
#include "cli/lines.h"
#include "cli/outputs.h"
#include "cli/progress.h"
#include "cli/report_html.h"
#include "cli/session.h"
#include "cli/texts.h"
#include "cli/watch.h"
#include "engine/files.h"
#include "engine/photographs.h"
#include "engine/settings_file.h"

namespace {

using lathmark::PhotographOutcome;
using lathmark::say;
using lathmark::StandardOutput;

// The settings file beside the executable, as the window reads it.
std::filesystem::path defaultSettingsPath() {
    return lathmark::settingsPathIn(lathmark::executableFolder());
}

constexpr int kAllCounted = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsageError = 2;
constexpr int kSomeUncertain = 3;  // with --strict

struct Options {
    std::optional<std::string> settingsFile;
    std::optional<int> bdLine;
    std::optional<int> threshold;
    std::optional<int> stretch;
    bool json = false;
    bool csv = false;
    std::optional<std::string> reportFile;
    bool quiet = false;
    std::optional<std::string> markedFolder;
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    bool stability = false;
    bool noSelfCheck = false;
    bool strict = false;
    std::optional<std::string> region;  // WxH+X+Y, or "full"
    std::optional<std::string> thickness;
    std::optional<std::string> truth;
    bool findRegion = false;
    std::optional<std::string> writeSettingsFile;
    std::optional<std::string> landscapeFile;
    std::optional<std::string> journalFile;
    std::optional<std::string> watchFolder;
    std::vector<std::string> arguments;
};

// The settings in effect, and where they came from.
struct SettingsInEffect {
    lathmark::Settings settings;
    std::optional<std::filesystem::path> file;  // the settings file read, if one was
    std::string doubt;  // why every count with them may be wrong (settings_file.h)
};

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
        inEffect.doubt = lathmark::settingsDoubt(read, replaced);
        if (!inEffect.doubt.empty() && !options.quiet)
            say("lathmark-count: every count is marked uncertain while " + path.string() +
                " has a mistake; mend it, or give the option of the key in question (--bdline, "
                "--threshold, --stretch, --region, --thickness): an option replaces that one "
                "key, and the file's other keys are still used");
        inEffect.settings = read.settings;
        inEffect.file = path;
    }
    lathmark::Settings& settings = inEffect.settings;
    if (options.bdLine) settings.bdLine = *options.bdLine;
    if (options.threshold) settings.threshold = *options.threshold;
    if (options.stretch) settings.stretch = *options.stretch;
    // Both were checked as the command line was read.
    if (options.region)
        settings.region = *options.region == "full" ? std::nullopt
                                                    : lathmark::parseRegion(*options.region).region;
    if (options.thickness)
        settings.thicknessHundredths = *lathmark::parseThickness(*options.thickness).hundredths;
    return inEffect;
}

// The settings in effect for the report, and where they came from.
std::vector<lathmark::ReportSetting> reportSettings(const Options& options,
                                                    const SettingsInEffect& inEffect) {
    const lathmark::Settings& settings = inEffect.settings;
    std::vector<lathmark::ReportSetting> lines{
        {"BDLINE", std::to_string(settings.bdLine) + (options.bdLine ? " (--bdline)" : "")},
        {"THRESHOLD",
         std::to_string(settings.threshold) + (options.threshold ? " (--threshold)" : "")},
        {"STRETCH", std::to_string(settings.stretch) + (options.stretch ? " (--stretch)" : "")},
    };
    if (settings.region)
        lines.push_back({"REGION", lathmark::regionText(*settings.region) +
                                       (options.region ? " (--region)" : "")});
    if (settings.thicknessHundredths > 0)
        lines.push_back({"THICKNESS", lathmark::hundredthsText(settings.thicknessHundredths) +
                                          (options.thickness ? " (--thickness)" : "")});
    if (inEffect.file)
        lines.push_back(
            {"Settings file", inEffect.file->string() +
                                  (inEffect.doubt.empty() ? std::string() : " (with a mistake)")});
    return lines;
}

// Why the batch's output files must not be written, if they must not: checked before anything
// is counted.
std::optional<std::string> batchOutputsProblem(const Options& options,
                                               const std::vector<std::string>& files) {
    std::vector<lathmark::OutputFile> outputs;
    if (options.reportFile) outputs.push_back({"the report", *options.reportFile});
    if (options.markedFolder) {
        std::set<std::filesystem::path> images;
        for (const std::string& file : files) {
            const auto image = lathmark::resultImagePath(*options.markedFolder, file);
            if (images.insert(image).second) outputs.push_back({"the result image", image, true});
        }
    }
    std::vector<lathmark::InputFile> inputs;
    for (const std::string& file : files) inputs.push_back({"the photograph " + file, file});
    return lathmark::outputsProblem(outputs, inputs);
}

// Makes `writer` ready to write `file`, named `named` in messages: its temporary file is made,
// so that a file that cannot be written is known before anything is counted. False, with a
// message, if it cannot be.
bool ready(std::optional<lathmark::FileWriter>& writer, const std::filesystem::path& file,
           const std::string& named) {
    writer.emplace(file);
    if (!writer->failure()) return true;
    say("lathmark-count: " + named + " cannot be written (" + *writer->failure() +
        "); nothing counted");
    return false;
}

// Makes the folder for result images where it is missing; says why it cannot be used, if it
// cannot.
std::optional<std::string> markedFolderProblem(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder))
        return folder.string() + ": cannot be used as the folder for result images" +
               (error ? ": " + error.message() : std::string());
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return folder.string() +
               ": cannot be used as the folder for result images: " + lathmark::errnoText(errno);
    return std::nullopt;
}

// Makes the journal ready to be appended to, and finds the book its records go into: the one
// after the journal's last. False, with a message, if it cannot be written.
bool readyJournal(std::optional<lathmark::JournalWriter>& journal, int& book,
                  const std::string& file) {
    const lathmark::JournalStart start = lathmark::readJournal(file);
    if (start.foreign) {
        say("lathmark-count: the journal " + file + " " + *start.untrusted + "; nothing counted");
        return false;
    }
    book = start.nextBook;
    journal.emplace(file);
    if (auto failure = journal->ready()) {
        say("lathmark-count: the journal " + file + " cannot be written (" + *failure +
            "); nothing counted");
        return false;
    }
    return true;
}

int countBatch(const Options& options, const SettingsInEffect& inEffect, StandardOutput& out) {
    const lathmark::Settings& settings = inEffect.settings;
    lathmark::BatchOptions batch{settings,          std::nullopt,         options.jobs,
                                 options.stability, !options.noSelfCheck, inEffect.doubt};
    lathmark::BatchArguments arguments;
    if (!options.watchFolder) arguments = lathmark::expandArguments(options.arguments);
    for (const std::string& problem : arguments.folderProblems) say(problem);
    const std::vector<std::string> files = arguments.files();

    // Everything that could keep the batch from being written is known before it is counted.
    if (options.markedFolder)
        if (auto clash = lathmark::resultImageClash(files, *options.markedFolder)) {
            say("lathmark-count: " + *clash + "; nothing counted: count them apart, or rename one");
            return kUsageError;
        }
    if (auto problem = batchOutputsProblem(options, files)) {
        say("lathmark-count: " + *problem + "; nothing counted");
        return kUsageError;
    }
    if (options.markedFolder) {
        if (auto problem = markedFolderProblem(*options.markedFolder)) {
            say("lathmark-count: " + *problem + "; nothing counted");
            return kUsageError;
        }
        batch.markedFolder = *options.markedFolder;
    }
    std::optional<lathmark::FileWriter> reportFile;
    std::optional<lathmark::HtmlReport> report;
    if (options.reportFile) {
        if (!ready(reportFile, *options.reportFile, "the report " + *options.reportFile))
            return kUsageError;
        report.emplace(*options.reportFile, reportSettings(options, inEffect));
    }
    std::optional<lathmark::JournalWriter> journal;
    int journalBook = 1;
    if (options.journalFile && !readyJournal(journal, journalBook, *options.journalFile))
        return kUsageError;

    const bool station = options.journalFile || options.watchFolder;
    lathmark::Session session({options.json, options.csv, options.quiet, station}, settings, out,
                              report ? &*report : nullptr, journal ? &*journal : nullptr,
                              journalBook);
    bool mayHaveMissed = false;
    if (options.watchFolder) {
        const lathmark::WatchEnd end = lathmark::watchFolder(*options.watchFolder, batch, session);
        if (!end.watched) return kUsageError;
        mayHaveMissed = end.folderWentAway;
    } else {
        session.begin();
        lathmark::ProgressLine progress(files.size(), !options.quiet);
        lathmark::countAll(arguments.photographs, batch, [&](const PhotographOutcome& outcome) {
            session.take(outcome, [&](bool onStandardError) { progress.hide(onStandardError); });
            progress.advance();
        });
        progress.finish();
    }
    session.end();

    bool written = out.checked() && session.journalWritten();
    if (report)
        if (auto failure = reportFile->commit(report->page())) {
            say("lathmark-count: " + *options.reportFile + " could not be written (" + *failure +
                ")");
            written = false;
        }
    const lathmark::Book& book = session.book();
    if (!written) return kUsageError;
    if (book.failed > 0 || !arguments.folderProblems.empty() || mayHaveMissed) return kSomeFailed;
    return options.strict && book.uncertain > 0 ? kSomeUncertain : kAllCounted;
}

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
        else if (auto why =
                     settingsFile->commit(lathmark::settingsHeader(*calibration, *options.truth) +
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

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Counts the boards in photographs of a fibreboard stack's edge.",
                 "lathmark-count"};
    app.set_version_flag("--version", std::string("lathmark-count ") + LATHMARK_VERSION);

    Options options;
    app.add_option("--settings", options.settingsFile,
                   "Settings file to read instead of Lathmark.ini beside the executable");
    using lathmark::Settings;
    app.add_option("--bdline", options.bdLine, "BDLINE to use instead of the file's")
        ->check(CLI::Range(Settings::kMinBdLine, Settings::kMaxBdLine));
    app.add_option("--threshold", options.threshold,
                   "THRESHOLD to use instead of the file's (" +
                       std::to_string(Settings::kMinThreshold) + " to " +
                       std::to_string(Settings::kMaxThreshold) + ")")
        ->check(CLI::Range(Settings::kMinThreshold, Settings::kMaxThreshold));
    app.add_option("--stretch", options.stretch,
                   "STRETCH to use instead of the file's: each photograph row is repeated this "
                   "many times before counting (" +
                       std::to_string(Settings::kMinStretch) + " to " +
                       std::to_string(Settings::kMaxStretch) + ")")
        ->check(CLI::Range(Settings::kMinStretch, Settings::kMaxStretch));
    auto* json = app.add_flag("--json", options.json, "Print JSON instead of text");
    auto* csv =
        app.add_flag("--csv", options.csv,
                     "Print CSV instead of text: a header line, then a line per photograph");
    csv->excludes(json);
    auto* report = app.add_option(
        "--report", options.reportFile,
        "Also write one HTML page for the batch that shows each photograph with its band, "
        "joints and numbered boards");
    report->type_name("FILE.html");
    app.add_flag("--quiet", options.quiet,
                 "No progress line and no warnings on standard error; errors are still printed");
    auto* marked =
        app.add_option("--marked", options.markedFolder,
                       "Folder to write each photograph's result image to, as <name>.bmp");
    app.add_option("--jobs", options.jobs, "Photographs counted at once (default: number of cores)")
        ->check(CLI::Range(1, 1024));
    auto* stability = app.add_flag(
        "--stability", options.stability,
        "Also give the THRESHOLD and BDLINE ranges around the settings over which each "
        "photograph's boards stay the same");
    app.add_flag("--no-self-check", options.noSelfCheck,
                 "Leave out the check that flags a count which changes within 3 grey levels of "
                 "THRESHOLD or 10 % of BDLINE (about a tenth of a count's time)")
        ->excludes(stability);
    app.add_option("--region", options.region,
                   "Count within this rectangle of each photograph instead of the file's REGION: "
                   "width x height + left + top in pixels; full counts the whole photograph")
        ->type_name("WxH+X+Y|full")
        ->check(
            [](const std::string& text) -> std::string {
                if (text == "full") return {};
                const lathmark::RegionParsed parsed = lathmark::parseRegion(text);
                return parsed.region ? std::string() : "REGION " + parsed.problem;
            },
            "");
    app.add_option("--thickness", options.thickness,
                   "THICKNESS to use instead of the file's: the boards' thickness in photograph "
                   "rows, for a second opinion on each count (0 turns it off)")
        ->type_name("T")
        ->check(
            [](const std::string& text) -> std::string {
                const lathmark::ThicknessParsed parsed = lathmark::parseThickness(text);
                return parsed.hundredths ? std::string() : "THICKNESS " + parsed.problem;
            },
            "");
    auto* strict = app.add_flag(
        "--strict", options.strict,
        "Exit with status 3 when every photograph was counted but one or more are uncertain");
    auto* calibrate = app.add_option(
        "--calibrate", options.truth,
        "Find the settings that count the photographs listed in TRUTH (tab-separated, columns "
        "file and boards) right");
    calibrate->type_name("TRUTH");
    app.add_flag("--find-region", options.findRegion,
                 "With --calibrate: search the column window of the photographs to count in as "
                 "well as the settings")
        ->needs(calibrate);
    app.add_option("--write-settings", options.writeSettingsFile,
                   "With --calibrate: write the chosen settings to this settings file")
        ->needs(calibrate);
    app.add_option("--landscape", options.landscapeFile,
                   "With --calibrate: draw how many photographs each setting counts right, as "
                   "an SVG picture")
        ->needs(calibrate);
    auto* journal = app.add_option(
        "--journal", options.journalFile,
        "Also append a record of each photograph counted or refused, and of the end, to this "
        "journal (CSV, as the window's Lathmark-journal.csv)");
    journal->type_name("FILE");
    auto* watch = app.add_option(
        "--watch", options.watchFolder,
        "Count the photographs in this folder, then each new one as it arrives, until SIGINT, "
        "SIGTERM or SIGHUP; then print the book");
    watch->type_name("DIR");
    auto* photographs =
        app.add_option("photographs", options.arguments, "JPEG photographs, or folders of them");
    watch->excludes(photographs);
    calibrate->excludes(photographs)
        ->excludes(marked)
        ->excludes(stability)
        ->excludes(csv)
        ->excludes(report)
        ->excludes(strict)
        ->excludes(journal)
        ->excludes(watch);

    try {
        app.parse(argc, argv);
        if (!options.truth && !options.watchFolder && options.arguments.empty())
            throw CLI::RequiredError("photographs (or --calibrate TRUTH, or --watch DIR)");
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : kUsageError;
    }

    const std::optional<SettingsInEffect> settings = settingsInEffect(options);
    if (!settings) return kUsageError;
    StandardOutput out;
    return options.truth ? calibrateSettings(options, settings->settings, out)
                         : countBatch(options, *settings, out);
}
