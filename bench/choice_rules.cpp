// bench_choice_rules [--find-region] [--rule N]... TRUTH...
// bench_choice_rules --compare-grid TRUTH...
//
// Compares the ways a calibration can measure a setting's margin by how well each one's choice
// generalises: for every TRUTH file and every rule, the settings (and region) chosen from all
// photographs, how many they count right, and the leave-one-out figure: for each photograph,
// whether the choice made without it counts it right. Prints one line per file and rule, and the
// leave-one-out totals per rule.
//
// With --compare-grid, the search for the region coarse to fine against the search of every
// column window of the finest grid, with the rule calibration uses: the region and settings each
// chooses, and how long each took.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "engine/calibration_search.h"

namespace {

using lathmark::MarginRule;

// The units of BDLINE distance compared with calibration's own, in tenths of BDLINE (see
// MarginRule): 10 % of the BDLINE measured from (at least 1), 1 % of the widest BDLINE searched
// (at least 1), and 1.
std::int64_t tenthOfBdLine(int bdLine, int) {
    return std::max<std::int64_t>(10, std::abs(bdLine));
}
std::int64_t hundredthOfWidth(int, int bdLineMax) {
    return std::max<std::int64_t>(10, bdLineMax / 10);
}
std::int64_t oneStep(int, int) {
    return 10;
}

const MarginRule::Unit kOwn = &lathmark::tenthOfBdLineAtLeastHundredthOfWidth;
const std::pair<MarginRule, const char*> kRules[] = {
    {{&tenthOfBdLine, false}, "10 % of BDLINE"},
    {{&hundredthOfWidth, false}, "1 % of the width"},
    {{kOwn, false}, "10 % BDLINE, 1 % W"},
    {{&oneStep, false}, "1 BDLINE"},
    {{nullptr, false}, "no margin"},
    {{&tenthOfBdLine, true}, "10 % BDLINE, end"},
    {{kOwn, true}, "10 %, 1 % W, end"},
    {{&hundredthOfWidth, true}, "1 % of W, end"},
};

}  // namespace

// The coarse-to-fine search for the region against every window of the finest grid.
int compareGrid(const std::vector<std::string>& truths) {
    const lathmark::Settings current{.threshold = 128, .bdLine = 40};
    int differing = 0;
    for (const std::string& file : truths) {
        const lathmark::TruthRead truth = lathmark::readTruth(file);
        if (truth.error) return 2;
        std::string chosen[2];
        for (const bool every : {false, true}) {
            const auto start = std::chrono::steady_clock::now();
            const auto calibration = lathmark::calibrate(
                truth.rows, current, {.jobs = 2, .findRegion = true, .everyWindow = every},
                [](const auto&) {});
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (!calibration) return 2;
            const lathmark::Settings& settings = calibration->choice.settings;
            chosen[every] = (settings.region ? lathmark::regionText(*settings.region) : "whole") +
                            " THRESHOLD=" + std::to_string(settings.threshold) +
                            " BDLINE=" + std::to_string(settings.bdLine) +
                            " STRETCH=" + std::to_string(settings.stretch) + ", " +
                            std::to_string(calibration->choice.right) + " right";
            std::printf("%-32s %-14s %3d windows %7.1f s  %s\n", file.c_str(),
                        every ? "every window" : "coarse to fine", calibration->windowsSearched,
                        seconds, chosen[every].c_str());
            std::fflush(stdout);
        }
        if (chosen[0] != chosen[1]) ++differing;
    }
    std::printf("%d of %zu sets choose otherwise coarse to fine\n", differing, truths.size());
    return differing == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--compare-grid")
        return compareGrid(std::vector<std::string>(argv + 2, argv + argc));
    bool findRegion = false;
    std::vector<std::string> truths;
    std::vector<std::size_t> rules;  // the rules to compare, by their place in kRules
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--find-region")
            findRegion = true;
        else if (argument == "--rule" && i + 1 < argc)
            rules.push_back(static_cast<std::size_t>(std::atoi(argv[++i])));
        else
            truths.push_back(argument);
    }
    if (rules.empty())
        for (std::size_t i = 0; i < std::size(kRules); ++i) rules.push_back(i);
    if (truths.empty()) {
        std::fprintf(stderr, "usage: bench_choice_rules [--find-region] TRUTH...\n");
        return 2;
    }
    const lathmark::Settings current{.threshold = 128, .bdLine = 40};
    std::map<const char*, std::pair<int, int>> totals;
    for (const std::string& file : truths) {
        const lathmark::TruthRead truth = lathmark::readTruth(file);
        if (truth.error) {
            std::fprintf(stderr, "%s\n", truth.error->c_str());
            return 2;
        }
        for (const std::size_t index : rules) {
            if (index >= std::size(kRules)) continue;
            const auto& [rule, name] = kRules[index];
            const lathmark::CalibrationOptions options{
                .jobs = 2, .findRegion = findRegion, .rule = rule};
            const auto calibration =
                lathmark::calibrate(truth.rows, current, options, [](const auto&) {});
            if (!calibration) continue;
            const lathmark::Settings& chosen = calibration->choice.settings;
            const lathmark::LeaveOneOut& loo = calibration->leaveOneOut;
            std::printf(
                "%-40s %-18s THRESHOLD=%3d BDLINE=%4d STRETCH=%d %s right %2d of %2d, "
                "left out %2d of %2d\n",
                file.c_str(), name, chosen.threshold, chosen.bdLine, chosen.stretch,
                chosen.region ? lathmark::regionText(*chosen.region).c_str() : "whole",
                calibration->choice.right, calibration->photographs, loo.right, loo.of);
            std::fflush(stdout);
            totals[name].first += loo.right;
            totals[name].second += loo.of;
        }
    }
    for (const std::size_t index : rules)
        if (index < std::size(kRules)) {
            const char* name = kRules[index].second;
            std::printf("total %-18s left out right %d of %d\n", name, totals[name].first,
                        totals[name].second);
        }
    return 0;
}
