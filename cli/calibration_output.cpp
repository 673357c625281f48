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

std::optional<std::string> weakChoice(const Calibration& calibration,
                                      const std::string& countsFrom) {
    std::string why;
    const LeaveOneOut& loo = calibration.leaveOneOut;
    if (calibration.choice.margin && *calibration.choice.margin < 1.0)
        why = "a setting within " + hundredthsOf(*calibration.choice.margin) +
              " units of it counts fewer photographs right";
    if (loo.right < loo.of)
        why += std::string(why.empty() ? "" : ", and ") + "chosen without them, " +
               std::to_string(loo.of - loo.right) + " of " + std::to_string(loo.of) +
               " photographs would have been counted wrong";
    if (why.empty()) return std::nullopt;
    return "choice is weak: " + why + ". A wrong count in " + countsFrom +
           ", or too few photographs, is the usual cause: check "
           "the counts, or add photographs of the stacks that go wrong";
}

std::optional<std::string> noThicknessWhy(const Calibration& calibration) {
    const ThicknessFit& fit = calibration.thickness;
    if (fit.usable()) return std::nullopt;
    if (fit.hundredths == 0)
        return std::string("no THICKNESS: no photograph counted right gives a band to fit it to");
    std::string why =
        "no THICKNESS: the boards of these photographs vary too much in thickness for "
        "a second opinion:";
    for (std::size_t i = 0; i < fit.disagreeing.size(); ++i)
        why += (i == 0 ? " " : ", ") + fit.disagreeing[i].first + " has " +
               hundredthsOf(fit.disagreeing[i].second) + " rows a board";
    return why + ", against " + hundredthsText(fit.hundredths) + " fitted to all";
}

void printCalibration(const Calibration& calibration, std::ostream& out,
                      const std::string& countsFrom) {
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
            << " to the nearest setting that counts fewer right (1 = 3 grey levels, or 10 % of "
               "BDLINE but at least 1 % of the width)\n";
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
    else if (calibration.choice.settings.regionFound)
        out << "  with ANGLE=auto REGION=auto: along the slope found and within the stack found "
               "in each photograph (better than "
            << (calibration.regionSearched ? "the best column window" : "the region in effect")
            << " with ANGLE=0)\n";
    else if (calibration.regionSearched)
        out << "  within the whole photograph (the best of " << calibration.windowsSearched
            << " column windows)\n";
    if (calibration.handHeldSearched && !calibration.choice.settings.regionFound)
        out << "  with ANGLE=0: the rows as they are (no better along the slope found and within "
               "the stack found in each photograph)\n";
    const ThicknessFit& fit = calibration.thickness;
    if (fit.hundredths > 0)
        out << "  THICKNESS " << hundredthsText(fit.hundredths)
            << " rows: the stack's height agrees "
            << "with the count of " << fit.agrees << " of the " << fit.of
            << " photographs counted right\n";
    if (calibration.choice.settings.regionFound)
        out << "  no THICKNESS: the stack's rhythm is each count's second opinion\n";
    else if (auto why = noThicknessWhy(calibration))
        out << "  " << terminalText(*why) << '\n';
    const LeaveOneOut& loo = calibration.leaveOneOut;
    out << "Chosen without it, each photograph is counted right in " << loo.right << " of "
        << loo.of << " cases.";
    if (fit.hundredths > 0)
        out << " The thickness fitted without it agrees with it in " << loo.thicknessAgreed
            << " of " << loo.of << ".";
    out << '\n';
    if (auto weak = weakChoice(calibration, countsFrom)) out << "The " << *weak << ".\n";
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
    if (calibration.handHeldSearched) {
        object["calibration"]["angle"] = angleText(choice.settings.angle);
        if (choice.settings.regionFound) object["calibration"]["region"] = kFoundRegionText;
    }
    if (const std::optional<Region>& region = choice.settings.region)
        object["calibration"]["region"] = {{"left", region->left},
                                           {"top", region->top},
                                           {"width", region->width},
                                           {"height", region->height}};
    object["calibration"]["leaveOneOut"] = {
        {"right", calibration.leaveOneOut.right},
        {"of", calibration.leaveOneOut.of},
        {"thicknessAgreed", calibration.leaveOneOut.thicknessAgreed}};
    if (calibration.thickness.hundredths > 0) {
        object["calibration"]["thickness"] =
            static_cast<double>(calibration.thickness.hundredths) / 100.0;
        object["calibration"]["thicknessAgrees"] = {{"right", calibration.thickness.agrees},
                                                    {"of", calibration.thickness.of}};
    }
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
