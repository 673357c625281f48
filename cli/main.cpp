// lathmark-count: counts the boards in stack photographs from the command line, with the same
// engine as the window.

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/batch.h"
#include "cli/calibration_output.h"
#include "cli/csv_output.h"
#include "cli/landscape_svg.h"
#include "cli/progress.h"
#include "cli/report_html.h"
#include "cli/texts.h"
#include "engine/files.h"
#include "engine/photographs.h"
#include "engine/settings_file.h"

namespace {

using lathmark::PhotographOutcome;
using Json = nlohmann::ordered_json;

// The settings file beside the executable, as the window reads it.
std::filesystem::path defaultSettingsPath() {
    return lathmark::settingsPathIn(lathmark::executableFolder());
}

constexpr int kAllCounted = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsageError = 2;

double roundedToTenths(double value) {
    return std::round(value * 10.0) / 10.0;
}

// File names need not be valid UTF-8; JSON output replaces what is not.
std::string jsonLine(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

struct Tally {
    long long boards = 0;
    int counted = 0;
    int failed = 0;
};

void printText(const PhotographOutcome& outcome, bool quiet) {
    if (outcome.error) {
        std::cerr << outcome.file << ": " << *outcome.error << '\n';
        return;
    }
    if (!outcome.warning.empty() && !quiet)
        std::cerr << outcome.file << ": warning: " << outcome.warning << '\n';
    const auto& p = outcome.passLines;
    std::cout << outcome.file << ": " << outcome.boards() << " boards (lines " << p[0] << " + "
              << p[1] << " + " << p[2] << " + " << p[3] << "), "
              << lathmark::tenthsText(outcome.milliseconds) << " ms"
              << (outcome.stable ? lathmark::stabilitySentence(*outcome.stable) : "") << std::endl;
}

void printJson(const PhotographOutcome& outcome) {
    Json line;
    line["file"] = outcome.file;
    if (outcome.error) {
        line["error"] = *outcome.error;
    } else {
        line["boards"] = outcome.boards();
        line["passLines"] = outcome.passLines;
        line["band"] = {{"top", outcome.band.top},
                        {"bottom", outcome.band.bottom},
                        {"width", outcome.band.width},
                        {"height", outcome.band.height}};
        line["ms"] = roundedToTenths(outcome.milliseconds);
        if (outcome.stable)
            line["stable"] = {{"threshold", outcome.stable->threshold},
                              {"bdline", outcome.stable->bdLine}};
        if (!outcome.warning.empty()) line["warning"] = outcome.warning;
        line["joints"] = Json::array();
        for (const lathmark::Joint& joint : outcome.joints)
            line["joints"].push_back(
                {{"pass", joint.pass}, {"top", joint.top}, {"bottom", joint.bottom}});
    }
    std::cout << jsonLine(line) << std::endl;
}

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
    std::optional<std::string> truth;
    bool findRegion = false;
    std::optional<std::string> writeSettingsFile;
    std::optional<std::string> landscapeFile;
    std::vector<std::string> arguments;
};

// The settings in effect: the file's, with --bdline, --threshold and --stretch over them; with
// --bdline and --threshold both, no file is read (STRETCH is then --stretch's, or 1). Nothing if
// the file has problems, which are then printed.
std::optional<lathmark::Settings> settingsInEffect(const Options& options) {
    lathmark::Settings settings;
    if (!options.bdLine || !options.threshold) {
        const std::filesystem::path path = options.settingsFile
                                               ? std::filesystem::path(*options.settingsFile)
                                               : defaultSettingsPath();
        const lathmark::SettingsRead read = lathmark::readSettings(path);
        if (!read.ok()) {
            for (const std::string& problem : read.problems) std::cerr << problem << '\n';
            std::cerr << "lathmark-count: nothing counted; mend the settings file or give both "
                         "--bdline and --threshold\n";
            return std::nullopt;
        }
        settings = read.settings;
    }
    if (options.bdLine) settings.bdLine = *options.bdLine;
    if (options.threshold) settings.threshold = *options.threshold;
    if (options.stretch) settings.stretch = *options.stretch;
    return settings;
}

// The settings in effect for the report, and where they came from.
std::vector<lathmark::ReportSetting> reportSettings(const Options& options,
                                                    const lathmark::Settings& settings) {
    std::vector<lathmark::ReportSetting> lines{
        {"BDLINE", std::to_string(settings.bdLine) + (options.bdLine ? " (--bdline)" : "")},
        {"THRESHOLD",
         std::to_string(settings.threshold) + (options.threshold ? " (--threshold)" : "")},
        {"STRETCH", std::to_string(settings.stretch) + (options.stretch ? " (--stretch)" : "")},
    };
    if (!options.bdLine || !options.threshold)
        lines.push_back({"Settings file", options.settingsFile ? *options.settingsFile
                                                               : defaultSettingsPath().string()});
    return lines;
}

int countBatch(const Options& options, const lathmark::Settings& settings) {
    lathmark::BatchOptions batch{settings, std::nullopt, options.jobs, options.stability};
    if (options.markedFolder) {
        std::error_code error;
        std::filesystem::create_directories(*options.markedFolder, error);
        if (error || !std::filesystem::is_directory(*options.markedFolder)) {
            std::cerr << "lathmark-count: " << *options.markedFolder
                      << ": cannot be used as the folder for result images"
                      << (error ? ": " + error.message() : std::string()) << '\n';
            return kUsageError;
        }
        batch.markedFolder = *options.markedFolder;
    }

    for (const std::string& argument : options.arguments) {
        std::error_code error;
        if (std::filesystem::is_directory(argument, error) &&
            lathmark::listPhotographs(argument).empty())
            std::cerr << argument << ": folder holds no *.jpg photographs\n";
    }
    const std::vector<std::string> files = lathmark::expandArguments(options.arguments);
    if (batch.markedFolder)
        if (auto clash = lathmark::resultImageClash(files, *batch.markedFolder)) {
            std::cerr << "lathmark-count: " << *clash
                      << "; nothing counted: count them apart, or rename one\n";
            return kUsageError;
        }
    if (options.reportFile)
        if (auto clash = lathmark::reportClash(*options.reportFile, files)) {
            std::cerr << "lathmark-count: " << *clash << "; nothing counted\n";
            return kUsageError;
        }
    std::optional<lathmark::HtmlReport> report;
    if (options.reportFile) report.emplace(*options.reportFile, reportSettings(options, settings));
    if (options.csv) std::cout << lathmark::csvHeader() << std::flush;
    Tally tally;
    lathmark::ProgressLine progress(files.size(), !options.quiet);
    lathmark::countAll(files, batch, [&](const PhotographOutcome& outcome) {
        if (outcome.error) {
            ++tally.failed;
        } else {
            ++tally.counted;
            tally.boards += outcome.boards();
        }
        const bool text = !options.csv && !options.json;
        progress.hide(text && (outcome.error || (!outcome.warning.empty() && !options.quiet)));
        if (options.csv)
            std::cout << lathmark::csvRecord(outcome) << std::flush;
        else
            options.json ? printJson(outcome) : printText(outcome, options.quiet);
        if (report) report->add(outcome);
        progress.advance();
    });
    progress.finish();

    if (options.json) {
        Json book;
        book["book"] = tally.boards;
        book["photographs"] = tally.counted;
        book["failed"] = tally.failed;
        book["bdline"] = settings.bdLine;
        book["threshold"] = settings.threshold;
        book["stretch"] = settings.stretch;
        std::cout << jsonLine(book) << std::endl;
    } else if (!options.csv) {
        std::cout << "Book: " << tally.boards << " boards in " << tally.counted << " photographs"
                  << std::endl;
        if (tally.failed > 0)
            std::cerr << "lathmark-count: " << tally.failed << " of " << files.size()
                      << " photographs could not be counted\n";
    }
    if (report)
        if (auto failure = report->write()) {
            std::cerr << "lathmark-count: " << *failure << '\n';
            return kUsageError;
        }
    return tally.failed > 0 ? kSomeFailed : kAllCounted;
}

int calibrateSettings(const Options& options, const lathmark::Settings& settings) {
    const lathmark::TruthRead truth = lathmark::readTruth(*options.truth);
    if (truth.error) {
        std::cerr << *truth.error << "\nlathmark-count: nothing counted\n";
        return kUsageError;
    }
    int failed = 0;
    const lathmark::CalibrationOptions calibrationOptions{.jobs = options.jobs,
                                                          .findRegion = options.findRegion};
    const std::optional<lathmark::Calibration> calibration = lathmark::calibrate(
        truth.rows, settings, calibrationOptions, [&](const lathmark::PhotographSearch& search) {
            if (search.error) {
                ++failed;
                std::cerr << search.file << ": " << *search.error << '\n';
            } else if (!search.warning.empty() && !options.quiet) {
                std::cerr << search.file << ": warning: " << search.warning << '\n';
            }
        });
    if (!calibration) {
        std::cerr << "lathmark-count: none of the photographs of " << *options.truth
                  << " could be counted; nothing to calibrate on\n";
        return kUsageError;
    }
    if (options.json)
        std::cout << lathmark::calibrationJson(*calibration) << std::endl;
    else
        lathmark::printCalibration(*calibration, std::cout);

    bool written = true;
    if (options.writeSettingsFile) {
        if (auto failure =
                lathmark::writeSettings(*options.writeSettingsFile, calibration->choice.settings)) {
            std::cerr << "lathmark-count: " << *failure << '\n';
            written = false;
        }
    }
    if (options.landscapeFile) {
        if (auto failure = lathmark::writeWholeFile(*options.landscapeFile,
                                                    lathmark::landscapeSvg(*calibration))) {
            std::cerr << "lathmark-count: " << *options.landscapeFile << " could not be written ("
                      << *failure << ")\n";
            written = false;
        }
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
    auto* photographs =
        app.add_option("photographs", options.arguments, "JPEG photographs, or folders of them");
    calibrate->excludes(photographs)
        ->excludes(marked)
        ->excludes(stability)
        ->excludes(csv)
        ->excludes(report);

    try {
        app.parse(argc, argv);
        if (!options.truth && options.arguments.empty())
            throw CLI::RequiredError("photographs (or --calibrate TRUTH)");
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : kUsageError;
    }

    const std::optional<lathmark::Settings> settings = settingsInEffect(options);
    if (!settings) return kUsageError;
    return options.truth ? calibrateSettings(options, *settings) : countBatch(options, *settings);
}
