// Tests of the four counting passes: edge trims, the full-row rule and line minimum of each
// pass, removal of short runs, and the scan that lightens the lines of earlier passes.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/passes.h"
#include "tests/support/bitmaps.h"

namespace lathmark {
namespace {

using test::rowRange;

// ---- One pass on a band given as dark pixels per row ----

struct PassCase {
    const char* name;
    int pass;  // 0 to 3
    int width;
    std::int16_t bdLine;
    std::vector<int> dark;     // dark pixels per row from column 4 on, from the bottom row
    std::vector<int> profile;  // the pass profile expected afterwards
    int lines;
    std::vector<int> edgeDark = {};  // rows whose columns 0 to 3 are dark as well
};

class Pass : public testing::TestWithParam<PassCase> {};

// Runs one pass, with no lines found by the passes before it, on a band whose rows have `dark`
// pixels from column 4 on and, on the rows listed in `edgeDark`, columns 0 to 3 dark as well.
// Gives the pass's profile (each line row's entry by the pass's rules, 0 on other rows) and lines.
std::pair<std::vector<int>, int> runOnePass(int pass, int width, std::int16_t bdLine,
                                            const std::vector<int>& dark,
                                            const std::vector<int>& edgeDark = {}) {
    std::vector<int> trim = dark;
    for (int y : edgeDark) trim[static_cast<std::size_t>(y)] += 4;
    const auto height = static_cast<int>(dark.size());
    const DarkPixels rows{trim.data(), dark.data()};
    PassWork work;
    work.reset(height);
    PassRowFlags flags;
    const PassRules rules(kPasses[static_cast<std::size_t>(pass)], width, bdLine);
    flagRows(rules, rows, height, flags);
    const int lines = runPass(pass, flags, work);
    std::vector<int> profile(dark.size(), 0);
    for (int y = 0; y < height; ++y)
        if (work.lineRows[static_cast<std::size_t>(pass)].contains(y))
            profile[static_cast<std::size_t>(y)] =
                rules.lineEntry(dark[static_cast<std::size_t>(y)]);
    return {profile, lines};
}

TEST_P(Pass, BuildsItsProfileAndCountsItsLines) {
    const PassCase& c = GetParam();
    const auto [profile, lines] = runOnePass(c.pass, c.width, c.bdLine, c.dark, c.edgeDark);
    EXPECT_EQ(profile, c.profile);
    EXPECT_EQ(lines, c.lines);
}

// clang-format off
const PassCase kPassCases[] = {
    // First pass: 20 wide, so 16 columns count for lines and a full row has more than 14.
    {"EdgeLinesTrimmedHoweverThick", 0, 20, 5,
     {9, 9, 9, 9, 9, 0, 9, 9, 9, 9, 0, 9, 9, 9}, {0, 0, 0, 0, 0, 0, 9, 9, 9, 9, 0, 0, 0, 0}, 1},
    {"RowBelowLineMinimumShieldsLinesFromTrims", 0, 20, 5,
     {4, 9, 9, 9, 0, 0, 0, 9, 9, 9, 9, 4}, {0, 9, 9, 9, 0, 0, 0, 9, 9, 9, 9, 0}, 2},
    {"RunsOfOneToThreeRemovedFourCounted", 0, 20, 5,
     {0, 0, 9, 0, 9, 9, 0, 9, 9, 9, 0, 9, 9, 9, 9, 0, 0},
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 9, 9, 9, 0, 0}, 1},
    {"OneRowRunAtRowOneCounted", 0, 20, 5, {0, 9, 0, 0, 0}, {0, 9, 0, 0, 0}, 1},
    {"LinesOneZeroRowApartCountTwice", 0, 20, 5,
     {0, 0, 9, 9, 9, 9, 0, 9, 9, 9, 9, 0, 0}, {0, 0, 9, 9, 9, 9, 0, 9, 9, 9, 9, 0, 0}, 2},
    {"LineMinimumIsInclusive", 0, 20, 5,
     {0, 0, 5, 5, 5, 5, 0, 4, 4, 4, 4, 0, 5, 5, 4, 5, 5, 0},
     {0, 0, 5, 5, 5, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1},
    {"FullRowAboveSevenTenthsOfWidth", 0, 20, 5,
     {0, 0, 14, 15, 16, 14, 0, 0}, {0, 0, 14, 20, 20, 14, 0, 0}, 1},
    {"ZeroLineMinimumTakesAnyDarkPixel", 0, 20, 0,
     {1, 0, 1, 1, 1, 1, 0, 1}, {0, 0, 1, 1, 1, 1, 0, 0}, 1},
    {"NegativeLineMinimumTrimsEverything", 0, 20, -3,
     {0, 0, 9, 9, 9, 9, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}, 0},
    {"EveryRowALineRowTrimsEverything", 0, 20, 5, {9, 9, 9, 9, 9, 9}, {0, 0, 0, 0, 0, 0}, 0},
    // Row 0 is dark only in columns 0 to 3: enough for the bottom trim, which then also
    // takes the line above it. Rows 6 to 9 are likewise dark only there: no line.
    {"EdgeColumnsCountForTrimsNotLines", 0, 20, 4,
     {0, 9, 9, 9, 9, 0, 0, 0, 0, 0, 0, 9, 9, 9, 9, 0},
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 9, 9, 9, 0}, 1, {0, 6, 7, 8, 9}},

    // Later passes' full-row rule runs before their line minimum.
    {"Pass3ElevenOfHundredIsFull", 2, 100, 40,
     {0, 0, 11, 11, 11, 11, 0, 0}, {0, 0, 100, 100, 100, 100, 0, 0}, 1},
    {"Pass3TenOfHundredIsNoLine", 2, 100, 40, {0, 0, 10, 10, 10, 10, 0, 0},
     {0, 0, 0, 0, 0, 0, 0, 0}, 0},
    {"Pass3TwelveOfHundredIsFull", 2, 100, 40,
     {0, 0, 12, 12, 12, 12, 0, 0}, {0, 0, 100, 100, 100, 100, 0, 0}, 1},
    {"Pass3OnWideBand", 2, 1000, 40,
     {0, 0, 12, 100, 101, 12, 0, 11, 11, 11, 11, 0},
     {0, 0, 12, 100, 1000, 12, 0, 0, 0, 0, 0, 0}, 1},
    {"Pass4SixIsFullFiveIsNoLine", 3, 100, 40,
     {0, 0, 6, 6, 6, 6, 0, 5, 5, 5, 5, 0}, {0, 0, 100, 100, 100, 100, 0, 0, 0, 0, 0, 0}, 1},
    {"Pass2Limits", 1, 20, 10,
     {0, 0, 12, 13, 8, 12, 0, 7, 7, 7, 7, 0}, {0, 0, 12, 20, 8, 12, 0, 0, 0, 0, 0, 0}, 1},

    // Trim limits, seen at single line rows on the edges, which short-run removal keeps.
    {"Pass3KeepsEdgeRowsAtHalfLineMinimum", 2, 100, 40, {20, 0, 0, 0, 20}, {100, 0, 0, 0, 100}, 2},
    {"Pass4TrimsEdgeRowsAtHalfLineMinimum", 3, 100, 40, {20, 0, 0, 0, 20}, {0, 0, 0, 0, 0}, 0},
    {"Pass2TrimsOnlyAboveLineMinimum", 1, 100, 40, {40, 0, 0, 0, 41}, {40, 0, 0, 0, 0}, 1},
    {"Pass1TrimsAtLineMinimum", 0, 100, 40, {40, 0, 0, 0, 41}, {0, 0, 0, 0, 0}, 0},
    {"Pass3ZeroLineMinimumTrimsAnyDark", 2, 100, 0, {1, 0, 0, 0, 1}, {0, 0, 0, 0, 0}, 0},
    {"Pass4ZeroLineMinimumTrimsAnyDark", 3, 100, 0, {1, 0, 0, 0, 1}, {0, 0, 0, 0, 0}, 0},

    // Short runs at the top: a zero row inside the band must close them.
    {"ShortRunReachingTopRowStays", 1, 100, 10,
     {0, 0, 0, 0, 0, 0, 0, 9, 9, 9}, {0, 0, 0, 0, 0, 0, 0, 9, 9, 9}, 1},
    {"ShortRunClosedByTopRowRemoved", 1, 100, 10,
     {0, 0, 0, 0, 0, 0, 9, 9, 9, 0}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
    {"LongRunReachingTopRowCountsOnce", 1, 100, 10,
     {0, 0, 0, 0, 0, 9, 9, 9, 9, 9}, {0, 0, 0, 0, 0, 9, 9, 9, 9, 9}, 1},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Passes, Pass, testing::ValuesIn(kPassCases),
                         [](const auto& p) { return std::string(p.param.name); });

// On random bands, every pass leaves a profile whose entries are 0, W or within its limits,
// whose runs starting at row 2 or higher and closed inside the band are at least four rows long,
// and whose line count is its number of runs. Pass 1 leaves rows 0 and H-1 at 0.
TEST(PassRules, HoldOnRandomBands) {
    constexpr int kWidth = 40, kHeight = 60;
    std::mt19937 random(42);
    std::uniform_int_distribution<int> kind(0, 3), count(0, kWidth - 4);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<int> dark(kHeight);
        for (int& d : dark) d = kind(random) == 0 ? 0 : count(random);
        const int pass = trial % kPassCount;
        const auto bdLine = static_cast<std::int16_t>(trial % 30);
        const auto [p, lines] = runOnePass(pass, kWidth, bdLine, dark);
        const PassParameters& parameters = kPasses[static_cast<std::size_t>(pass)];
        const std::string where = "trial " + std::to_string(trial) + " pass " +
                                  std::to_string(pass + 1) + " " + testing::PrintToString(p);
        int runs = 0;
        for (int y = 0; y < kHeight; ++y) {
            const bool inLimits = p[y] >= parameters.lineMinimumRatio * bdLine &&
                                  p[y] <= parameters.fullRowRatio * kWidth;
            ASSERT_TRUE(p[y] == 0 || p[y] == kWidth || inLimits) << where << " row " << y;
            if (p[y] == 0 || (y > 0 && p[y - 1] != 0)) continue;
            int end = y;
            while (end < kHeight && p[end] != 0) ++end;
            ASSERT_TRUE(y < 2 || end == kHeight || end - y >= 4) << where << " run at " << y;
            ++runs;
        }
        EXPECT_EQ(lines, runs) << where;
        if (pass == 0) {
            EXPECT_TRUE(p[0] == 0 && p[kHeight - 1] == 0) << where;
        }
    }
}

TEST(CountRuns, RowsAtAndAboveTheHeightAreNoLineRows) {
    for (const auto& [height, runs] : {std::pair{30, 1}, {25, 0}, {0, 0}}) {
        RowSet lineRows(height);
        lineRows.insert(25, 1000);  // a short run reaching the top row, and rows beyond the band
        EXPECT_EQ(removeShortRunsAndCount(lineRows), runs) << height << " rows";
    }
}

// ---- Lightening the lines of earlier passes ----

using Runs = std::vector<std::pair<int, int>>;  // rows from, to (both included)

struct ExclusionCase {
    const char* name;
    int pass;  // 1 to 3
    int height;
    std::vector<Runs> runs;  // runs of passProfile1, passProfile2, passProfile3
    std::vector<int> light;  // rows of the dark band that are light afterwards
    bool stale = false;      // profiles hold non-zero entries above the band
};

class Exclusion : public testing::TestWithParam<ExclusionCase> {};

TEST_P(Exclusion, LightensFoundLinesWithTheirMargins) {
    const ExclusionCase& c = GetParam();
    PassWork work;
    work.reset(c.height);
    for (std::size_t i = 0; i < c.runs.size(); ++i) {
        if (c.stale) work.lineRows[i].insert(c.height, c.height + 400);
        for (auto [from, to] : c.runs[i]) work.lineRows[i].insert(from, to + 1);
    }
    RowSet whitened(c.height);
    lightenFoundLines(work, c.pass, whitened);
    std::vector<int> light;
    for (int y = 0; y < c.height; ++y)
        if (whitened.contains(y)) light.push_back(y);
    EXPECT_EQ(light, c.light);
}

// clang-format off
const ExclusionCase kExclusionCases[] = {
    {"NoEarlierLine", 1, 40, {{}}, {}},
    {"NineBelowTenAbove", 1, 60, {{{20, 23}}}, rowRange(11, 33)},
    {"MarginCutAtBottom", 1, 60, {{{3, 5}}}, rowRange(0, 15)},
    {"MarginCutAtTop", 1, 30, {{{22, 25}}}, rowRange(13, 29)},
    {"LineEndingAtTopRow", 1, 30, {{{25, 29}}}, rowRange(16, 29)},
    // The second line starts on the first row the scan skips after the first line.
    {"LinesTenZeroRowsApart", 1, 60, {{{20, 23}, {34, 37}}}, rowRange(11, 47)},
    {"LineEndingOnSkippedRowKeepsItDark", 1, 60, {{{20, 23}, {30, 34}}}, rowRange(11, 33)},
    // One cursor: the pass-2 line is met at the row where the scan lands after pass 1's.
    {"SharedCursorInPass3", 2, 60, {{{20, 23}}, {{34, 40}}}, rowRange(11, 50)},
    {"SharedCursorInPass4", 3, 60, {{{20, 23}}, {{34, 40}}, {}}, rowRange(11, 50)},
    // After a jump to row 51 only the later profiles see row 51; the scan goes on at 52.
    {"RowAfterJumpSkippedByEarlierProfile", 2, 70, {{{20, 23}, {51, 51}}, {{34, 40}}},
     rowRange(11, 50)},
    {"RowAfterJumpTestedByLaterProfile", 3, 70, {{{20, 23}}, {{34, 40}}, {{51, 51}}},
     rowRange(11, 61)},
    {"LaterLineEndingAtTopRow", 3, 45, {{}, {{34, 44}}, {}}, rowRange(25, 44)},
    {"StaleEntriesAboveBandReadAsZero", 3, 30, {{{25, 29}}, {}, {}}, rowRange(16, 29), true},
    {"OnlyStaleEntries", 3, 30, {{}, {}, {}}, {}, true},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Passes, Exclusion, testing::ValuesIn(kExclusionCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace lathmark
