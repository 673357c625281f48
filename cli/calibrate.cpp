#include "cli/calibrate.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "cli/batch.h"
#include "engine/counting.h"
#include "engine/preparation.h"

namespace lathmark {
namespace {

// Whether count `a` lies nearer `boards` than count `b`; of two as near, the smaller.
bool nearer(int a, int b, int boards) {
    const int da = std::abs(a - boards);
    const int db = std::abs(b - boards);
    return da != db ? da < db : a < b;
}

PhotographSearch search(const TruthRow& row, int currentThreshold, int currentBdLine,
                        int currentStretch) {
    PhotographSearch found;
    found.file = row.file;
    found.boards = row.boards;
    DecodedPhotograph decoded = decodeJpeg(row.file);
    if (decoded.error) {
        found.error = decoded.error->reason;
        return found;
    }
    found.warning = decoded.warning;
    ThresholdTable table;
    if (auto failure = ThresholdTable::build(decoded.photograph.get(), table)) {
        found.error = *failure;
        return found;
    }
    decoded.photograph.reset();  // the table holds all the search needs of it

    found.width = table.width();
    const auto columns = static_cast<std::size_t>(found.width + 1);
    found.right.assign(static_cast<std::size_t>(kMaxStretch * kThresholds) * columns, false);
    found.nearest.assign(columns, 0);
    std::optional<std::string> failure;
    bool anyBand = false;
    for (int stretch = 1; stretch <= kMaxStretch; ++stretch) {
        const Landscape landscape = settingsLandscape(table, found.width, stretch);
        for (int threshold = 0; threshold < kThresholds; ++threshold) {
            if (!landscape.counted(threshold)) {
                failure = landscape.failure(threshold);
                continue;
            }
            const std::size_t first = (static_cast<std::size_t>(stretch - 1) * kThresholds +
                                       static_cast<std::size_t>(threshold)) *
                                      columns;
            for (int bdLine = 0; bdLine <= found.width; ++bdLine) {
                const int boards = landscape.boards(threshold, bdLine);
                const auto column = static_cast<std::size_t>(bdLine);
                found.right[first + column] = boards == row.boards;
                if (!anyBand || nearer(boards, found.nearest[column], row.boards))
                    found.nearest[column] = boards;
            }
            anyBand = true;
        }
    }
    if (!anyBand) {
        found.error = failure;
        return found;
    }
    PassWork work;
    if (const auto lines = countAt(table, currentThreshold, currentBdLine, work, currentStretch))
        found.currentBoards = boardsOf(*lines);
    return found;
}

}  // namespace

std::optional<Calibration> calibrate(const std::vector<TruthRow>& truth, int currentThreshold,
                                     int currentBdLine, int currentStretch, int jobs,
                                     const std::function<void(const PhotographSearch&)>& report) {
    std::vector<PhotographSearch> searched;
    inOrder(
        truth.size(), jobs,
        [&](std::size_t i) {
            return search(truth[i], currentThreshold, currentBdLine, currentStretch);
        },
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
    calibration.counts.assign(kMaxStretch, RightCounts(calibration.bdLineMax));
    calibration.currentThreshold = currentThreshold;
    calibration.currentBdLine = currentBdLine;
    calibration.currentStretch = currentStretch;
    for (const PhotographSearch& found : searched) {
        for (int stretch = 1; stretch <= kMaxStretch; ++stretch)
            calibration.counts[static_cast<std::size_t>(stretch - 1)].add(
                [&](int threshold, int bdLine) {
                    return found.rightAt(stretch, threshold, bdLine);
                });
        if (found.currentBoards == found.boards) ++calibration.currentRight;
    }
    calibration.choice = chooseSettings(calibration.counts, currentThreshold, currentBdLine);

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
