#include "engine/passes.h"

#include "engine/preparation.h"
#include "engine/rows.h"

namespace lathmark {
namespace {

// Rows lightened below the row where the scan meets a found line, and above its end.
constexpr int kMarginBelow = 9;
constexpr int kMarginAbove = 10;

// Trim profile: dark pixels over the whole band width, full rows marked.
void buildTrimProfile(CountingState& state, const PassParameters& parameters, std::int16_t bdLine) {
    const TwoLevelRows band(state.dibBand.get());
    const int width = state.width;
    const double fullRowLimit = 0.7 * width;
    fitProfile(state.bandProfile, state.height);
    for (int y = 0; y < state.height; ++y) {
        int dark = countDarkPixels(band, y, 0, width);
        if (dark > fullRowLimit) dark = width;
        if (parameters.trimProfileLineMinimum && dark < bdLine) dark = 0;
        state.bandProfile[static_cast<std::size_t>(y)] = dark;
    }
}

// Whitens the unbroken stacks of dark rows at the band's bottom and top edges, so that a line
// touching an edge is never counted. The top trim never reaches row 0.
void trimEdges(CountingState& state, double trimLimit) {
    const TwoLevelRows band(state.dibBand.get());
    const RowProfile& profile = state.bandProfile;
    const int height = state.height;
    for (int y = 0; y < height && profile[static_cast<std::size_t>(y)] > trimLimit; ++y)
        whitenRow(band, y);
    for (int y = height - 1; y > 0 && profile[static_cast<std::size_t>(y)] > trimLimit; --y)
        whitenRow(band, y);
}

// Clears a run of one to three line rows that has just been closed by the zero row y, unless
// the run starts at row 0 or 1.
void clearShortRunBelow(RowProfile& p, int y) {
    auto at = [&p](int row) -> int& { return p[static_cast<std::size_t>(row)]; };
    if (at(y) != 0) return;
    if (y >= 3 && at(y - 2) == 0 && at(y - 1) != 0) {
        at(y - 1) = 0;
    } else if (y >= 4 && at(y - 3) == 0 && at(y - 2) != 0 && at(y - 1) != 0) {
        at(y - 1) = at(y - 2) = 0;
    } else if (y >= 5 && at(y - 4) == 0 && at(y - 3) != 0 && at(y - 2) != 0 && at(y - 1) != 0) {
        at(y - 1) = at(y - 2) = at(y - 3) = 0;
    }
}

}  // namespace

void lightenFoundLines(CountingState& state, int pass) {
    const TwoLevelRows band(state.dibBand.get());
    const int height = state.height;
    int y = 0;
    while (y < height) {
        for (int earlier = 0; earlier < pass; ++earlier) {
            const RowProfile& found = state.*kPasses[static_cast<std::size_t>(earlier)].profile;
            if (entryAt(found, y, height) <= 0) continue;
            int end = y;
            while (end < height && entryAt(found, end, height) != 0) ++end;
            // The line's met rows, the margin below them and the margin from its end upwards.
            whitenRows(band, y - kMarginBelow, end + kMarginAbove);
            // The later profiles are tested at this new row within the same step.
            y = end + kMarginAbove;
        }
        ++y;
    }
}

void buildPassProfile(CountingState& state, const PassParameters& parameters, std::int16_t bdLine) {
    const TwoLevelRows band(state.dibBand.get());
    RowProfile& profile = state.*parameters.profile;
    const int width = state.width;
    const double fullRowLimit = parameters.fullRowRatio * width;
    const double lineMinimum = parameters.lineMinimumRatio * bdLine;
    fitProfile(profile, state.height);
    for (int y = 0; y < state.height; ++y) {
        int dark = countDarkPixels(band, y, kBandLeftColumn, width);
        if (dark > fullRowLimit) dark = width;
        if (dark < lineMinimum) dark = 0;
        profile[static_cast<std::size_t>(y)] = dark;
        clearShortRunBelow(profile, y);
    }
}

int countRuns(const RowProfile& profile, int height) {
    int runs = 0;
    for (int y = 0; y < height; ++y) {
        if (entryAt(profile, y, height) <= 0) continue;
        ++runs;
        while (entryAt(profile, y, height) > 0) ++y;
    }
    return runs;
}

int runPass(CountingState& state, int pass, std::int16_t bdLine) {
    const PassParameters& parameters = kPasses[static_cast<std::size_t>(pass)];
    lightenFoundLines(state, pass);
    buildTrimProfile(state, parameters, bdLine);
    trimEdges(state, parameters.trimRatio * bdLine);
    buildPassProfile(state, parameters, bdLine);
    return countRuns(state.*parameters.profile, state.height);
}

}  // namespace lathmark
