#include "engine/counting.h"

#include <algorithm>

#include "engine/counting_state.h"
#include "engine/library_messages.h"
#include "engine/preparation.h"
#include "engine/report.h"
#include "engine/two_level.h"

namespace lathmark {
namespace {

CountResult failed(CountResult result, std::string reason) {
    result.error = CountError{result.file, std::move(reason)};
    return result;
}

// Every run of each pass's line rows, each a counted line, in photograph rows from the top down.
// Band row y, counted from the band's bottom row, is photograph row endRow - 1 - y.
std::vector<Joint> jointsOf(const PassWork& work, const BandEdges& edges) {
    std::vector<Joint> joints;
    for (int pass = 0; pass < kPassCount; ++pass) {
        const RowSet& rows = work.lineRows[static_cast<std::size_t>(pass)];
        for (int start = rows.nextMember(0); start < rows.rows();) {
            const int end = rows.nextNonMember(start);
            joints.push_back({pass + 1, edges.endRow() - end, edges.endRow() - 1 - start});
            start = rows.nextMember(end);
        }
    }
    std::sort(joints.begin(), joints.end(), [](const Joint& a, const Joint& b) {
        return a.top != b.top ? a.top < b.top : a.pass < b.pass;
    });
    return joints;
}

// Runs everything after decoding on `state`, whose dibSource holds the photograph.
CountResult countPrepared(CountingState& state, CountResult result, std::int16_t bdLine,
                          std::int16_t thresholdLevel, const CountOptions& options) {
    // Passes 2 to 4 all see the photograph at the higher threshold; it is made in the same
    // sweep as the first pass's.
    Bitmap laterBinary;
    if (auto failure = thresholdPhotograph(
            state, thresholdLevel, thresholdLevel + kPasses[1].thresholdIncrement, laterBinary))
        return failed(std::move(result), *failure);
    countRows(state.dibBinary.get(), state.rowsAtThreshold);
    countRows(laterBinary.get(), state.rowsAtLaterThreshold);
    // A stretched photograph's rows are its rows repeated: so are their counts.
    for (RowCounts* counts : {&state.rowsAtThreshold, &state.rowsAtLaterThreshold}) {
        stretchRows(counts->fromColumn4, options.stretch);
        stretchRows(counts->fromColumn8, options.stretch);
    }
    state.width = state.dibBinary.width();
    state.height = state.dibBinary.height() * options.stretch;
    findBandEdgesInRows(state);
    const int photographWidth = state.width;
    const int photographHeight = state.height;
    const BandEdges edges{state.bandTop, state.bandBottom};
    if (auto problem = bandProblem(photographWidth, edges))
        return failed(std::move(result), *problem);

    auto rows = [](const RowCounts& counts) {
        return BandRowCounts{counts.fromColumn4.data(), counts.fromColumn8.data()};
    };
    const BandCounts band =
        bandCounts(edges, photographWidth, photographHeight, rows(state.rowsAtThreshold),
                   rows(state.rowsAtLaterThreshold));
    PassWork work;
    result.passLines = countLines(band, bdLine, work);
    result.joints = jointsOf(work, edges);
    result.photographWidth = photographWidth;
    result.photographHeight = state.dibBinary.height();
    for (int pass = 0; pass < kPassCount; ++pass)
        fillPassProfile(band, pass, bdLine, work.lineRows[static_cast<std::size_t>(pass)],
                        state.*kPasses[static_cast<std::size_t>(pass)].profile);

    // The result image is drawn over every pixel of a band-sized two-level image.
    state.dibBand = newTwoLevel(band.width, band.height, laterBinary.get());
    if (!state.dibBand)
        return failed(std::move(result), "the result image could not be made (out of memory?)");
    state.width = band.width;
    state.height = band.height;
    result.band = {state.bandTop, state.bandBottom, band.width, band.height};
    drawResultImage(state);
    result.marked = std::move(state.dibBand);
    if (options.stability) {
        ThresholdTable table;
        if (auto failure = ThresholdTable::build(state.dibSource.get(), table))
            result.stabilityProblem = "no stability ranges: the photograph " + *failure;
        else
            result.stable = stabilityRanges(table, thresholdLevel, bdLine, options.stretch);
    }
    if (options.keepPhotograph) result.photograph = std::move(state.dibSource);
    return result;
}

}  // namespace

std::optional<std::string> stretchProblem(int stretch) {
    if (stretch >= 1 && stretch <= kMaxStretch) return std::nullopt;
    return "STRETCH " + std::to_string(stretch) + " is outside 1 to " +
           std::to_string(kMaxStretch) + ": each photograph row is repeated STRETCH times";
}

std::optional<std::string> thresholdProblem(int thresholdLevel) {
    if (thresholdLevel >= 0 && thresholdLevel <= kMaxThreshold) return std::nullopt;
    return "THRESHOLD " + std::to_string(thresholdLevel) + " is outside 0 to " +
           std::to_string(kMaxThreshold) + ": the passes at THRESHOLD + 10 need a grey level " +
           "of at most 255";
}

CountResult countBoards(const std::filesystem::path& file, std::int16_t bdLine,
                        std::int16_t thresholdLevel, const CountOptions& options) {
    CountResult result;
    result.file = file.string();
    if (auto problem = thresholdProblem(thresholdLevel)) return failed(std::move(result), *problem);
    if (auto problem = stretchProblem(options.stretch)) return failed(std::move(result), *problem);
    CountingState state;
    if (auto failure = decodePhotograph(state, file)) return failed(std::move(result), *failure);
    result.warning = libraryMessages();
    return countPrepared(state, std::move(result), bdLine, thresholdLevel, options);
}

CountResult countJpegInMemory(const std::uint8_t* data, std::size_t size, const std::string& name,
                              std::int16_t bdLine, std::int16_t thresholdLevel,
                              const CountOptions& options) {
    CountResult result;
    result.file = name;
    if (auto problem = thresholdProblem(thresholdLevel)) return failed(std::move(result), *problem);
    if (auto problem = stretchProblem(options.stretch)) return failed(std::move(result), *problem);
    CountingState state;
    if (auto failure = decodePhotographFromMemory(state, data, size))
        return failed(std::move(result), *failure);
    result.warning = libraryMessages();
    return countPrepared(state, std::move(result), bdLine, thresholdLevel, options);
}

DecodedPhotograph decodeJpeg(const std::filesystem::path& file) {
    DecodedPhotograph decoded;
    CountingState state;
    if (auto failure = decodePhotograph(state, file)) {
        decoded.error = CountError{file.string(), *failure};
        return decoded;
    }
    decoded.warning = libraryMessages();
    decoded.photograph = std::move(state.dibSource);
    return decoded;
}

CountResult countDecoded(Bitmap photograph, const std::string& name, std::int16_t bdLine,
                         std::int16_t thresholdLevel, const CountOptions& options) {
    CountResult result;
    result.file = name;
    if (auto problem = thresholdProblem(thresholdLevel)) return failed(std::move(result), *problem);
    if (auto problem = stretchProblem(options.stretch)) return failed(std::move(result), *problem);
    if (!photograph) return failed(std::move(result), "there is no photograph to count");
    CountingState state;
    state.dibSource = std::move(photograph);
    return countPrepared(state, std::move(result), bdLine, thresholdLevel, options);
}

}  // namespace lathmark
