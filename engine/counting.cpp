#include "engine/counting.h"

#include "engine/counting_state.h"
#include "engine/library_messages.h"
#include "engine/preparation.h"
#include "engine/report.h"

namespace lathmark {
namespace {

// The largest THRESHOLD for which THRESHOLD + 10 is still a grey level.
constexpr int kMaxThreshold = 255 - kPasses[1].thresholdIncrement;

CountResult failed(CountResult result, std::string reason) {
    result.error = CountError{result.file, std::move(reason)};
    return result;
}

// Runs everything after decoding on `state`, whose dibSource holds the photograph.
CountResult countPrepared(CountingState& state, CountResult result, std::int16_t bdLine,
                          std::int16_t thresholdLevel, const CountOptions& options) {
    // Passes 2 to 4 all see the photograph at the higher threshold; it is made in the same
    // sweep as the first pass's, and each of those passes still starts from a fresh band.
    Bitmap laterBinary;
    if (auto failure = thresholdPhotograph(
            state, thresholdLevel, thresholdLevel + kPasses[1].thresholdIncrement, laterBinary))
        return failed(std::move(result), *failure);
    findBandEdges(state);
    if (auto failure = cutBandFromBinary(state)) return failed(std::move(result), *failure);
    result.band = {state.bandTop, state.bandBottom, state.width, state.height};

    result.passLines[0] = runPass(state, 0, bdLine);

    state.dibBinary = std::move(laterBinary);
    for (int pass = 1; pass < kPassCount; ++pass) {
        state.dibBand = cutBand(state, state.dibBinary.get());
        if (!state.dibBand) return failed(std::move(result), "out of memory cutting the band");
        result.passLines[static_cast<std::size_t>(pass)] = runPass(state, pass, bdLine);
    }

    drawResultImage(state);
    result.marked = std::move(state.dibBand);
    if (options.keepPhotograph) result.photograph = std::move(state.dibSource);
    return result;
}

}  // namespace

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
    CountingState state;
    if (auto failure = decodePhotographFromMemory(state, data, size))
        return failed(std::move(result), *failure);
    result.warning = libraryMessages();
    return countPrepared(state, std::move(result), bdLine, thresholdLevel, options);
}

CountResult countDecoded(Bitmap photograph, const std::string& name, std::int16_t bdLine,
                         std::int16_t thresholdLevel, const CountOptions& options) {
    CountResult result;
    result.file = name;
    if (auto problem = thresholdProblem(thresholdLevel)) return failed(std::move(result), *problem);
    if (!photograph) return failed(std::move(result), "there is no photograph to count");
    CountingState state;
    state.dibSource = std::move(photograph);
    return countPrepared(state, std::move(result), bdLine, thresholdLevel, options);
}

}  // namespace lathmark
