// lathmark-count: counts the boards in stack photographs from the command line, with the same
// engine as the window.

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/settings.h"
#include "cli/batch.h"
#include "engine/photographs.h"

namespace {

using lathmark::PhotographOutcome;
using Json = nlohmann::ordered_json;

constexpr int kAllCounted = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsageError = 2;

double roundedToTenths(double value) {
    return std::round(value * 10.0) / 10.0;
}

std::string tenthsText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
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

void printText(const PhotographOutcome& outcome) {
    if (outcome.error) {
        std::cerr << outcome.file << ": " << *outcome.error << '\n';
        return;
    }
    if (!outcome.warning.empty())
        std::cerr << outcome.file << ": warning: " << outcome.warning << '\n';
    const auto& p = outcome.passLines;
    std::cout << outcome.file << ": " << outcome.boards() << " boards (lines " << p[0] << " + "
              << p[1] << " + " << p[2] << " + " << p[3] << "), " << tenthsText(outcome.milliseconds)
              << " ms" << std::endl;
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
        if (!outcome.warning.empty()) line["warning"] = outcome.warning;
    }
    std::cout << jsonLine(line) << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Counts the boards in photographs of a fibreboard stack's edge.",
                 "lathmark-count"};
    app.set_version_flag("--version", std::string("lathmark-count ") + LATHMARK_VERSION);

    std::optional<std::string> settingsFile;
    std::optional<std::int16_t> bdLine;
    std::optional<std::int16_t> threshold;
    bool json = false;
    std::optional<std::string> markedFolder;
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::string> arguments;

    app.add_option("--settings", settingsFile,
                   "Settings file to read instead of Lathmark.ini beside the executable");
    app.add_option("--bdline", bdLine, "BDLINE to use instead of the file's")
        ->check(CLI::Range(-32768, 32767));
    app.add_option("--threshold", threshold, "THRESHOLD to use instead of the file's (0 to 245)")
        ->check(CLI::Range(0, 245));
    app.add_flag("--json", json, "Print JSON Lines instead of text");
    app.add_option("--marked", markedFolder,
                   "Folder to write each photograph's result image to, as <name>.bmp");
    app.add_option("--jobs", jobs, "Photographs counted at once (default: number of cores)")
        ->check(CLI::Range(1, 1024));
    app.add_option("photographs", arguments, "JPEG photographs, or folders of them")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : kUsageError;
    }

    lathmark::Settings settings;
    if (!bdLine || !threshold) {
        const std::filesystem::path path =
            settingsFile ? std::filesystem::path(*settingsFile) : lathmark::defaultSettingsPath();
        const lathmark::SettingsRead read = lathmark::readSettings(path);
        if (!read.ok()) {
            for (const std::string& problem : read.problems) std::cerr << problem << '\n';
            std::cerr << "lathmark-count: nothing counted; mend the settings file or give both "
                         "--bdline and --threshold\n";
            return kUsageError;
        }
        settings = read.settings;
    }
    if (bdLine) settings.bdLine = *bdLine;
    if (threshold) settings.thresholdLevel = *threshold;

    lathmark::BatchOptions options{settings.bdLine, settings.thresholdLevel, std::nullopt, jobs};
    if (markedFolder) {
        std::error_code error;
        std::filesystem::create_directories(*markedFolder, error);
        if (error || !std::filesystem::is_directory(*markedFolder)) {
            std::cerr << "lathmark-count: " << *markedFolder
                      << ": cannot be used as the folder for result images"
                      << (error ? ": " + error.message() : std::string()) << '\n';
            return kUsageError;
        }
        options.markedFolder = *markedFolder;
    }

    for (const std::string& argument : arguments) {
        std::error_code error;
        if (std::filesystem::is_directory(argument, error) &&
            lathmark::listPhotographs(argument).empty())
            std::cerr << argument << ": folder holds no *.jpg photographs\n";
    }
    const std::vector<std::string> files = lathmark::expandArguments(arguments);
    if (options.markedFolder)
        if (auto clash = lathmark::resultImageClash(files, *options.markedFolder)) {
            std::cerr << "lathmark-count: " << *clash
                      << "; nothing counted: count them apart, or rename one\n";
            return kUsageError;
        }
    Tally tally;
    lathmark::countAll(files, options, [&](const PhotographOutcome& outcome) {
        if (outcome.error) {
            ++tally.failed;
        } else {
            ++tally.counted;
            tally.boards += outcome.boards();
        }
        json ? printJson(outcome) : printText(outcome);
    });

    if (json) {
        Json book;
        book["book"] = tally.boards;
        book["photographs"] = tally.counted;
        book["failed"] = tally.failed;
        book["bdline"] = settings.bdLine;
        book["threshold"] = settings.thresholdLevel;
        std::cout << jsonLine(book) << std::endl;
    } else {
        std::cout << "Book: " << tally.boards << " boards in " << tally.counted << " photographs"
                  << std::endl;
        if (tally.failed > 0)
            std::cerr << "lathmark-count: " << tally.failed << " of " << files.size()
                      << " photographs could not be counted\n";
    }
    return tally.failed > 0 ? kSomeFailed : kAllCounted;
}
