// Decoding a region alone must give exactly the pixels, size, resolution and warning of the whole
// photograph's decode, for every kind of JPEG there is, and leave every photograph it cannot
// decode so to the whole decode (which refuses or warns as before).

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/counting.h"
#include "engine/preparation.h"
#include "tests/support/corpus.h"
#include "tests/support/files.h"
#include "tests/support/jpeg_coding.h"

namespace lathmark {
namespace {

namespace fs = std::filesystem;

const fs::path kSamples = fs::path(LATHMARK_SOURCE_DIR) / "samples";

// A picture of noise, so that any pixel decoded differently shows, saved by FreeImage with
// `flags` (its subsampling) in 24-bit colour or 8-bit grey.
std::string noiseJpeg(int width, int height, int flags, bool grey = false,
                      unsigned dotsPerMeter = 2835) {
    Bitmap dib(FreeImage_Allocate(width, height, grey ? 8 : 24));
    FreeImage_SetDotsPerMeterX(dib.get(), dotsPerMeter);
    FreeImage_SetDotsPerMeterY(dib.get(), dotsPerMeter);
    std::mt19937 random(static_cast<unsigned>(width * 7919 + height));
    const Scanlines rows(dib.get());
    const int bytes = grey ? width : 3 * width;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < bytes; ++x)
            // Smooth bands with noise on them: smooth enough for chroma to matter, rough enough
            // that every block differs.
            rows(y)[x] = static_cast<BYTE>((x * 3 + y * 5) / 4 % 200 + random() % 56);
    return test::savedJpeg(dib.get(), flags);
}

// Whether a region of a kind of JPEG is decoded alone.
enum class Alone { Yes, No, Either };

struct Kind {
    std::string name;
    std::string jpeg;
    Alone alone;
};

std::vector<Kind> kinds() {
    const std::string stack = test::readBytes(kSamples / "stack_02.jpg");
    const std::string yard = test::readBytes(kSamples / "yard" / "yard_01.jpg");
    std::vector<Kind> all{
        {"4:4:4 sample", stack, Alone::Yes},
        {"4:2:0 yard sample", yard, Alone::Yes},
        {"progressive", test::recoded(stack, {.progressive = true}), Alone::Yes},
        {"progressive 4:2:0", test::recoded(yard, {.progressive = true}), Alone::Yes},
        {"restart markers", test::recoded(yard, {.restartRows = 1}), Alone::Yes},
        {"arithmetic", test::recoded(stack, {.arithmetic = true}), Alone::No},
        {"4:4:4 odd size", noiseJpeg(203, 117, JPEG_SUBSAMPLING_444), Alone::Yes},
        {"4:2:2 odd size", noiseJpeg(203, 117, JPEG_SUBSAMPLING_422), Alone::Yes},
        {"4:2:0 odd size", noiseJpeg(203, 117, JPEG_SUBSAMPLING_420), Alone::Yes},
        {"4:1:1 odd size", noiseJpeg(203, 117, JPEG_SUBSAMPLING_411), Alone::Yes},
        {"4:2:0 one block", noiseJpeg(16, 16, JPEG_SUBSAMPLING_420), Alone::Yes},
        {"grey odd size", noiseJpeg(131, 77, 0, true), Alone::Yes},
        // 1728 dots per inch, read as FreeImage reads it: a float over a double, which a
        // float over a float rounds to one dot per metre more.
        {"1728 dpi", noiseJpeg(64, 48, JPEG_SUBSAMPLING_420, false, 68031), Alone::Yes},
        {"grey progressive",
         test::recoded(noiseJpeg(131, 77, 0, true), {.progressive = true, .restartRows = 2}),
         Alone::Yes},
    };
    // Every file of the corpus: damaged, cut off, CMYK and the rest. A region of none of them
    // may decode differently from the whole, and none whose whole decode is refused may be
    // decoded alone.
    const ScratchFolder folder = test::scratchFolderForThisTest("region_corpus");
    for (const test::CorpusCase& corpusCase : test::corpusCases(false)) {
        if (!corpusCase.listed) continue;
        test::writeCase(corpusCase, folder.path());
        const fs::path file = folder.path() / corpusCase.name;
        if (fs::is_regular_file(file))
            all.push_back({corpusCase.name, test::readBytes(file), Alone::Either});
    }
    return all;
}

// Regions at the corners and edges, on block boundaries and across them.
std::vector<Region> regionsOf(int width, int height) {
    std::vector<Region> regions{{0, 0, width, height},
                                {0, 0, 1, 1},
                                {width - 1, height - 1, 1, 1},
                                {16, 16, 32, 32},
                                {5, 3, 17, 11},
                                {width / 4, height / 3, width / 4, height / 2},
                                {width - 9, 0, 9, height},
                                {15, 17, 2, height - 17},
                                {0, height / 2, width, 1}};
    std::erase_if(regions, [&](const Region& r) {
        return r.left < 0 || r.top < 0 || r.width <= 0 || r.height <= 0 || !r.fits(width, height);
    });
    return regions;
}

TEST(RegionDecoding, ARegionAloneIsTheWholeDecodesRegionToTheBit) {
    for (const Kind& kind : kinds()) {
        SCOPED_TRACE(kind.name);
        const auto* data = reinterpret_cast<const std::uint8_t*>(kind.jpeg.data());
        const StepResult<JpegPhotograph> read = readJpegData(data, kind.jpeg.size());
        if (!read.ok()) continue;  // an empty file: nothing to decode either way
        const StepResult<Bitmap> whole = decodeJpeg(read.value);
        const int width = whole.ok() ? whole.value.width() : read.value.jpeg.width;
        const int height = whole.ok() ? whole.value.height() : read.value.jpeg.height;
        for (const Region& region : regionsOf(width, height)) {
            SCOPED_TRACE(regionText(region));
            const std::optional<DecodedRegion> alone = decodeJpegRegion(read.value, region);
            if (kind.alone != Alone::Either) {
                EXPECT_EQ(alone.has_value(), kind.alone == Alone::Yes);
            }
            if (!alone) continue;
            ASSERT_TRUE(whole.ok()) << "decoded alone, refused whole: " << *whole.failure;
            EXPECT_EQ(alone->warning, whole.warning);
            EXPECT_EQ(alone->photographWidth, width);
            EXPECT_EQ(alone->photographHeight, height);
            const Bitmap cut = cutOut(whole.value.get(), region);
            EXPECT_TRUE(samePicture(cutOut(alone->picture.get(), alone->region).get(), cut.get()));
        }
    }
}

}  // namespace
}  // namespace lathmark
