#include "cli/calibrate.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "cli/batch.h"
#include "engine/landscape.h"
#include "engine/preparation.h"

namespace lathmark {
namespace {

// Whether count `a` lies nearer `boards` than count `b`; of two as near, the smaller.
bool nearer(int a, int b, int boards) {
    const int da = std::abs(a - boards);
    const int db = std::abs(b - boards);
    return da != db ? da < db : a < b;
}

PhotographSearch search(const TruthRow& row, const Settings& current, PixelBudget& budget) {
    PhotographSearch found;
    found.file = row.file;
    found.boards = row.boards;
    PixelBudget::Share share(&budget);
    StepResult<Bitmap> decoded = decodeJpegFile(row.file, &share);
    if (!decoded.ok()) {
        found.error = decoded.failure;
        return found;
    }
    found.warning = decoded.warning;
    const StepResult<ThresholdTable> table = ThresholdTable::build(decoded.value.get());
    if (!table.ok()) {
        found.error = table.failure;
        return found;
    }
    decoded.value.reset();  // the table holds all the search needs of it
    share.giveBack();

    found.width = table.value.width();
    found.nearest.assign(static_cast<std::size_t>(found.width) + 1, 0);
    std::optional<std::string> failure;
    bool anyBand = false;
    for (int stretch = Settings::kMinStretch; stretch <= Settings::kMaxStretch; ++stretch) {
        const Landscape landscape = settingsLandscape(table.value, found.width, stretch);
        SettingsGrid<bool>& right = found.right.emplace_back(found.width, false);
        for (int threshold = 0; threshold < kThresholds; ++threshold) {
            if (!landscape.counted(threshold)) {
                failure = landscape.failure(threshold);
                continue;
            }
            for (int bdLine = 0; bdLine <= found.width; ++bdLine) {
                const int boards = landscape.boards(threshold, bdLine);
                int& nearest = found.nearest[static_cast<std::size_t>(bdLine)];
                right.at(threshold, bdLine) = boards == row.boards;
                if (!anyBand || nearer(boards, nearest, row.boards)) nearest = boards;
            }
            anyBand = true;
        }
    }
    if (!anyBand) {
        found.error = failure;
        return found;
    }
    PassWork work;
    if (const auto lines = countAt(table.value, current, work))
        found.currentBoards = boardsOf(*lines);
    return found;
}

}  // namespace

std::optional<Calibration> calibrate(const std::vector<TruthRow>& truth, const Settings& current,
                                     int jobs,
                                     const std::function<void(const PhotographSearch&)>& report) {
    std::vector<PhotographSearch> searched;
    PixelBudget budget(kMaxPhotographPixels);
    inOrder(
        truth.size(), jobs, [&](std::size_t i) { return search(truth[i], current, budget); },
        [&](PhotographSearch& found) {
            report(found);
            if (!found.error) searched.push_back(std::move(found));
        });
    if (searched.empty()) return std::nullopt;

    Calibration calibration;
    calibration.photographs = static_cast<int>(searched.size());
    calibration.bdLineMax = INT_MAX;
    for (const PhotographSearch& found : searched)
        calibration.bdLineMax = std::min(calibration.bdLineMax, found.width);
    calibration.counts.assign(searched.front().right.size(), RightCounts(calibration.bdLineMax));
    calibration.current = current;
    for (const PhotographSearch& found : searched) {
        for (std::size_t stretch = 0; stretch < calibration.counts.size(); ++stretch) {
            RightCounts& counts = calibration.counts[stretch];
            for (int threshold = 0; threshold < kThresholds; ++threshold)
                for (int bdLine = 0; bdLine <= calibration.bdLineMax; ++bdLine)
                    if (found.right[stretch].at(threshold, bdLine)) ++counts.at(threshold, bdLine);
        }
        if (found.currentBoards == found.boards) ++calibration.currentRight;
    }
    calibration.choice = chooseSettings(calibration.counts, current);

    for (const PhotographSearch& found : searched) {
        const auto columns = static_cast<std::size_t>(calibration.bdLineMax + 1);
        const auto nearest = std::min_element(
            found.nearest.begin(), found.nearest.begin() + static_cast<std::ptrdiff_t>(columns),
            [&](int a, int b) { return nearer(a, b, found.boards); });
        if (*nearest != found.boards)
            calibration.neverRight.push_back({found.file, found.boards, *nearest});
    }
    return calibration;
}

}  // namespace lathmark
