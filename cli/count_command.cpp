#include <unistd.h>

#include <cerrno>
#include <set>

#include "cli/batch.h"
#include "cli/commands.h"
#include "cli/outputs.h"
#include "cli/progress.h"
#include "cli/report_html.h"
#include "cli/watch.h"
#include "engine/files.h"
#include "engine/photographs.h"

namespace lathmark {
namespace {

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
    if (settings.region || settings.regionFound)
        lines.push_back({"REGION", (settings.regionFound ? std::string(lathmark::kFoundRegionText)
                                                         : lathmark::regionText(*settings.region)) +
                                       (options.region ? " (--region)" : "")});
    if (settings.thicknessHundredths > 0)
        lines.push_back({"THICKNESS", lathmark::hundredthsText(settings.thicknessHundredths) +
                                          (options.thickness ? " (--thickness)" : "")});
    if (!settings.angle.level())
        lines.push_back(
            {"ANGLE", lathmark::angleText(settings.angle) + (options.angle ? " (--angle)" : "")});
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

}  // namespace

bool ready(std::optional<lathmark::FileWriter>& writer, const std::filesystem::path& file,
           const std::string& named) {
    writer.emplace(file);
    if (!writer->failure()) return true;
    say("lathmark-count: " + named + " cannot be written (" + *writer->failure() +
        "); nothing counted");
    return false;
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

}  // namespace lathmark
