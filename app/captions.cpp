#include "app/captions.h"

#include <chrono>
#include <cmath>
#include <filesystem>

namespace lathmark {

std::string detectionMessage(long long boards) {
    return "Detected " + std::to_string(boards) + " obvious lines.";
}

std::string alreadyCountedLine(const std::string& countedAs) {
    return "Already counted in this book as " + countedAs;
}

CertaintyLine certaintyLine(const CountResult& result,
                            const std::optional<std::string>& alreadyCountedAs,
                            const std::string& separator) {
    const Certainty& certainty = result.certainty;
    std::string text;
    if (certainty.uncertain) {
        text = "Uncertain: " + certainty.why;
    } else {
        if (const auto& stable = result.stable) {
            text = "Same count from THRESHOLD " + std::to_string(stable->threshold[0]) + " to " +
                   std::to_string(stable->threshold[1]) + " and BDLINE " +
                   std::to_string(stable->bdLine[0]) + " to " + std::to_string(stable->bdLine[1]);
        } else if (!result.stabilityProblem.empty()) {
            text = result.stabilityProblem;
            text[0] =
                static_cast<char>(text[0] >= 'a' && text[0] <= 'z' ? text[0] - 'a' + 'A' : text[0]);
        }
        if (certainty.byThickness) {
            // Tenths of a board, halves up, in whole numbers so that no float prints "-0.0".
            const auto tenths =
                static_cast<long long>(std::floor(*certainty.byThickness * 10 + 0.5));
            text += std::string(text.empty() ? "By" : "; by") + " thickness " +
                    std::to_string(tenths / 10) + separator + std::to_string(tenths % 10) +
                    " boards";
        }
    }
    if (alreadyCountedAs)
        text = alreadyCountedLine(*alreadyCountedAs) + (text.empty() ? "" : "\n" + text);
    return {text, alreadyCountedAs || certainty.uncertain};
}

std::string secondsText(std::uint32_t milliseconds, const std::string& separator) {
    // Hundredths of a second, rounded half up, in whole numbers so nothing is lost to floats.
    const std::uint64_t hundredths = (std::uint64_t{milliseconds} + 5) / 10;
    const std::uint64_t whole = hundredths / 100;
    const auto fraction = static_cast<unsigned>(hundredths % 100);
    std::string text = std::to_string(whole);
    if (fraction == 0) return text;
    text += separator;
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
    return text;
}

std::string processTimeCaption(std::uint32_t milliseconds, const std::string& separator) {
    return "Process Time: " + secondsText(milliseconds, separator) + " sec.";
}

std::uint32_t tickCount() {
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

std::string settingsStanding(const std::string& doubt, const std::string& file) {
    std::string what =
        doubt.substr(doubt.find(": ") == std::string::npos ? 0 : doubt.find(": ") + 2);
    const std::string name = std::filesystem::path(file).filename().string();
    for (std::size_t at = 0; !file.empty() && (at = what.find(file, at)) != std::string::npos;
         at += name.size())
        what.replace(at, file.size(), name);
    return "Every count is uncertain until the settings file is mended: " + what;
}

}  // namespace lathmark
