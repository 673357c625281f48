#include "cli/lines.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/texts.h"

namespace lathmark {
namespace {

using Json = nlohmann::ordered_json;

double roundedTo(double value, double parts) {
    return std::round(value * parts) / parts;
}

// File names need not be valid UTF-8; JSON output replaces what is not.
std::string dumped(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

Json regionJson(const Region& region) {
    return {{"left", region.left},
            {"top", region.top},
            {"width", region.width},
            {"height", region.height}};
}

}  // namespace

void Book::add(const PhotographOutcome& outcome) {
    if (outcome.error) {
        ++failed;
        return;
    }
    ++counted;
    boards += outcome.boards();
    if (outcome.certainty.uncertain) ++uncertain;
}

std::string textLine(const PhotographOutcome& outcome) {
    const auto& p = outcome.passLines;
    return terminalText(outcome.file + ": " + std::to_string(outcome.boards()) + " boards (lines " +
                        std::to_string(p[0]) + " + " + std::to_string(p[1]) + " + " +
                        std::to_string(p[2]) + " + " + std::to_string(p[3]) + "), " +
                        tenthsText(outcome.milliseconds) + " ms" +
                        (outcome.angleHundredths
                             ? ", along " + angleText({*outcome.angleHundredths, false}) + "°"
                             : "") +
                        certaintySentence(outcome.certainty, outcome.stable) +
                        (outcome.certainty.uncertain ? ", uncertain" : "")) +
           "\n";
}

std::string textBook(const Book& book) {
    return "Book: " + std::to_string(book.boards) + " boards in " + std::to_string(book.counted) +
           " photographs" +
           (book.uncertain > 0 ? " (" + std::to_string(book.uncertain) + " uncertain)" : "") + "\n";
}

std::string jsonLine(const PhotographOutcome& outcome) {
    Json line;
    line["file"] = outcome.file;
    if (outcome.error) {
        line["error"] = *outcome.error;
        return dumped(line);
    }
    line["boards"] = outcome.boards();
    line["passLines"] = outcome.passLines;
    line["band"] = {{"top", outcome.band.top},
                    {"bottom", outcome.band.bottom},
                    {"width", outcome.band.width},
                    {"height", outcome.band.height}};
    if (outcome.region) line["region"] = regionJson(*outcome.region);
    if (outcome.angleHundredths) line["angle"] = *outcome.angleHundredths / 100.0;
    line["ms"] = roundedTo(outcome.milliseconds, 10);
    if (outcome.stable)
        line["stable"] = {{"threshold", outcome.stable->threshold},
                          {"bdline", outcome.stable->bdLine}};
    const Certainty& certainty = outcome.certainty;
    if (certainty.byThickness)
        line["thickness"] = {{"boards", roundedTo(*certainty.byThickness, 100)},
                             {"agrees", certainty.thicknessAgrees}};
    if (certainty.byRhythm)
        line["rhythm"] = {{"thickness", roundedTo(certainty.byRhythm->thickness, 100)},
                          {"boards", roundedTo(certainty.byRhythm->boards, 100)},
                          {"agrees", certainty.rhythmAgrees}};
    line["uncertain"] = certainty.uncertain;
    if (certainty.uncertain) line["uncertainWhy"] = certainty.why;
    if (!outcome.warning.empty()) line["warning"] = outcome.warning;
    line["joints"] = Json::array();
    for (const Joint& joint : outcome.joints)
        line["joints"].push_back(
            {{"pass", joint.pass}, {"top", joint.top}, {"bottom", joint.bottom}});
    return dumped(line);
}

std::string jsonBook(const Book& book) {
    Json line;
    line["book"] = book.boards;
    line["photographs"] = book.counted;
    line["failed"] = book.failed;
    line["uncertain"] = book.uncertain;
    line["bdline"] = book.settings.bdLine;
    line["threshold"] = book.settings.threshold;
    line["stretch"] = book.settings.stretch;
    if (book.settings.region) line["region"] = regionText(*book.settings.region);
    if (book.settings.regionFound) line["region"] = kFoundRegionText;
    if (book.settings.thicknessHundredths > 0)
        line["thickness"] = static_cast<double>(book.settings.thicknessHundredths) / 100.0;
    if (!book.settings.angle.level()) line["angle"] = angleText(book.settings.angle);
    return dumped(line);
}

}  // namespace lathmark
