// Tests of the settings landscape and the stability ranges against the count itself: both must
// come to what a count at the same settings comes to, on photographs of several kinds.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/counting.h"
#include "engine/landscape.h"
#include "engine/preparation.h"
#include "tests/support/bitmaps.h"
#include "tools/samplegen.h"

namespace lathmark {
namespace {

struct Photograph {
    std::string name;
    Bitmap bitmap;
};

Bitmap loadSample(const std::string& name) {
    const std::string path = std::string(LATHMARK_SOURCE_DIR) + "/samples/" + name;
    return Bitmap(FreeImage_Load(FIF_JPEG, path.c_str(), 0));
}

// Rows of random grey levels with a dark floor and wall: band edges, trims and line rows of
// every size, at every threshold.
Bitmap randomRows(int width, int height, std::uint32_t seed, int bitsPerPixel) {
    std::mt19937 random(seed);
    Bitmap dib(FreeImage_Allocate(width, height, bitsPerPixel));
    if (bitsPerPixel == 8) {
        RGBQUAD* palette = FreeImage_GetPalette(dib.get());
        for (int i = 0; i < 256; ++i) {
            const auto level = static_cast<BYTE>(i);
            palette[i] = {level, level, level, 0};
        }
    }
    const int bytes = bitsPerPixel / 8;
    for (int y = 0; y < height; ++y) {
        const bool background = y < 6 || y >= height - 5;
        const int base = background ? 20 : static_cast<int>(random() % 256);
        const int spread = 1 + static_cast<int>(random() % 120);
        BYTE* line = FreeImage_GetScanLine(dib.get(), y);
        for (int x = 0; x < width * bytes; ++x) {
            const int level =
                base + static_cast<int>(random() % static_cast<unsigned>(spread)) - spread / 2;
            line[x] = static_cast<BYTE>(std::clamp(level, 0, 255));
        }
    }
    return dib;
}

// A stack drawn far taller than a camera frame.
Bitmap tallStack() {
    samplegen::StackPlan plan;
    plan.width = 200;
    plan.height = 2000;
    plan.floorRows = 100;
    plan.wallRows = 100;
    plan.boards = 40;
    plan.faintJoints = 3;
    plan.gapLengths = {20, 9};
    auto dib = samplegen::renderStack(samplegen::planStack(plan, 77), 77);
    return Bitmap(dib.release());
}

std::vector<Photograph> photographs() {
    std::vector<Photograph> list;
    for (const char* name : {"stack_01.jpg", "stack_04.jpg", "stack_09.jpg", "stack_10.jpg"})
        list.push_back({name, loadSample(name)});
    list.push_back({"random rows, colour", randomRows(61, 90, 5, 24)});
    list.push_back({"random rows, grey palette", randomRows(33, 70, 6, 8)});
    // A palette the engine does not read itself goes through the library's threshold.
    Bitmap inverted = randomRows(29, 50, 7, 8);
    std::reverse(FreeImage_GetPalette(inverted.get()), FreeImage_GetPalette(inverted.get()) + 256);
    list.push_back({"random rows, light-to-dark palette", std::move(inverted)});
    list.push_back({"tall stack", tallStack()});
    return list;
}

CountResult countWith(const Bitmap& photograph, const Settings& settings) {
    return countDecoded(Bitmap(FreeImage_Clone(photograph.get())), "photograph", settings);
}

// At STRETCH 1 and one STRETCH above it for each photograph.
TEST(Landscape, EqualsTheCountAtRandomSettings) {
    std::mt19937 random(2024);
    int kind = 0;
    for (const Photograph& photograph : photographs()) {
        ASSERT_TRUE(photograph.bitmap);
        const StepResult<ThresholdTable> built = ThresholdTable::build(photograph.bitmap.get());
        ASSERT_TRUE(built.ok()) << *built.failure;
        const ThresholdTable& table = built.value;
        // Its rows shared among threads, the same table.
        for (const int threads : {2, 3}) {
            const StepResult<ThresholdTable> shared =
                ThresholdTable::build(photograph.bitmap.get(), std::nullopt, {}, threads);
            ASSERT_TRUE(shared.ok());
            for (int level = 0; level < 256; ++level)
                for (int row = 0; row < table.height(); ++row)
                    ASSERT_TRUE(shared.value.at(level).fromColumn4[row] ==
                                    table.at(level).fromColumn4[row] &&
                                shared.value.at(level).fromColumn8[row] ==
                                    table.at(level).fromColumn8[row])
                        << photograph.name << " on " << threads << " threads, level " << level;
        }
        for (const int stretch : {1, 2 + kind++ % 3}) {
            SCOPED_TRACE(photograph.name + " at STRETCH " + std::to_string(stretch));
            const Landscape landscape = settingsLandscape(table, table.width(), stretch);
            for (int trial = 0; trial < 40; ++trial) {
                // Near half of the trials at low BDLINE, where most rows are line rows.
                const int threshold = static_cast<int>(random() % kThresholds);
                const int range =
                    trial % 2 == 0 ? table.width() + 1 : std::min(40, table.width() + 1);
                const int bdLine = static_cast<int>(random() % static_cast<unsigned>(range));
                const std::string where =
                    "THRESHOLD " + std::to_string(threshold) + " BDLINE " + std::to_string(bdLine);
                const Settings settings{threshold, bdLine, stretch};
                const CountResult count = countWith(photograph.bitmap, settings);
                ASSERT_EQ(landscape.counted(threshold), count.ok()) << where;
                if (!count.ok()) continue;
                EXPECT_EQ(landscape.passLines(threshold, bdLine), count.passLines) << where;
                const RowCounts rows = rowsAt(table, settings);
                const StepResult<Band> band = findBand(rows);
                ASSERT_TRUE(band.ok()) << where;
                EXPECT_EQ(band.value.edges.top, count.band.top) << where;
                EXPECT_EQ(band.value.edges.bottom, count.band.bottom) << where;

                // Stability: the same boards all through each range, others just beyond it;
                // and the self-check, from a table of the few thresholds it needs, short exactly
                // where a range is.
                if (trial % 6 != 0) continue;
                const StabilityRanges ranges = stabilityRanges(table, settings);
                const StepResult<ThresholdTable> narrow = ThresholdTable::build(
                    photograph.bitmap.get(), std::nullopt, checkLevels(settings));
                ASSERT_TRUE(narrow.ok()) << where;
                EXPECT_EQ(countDependsOnSettings(narrow.value, settings), ranges.uncertain)
                    << where;
                const int boards = count.boards();
                for (int level = ranges.threshold[0]; level <= ranges.threshold[1]; ++level)
                    ASSERT_EQ(landscape.boards(level, bdLine), boards) << where << " at " << level;
                if (ranges.threshold[0] > 0) {
                    EXPECT_NE(landscape.boards(ranges.threshold[0] - 1, bdLine), boards) << where;
                }
                if (ranges.threshold[1] < Settings::kMaxThreshold) {
                    EXPECT_NE(landscape.boards(ranges.threshold[1] + 1, bdLine), boards) << where;
                }
                for (int level = ranges.bdLine[0]; level <= ranges.bdLine[1]; ++level)
                    ASSERT_EQ(landscape.boards(threshold, level), boards)
                        << where << " at " << level;
                if (ranges.bdLine[0] > 0) {
                    EXPECT_NE(landscape.boards(threshold, ranges.bdLine[0] - 1), boards) << where;
                }
                if (ranges.bdLine[1] < table.width()) {
                    EXPECT_NE(landscape.boards(threshold, ranges.bdLine[1] + 1), boards) << where;
                }
            }

            // A sweep that wants one number of lines: its runs of as many or fewer are the
            // landscape's, and where it hands on more, the landscape has more still.
            auto sum = [](const PassLines& lines) {
                return lines[0] + lines[1] + lines[2] + lines[3];
            };
            for (const int wanted : {0, 4, 12, 39}) {
                LandscapeSweep sweep;
                sweep.linesWanted = wanted;
                sweep.band = [](int, int, const StepResult<Band>&) {};
                sweep.repeat = [](int) {};
                sweep.run = [&](int threshold, int, int first, int last, const PassLines& lines) {
                    for (int bdLine = first; bdLine <= last; ++bdLine) {
                        const PassLines exact = landscape.passLines(threshold, bdLine);
                        ASSERT_TRUE(sum(lines) <= wanted ? lines == exact
                                                         : sum(exact) >= sum(lines))
                            << wanted << " lines wanted, THRESHOLD " << threshold << " BDLINE "
                            << bdLine;
                    }
                };
                sweepLandscape(table, table.width(), stretch, stretch, sweep);
            }
        }
    }
}

// The self-check against the stability ranges on a grid of settings where short and wide ranges
// both occur (at the ends of the THRESHOLD and BDLINE ranges too), at STRETCH 1 and 2.
TEST(Landscape, SelfCheckIsShortExactlyWhereAStabilityRangeIs) {
    int shortOnes = 0;
    int wideOnes = 0;
    for (const Photograph& photograph : photographs()) {
        const StepResult<ThresholdTable> full = ThresholdTable::build(photograph.bitmap.get());
        ASSERT_TRUE(full.ok()) << *full.failure;
        for (const int threshold : {0, 2, 60, 117, 128, 131, 200, 243, 245})
            for (const int bdLine : {-3, 0, 1, 9, 14, 40, 120, full.value.width() - 1})
                for (const int stretch : {1, 2}) {
                    const Settings settings{threshold, bdLine, stretch};
                    SCOPED_TRACE(photograph.name + ": " + countingSettingsText(settings));
                    const StepResult<ThresholdTable> narrow = ThresholdTable::build(
                        photograph.bitmap.get(), std::nullopt, checkLevels(settings));
                    ASSERT_TRUE(narrow.ok());
                    const bool uncertain = stabilityRanges(full.value, settings).uncertain;
                    EXPECT_EQ(countDependsOnSettings(narrow.value, settings), uncertain);
                    ++(uncertain ? shortOnes : wideOnes);
                }
    }
    EXPECT_GT(shortOnes, 50);
    EXPECT_GT(wideOnes, 50);
}

// The photograph with each row repeated, made by the library.
Bitmap withRowsRepeated(FIBITMAP* photograph, int times) {
    const unsigned width = FreeImage_GetWidth(photograph);
    const unsigned height = FreeImage_GetHeight(photograph);
    const unsigned bpp = FreeImage_GetBPP(photograph);
    Bitmap repeated(FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height) * times,
                                       static_cast<int>(bpp)));
    if (FreeImage_GetColorsUsed(photograph) > 0)
        std::copy_n(FreeImage_GetPalette(photograph), FreeImage_GetColorsUsed(photograph),
                    FreeImage_GetPalette(repeated.get()));
    for (unsigned y = 0; y < height * static_cast<unsigned>(times); ++y)
        std::memcpy(FreeImage_GetScanLine(repeated.get(), static_cast<int>(y)),
                    FreeImage_GetScanLine(photograph, static_cast<int>(y) / times),
                    FreeImage_GetLine(photograph));
    return repeated;
}

// Counting at STRETCH k is counting the photograph with each row repeated k times: the same
// lines, band and result image.
TEST(Stretch, CountsAsThePhotographWithItsRowsRepeated) {
    const std::vector<Photograph> all = photographs();
    for (const int index : {0, 3, 4}) {
        const Photograph& photograph = all[static_cast<std::size_t>(index)];
        for (const int stretch : {2, 3, 4}) {
            const Bitmap repeated = withRowsRepeated(photograph.bitmap.get(), stretch);
            for (const auto& [threshold, bdLine] : {std::pair{128, 40}, {138, 10}, {100, 120}}) {
                SCOPED_TRACE(photograph.name + " at STRETCH " + std::to_string(stretch) +
                             ", THRESHOLD " + std::to_string(threshold) + ", BDLINE " +
                             std::to_string(bdLine));
                const CountResult stretched =
                    countWith(photograph.bitmap, {threshold, bdLine, stretch});
                const CountResult expected = countWith(repeated, {threshold, bdLine});
                ASSERT_EQ(stretched.ok(), expected.ok());
                if (!expected.ok()) continue;
                EXPECT_EQ(stretched.passLines, expected.passLines);
                EXPECT_EQ(stretched.band.top, expected.band.top);
                EXPECT_EQ(stretched.band.bottom, expected.band.bottom);
                ASSERT_EQ(stretched.marked.height(), expected.marked.height());
                const std::size_t bytes = FreeImage_GetPitch(expected.marked.get()) *
                                          static_cast<std::size_t>(expected.marked.height());
                EXPECT_EQ(std::memcmp(FreeImage_GetBits(stretched.marked.get()),
                                      FreeImage_GetBits(expected.marked.get()), bytes),
                          0);
            }
        }
    }
}

}  // namespace
}  // namespace lathmark
