#include "engine/counting.h"

#include "engine/preparation.h"
#include "engine/report.h"

namespace lathmark {
namespace {

CountResult failed(CountResult result, std::string reason) {
    result.error = CountError{result.file, std::move(reason)};
    return result;
}

// Everything after decoding: row counts, band, passes, joints and result image, and if asked, the
// stability ranges.
CountResult countPhotograph(Bitmap photograph, CountResult result, const CountOptions& options) {
    const Settings& settings = result.settings;
    const StepResult<RowCounts> rows = countRows(photograph.get(), settings);
    if (!rows.ok()) return failed(std::move(result), *rows.failure);
    const StepResult<Band> band = findBand(rows.value);
    if (!band.ok()) return failed(std::move(result), *band.failure);

    PassWork work;
    result.passLines = countLines(band.value.counts, settings.bdLine, work);
    result.joints = jointsOf(work, band.value.edges);
    result.photographWidth = photograph.width();
    result.photographHeight = photograph.height();
    result.band = {band.value.edges.top, band.value.edges.bottom, band.value.counts.width,
                   band.value.counts.height};
    result.marked = resultImage(work, band.value.counts, photograph.get());
    if (!result.marked)
        return failed(std::move(result), "the result image could not be made (out of memory?)");

    if (options.stability) {
        StepResult<ThresholdTable> table = ThresholdTable::build(photograph.get());
        if (!table.ok())
            result.stabilityProblem = "no stability ranges: the photograph " + *table.failure;
        else
            result.stable = stabilityRanges(table.value, settings);
    }
    if (options.keepPhotograph) result.photograph = std::move(photograph);
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

CountResult countBoards(const std::filesystem::path& file, const Settings& settings,
                        const CountOptions& options) {
    CountResult result = started(file.string(), settings);
    if (!result.ok()) return result;
    PixelBudget::Share share(options.budget);
    return countDecodedResult(decodeJpegFile(file, &share), std::move(result), options);
}

CountResult countJpegInMemory(const std::uint8_t* data, std::size_t size, const std::string& name,
                              const Settings& settings, const CountOptions& options) {
    CountResult result = started(name, settings);
    if (!result.ok()) return result;
    PixelBudget::Share share(options.budget);
    return countDecodedResult(decodeJpegData(data, size, &share), std::move(result), options);
}

CountResult countDecoded(Bitmap photograph, const std::string& name, const Settings& settings,
                         const CountOptions& options) {
    CountResult result = started(name, settings);
    if (!result.ok()) return result;
    if (!photograph) return failed(std::move(result), "there is no photograph to count");
    return countPhotograph(std::move(photograph), std::move(result), options);
}

}  // namespace lathmark
