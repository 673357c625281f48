#include "cli/csv_output.h"

#include "cli/texts.h"

namespace lathmark {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

std::string csvHeader() {
    std::string header =
        "file,boards,lines1,lines2,lines3,lines4,band_top,band_bottom,band_width,band_height,ms,"
        "warning,error,by_thickness,uncertain,uncertain_why,angle,by_rhythm";
    header += kLineEnd;
    return header;
}

std::string csvRecord(const PhotographOutcome& outcome) {
    std::string record = csvTextField(outcome.file);
    auto add = [&record](const std::string& field) {
        record += ',';
        record += field;
    };
    if (outcome.error) {
        for (int i = 0; i < 10; ++i) add("");
        add(csvTextField(outcome.warning));
        add(csvTextField(*outcome.error));
        add("");
        add("");
        add("");
        add("");
        add("");
    } else {
        add(std::to_string(outcome.boards()));
        for (int lines : outcome.passLines) add(std::to_string(lines));
        for (int value :
             {outcome.band.top, outcome.band.bottom, outcome.band.width, outcome.band.height})
            add(std::to_string(value));
        add(tenthsText(outcome.milliseconds));
        add(csvTextField(outcome.warning));
        add("");
        add(outcome.certainty.byThickness ? hundredthsOf(*outcome.certainty.byThickness) : "");
        add(outcome.certainty.uncertain ? "true" : "false");
        add(outcome.certainty.uncertain ? csvTextField(outcome.certainty.why) : "");
        add(outcome.angleHundredths ? angleText({*outcome.angleHundredths, false}) : "");
        add(outcome.certainty.byRhythm ? hundredthsOf(outcome.certainty.byRhythm->boards) : "");
    }
    record += kLineEnd;
    return record;
}

}  // namespace lathmark
