#pragma once
// Settings learnt from the station's journal: the batch counter's calibration over the true
// counts the journal holds (the operator's corrections and confirmations, and the counts no one
// corrected), run on a thread of its own so that the window goes on counting meanwhile, and the
// settings file written from it once the operator agrees. Free of Qt.

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "engine/calibration_search.h"
#include "engine/settings.h"
#include "engine/truth.h"

namespace lathmark {

struct Learnt {
    TruthRead truth;  // the photographs learnt from, and words on those left out
    std::optional<Calibration> calibration;
    std::string error;  // why nothing was learnt, if nothing was
};

class Learning {
  public:
    // Starts learning from `journal` the settings that count its photographs right, from
    // `current` (its REGION searched for, where it has one), `jobs` photographs at a time.
    Learning(std::filesystem::path journal, Settings current, int jobs);
    // Ends the search soon (after the photograph or the column window at hand) and waits for it,
    // so that a window closed meanwhile is not held up for the whole search.
    ~Learning();
    Learning(const Learning&) = delete;
    Learning& operator=(const Learning&) = delete;

    const std::filesystem::path& journal() const { return journal_; }
    const Settings& current() const { return current_; }
    bool done() const { return done_; }
    // How far it has come: "Learning settings from Lathmark-journal.csv: 12 of 40 photographs
    // decoded".
    std::string progressText() const;
    // What was learnt, once done.
    Learnt take();

  private:
    void run(int jobs);

    std::filesystem::path journal_;
    Settings current_;
    mutable std::mutex mutex_;
    CalibrationOptions::Step step_{};
    std::atomic<bool> done_{false};
    std::atomic<bool> stop_{false};
    Learnt learnt_;
    std::thread thread_;
};

// What the learnt settings would change and how well they count: "THRESHOLD 117 → 121: 38 of the
// 40 photographs right, 36 when each is left out"; "The settings stay as they are: ..." where
// they change nothing.
std::string learntText(const Settings& current, const Calibration& calibration);

// Whether the learnt settings differ from `current` in what a count uses.
bool learntChanges(const Settings& current, const Calibration& calibration);

// Writes the learnt settings over `file`, the old file kept beside it as `<file>.bak`; `journal`
// names what they were learnt from in the file's first lines. The keys the calibration does not
// search (WATCH) keep their values. Why it could not, if it could not.
std::optional<std::string> writeLearntSettings(const std::filesystem::path& file,
                                               const Calibration& calibration,
                                               const Settings& current,
                                               const std::filesystem::path& journal);

}  // namespace lathmark
