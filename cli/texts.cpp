#include "cli/texts.h"

#include <cstdio>

namespace lathmark {

std::string tenthsText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string stabilitySentence(const StabilityRanges& stable) {
    auto range = [](const std::array<int, 2>& r) {
        return std::to_string(r[0]) + " to " + std::to_string(r[1]);
    };
    return "; the same boards at THRESHOLD " + range(stable.threshold) + " and BDLINE " +
           range(stable.bdLine) + (stable.uncertain ? ", uncertain" : "");
}

}  // namespace lathmark
