#include "engine/settings.h"

namespace lathmark {

std::optional<std::string> thresholdProblem(int threshold) {
    if (threshold >= Settings::kMinThreshold && threshold <= Settings::kMaxThreshold)
        return std::nullopt;
    return "THRESHOLD " + std::to_string(threshold) + " is outside " +
           std::to_string(Settings::kMinThreshold) + " to " +
           std::to_string(Settings::kMaxThreshold) +
           ": the passes at THRESHOLD + 10 need a grey level of at most 255";
}

std::optional<std::string> stretchProblem(int stretch) {
    if (stretch >= Settings::kMinStretch && stretch <= Settings::kMaxStretch) return std::nullopt;
    return "STRETCH " + std::to_string(stretch) + " is outside " +
           std::to_string(Settings::kMinStretch) + " to " + std::to_string(Settings::kMaxStretch) +
           ": each photograph row is repeated STRETCH times";
}

std::optional<std::string> bdLineProblem(int bdLine) {
    if (bdLine >= Settings::kMinBdLine && bdLine <= Settings::kMaxBdLine) return std::nullopt;
    return "BDLINE " + std::to_string(bdLine) + " is outside " +
           std::to_string(Settings::kMinBdLine) + " to " + std::to_string(Settings::kMaxBdLine) +
           ", the values a settings file holds";
}

std::optional<std::string> countingProblem(const Settings& settings) {
    if (auto problem = thresholdProblem(settings.threshold)) return problem;
    return stretchProblem(settings.stretch);
}

}  // namespace lathmark
