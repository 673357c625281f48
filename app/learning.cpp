#include "app/learning.h"

#include <utility>
#include <vector>

#include "engine/files.h"
#include "engine/settings_file.h"

namespace lathmark {

Learning::Learning(std::filesystem::path journal, Settings current, int jobs)
    : journal_(std::move(journal)), current_(std::move(current)) {
    thread_ = std::thread([this, jobs] { run(jobs); });
}

Learning::~Learning() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void Learning::run(int jobs) {
    Learnt learnt;
    // At a station the operator sees every count and corrects the wrong ones: the counts no one
    // corrected are taken as true too, as the batch counter's --trust-counts takes them.
    learnt.truth = readJournalTruth(journal_, true);
    if (learnt.truth.error) {
        learnt.error = *learnt.truth.error;
    } else {
        CalibrationOptions options{.jobs = jobs, .findRegion = current_.region.has_value()};
        options.stop = &stop_;
        options.progress = [this](const CalibrationOptions::Step& step) {
            std::lock_guard lock(mutex_);
            step_ = step;
        };
        learnt.calibration = calibrate(
            learnt.truth.rows, current_, options, [&learnt](const PhotographSearch& search) {
                if (search.error)
                    learnt.truth.notes.push_back(search.file + ": " + *search.error + "; left out");
            });
        if (!learnt.calibration)
            learnt.error = "none of the photographs of " + journal_.filename().string() +
                           " could be counted; nothing to learn from";
    }
    std::lock_guard lock(mutex_);
    learnt_ = std::move(learnt);
    done_ = true;
}

std::string Learning::progressText() const {
    std::lock_guard lock(mutex_);
    std::string text = "Learning settings from " + journal_.filename().string();
    if (step_.total == 0) return text + "...";
    return text + ": " + std::to_string(step_.done) + " of " + std::to_string(step_.total) +
           (step_.windows ? " windows searched" : " photographs decoded");
}

Learnt Learning::take() {
    std::lock_guard lock(mutex_);
    return std::move(learnt_);
}

namespace {

// Each setting that differs: "THRESHOLD 117 → 121".
std::vector<std::string> changes(const Settings& from, const Settings& to) {
    std::vector<std::string> changed;
    const auto add = [&changed](const char* key, const std::string& before,
                                const std::string& after) {
        if (before != after) changed.push_back(std::string(key) + " " + before + " → " + after);
    };
    const auto region = [](const Settings& settings) {
        return settings.region ? regionText(*settings.region) : std::string("full");
    };
    add("THRESHOLD", std::to_string(from.threshold), std::to_string(to.threshold));
    add("BDLINE", std::to_string(from.bdLine), std::to_string(to.bdLine));
    add("STRETCH", std::to_string(from.stretch), std::to_string(to.stretch));
    add("REGION", region(from), region(to));
    add("THICKNESS", hundredthsText(from.thicknessHundredths),
        hundredthsText(to.thicknessHundredths));
    return changed;
}

}  // namespace

bool learntChanges(const Settings& current, const Calibration& calibration) {
    return !changes(current, calibration.choice.settings).empty();
}

std::string learntText(const Settings& current, const Calibration& calibration) {
    const std::vector<std::string> changed = changes(current, calibration.choice.settings);
    std::string text;
    for (const std::string& change : changed) text += (text.empty() ? "" : ", ") + change;
    if (text.empty()) text = "The settings stay as they are";
    const LeaveOneOut& loo = calibration.leaveOneOut;
    text += ": " + std::to_string(calibration.choice.right) + " of the " +
            std::to_string(calibration.photographs) + " photographs right, " +
            std::to_string(loo.right) + " when each is left out";
    if (!changed.empty()) text += " (now " + std::to_string(calibration.currentRight) + " right)";
    return text;
}

std::optional<std::string> writeLearntSettings(const std::filesystem::path& file,
                                               const Calibration& calibration,
                                               const Settings& current,
                                               const std::filesystem::path& journal) {
    Settings learnt = calibration.choice.settings;
    learnt.watch = current.watch;
    if (auto problem = bdLineProblem(learnt.bdLine))
        return file.string() + " could not be written: " + *problem;
    // Through a link, as the programs beside it read the file it leads to.
    const std::filesystem::path target = followLinks(file);
    std::string old;
    if (!readWholeFile(target, std::size_t{1} << 20, old)) {
        std::filesystem::path backup = target;
        backup += ".bak";
        if (auto failure = writeWholeFile(backup, old))
            return backup.string() + " could not be written (" + *failure +
                   "); the settings are as they were";
    }
    FileWriter writer(target);
    if (auto failure = writer.commit(
            settingsHeader(calibration, "lathmark from " + journal.filename().string()) +
            settingsText(learnt)))
        return file.string() + " could not be written (" + *failure + ")";
    return std::nullopt;
}

}  // namespace lathmark
