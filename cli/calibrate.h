#pragma once
// Calibration: the settings that count the most photographs of known count right, found from
// the landscape of each photograph.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/truth.h"
#include "engine/calibration.h"

namespace lathmark {

// What a search of one photograph's landscape left behind.
struct PhotographSearch {
    std::string file;
    int boards = 0;                    // its true count
    std::optional<std::string> error;  // why it could not be searched
    std::string warning;
    int width = 0;  // its landscapes' BDLINE runs from 0 to this
    // [STRETCH - 1][THRESHOLD][BDLINE]: whether the setting counts it right.
    std::vector<bool> right;
    std::vector<int> nearest;  // per BDLINE, the count nearest its boards at any other setting
    int currentBoards = 0;     // at the current settings; 0 if there is no band to count

    bool rightAt(int stretch, int threshold, int bdLine) const {
        const auto columns = static_cast<std::size_t>(width + 1);
        return right[(static_cast<std::size_t>(stretch - 1) * kThresholds +
                      static_cast<std::size_t>(threshold)) *
                         columns +
                     static_cast<std::size_t>(bdLine)];
    }
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
    int currentThreshold = 0;
    int currentBdLine = 0;
    int currentStretch = 1;
    int currentRight = 0;
    std::vector<NeverRight> neverRight;
};

// Searches the landscapes of every photograph `truth` names, at every STRETCH, `jobs` at a
// time, and hands each search to `report` in TRUTH order as it is done. Photographs that
// cannot be searched are left out of the choice. Nothing is chosen when no photograph is left.
std::optional<Calibration> calibrate(const std::vector<TruthRow>& truth, int currentThreshold,
                                     int currentBdLine, int currentStretch, int jobs,
                                     const std::function<void(const PhotographSearch&)>& report);

}  // namespace lathmark
