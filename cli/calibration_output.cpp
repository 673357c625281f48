#include "cli/calibration_output.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace lathmark {
namespace {

std::string settingsWords(int threshold, int bdLine, int stretch) {
    return "THRESHOLD=" + std::to_string(threshold) + " BDLINE=" + std::to_string(bdLine) +
           " STRETCH=" + std::to_string(stretch);
}

std::string rangeWords(const std::array<int, 2>& range) {
    return std::to_string(range[0]) + " to " + std::to_string(range[1]);
}

}  // namespace

void printCalibration(const Calibration& calibration, std::ostream& out) {
    const SettingsChoice& choice = calibration.choice;
    const std::string ofAll = " of " + std::to_string(calibration.photographs) + " photographs";
    out << "Chosen: " << settingsWords(choice.threshold, choice.bdLine, choice.stretch)
        << " counts " << choice.right << ofAll << " right\n";
    out << "  as many right at THRESHOLD " << rangeWords(choice.thresholdRange) << " (BDLINE "
        << choice.bdLine << ") and at BDLINE " << rangeWords(choice.bdLineRange) << " (THRESHOLD "
        << choice.threshold << ")\n";
    if (choice.margin) {
        char margin[32];
        std::snprintf(margin, sizeof margin, "%.2f", *choice.margin);
        out << "  margin " << margin
            << " to the nearest setting that counts fewer right (1 = 3 grey levels or 10 % of "
               "BDLINE)\n";
    } else {
        out << "  every setting searched counts as many right\n";
    }
    out << "Current: "
        << settingsWords(calibration.currentThreshold, calibration.currentBdLine,
                         calibration.currentStretch)
        << " counts " << calibration.currentRight << ofAll << " right\n";
    out << "Searched THRESHOLD 0 to " << kMaxThreshold << ", BDLINE 0 to " << calibration.bdLineMax
        << " and STRETCH 1 to " << calibration.counts.size() << '\n';
    for (const NeverRight& photograph : calibration.neverRight)
        out << "Never right: " << photograph.file << ": at best " << photograph.nearest << " of "
            << photograph.boards << " boards\n";
}

std::string calibrationJson(const Calibration& calibration) {
    using Json = nlohmann::ordered_json;
    const SettingsChoice& choice = calibration.choice;
    Json object;
    object["calibration"] = {{"threshold", choice.threshold},
                             {"bdline", choice.bdLine},
                             {"stretch", choice.stretch},
                             {"right", choice.right},
                             {"photographs", calibration.photographs},
                             {"thresholdRange", choice.thresholdRange},
                             {"bdlineRange", choice.bdLineRange}};
    object["current"] = {{"threshold", calibration.currentThreshold},
                         {"bdline", calibration.currentBdLine},
                         {"stretch", calibration.currentStretch},
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
