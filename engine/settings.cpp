#include "engine/settings.h"

#include <algorithm>
#include <array>

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

std::string quoted(std::string_view text) {
    constexpr std::size_t kMostBytes = 40;
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (char c : text.substr(0, kMostBytes)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte > 0x7E) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    if (text.size() > kMostBytes) out += "...";
    out += '"';
    return out;
}

std::string regionText(const Region& region) {
    return std::to_string(region.width) + "x" + std::to_string(region.height) + "+" +
           std::to_string(region.left) + "+" + std::to_string(region.top);
}

RegionParsed parseRegion(std::string_view text) {
    auto none = [&](const std::string& why) {
        return RegionParsed{std::nullopt, quoted(text) + why};
    };
    // Four numbers: the sizes, each perhaps with a minus sign, then the offsets, each after its
    // sign.
    std::array<long long, 4> numbers{};
    std::array<bool, 4> negative{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (i == 1) {
            if (at >= text.size() || (text[at] != 'x' && text[at] != 'X'))
                return none(" is not of the form WxH+X+Y");
            ++at;
        }
        if (i >= 2 && (at >= text.size() || (text[at] != '+' && text[at] != '-')))
            return none(" is not of the form WxH+X+Y");
        if (at < text.size() && (text[at] == '-' || (i >= 2 && text[at] == '+')))
            negative[i] = text[at++] == '-';
        const std::size_t start = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            numbers[i] = std::min<long long>(numbers[i] * 10 + (text[at] - '0'), 1'000'000);
            ++at;
        }
        if (at == start) return none(" is not of the form WxH+X+Y");
    }
    if (at != text.size()) return none(" is not of the form WxH+X+Y");
    if (negative[0] || negative[1]) return none(": its width and height must be at least 1");
    if (negative[2] || negative[3]) return none(": the left column and top row cannot be negative");
    for (long long number : numbers)
        if (number > Settings::kMaxRegionNumber)
            return none(": its numbers are pixels, at most " +
                        std::to_string(Settings::kMaxRegionNumber));
    if (numbers[0] == 0 || numbers[1] == 0)
        return none(": its width and height must be at least 1");
    return {Region{static_cast<int>(numbers[2]), static_cast<int>(numbers[3]),
                   static_cast<int>(numbers[0]), static_cast<int>(numbers[1])},
            {}};
}

std::string countingSettingsText(const Settings& settings) {
    return "THRESHOLD=" + std::to_string(settings.threshold) +
           " BDLINE=" + std::to_string(settings.bdLine) +
           " STRETCH=" + std::to_string(settings.stretch) + " REGION=" +
           (settings.regionFound ? std::string(kFoundRegionText)
            : settings.region    ? regionText(*settings.region)
                                 : "full") +
           " THICKNESS=" + hundredthsText(settings.thicknessHundredths) +
           (settings.angle.level() ? "" : " ANGLE=" + angleText(settings.angle));
}

std::string angleText(const Angle& angle) {
    if (angle.automatic) return "auto";
    const long long hundredths = angle.hundredths;
    return (hundredths < 0 ? "-" : "") + hundredthsText(hundredths < 0 ? -hundredths : hundredths);
}

std::string hundredthsText(long long hundredths) {
    std::string text = std::to_string(hundredths / 100);
    const long long rest = hundredths % 100;
    if (rest != 0) {
        text += '.';
        text += static_cast<char>('0' + rest / 10);
        if (rest % 10 != 0) text += static_cast<char>('0' + rest % 10);
    }
    return text;
}

namespace {

// A decimal number with a dot as separator in hundredths, its sign apart (digits past the second
// decimal rounded away, halves up; the whole part held below a million); nothing for any other
// text.
struct Hundredths {
    bool negative = false;
    long long value = 0;
};
std::optional<Hundredths> decimalHundredths(std::string_view text) {
    std::size_t at = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative || (!text.empty() && text[0] == '+')) ++at;
    long long whole = 0;
    const std::size_t digits = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9')
        whole = std::min<long long>(whole * 10 + (text[at++] - '0'), 1'000'000);
    long long fraction = 0;  // hundredths
    int decimals = 0;
    bool roundUp = false;
    const bool dot = at < text.size() && text[at] == '.';
    if (dot) ++at;
    while (dot && at < text.size() && text[at] >= '0' && text[at] <= '9') {
        if (decimals < 2)
            fraction = fraction * 10 + (text[at] - '0');
        else if (decimals == 2)
            roundUp = text[at] >= '5';
        ++decimals;
        ++at;
    }
    if (at != text.size() || at == digits + (dot ? 1 : 0)) return std::nullopt;
    while (decimals < 2) fraction *= 10, ++decimals;
    return Hundredths{negative, whole * 100 + fraction + (roundUp ? 1 : 0)};
}

}  // namespace

ThicknessParsed parseThickness(std::string_view text) {
    const std::optional<Hundredths> number = decimalHundredths(text);
    if (!number) return {std::nullopt, quoted(text) + " is not a number of rows such as 50.1"};
    const long long hundredths = number->value;
    if (number->negative && hundredths != 0) return {std::nullopt, quoted(text) + " is negative"};
    // A thickness that is not 0 but rounds to it would turn the second opinion off unsaid.
    if (hundredths == 0 && text.find_first_of("123456789") != std::string_view::npos)
        return {std::nullopt, quoted(text) +
                                  " rounds to 0: give at least 0.01 rows, or 0 for no second "
                                  "opinion"};
    if (hundredths > Settings::kMaxThicknessHundredths)
        return {std::nullopt, quoted(text) + " is above 65535 rows"};
    return {static_cast<int>(hundredths), {}};
}

AngleParsed parseAngle(std::string_view text) {
    if (text == "auto") return {Angle{0, true}, {}};
    const std::optional<Hundredths> number = decimalHundredths(text);
    if (!number)
        return {std::nullopt,
                quoted(text) + " is not a slope in degrees such as 1.5 or -2, nor auto"};
    if (number->value > Settings::kMaxAngleHundredths)
        return {std::nullopt, quoted(text) + " is steeper than " +
                                  std::to_string(Settings::kMaxAngleHundredths / 100) +
                                  " degrees either way"};
    const auto hundredths = static_cast<int>(number->value);
    return {Angle{number->negative ? -hundredths : hundredths, false}, {}};
}

std::optional<std::string> regionProblem(const std::optional<Region>& region, int photographWidth,
                                         int photographHeight) {
    if (!region || region->fits(photographWidth, photographHeight)) return std::nullopt;
    return "the region " + regionText(*region) + " does not fit this photograph of " +
           std::to_string(photographWidth) + " × " + std::to_string(photographHeight);
}

std::optional<std::string> countingProblem(const Settings& settings) {
    if (auto problem = thresholdProblem(settings.threshold)) return problem;
    return stretchProblem(settings.stretch);
}

}  // namespace lathmark
