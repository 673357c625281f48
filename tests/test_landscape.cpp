// Tests of the settings landscape and the stability ranges against the count itself: both must
// come to what a count at the same settings comes to, on photographs of several kinds.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/counting.h"
#include "engine/landscape.h"
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

TEST(Landscape, EqualsTheCountAtRandomSettings) {
    std::mt19937 random(2024);
    for (const Photograph& photograph : photographs()) {
        SCOPED_TRACE(photograph.name);
        ASSERT_TRUE(photograph.bitmap);
        ThresholdTable table;
        ASSERT_EQ(ThresholdTable::build(photograph.bitmap.get(), table), std::nullopt);
        const Landscape landscape = settingsLandscape(table, table.width());
        for (int trial = 0; trial < 60; ++trial) {
            // Near half of the trials at low BDLINE, where most rows are line rows.
            const int threshold = static_cast<int>(random() % kThresholds);
            const int range = trial % 2 == 0 ? table.width() + 1 : std::min(40, table.width() + 1);
            const int bdLine = static_cast<int>(random() % static_cast<unsigned>(range));
            const std::string where =
                "THRESHOLD " + std::to_string(threshold) + " BDLINE " + std::to_string(bdLine);
            const CountResult count = countDecoded(
                Bitmap(FreeImage_Clone(photograph.bitmap.get())), photograph.name,
                static_cast<std::int16_t>(bdLine), static_cast<std::int16_t>(threshold));
            ASSERT_EQ(landscape.counted(threshold), count.ok()) << where;
            if (!count.ok()) continue;
            EXPECT_EQ(landscape.passLines(threshold, bdLine), count.passLines) << where;
            const BandAtThreshold band = bandAt(table, threshold);
            EXPECT_EQ(band.edges.top, count.band.top) << where;
            EXPECT_EQ(band.edges.bottom, count.band.bottom) << where;

            // Stability: the same boards all through each range, others just beyond it.
            if (trial % 6 != 0) continue;
            const StabilityRanges ranges = stabilityRanges(table, threshold, bdLine);
            const int boards = count.boards();
            for (int level = ranges.threshold[0]; level <= ranges.threshold[1]; ++level)
                ASSERT_EQ(landscape.boards(level, bdLine), boards) << where << " at " << level;
            if (ranges.threshold[0] > 0) {
                EXPECT_NE(landscape.boards(ranges.threshold[0] - 1, bdLine), boards) << where;
            }
            if (ranges.threshold[1] < kMaxThreshold) {
                EXPECT_NE(landscape.boards(ranges.threshold[1] + 1, bdLine), boards) << where;
            }
            for (int level = ranges.bdLine[0]; level <= ranges.bdLine[1]; ++level)
                ASSERT_EQ(landscape.boards(threshold, level), boards) << where << " at " << level;
            if (ranges.bdLine[0] > 0) {
                EXPECT_NE(landscape.boards(threshold, ranges.bdLine[0] - 1), boards) << where;
            }
            if (ranges.bdLine[1] < table.width()) {
                EXPECT_NE(landscape.boards(threshold, ranges.bdLine[1] + 1), boards) << where;
            }
        }
    }
}

}  // namespace
}  // namespace lathmark
