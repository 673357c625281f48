#include "cli/calibration_output.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/texts.h"

namespace lathmark {
namespace {

std::string settingsWords(const Settings& settings) {
    return "THRESHOLD=" + std::to_string(settings.threshold) +
           " BDLINE=" + std::to_string(settings.bdLine) +
           " STRETCH=" + std::to_string(settings.stretch);
}

std::string rangeWords(const std::array<int, 2>& range) {
    return std::to_string(range[0]) + " to " + std::to_string(range[1]);
}

}  // namespace

void printCalibration(const Calibration& calibration, std::ostream& out) {
    const SettingsChoice& choice = calibration.choice;
    const std::string ofAll = " of " + std::to_string(calibration.photographs) + " photographs";
    const Settings& chosen = choice.settings;
    out << "Chosen: " << settingsWords(chosen) << " counts " << choice.right << ofAll << " right\n";
    out << "  as many right at THRESHOLD " << rangeWords(choice.thresholdRange) << " (BDLINE "
        << chosen.bdLine << ") and at BDLINE " << rangeWords(choice.bdLineRange) << " (THRESHOLD "
        << chosen.threshold << ")\n";
    if (choice.margin) {
        char margin[32];
        std::snprintf(margin, sizeof margin, "%.2f", *choice.margin);
        out << "  margin " << margin
            << " to the nearest setting that counts fewer right (1 = 3 grey levels or 10 % of "
               "BDLINE)\n";
    } else {
        out << "  every setting searched counts as many right\n";
    }
    if (calibration.choice.settings.region)
        out << "  within the region " << regionText(*calibration.choice.settings.region)
            << (calibration.regionSearched
                    ? " (found among " + std::to_string(calibration.windowsSearched) +
                          " column windows)"
                    : "")
            << '\n';
    else if (calibration.regionSearched)
        out << "  within the whole photograph (the best of " << calibration.windowsSearched
            << " column windows)\n";
    const LeaveOneOut& loo = calibration.leaveOneOut;
    out << "Chosen without it, each photograph is counted right in " << loo.right << " of "
        << loo.of << " cases.\n";
    out << "Current: " << settingsWords(calibration.current) << " counts "
        << calibration.currentRight << ofAll << " right\n";
    out << "Searched THRESHOLD 0 to " << Settings::kMaxThreshold << ", BDLINE 0 to "
        << calibration.bdLineMax << " and STRETCH 1 to " << calibration.counts.size() << '\n';
    for (const NeverRight& photograph : calibration.neverRight)
        out << "Never right: " << terminalText(photograph.file) << ": at best "
            << photograph.nearest << " of " << photograph.boards << " boards\n";
}

std::string calibrationJson(const Calibration& calibration) {
    using Json = nlohmann::ordered_json;
    const SettingsChoice& choice = calibration.choice;
    Json object;
    object["calibration"] = {
        {"threshold", choice.settings.threshold}, {"bdline", choice.settings.bdLine},
        {"stretch", choice.settings.stretch},     {"right", choice.right},
        {"photographs", calibration.photographs}, {"thresholdRange", choice.thresholdRange},
        {"bdlineRange", choice.bdLineRange}};
    if (const std::optional<Region>& region = choice.settings.region)
        object["calibration"]["region"] = {{"left", region->left},
                                           {"top", region->top},
                                           {"width", region->width},
                                           {"height", region->height}};
    object["calibration"]["leaveOneOut"] = {{"right", calibration.leaveOneOut.right},
                                            {"of", calibration.leaveOneOut.of}};
    object["current"] = {{"threshold", calibration.current.threshold},
                         {"bdline", calibration.current.bdLine},
                         {"stretch", calibration.current.stretch},
                         {"right", calibration.currentRight}};
    Json never = Json::array();
    for (const NeverRight& photograph : calibration.neverRight)
        never.push_back({{"file", photograph.file},
                         {"boards", photograph.boards},
                         {"nearest", photograph.nearest}});
    object["neverRight"] = never;
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace lathmark
