// Tests of photograph preparation: decoding and its failures, thresholding, and the band of
// rows between the dark background below and above the stack.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "engine/counting.h"
#include "engine/preparation.h"
#include "tests/support/bitmaps.h"

namespace lathmark {
namespace {

namespace fs = std::filesystem;
using test::blankBinary;
using test::darken;
using test::rowRange;

// ---- Band edges ----

constexpr int kWidth = 100;

struct BandCase {
    const char* name;
    int height;
    std::vector<int> background;  // rows, from the bottom, dark in every column
    int bandTop;                  // expected edges, counted from the top
    int bandBottom;
};

class BandEdges : public testing::TestWithParam<BandCase> {};

TEST_P(BandEdges, FindsEdgesAndCutsThoseRowsFromColumnFourOn) {
    const BandCase& c = GetParam();
    Bitmap photo = blankBinary(kWidth, c.height);
    // A few dark pixels per row, too few for background, tell the rows apart.
    for (int y = 0; y < c.height; ++y) darken(photo.get(), y, 4 + (y * 7) % 90, 1 + y % 5);
    for (int y : c.background) darken(photo.get(), y, 0, kWidth);
    CountingState state;
    state.dibBinary = std::move(photo);

    findBandEdges(state);
    EXPECT_EQ(state.bandTop, c.bandTop);
    EXPECT_EQ(state.bandBottom, c.bandBottom);
    ASSERT_EQ(cutBandFromBinary(state), std::nullopt);

    const int lowest = c.height - std::max(c.bandTop, c.bandBottom);
    const int rows = std::abs(c.bandTop - c.bandBottom);
    EXPECT_EQ(state.width, kWidth - 4);
    EXPECT_EQ(state.height, rows);
    ASSERT_EQ(state.dibBand.width(), kWidth - 4);
    ASSERT_EQ(state.dibBand.height(), rows);
    for (int y = 0; y < rows; ++y)
        EXPECT_EQ(test::darkPixelsByLibrary(state.dibBand.get(), y, 0, kWidth - 4),
                  test::darkPixelsByLibrary(state.dibBinary.get(), y + lowest, 4, kWidth))
            << "band row " << y;
}

const BandCase kBandCases[] = {
    {"AllBackgroundGivesFullHeight", 10, rowRange(0, 9), 10, 0},
    {"NoBackgroundLeavesOutTheTopRow", 10, {}, 1, 10},
    {"BackgroundOnlyBelow", 10, {0, 1, 2}, 1, 7},
    {"BackgroundOnlyAbove", 10, {7, 8, 9}, 4, 10},
    {"BackgroundRowInsideStaysInBand", 12, {0, 1, 5, 9, 10, 11}, 4, 10},
    {"TallerThanACameraFrame", 700, rowRange(0, 9), 1, 690},
};

INSTANTIATE_TEST_SUITE_P(Preparation, BandEdges, testing::ValuesIn(kBandCases),
                         [](const auto& p) { return std::string(p.param.name); });

// Whether a row is background: more than 0.7 × width dark pixels in columns 4 and up.
struct BackgroundCase {
    int width;
    int fromColumn;  // the row's dark pixels start here
    int dark;
    int entry;  // expected profile entry; the width itself for background
};

TEST(BandLimits, BackgroundNeedsMoreThanSevenTenthsOfTheWidthFromColumnFour) {
    const BackgroundCase cases[] = {
        {100, 4, 70, 70}, {100, 4, 71, 100},  // 0.7 × 100 is exactly 70
        {90, 4, 62, 62},  {90, 4, 63, 90},    // 0.7 × 90 is just below 63
        {100, 0, 74, 70}, {100, 0, 75, 100},  // columns 0 to 3 do not count
        {10, 0, 10, 6},                       // a dark row of 10 counts 6: not background
    };
    for (const BackgroundCase& c : cases) {
        Bitmap photo = blankBinary(c.width, 3);
        darken(photo.get(), 0, c.fromColumn, c.dark);
        CountingState state;
        state.dibBinary = std::move(photo);
        findBandEdges(state);
        const bool background = c.entry == c.width;
        EXPECT_EQ(state.bandProfile[0], c.entry) << c.width << " wide, " << c.dark << " dark";
        EXPECT_EQ(state.bandBottom, background ? 2 : 3) << c.width << " wide, " << c.dark;
    }
}

// Too narrow for band columns, or only one row that is not background: no band to count.
TEST(BandLimits, PhotographsWithoutABandAreRefused) {
    const std::tuple<int, int, std::string> cases[] = {
        {1, 6, "is too narrow: 1 pixel wide"},
        {4, 6, "is too narrow: 4 pixels wide"},
        {kWidth, 1, "has no board band"},
        {kWidth, 5, "has no board band"},
    };
    for (const auto& [width, height, reason] : cases) {
        Bitmap photo = blankBinary(width, height);
        for (int y = 0; y < height; ++y)
            if (width > 4 && y != height / 2) darken(photo.get(), y, 0, width);
        CountingState state;
        state.dibBinary = std::move(photo);
        findBandEdges(state);
        const auto failure = cutBandFromBinary(state);
        ASSERT_TRUE(failure) << width << " x " << height;
        EXPECT_TRUE(failure->starts_with(reason)) << *failure;
        EXPECT_FALSE(state.dibBand);
    }
}

// ---- Thresholding ----

TEST(Threshold, RefusesLevelsThatAreNoGreyLevel) {
    for (int level : {-1, 256, 1000}) {
        CountingState state;
        state.dibSource = test::greyPhotograph(8, {100}, 8);
        const auto failure = thresholdPhotograph(state, level);
        ASSERT_TRUE(failure) << level;
        EXPECT_EQ(*failure,
                  "threshold " + std::to_string(level) + " is not a grey level (0 to 255)");
        EXPECT_FALSE(state.dibBinary);
    }
}

TEST(Threshold, GreyBelowTheLevelTurnsDark) {
    const std::vector<int> greys = {0, 127, 128, 254, 255};
    const std::pair<int, std::vector<int>> cases[] = {
        {0, {}}, {1, {0}}, {128, {0, 1}}, {255, {0, 1, 2, 3}}};
    for (int bits : {8, 24}) {
        for (const auto& [level, darkRows] : cases) {
            CountingState state;
            state.dibSource = test::greyPhotograph(9, greys, bits);
            ASSERT_EQ(thresholdPhotograph(state, level), std::nullopt);
            ASSERT_EQ(FreeImage_GetBPP(state.dibBinary.get()), 1u);
            std::vector<int> dark;
            for (int y = 0; y < 5; ++y)
                if (test::darkPixelsByLibrary(state.dibBinary.get(), y, 0, 9) == 9)
                    dark.push_back(y);
            EXPECT_EQ(dark, darkRows) << bits << " bits, level " << level;
        }
    }
}

// ---- Decoding from files ----

class Photographs : public testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("lathmark-preparation-" + std::to_string(getpid()) + "-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    fs::path folder;
};

TEST_F(Photographs, FailuresSayWhyAndTheCountNamesTheFile) {
    fs::create_directory(folder / "folder.jpg");
    std::ofstream(folder / "notes.jpg") << "not a photograph\n";
    std::ofstream(folder / "empty.jpg").flush();
    const std::pair<const char*, const char*> cases[] = {
        {"missing.jpg", "the file does not exist"},
        {"folder.jpg", "is a directory, not a photograph"},
        {"notes.jpg", "cannot be decoded as a JPEG photograph"},
        {"empty.jpg", "cannot be decoded as a JPEG photograph"},
    };
    for (const auto& [name, reason] : cases) {
        const fs::path file = folder / name;
        CountingState state;
        const auto failure = decodePhotograph(state, file);
        ASSERT_TRUE(failure) << name;
        EXPECT_TRUE(failure->starts_with(reason)) << *failure;
        EXPECT_FALSE(state.dibSource);

        const CountResult result = countBoards(file, 40, 128);
        ASSERT_FALSE(result.ok()) << name;
        EXPECT_EQ(result.error->message(), file.string() + ": " + *failure);
    }
}

TEST_F(Photographs, DecodesAJpegAndCountsItsJoint) {
    const fs::path file = folder / "stack.jpg";
    Bitmap photo = test::stackPhotograph({{30, 40}});  // one dark joint
    ASSERT_TRUE(FreeImage_Save(FIF_JPEG, photo.get(), file.c_str(), JPEG_QUALITYSUPERB));

    CountingState state;
    ASSERT_EQ(decodePhotograph(state, file), std::nullopt);
    EXPECT_EQ(state.dibSource.width(), 104);
    EXPECT_EQ(state.dibSource.height(), 80);

    const CountResult result = countBoards(file, 40, 128);
    ASSERT_TRUE(result.ok()) << result.error->message();
    EXPECT_EQ(result.passLines, (std::array<int, kPassCount>{1, 0, 0, 0}));
    EXPECT_EQ(result.boards(), 2);
    EXPECT_EQ(result.band.height, 59);
}

}  // namespace
}  // namespace lathmark
