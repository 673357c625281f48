#include "cli/texts.h"

#include <cstdio>

namespace lathmark {

std::string terminalText(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    const auto escaped = [&shown](unsigned char byte) {
        shown += "\\x";
        shown += kHex[byte >> 4];
        shown += kHex[byte & 0x0F];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = static_cast<unsigned char>(i + 1 < text.size() ? text[i + 1] : '\0');
        if (byte == '\n') {
            shown += "\\n";
        } else if (byte == '\r') {
            shown += "\\r";
        } else if (byte == '\t') {
            shown += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            escaped(byte);
        } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            escaped(byte);
            escaped(next);
            ++i;
        } else {
            shown += static_cast<char>(byte);
        }
    }
    return shown;
}

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
           range(stable.bdLine);
}

std::string hundredthsOf(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string certaintySentence(const Certainty& certainty,
                              const std::optional<StabilityRanges>& stable) {
    std::string text;
    if (certainty.byThickness)
        text += "; by thickness " + hundredthsOf(*certainty.byThickness) + " boards";
    if (certainty.byRhythm) {
        char boards[32];
        std::snprintf(boards, sizeof boards, "%.1f", certainty.byRhythm->boards);
        text += std::string("; by rhythm ") + boards + " boards";
    }
    if (stable) text += stabilitySentence(*stable);
    return text;
}

}  // namespace lathmark
