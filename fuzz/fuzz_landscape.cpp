// Fuzz target: two ways to one count. The photograph is decoded once, then counted at a few
// settings both by the count itself (lathmark::countDecoded) and through what the settings
// landscape is made of: the table of every row's dark pixels at every threshold, the band at a
// THRESHOLD (rowsAt, findBand), the passes at one BDLINE (countAt), the sweep over BDLINE that
// carries the passes from one BDLINE to the next (sweepBdLines, and sweepBdLineRuns wanting only
// about the count's own lines), and a landscape over a short range of BDLINE (settingsLandscape);
// and the count with its stability ranges, whose table is built on two threads. Any difference in
// whether a setting counts at all, in the band, in the pass lines or in the ranges stops the run;
// all at one STRETCH. Input layout:
//
//   byte 0-5  three settings, each a THRESHOLD byte (taken modulo 246) and a BDLINE byte
//             (less 8: -8 to 247, around the widths of small photographs).
//   byte 6    STRETCH for all three, 1 to 4 (the byte modulo 4, plus 1).
//   byte 7-   the JPEG.
//
// Only frames of at most 8192 pixels are decoded (see fuzz_count.cpp: larger ones would make
// the run crawl); the landscape reaches BDLINE 0 to the highest of the settings' BDLINEs, at
// most 10, so that each input costs about a millisecond: the landscape runs the sweep at all
// 246 THRESHOLDs.
//
// With LATHMARK_FUZZ_PRINT set, each input's settings and counts are printed.

#include <FreeImage.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "engine/counting.h"
#include "engine/jpeg_segments.h"
#include "engine/landscape.h"
#include "engine/preparation.h"
#include "fuzz/pace.h"

namespace {

constexpr std::size_t kSettingsCount = 3;
constexpr std::size_t kSettingsBytes = 2 * kSettingsCount + 1;
constexpr std::uint64_t kMaxPixelsCounted = 1 << 13;
constexpr int kMaxLandscapeBdLine = 10;
// How far around each setting's BDLINE the sweep runs.
constexpr int kSweepReach = 6;
const std::string kName = "fuzz.jpg";

using Setting = lathmark::Settings;

[[noreturn]] void broken(const char* what, const Setting& setting) {
    std::fprintf(stderr, "broken: %s (THRESHOLD=%d BDLINE=%d STRETCH=%d)\n", what,
                 setting.threshold, setting.bdLine, setting.stretch);
    std::abort();
}

bool printing() {
    static const bool wanted = std::getenv("LATHMARK_FUZZ_PRINT") != nullptr;
    return wanted;
}

std::string linesText(const lathmark::PassLines& lines) {
    return std::to_string(lines[0]) + " + " + std::to_string(lines[1]) + " + " +
           std::to_string(lines[2]) + " + " + std::to_string(lines[3]);
}

lathmark::Bitmap copyOf(const lathmark::Bitmap& photograph) {
    return lathmark::Bitmap(FreeImage_Clone(photograph.get()));
}

// The count itself against the band and the passes of the table, at one setting.
void compareAt(const lathmark::Bitmap& photograph, const lathmark::ThresholdTable& table,
               const Setting& setting, const lathmark::CountResult& count) {
    const lathmark::RowCounts rows = lathmark::rowsAt(table, setting);
    const lathmark::StepResult<lathmark::Band> found = lathmark::findBand(rows);
    if (printing())
        std::fprintf(stderr, "THRESHOLD=%d BDLINE=%d: count %s, band at threshold %s\n",
                     setting.threshold, setting.bdLine,
                     count.ok() ? ("lines " + linesText(count.passLines)).c_str()
                                : count.error->reason.c_str(),
                     found.failure ? found.failure->c_str() : "found");
    if (!found.ok()) {
        const std::string& failure = *found.failure;
        if (count.ok()) broken("counted, but the table has no band", setting);
        if (count.error->reason != failure)
            broken("no band either way, but for different reasons", setting);
        return;
    }
    if (!count.ok()) broken("the table has a band, but the count refused", setting);
    const lathmark::Band& band = found.value;
    const lathmark::BandBox& box = count.band;
    if (box.top != band.edges.top || box.bottom != band.edges.bottom ||
        box.width != band.counts.width || box.height != band.counts.height ||
        box.width != photograph.width() - lathmark::kBandLeftColumn)
        broken("the band differs", setting);

    lathmark::PassWork work;
    const std::optional<lathmark::PassLines> lines = lathmark::countAt(table, setting, work);
    if (!lines || *lines != count.passLines) broken("countAt differs from the count", setting);

    // The sweep from a few BDLINEs below to a few above: each step as the passes run afresh.
    const int lowest = setting.bdLine - kSweepReach;
    const int highest = setting.bdLine + kSweepReach;
    int expected = lowest;
    lathmark::sweepBdLines(band.counts, lowest, highest,
                           [&](int bdLine, const lathmark::PassLines& swept) {
                               if (bdLine != expected)
                                   broken("the sweep skipped a BDLINE", setting);
                               ++expected;
                               const Setting here{setting.threshold, bdLine, setting.stretch};
                               const auto direct = lathmark::countAt(table, here, work);
                               if (!direct || *direct != swept)
                                   broken("the sweep differs from countAt", here);
                               if (bdLine == setting.bdLine && swept != count.passLines)
                                   broken("the sweep differs from the count", here);
                               return true;
                           });
    if (expected != highest + 1) broken("the sweep stopped early", setting);

    // The same sweep wanting only the count's own lines, or one or two fewer (as a search for the
    // settings that count a photograph right wants its true count): where it hands on as many
    // lines or fewer they are the passes' own; where more, the passes find more still.
    auto sum = [](const lathmark::PassLines& l) { return l[0] + l[1] + l[2] + l[3]; };
    const int wanted = std::max(0, sum(count.passLines) - setting.threshold % 3);
    lathmark::sweepBdLineRuns(
        band.counts, lathmark::bandOrders(band.counts), lowest, highest,
        [&](int first, int last, const lathmark::PassLines& swept) {
            for (int bdLine = first; bdLine <= last; ++bdLine) {
                const Setting here{setting.threshold, bdLine, setting.stretch};
                const auto direct = lathmark::countAt(table, here, work);
                if (!direct ||
                    (sum(swept) <= wanted ? *direct != swept : sum(*direct) < sum(swept)))
                    broken("the sweep for some lines differs from countAt", here);
            }
            return true;
        },
        wanted);

    // The self-check, from a table of its few thresholds, gives the stability ranges' verdict,
    // and a count that makes it counts as one without it.
    const lathmark::StepResult<lathmark::ThresholdTable> narrow = lathmark::ThresholdTable::build(
        photograph.get(), std::nullopt, lathmark::checkLevels(setting));
    if (!narrow.ok()) broken("no table of the self-check's thresholds", setting);
    if (lathmark::countDependsOnSettings(narrow.value, setting) !=
        lathmark::stabilityRanges(table, setting).uncertain)
        broken("the self-check and the stability ranges disagree", setting);
    const lathmark::CountResult checked =
        lathmark::countDecoded(copyOf(photograph), kName, setting, {.selfCheck = true});
    if (!checked.ok() || checked.passLines != count.passLines ||
        checked.band.top != count.band.top || checked.band.bottom != count.band.bottom)
        broken("a count with its self-check differs", setting);
}

void compareLandscape(const lathmark::ThresholdTable& table, const Setting& setting,
                      const lathmark::Landscape& landscape, const lathmark::CountResult& count) {
    if (landscape.counted(setting.threshold) != count.ok())
        broken("the landscape and the count disagree on whether it counts", setting);
    // The landscape's row of BDLINEs at this THRESHOLD, against the passes run afresh.
    lathmark::PassWork work;
    for (int bdLine = 0; bdLine <= landscape.bdLineMax() && count.ok(); ++bdLine) {
        const auto direct =
            lathmark::countAt(table, {setting.threshold, bdLine, setting.stretch}, work);
        if (!direct || *direct != landscape.passLines(setting.threshold, bdLine))
            broken("the landscape differs from countAt",
                   {setting.threshold, bdLine, setting.stretch});
    }
    if (setting.bdLine < 0 || setting.bdLine > landscape.bdLineMax()) return;
    if (landscape.boards(setting.threshold, setting.bdLine) != (count.ok() ? count.boards() : 0))
        broken("the landscape's boards differ from the count", setting);
    if (count.ok() && landscape.passLines(setting.threshold, setting.bdLine) != count.passLines)
        broken("the landscape's pass lines differ from the count", setting);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lathmark::fuzz::countExecution();
    if (size < kSettingsBytes) return 0;
    std::array<Setting, kSettingsCount> settings{};
    const int stretch = 1 + data[2 * kSettingsCount] % lathmark::Settings::kMaxStretch;
    for (std::size_t i = 0; i < kSettingsCount; ++i)
        settings[i] = {data[2 * i] % (lathmark::Settings::kMaxThreshold + 1), data[2 * i + 1] - 8,
                       stretch};

    const std::uint8_t* jpeg = data + kSettingsBytes;
    const std::size_t jpegSize = size - kSettingsBytes;
    const lathmark::JpegWithoutMetadata walked = lathmark::withoutMetadataSegments(jpeg, jpegSize);
    if (walked.hasFrame &&
        static_cast<std::uint64_t>(walked.width) * static_cast<std::uint64_t>(walked.height) >
            kMaxPixelsCounted)
        return -1;
    lathmark::StepResult<lathmark::Bitmap> decoded = lathmark::decodeJpegData(jpeg, jpegSize);
    if (!decoded.ok()) return 0;
    const lathmark::Bitmap photograph = std::move(decoded.value);
    if (static_cast<std::uint64_t>(photograph.width()) *
            static_cast<std::uint64_t>(photograph.height()) >
        kMaxPixelsCounted)
        return -1;  // a frame the walk did not see; too big to search here

    std::array<lathmark::CountResult, kSettingsCount> counts;
    for (std::size_t i = 0; i < kSettingsCount; ++i)
        counts[i] = lathmark::countDecoded(copyOf(photograph), kName, settings[i]);

    const lathmark::StepResult<lathmark::ThresholdTable> built =
        lathmark::ThresholdTable::build(photograph.get());
    if (!built.ok()) {
        for (std::size_t i = 0; i < kSettingsCount; ++i)
            if (counts[i].ok()) broken("counted, but no table could be made", settings[i]);
        return 0;
    }
    const lathmark::ThresholdTable& table = built.value;
    for (std::size_t i = 0; i < kSettingsCount; ++i)
        compareAt(photograph, table, settings[i], counts[i]);

    // With its stability ranges a count takes its rows from a table built on two threads: the
    // same count, and the ranges of the table built on one.
    const lathmark::CountResult ranged =
        lathmark::countDecoded(copyOf(photograph), kName, settings[0], {.stability = true});
    if (ranged.ok() != counts[0].ok() ||
        (ranged.ok() &&
         (ranged.passLines != counts[0].passLines || ranged.band.top != counts[0].band.top ||
          ranged.band.bottom != counts[0].band.bottom)))
        broken("the count with its stability ranges is another count", settings[0]);
    if (ranged.ok()) {
        const lathmark::StabilityRanges ranges = lathmark::stabilityRanges(table, settings[0]);
        if (!ranged.stable || ranged.stable->threshold != ranges.threshold ||
            ranged.stable->bdLine != ranges.bdLine)
            broken("the count's stability ranges are not those of its table", settings[0]);
    }

    int bdLineMax = 0;
    for (const Setting& setting : settings) bdLineMax = std::max(bdLineMax, setting.bdLine);
    const lathmark::Landscape landscape =
        lathmark::settingsLandscape(table, std::min(bdLineMax, kMaxLandscapeBdLine), stretch);
    for (std::size_t i = 0; i < kSettingsCount; ++i)
        compareLandscape(table, settings[i], landscape, counts[i]);
    return 0;
}
