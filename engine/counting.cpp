#include "engine/counting.h"

#include <cstdio>
#include <future>
#include <memory>

#include "engine/levelling.h"
#include "engine/preparation.h"
#include "engine/report.h"
#include "engine/rhythm.h"
#include "engine/workers.h"

namespace lathmark {
namespace {

CountResult failed(CountResult result, std::string reason) {
    result.error = CountError{result.file, std::move(reason)};
    return result;
}

// The verdict on a count, from its second opinion, its joints and its stability ranges.
Certainty certaintyOf(const CountResult& result, const std::string& settingsDoubt) {
    Certainty certainty;
    certainty.byRhythm = result.certainty.byRhythm;
    std::vector<std::string> reasons;
    if (!settingsDoubt.empty()) reasons.push_back(settingsDoubt);
    const Settings& settings = result.settings;
    if (settings.thicknessHundredths > 0) {
        const ThicknessCount count = thicknessCount(result.band.height / settings.stretch,
                                                    settings.thicknessHundredths, result.boards());
        certainty.byThickness = count.boards;
        certainty.thicknessAgrees = count.agrees;
        if (!count.agrees) {
            char text[128];
            std::snprintf(text, sizeof text,
                          "the stack's height gives %.2f boards of THICKNESS %s, not %d",
                          count.boards, hundredthsText(settings.thicknessHundredths).c_str(),
                          result.boards());
            reasons.push_back(text);
        }
    }
    // A joint is a thin line between boards: one taller than half the rows a board has on
    // average is no joint but joints smeared together (a stack not level) or something else in
    // the band, and the count cannot be right. Where the stack's rhythm agrees with the count,
    // the joints are where its boards part (thin sheets whose dark edges take half their rows).
    const bool rhythmAgreed =
        result.certainty.byRhythm && rhythmAgrees(*result.certainty.byRhythm, result.boards());
    for (const Joint& joint : rhythmAgreed ? std::vector<Joint>{} : result.joints) {
        const int rows = joint.bottom - joint.top + 1;
        if (2LL * rows * result.boards() > result.band.height) {
            reasons.push_back("a joint " + std::to_string(rows / settings.stretch) +
                              " rows high takes more than half of a board's share of the stack: "
                              "the joints are not level, or something else lies in the stack");
            break;
        }
    }
    if (!result.stackDoubt.empty()) reasons.push_back(result.stackDoubt);
    if (result.rhythmSought) {
        const std::optional<Rhythm>& rhythm = certainty.byRhythm;
        if (!rhythm) {
            reasons.push_back("no regular rhythm of joints was found in the stack");
        } else if (!rhythmAgrees(*rhythm, result.boards())) {
            certainty.rhythmAgrees = false;
            char text[160];
            std::snprintf(text, sizeof text,
                          "the stack's rhythm gives %.2f boards of %.2f rows, not %d",
                          rhythm->boards, rhythm->thickness, result.boards());
            reasons.push_back(text);
        }
    }
    if (result.lines() == 0)
        reasons.push_back(
            "no joint was found: a stack of one board is almost never what was "
            "photographed");
    if ((result.stable && result.stable->uncertain) || result.dependsOnSettings)
        reasons.push_back("the count changes within 3 grey levels of THRESHOLD or 10 % of BDLINE");
    certainty.uncertain = !reasons.empty();
    for (const std::string& reason : reasons)
        certainty.why += (certainty.why.empty() ? "" : "; ") + reason;
    return certainty;
}

// The band's rows in the grey counted part (rows of the photograph, not stretched).
std::vector<double> bandProfile(FIBITMAP* grey, const BandEdges& edges, int stretch) {
    const int height = static_cast<int>(FreeImage_GetHeight(grey));
    return rowProfile(grey, edges.firstRow() / stretch,
                      std::min(height, (edges.endRow() + stretch - 1) / stretch), kBandLeftColumn);
}

std::string noStabilityRanges(const std::string& failure) {
    return "no stability ranges: the photograph " + failure;
}

// A photograph of which only the region was decoded (decodeJpegRegion): its size, and where the
// region lies in the picture decoded.
struct RegionOf {
    int width = 0;
    int height = 0;
    Region within;
};

// Whether a count reads nothing of the photograph but its fixed region, rows read level, and has
// no photograph to hand back: then only the region need be decoded.
bool readsOnlyItsRegion(const Settings& settings, const CountOptions& options) {
    return settings.region && settings.angle.level() && !settings.regionFound &&
           !options.keepPhotograph;
}

// Everything after decoding: row counts, band, passes, joints and result image, and if asked, the
// stability ranges. With `regionOf`, `photograph` is only the region's rows of a photograph of
// that size, and is counted within the region's place in it.
CountResult countPhotograph(Bitmap photograph, CountResult result, const CountOptions& options,
                            std::optional<RegionOf> regionOf = std::nullopt) {
    // Joints that are not level are counted in the counted part levelled along their slope; the
    // rows are then those of that part, and everything after them counts as for a level stack.
    // With REGION=auto the part is the stack found in the photograph. Such a count is of a stack
    // photographed by hand, which has no THICKNESS of its own: its rhythm is the second
    // opinion, read from the same grey part.
    Settings settings = result.settings;
    if (regionOf) settings.region = regionOf->within;
    Bitmap levelledPart;
    Bitmap greyPart;
    if (!settings.angle.level() || settings.regionFound) {
        StepResult<Levelled> found = levelled(photograph.get(), settings);
        if (!found.ok()) return failed(std::move(result), *found.failure);
        if (!settings.angle.level()) result.angleHundredths = found.value.hundredths;
        if (found.value.found) result.settings.region = found.value.found;
        result.stackDoubt = std::move(found.value.doubt);
        if (found.value.hundredths != 0 || found.value.found) {
            levelledPart = std::move(found.value.part);
            settings.region.reset();
        } else {
            greyPart = std::move(found.value.part);
        }
        result.rhythmSought = true;
    }
    FIBITMAP* const counted = levelledPart ? levelledPart.get() : photograph.get();
    // The stability ranges need every threshold's rows: that table, built on both cores, also
    // gives the count its rows, and the ranges are found from it on another thread while the
    // count goes on, so that a count with them takes little longer than one without. The
    // thread owns the table: the count may return before the ranges are found.
    std::future<StabilityFound> stability;
    std::shared_ptr<const ThresholdTable> rangesTable;
    if (options.stability) {
        StepResult<ThresholdTable> table =
            ThresholdTable::build(counted, settings.region, ThresholdLevels{}, 2);
        if (!table.ok()) {
            stability = std::async(std::launch::deferred, [problem = *table.failure] {
                StabilityFound found;
                found.problem = noStabilityRanges(problem);
                return found;
            });
        } else {
            rangesTable = std::make_shared<const ThresholdTable>(std::move(table.value));
            stability = aside([rangesTable, settings] {
                StabilityFound found;
                found.ranges = stabilityRanges(*rangesTable, settings);
                return found;
            });
        }
    }
    // The self-check's table holds the count's own thresholds, so the count takes its rows from
    // there instead of sweeping the photograph a second time.
    StepResult<ThresholdTable> checkTable;
    if (options.selfCheck && !options.stability) {
        checkTable = ThresholdTable::build(counted, settings.region, checkLevels(settings));
        if (!checkTable.ok())
            result.stabilityProblem = "no self-check: the photograph " + *checkTable.failure;
    }
    const bool checked = options.selfCheck && !options.stability && checkTable.ok();
    const ThresholdTable* const rowsTable = rangesTable ? rangesTable.get()
                                            : checked   ? &checkTable.value
                                                        : nullptr;
    const StepResult<RowCounts> rows = rowsTable
                                           ? StepResult<RowCounts>{rowsAt(*rowsTable, settings)}
                                           : countRows(counted, settings);
    if (!rows.ok()) return failed(std::move(result), *rows.failure);
    const StepResult<Band> band = findBand(rows.value);
    if (!band.ok()) return failed(std::move(result), *band.failure);

    PassWork work;
    result.passLines = countLines(band.value.counts, settings.bdLine, work);
    // The counted part's rows are the photograph's from the region's top down.
    const std::optional<Region>& region = result.settings.region;
    const int shift = region ? region->top * settings.stretch : 0;
    const BandEdges edges{band.value.edges.top + shift, band.value.edges.bottom + shift};
    result.joints = jointsOf(work, edges);
    result.photographWidth = regionOf ? regionOf->width : photograph.width();
    result.photographHeight = regionOf ? regionOf->height : photograph.height();
    result.band = {edges.top, edges.bottom, band.value.counts.width, band.value.counts.height};
    // The rhythm of the band; where the stack was found by its rhythm, of all the stack's rows,
    // so that a band the passes found too short or too tall is told.
    if (result.rhythmSought) {
        FIBITMAP* const grey = levelledPart ? levelledPart.get() : greyPart.get();
        const int height = static_cast<int>(FreeImage_GetHeight(grey));
        result.certainty.byRhythm =
            result.settings.regionFound
                ? rhythmOf(bandProfile(grey, {0, height * settings.stretch}, settings.stretch),
                           ProfileEnds::JointMiddles)
                : rhythmOf(bandProfile(grey, band.value.edges, settings.stretch));
    }
    result.marked = resultImage(work, band.value.counts, counted);
    if (!result.marked)
        return failed(std::move(result), "the result image could not be made (out of memory?)");

    // The ranges, found from a table of their own, may be waited for later (finishCount).
    if (stability.valid() && options.stabilityLater) {
        if (options.keepPhotograph) result.photograph = std::move(photograph);
        result.stabilityPending = std::move(stability);
        return result;
    }
    if (stability.valid()) {
        StabilityFound found = stability.get();
        result.stable = found.ranges;
        result.stabilityProblem = std::move(found.problem);
    } else if (checked) {
        result.dependsOnSettings = countDependsOnSettings(checkTable.value, settings);
    }
    if (options.keepPhotograph) result.photograph = std::move(photograph);
    result.certainty = certaintyOf(result, options.settingsDoubt);
    return result;
}

CountResult started(const std::string& name, const Settings& settings) {
    CountResult result;
    result.file = name;
    result.settings = settings;
    if (auto problem = countingProblem(settings)) result.error = CountError{name, *problem};
    return result;
}

CountResult countDecodedResult(StepResult<Bitmap> decoded, CountResult result,
                               const CountOptions& options) {
    if (!decoded.ok()) return failed(std::move(result), *decoded.failure);
    result.warning = std::move(decoded.warning);
    return countPhotograph(std::move(decoded.value), std::move(result), options);
}

}  // namespace

ThicknessCount thicknessCount(int bandRows, int thicknessHundredths, int boards) {
    ThicknessCount count;
    if (thicknessHundredths <= 0) return count;
    // Exactly: bandRows / t lies within half a board of `boards` when
    // |200 bandRows - 2 boards t| <= t, with t in hundredths.
    const long long t = thicknessHundredths;
    const long long twice = 200LL * bandRows - 2LL * boards * t;
    count.agrees = (twice < 0 ? -twice : twice) <= t;
    // Hundredths of a board, halves rounded up.
    const long long hundredths = (10000LL * bandRows * 2 + t) / (2 * t);
    count.boards = static_cast<double>(hundredths) / 100.0;
    return count;
}

void finishCount(CountResult& result, const CountOptions& options) {
    if (!result.stabilityPending.valid()) return;
    StabilityFound found = result.stabilityPending.get();
    result.stable = found.ranges;
    result.stabilityProblem = std::move(found.problem);
    result.certainty = certaintyOf(result, options.settingsDoubt);
}

CountResult countBoards(const std::filesystem::path& file, const Settings& settings,
                        const CountOptions& options) {
    CountResult result = started(file.string(), settings);
    if (!result.ok()) return result;
    const StepResult<JpegPhotograph> read = readJpegFile(file);
    if (!read.ok()) return failed(std::move(result), *read.failure);
    return countJpeg(read.value, result.file, settings, options);
}

CountResult countJpegInMemory(const std::uint8_t* data, std::size_t size, const std::string& name,
                              const Settings& settings, const CountOptions& options) {
    CountResult result = started(name, settings);
    if (!result.ok()) return result;
    const StepResult<JpegPhotograph> read = readJpegData(data, size);
    if (!read.ok()) return failed(std::move(result), *read.failure);
    return countJpeg(read.value, name, settings, options);
}

CountResult countJpeg(const JpegPhotograph& photograph, const std::string& name,
                      const Settings& settings, const CountOptions& options) {
    CountResult result = started(name, settings);
    result.digest = photograph.digest;
    if (!result.ok()) return result;
    PixelBudget::Share share(options.budget);
    if (readsOnlyItsRegion(settings, options)) {
        std::optional<DecodedRegion> part = decodeJpegRegion(photograph, *settings.region, &share);
        if (part) {
            result.warning = std::move(part->warning);
            return countPhotograph(
                std::move(part->picture), std::move(result), options,
                RegionOf{part->photographWidth, part->photographHeight, part->region});
        }
    }
    return countDecodedResult(decodeJpeg(photograph, &share), std::move(result), options);
}

CountResult countDecoded(Bitmap photograph, const std::string& name, const Settings& settings,
                         const CountOptions& options) {
    CountResult result = started(name, settings);
    if (!result.ok()) return result;
    if (!photograph) return failed(std::move(result), "there is no photograph to count");
    return countPhotograph(std::move(photograph), std::move(result), options);
}

}  // namespace lathmark
