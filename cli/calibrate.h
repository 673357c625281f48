#pragma once
// Calibration: the settings that count the most photographs of known count right, found from
// the landscape of each photograph.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/truth.h"
#include "engine/calibration.h"
#include "engine/grid.h"
#include "engine/settings.h"

namespace lathmark {

// What a search of one photograph's landscape left behind.
struct PhotographSearch {
    std::string file;
    int boards = 0;                    // its true count
    std::optional<std::string> error;  // why it could not be searched
    std::string warning;
    int width = 0;  // its landscapes' BDLINE runs from 0 to this
    // Per STRETCH from 1 up: whether each setting counts it right.
    std::vector<SettingsGrid<bool>> right;
    std::vector<int> nearest;  // per BDLINE, the count nearest its boards at any other setting
    int currentBoards = 0;     // at the current settings; 0 if there is no band to count
};

struct NeverRight {
    std::string file;
    int boards = 0;
    int nearest = 0;  // the count nearest `boards` that any setting reaches
};

struct Calibration {
    int photographs = 0;              // searched
    int bdLineMax = 0;                // BDLINE searched from 0 to the narrowest photograph's width
    std::vector<RightCounts> counts;  // per STRETCH, from 1 up
    SettingsChoice choice;
    Settings current;
    int currentRight = 0;
    std::vector<NeverRight> neverRight;
};

// Searches the landscapes of every photograph `truth` names, at every STRETCH, `jobs` at a
// time within one pixel budget (see pixel_budget.h), and hands each search to `report` in TRUTH
// order as it is done. Photographs that cannot be searched are left out of the choice. Nothing is
// chosen when no photograph is left.
std::optional<Calibration> calibrate(const std::vector<TruthRow>& truth, const Settings& current,
                                     int jobs,
                                     const std::function<void(const PhotographSearch&)>& report);

}  // namespace lathmark
