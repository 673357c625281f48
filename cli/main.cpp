// lathmark-count: counts the boards in stack photographs from the command line, with the same
// engine as the window. Its options, and which command they ask for; the commands are in
// commands.h.

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "engine/settings.h"

using lathmark::calibrateSettings;
using lathmark::countBatch;
using lathmark::kUsageError;
using lathmark::Options;
using lathmark::settingsInEffect;
using lathmark::SettingsInEffect;
using lathmark::StandardOutput;

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
                   "width x height + left + top in pixels; full counts the whole photograph, "
                   "auto finds the stack in each photograph")
        ->type_name("WxH+X+Y|full|auto")
        ->check(
            [](const std::string& text) -> std::string {
                if (text == "full" || text == lathmark::kFoundRegionText) return {};
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
    app.add_option(
           "--angle", options.angle,
           "ANGLE to use instead of the file's: the joints' slope in degrees, rising to the "
           "right when positive (0: level), or auto to find it in each photograph")
        ->type_name("A|auto")
        ->check(
            [](const std::string& text) -> std::string {
                const lathmark::AngleParsed parsed = lathmark::parseAngle(text);
                return parsed.angle ? std::string() : "ANGLE " + parsed.problem;
            },
            "");
    auto* strict = app.add_flag(
        "--strict", options.strict,
        "Exit with status 3 when every photograph was counted but one or more are uncertain");
    auto* calibrate = app.add_option(
        "--calibrate", options.truth,
        "Find the settings that count the photographs listed in TRUTH (tab-separated, columns "
        "file and boards) right; or those a JOURNAL (as the window's Lathmark-journal.csv) holds "
        "corrected or confirmed counts of");
    calibrate->type_name("TRUTH|JOURNAL");
    app.add_flag("--trust-counts", options.trustCounts,
                 "With --calibrate JOURNAL: take the counts no one corrected or confirmed as true "
                 "as well")
        ->needs(calibrate);
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
