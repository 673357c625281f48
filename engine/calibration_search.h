#pragma once
// Calibration: the settings that count the most photographs of known count right, found from the
// landscape of each photograph; with a search for the region, the column window in which they do.
// The photographs come as a list with their true counts (a TRUTH file read by truth.h); the
// batch counter prints what it finds, and the benchmarks run it. Free of Qt.

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/calibration.h"
#include "engine/settings.h"
#include "engine/truth.h"

namespace lathmark {

// How one photograph of TRUTH went: decoded and searched, or why not.
struct PhotographSearch {
    std::string file;
    int boards = 0;                    // its true count
    std::optional<std::string> error;  // why it could not be searched
    std::string warning;
};

struct NeverRight {
    std::string file;
    int boards = 0;
    int nearest = 0;  // the count nearest `boards` that any setting reaches
};

// How well the choice generalises: for each photograph, whether the settings (and region) that
// the same rule chooses from the other photographs count it right.
struct LeaveOneOut {
    int right = 0;
    int of = 0;
    // On how many the THICKNESS fitted from the others gives the true boards (within half a board)
    // from the band at the settings chosen from the others.
    int thicknessAgreed = 0;
};

// The THICKNESS fitted to the photographs the chosen settings count right, and on how many of
// them it agrees with the count; a second opinion only where it agrees on all.
struct ThicknessFit {
    int hundredths = 0;  // 0: none could be fitted
    int agrees = 0;
    int of = 0;
    // The photographs it disagrees on: each one's rows a board.
    std::vector<std::pair<std::string, double>> disagreeing;

    bool usable() const { return hundredths > 0 && agrees == of; }
};

struct Calibration {
    int photographs = 0;              // searched
    int bdLineMax = 0;                // BDLINE searched from 0 to the width of the counted part
    std::vector<RightCounts> counts;  // in the chosen region, per STRETCH, from 1 up
    SettingsChoice choice;            // its settings carry the chosen region, if any
    bool regionSearched = false;      // whether column windows were searched for the region
    // Whether each photograph was also searched along its slope and within its stack found (the
    // settings in effect count stacks photographed by hand); the choice's ANGLE and REGION say
    // which way of counting won.
    bool handHeldSearched = false;
    int windowsSearched = 1;
    Settings current;
    int currentRight = 0;
    std::vector<NeverRight> neverRight;
    LeaveOneOut leaveOneOut;
    ThicknessFit thickness;
};

struct CalibrationOptions {
    int jobs = 1;
    bool findRegion = false;
    // Search every column window of the finest grid, not coarse to fine (for checking the
    // coarse-to-fine search; far slower).
    bool everyWindow = false;
    // How margins are measured (for comparing the choice's rules).
    MarginRule rule{};
    // Told after each photograph decoded and searched, and after each column window searched:
    // how many are done, of how many there are (for windows, as far as can be told before the
    // search ends).
    struct Step {
        bool windows = false;
        std::size_t done = 0;
        std::size_t total = 0;
    };
    std::function<void(const Step&)> progress{};
    // Set, while the search runs, to end it soon: after the photographs or the column window
    // at hand. Nothing is chosen then.
    const std::atomic<bool>* stop = nullptr;
};

// Searches the landscapes of every photograph `truth` names, at every STRETCH, within the region
// in effect or, with findRegion, within each column window searched; `jobs` photographs at a
// time within one pixel budget (see pixel_budget.h). Hands each photograph's search to `report`
// in TRUTH order. Photographs that cannot be searched are left out of the choice. Nothing is
// chosen when no photograph is left.
std::optional<Calibration> calibrate(const std::vector<TruthRow>& truth, const Settings& current,
                                     const CalibrationOptions& options,
                                     const std::function<void(const PhotographSearch&)>& report);

// The last part of the search for the region: from window `at` (its left and right edges on a
// grid of `parts`, at least `narrowest` apart), one step of an edge at a time to the best of the
// window and its neighbours, which `bestOf` picks (the window itself comes last), as long as a
// step leads somewhere new: a plateau of settings that stays as wide while the window widens
// leads there. Windows as good as each other may lead back and forth; the climb ends where it
// would come back to a window it has stood on. Gives the window it ends on.
std::pair<int, int> climbWindows(
    std::pair<int, int> at, int parts, int narrowest,
    const std::function<std::pair<int, int>(const std::vector<std::pair<int, int>>&)>& bestOf);

// The comment lines a settings file written from a calibration starts with, the same from the
// batch counter and the window: what wrote it from which list ("lathmark-count --calibrate
// truth.tsv"), the date, the photographs counted right, the margin and the leave-one-out figure.
std::string settingsHeader(const Calibration& calibration, const std::string& writtenFrom);

}  // namespace lathmark
