// Tests of counting within a region: a count within a region is the count of the photograph cut
// to that rectangle by the library's copy, with the band and joints in the photograph's rows.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/counting.h"
#include "engine/landscape.h"
#include "tests/support/bitmaps.h"

namespace lathmark {
namespace {

// Random grey levels in bands of rows, with a dark floor and wall, in 24 or 8 bits (`inverted`:
// a palette from light to dark, which the library thresholds).
Bitmap randomRows(int width, int height, std::uint32_t seed, int bitsPerPixel,
                  bool inverted = false) {
    std::mt19937 random(seed);
    Bitmap dib(FreeImage_Allocate(width, height, bitsPerPixel));
    if (bitsPerPixel == 8)
        for (int i = 0; i < 256; ++i) {
            const auto level = static_cast<BYTE>(inverted ? 255 - i : i);
            FreeImage_GetPalette(dib.get())[i] = {level, level, level, 0};
        }
    for (int y = 0; y < height; ++y) {
        const int base = y < 6 || y >= height - 5 ? 20 : static_cast<int>(random() % 256);
        BYTE* line = FreeImage_GetScanLine(dib.get(), y);
        for (int x = 0; x < width * bitsPerPixel / 8; ++x)
            line[x] =
                static_cast<BYTE>(std::clamp(base + static_cast<int>(random() % 61) - 30, 0, 255));
    }
    return dib;
}

struct Photograph {
    const char* name;
    Bitmap bitmap;
};

std::vector<Photograph> photographs() {
    std::vector<Photograph> list;
    const std::string sample = std::string(LATHMARK_SOURCE_DIR) + "/samples/stack_01.jpg";
    list.push_back({"stack_01.jpg", Bitmap(FreeImage_Load(FIF_JPEG, sample.c_str(), 0))});
    list.push_back({"grey palette", randomRows(97, 80, 3, 8)});
    list.push_back({"light-to-dark palette", randomRows(61, 70, 4, 8, true)});
    return list;
}

// Regions of a photograph of this size: the whole, one at each edge, a few pixels wide or high,
// and random ones.
std::vector<Region> regionsOf(int width, int height, std::mt19937& random) {
    std::vector<Region> regions = {{0, 0, width, height},
                                   {0, 0, width / 2, height},
                                   {width - width / 3, 0, width / 3, height},
                                   {0, height / 2, width, height - height / 2},
                                   {0, 0, width, height / 3},
                                   {width / 2, height / 4, 1, height / 2},
                                   {width / 3, height / 4, 5, height / 2},
                                   {width / 3, height / 3, 9, 3},
                                   {0, height - 1, width, 1},
                                   {width - 12, height - 2, 12, 2}};
    for (int i = 0; i < 20; ++i) {
        const int w = 1 + static_cast<int>(random() % static_cast<unsigned>(width));
        const int h = 1 + static_cast<int>(random() % static_cast<unsigned>(height));
        regions.push_back({static_cast<int>(random() % static_cast<unsigned>(width - w + 1)),
                           static_cast<int>(random() % static_cast<unsigned>(height - h + 1)), w,
                           h});
    }
    return regions;
}

std::string bitsOf(const Bitmap& image) {
    if (!image) return {};
    const auto* bits = reinterpret_cast<const char*>(FreeImage_GetBits(image.get()));
    return {bits, bits + FreeImage_GetPitch(image.get()) * static_cast<unsigned>(image.height())};
}

TEST(Region, CountsAsThePhotographCutToItByTheLibrary) {
    std::mt19937 random(20261209);
    for (const Photograph& photograph : photographs()) {
        const int width = photograph.bitmap.width(), height = photograph.bitmap.height();
        for (const Region& region : regionsOf(width, height, random)) {
            Settings settings{.threshold = static_cast<int>(random() % 246),
                              .bdLine = static_cast<int>(random() % 60),
                              .stretch = 1 + static_cast<int>(random() % 4)};
            SCOPED_TRACE(std::string(photograph.name) + " region " + regionText(region) +
                         " THRESHOLD " + std::to_string(settings.threshold) + " BDLINE " +
                         std::to_string(settings.bdLine) + " STRETCH " +
                         std::to_string(settings.stretch));
            Bitmap cut(FreeImage_Copy(photograph.bitmap.get(), region.left, region.top,
                                      region.left + region.width, region.top + region.height));
            ASSERT_TRUE(cut);
            const CountResult expected = countDecoded(std::move(cut), "p", settings);
            settings.region = region;
            const CountResult within =
                countDecoded(Bitmap(FreeImage_Clone(photograph.bitmap.get())), "p", settings,
                             {.stability = true});
            ASSERT_EQ(within.ok(), expected.ok());
            if (!expected.ok()) {
                EXPECT_EQ(within.error->reason, expected.error->reason);
                continue;
            }
            const int shift = region.top * settings.stretch;
            EXPECT_EQ(within.passLines, expected.passLines);
            EXPECT_EQ(within.band.top, expected.band.top + shift);
            EXPECT_EQ(within.band.bottom, expected.band.bottom + shift);
            EXPECT_EQ(within.band.width, expected.band.width);
            EXPECT_EQ(within.band.height, expected.band.height);
            ASSERT_EQ(within.joints.size(), expected.joints.size());
            for (std::size_t i = 0; i < expected.joints.size(); ++i)
                EXPECT_EQ(within.joints[i].top, expected.joints[i].top + shift);
            EXPECT_EQ(within.photographWidth, width);
            EXPECT_EQ(bitsOf(within.marked), bitsOf(expected.marked));
            // The stability ranges search the region too.
            const StepResult<ThresholdTable> table =
                ThresholdTable::build(photograph.bitmap.get(), region);
            ASSERT_TRUE(table.ok());
            ASSERT_TRUE(within.stable);
            EXPECT_EQ(within.stable->threshold, stabilityRanges(table.value, settings).threshold);
            // Waited for later, as the window does, the ranges and the verdict are the same,
            // and the photograph handed back need not be kept meanwhile.
            const CountOptions later{
                .keepPhotograph = true, .stability = true, .stabilityLater = true};
            CountResult waited = countDecoded(Bitmap(FreeImage_Clone(photograph.bitmap.get())), "p",
                                              settings, later);
            waited.photograph.reset();
            finishCount(waited, later);
            ASSERT_TRUE(waited.stable);
            EXPECT_EQ(waited.stable->threshold, within.stable->threshold);
            EXPECT_EQ(waited.stable->bdLine, within.stable->bdLine);
            EXPECT_EQ(waited.certainty.why, within.certainty.why);
        }
    }
}

TEST(Region, ThatDoesNotFitIsThatPhotographsError) {
    const Bitmap photograph = test::greyPhotograph(768, std::vector<int>(576, 200));
    for (const Region& region : std::vector<Region>{
             {100, 0, 800, 600}, {0, 0, 769, 1}, {0, 576, 1, 1}, {767, 575, 2, 1}}) {
        const CountResult result = countDecoded(Bitmap(FreeImage_Clone(photograph.get())), "p.jpg",
                                                {.threshold = 128, .bdLine = 40, .region = region});
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error->message(), "p.jpg: the region " + regionText(region) +
                                               " does not fit this photograph of 768 × 576");
    }
}

TEST(Region, GeometryIsReadOrNamedWhatIsWrong) {
    const std::pair<const char*, const char*> cases[] = {
        {"800x600+100+0", ""},
        {"1X1+0+0", ""},
        {"65535x65535+65535+65535", ""},
        {"800x600", " is not of the form WxH+X+Y"},
        {"800x600+1", " is not of the form WxH+X+Y"},
        {"800x600+1+2 ", " is not of the form WxH+X+Y"},
        {"a800x600+1+2", " is not of the form WxH+X+Y"},
        {"800*600+1+2", " is not of the form WxH+X+Y"},
        {"", " is not of the form WxH+X+Y"},
        {"0x600+0+0", ": its width and height must be at least 1"},
        {"800x-6+0+0", ": its width and height must be at least 1"},
        {"800x600-1+0", ": the left column and top row cannot be negative"},
        {"800x600+0-1", ": the left column and top row cannot be negative"},
        {"65536x600+0+0", ": its numbers are pixels, at most 65535"},
        {"8x6+99999999999999999999+0", ": its numbers are pixels, at most 65535"},
    };
    for (const auto& [text, problem] : cases) {
        const RegionParsed parsed = parseRegion(text);
        if (*problem == '\0') {
            ASSERT_TRUE(parsed.region) << text << ": " << parsed.problem;
            EXPECT_EQ(regionText(*parsed.region),
                      std::string(text) == "1X1+0+0" ? "1x1+0+0" : text);
        } else {
            EXPECT_FALSE(parsed.region) << text;
            EXPECT_EQ(parsed.problem, "\"" + std::string(text) + "\"" + problem);
        }
    }
}

}  // namespace
}  // namespace lathmark
