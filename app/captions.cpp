#include "app/captions.h"

#include <chrono>

namespace lathmark {

std::string detectionMessage(long long boards) {
    return "Detected " + std::to_string(boards) + " obvious lines.";
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

}  // namespace lathmark
