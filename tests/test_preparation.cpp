// Tests of the stages before the passes: decoding and its failures, each row's dark pixels at
// both thresholds, and the band of rows between the dark background below and above the stack.

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
using test::rowRange;

// ---- Band edges ----

constexpr int kWidth = 100;

// Row counts of a photograph `width` wide whose row y (from the bottom) has darkFromColumn4[y]
// dark pixels from column 4 on, the same at both thresholds; columns 8 on have one fewer.
RowCounts rowsWith(int width, const std::vector<int>& darkFromColumn4) {
    RowCounts rows = RowCounts::held(width, static_cast<int>(darkFromColumn4.size()));
    for (int which = 0; which < 4; ++which)
        for (std::size_t y = 0; y < darkFromColumn4.size(); ++y)
            rows.fill(which)[y] = darkFromColumn4[y] - which % 2;
    return rows;
}

struct BandCase {
    const char* name;
    int height;
    std::vector<int> background;  // rows, from the bottom, dark in every column
    int bandTop;                  // expected edges, counted from the top
    int bandBottom;
};

class BandEdgesFound : public testing::TestWithParam<BandCase> {};

TEST_P(BandEdgesFound, FromBothEndsAndTheBandRowsAreThoseBetweenThem) {
    const BandCase& c = GetParam();
    // A few dark pixels per row, too few for background, tell the rows apart.
    std::vector<int> dark;
    for (int y = 0; y < c.height; ++y) dark.push_back(1 + (y * 7) % 60);
    for (int y : c.background) dark[static_cast<std::size_t>(y)] = kWidth - 4;
    const RowCounts rows = rowsWith(kWidth, dark);

    const StepResult<Band> band = findBand(rows);
    ASSERT_TRUE(band.ok()) << *band.failure;
    EXPECT_EQ(band.value.edges.top, c.bandTop);
    EXPECT_EQ(band.value.edges.bottom, c.bandBottom);
    const int lowest = c.height - std::max(c.bandTop, c.bandBottom);
    const int height = std::abs(c.bandTop - c.bandBottom);
    EXPECT_EQ(band.value.counts.width, kWidth - 4);
    ASSERT_EQ(band.value.counts.height, height);
    for (int y = 0; y < height; ++y) {
        EXPECT_EQ(band.value.counts.atThreshold.fromColumn4[y], dark[y + lowest]) << y;
        EXPECT_EQ(band.value.counts.atLaterThreshold.fromColumn8[y], dark[y + lowest] - 1) << y;
    }
}

const BandCase kBandCases[] = {
    {"AllBackgroundGivesFullHeight", 10, rowRange(0, 9), 10, 0},
    {"NoBackgroundLeavesOutTheTopRow", 10, {}, 1, 10},
    {"BackgroundOnlyBelow", 10, {0, 1, 2}, 1, 7},
    {"BackgroundOnlyAbove", 10, {7, 8, 9}, 4, 10},
    {"BackgroundRowInsideStaysInBand", 12, {0, 1, 5, 9, 10, 11}, 4, 10},
    {"TallerThanACameraFrame", 700, rowRange(0, 9), 1, 690},
};

INSTANTIATE_TEST_SUITE_P(Preparation, BandEdgesFound, testing::ValuesIn(kBandCases),
                         [](const auto& p) { return std::string(p.param.name); });

// A 24-bit photograph `width` wide and 3 rows high, white but for `dark` black pixels of its
// bottom row from column `fromColumn` on.
Bitmap photographWithDarkRun(int width, int fromColumn, int dark) {
    Bitmap photo = test::greyPhotograph(width, {255, 255, 255});
    BYTE* line = FreeImage_GetScanLine(photo.get(), 0);
    std::fill(line + 3 * fromColumn, line + 3 * (fromColumn + dark), BYTE{0});
    return photo;
}

// Whether a row is background: more than 0.7 × width dark pixels in columns 4 and up.
TEST(BandLimits, BackgroundNeedsMoreThanSevenTenthsOfTheWidthFromColumnFour) {
    struct BackgroundCase {
        int width;
        int fromColumn;  // the row's dark pixels start here
        int dark;
        int counted;  // dark pixels counted from column 4 on
        bool background;
    };
    const BackgroundCase cases[] = {
        {100, 4, 70, 70, false}, {100, 4, 71, 71, true},  // 0.7 × 100 is exactly 70
        {90, 4, 62, 62, false},  {90, 4, 63, 63, true},   // 0.7 × 90 is just below 63
        {100, 0, 74, 70, false}, {100, 0, 75, 71, true},  // columns 0 to 3 do not count
        {10, 0, 10, 6, false},                            // a dark row of 10 counts 6
    };
    for (const BackgroundCase& c : cases) {
        const Bitmap photo = photographWithDarkRun(c.width, c.fromColumn, c.dark);
        const StepResult<RowCounts> rows = countRows(photo.get(), {.threshold = 128});
        ASSERT_TRUE(rows.ok());
        const std::string what = std::to_string(c.width) + " wide, " + std::to_string(c.dark);
        EXPECT_EQ(rows.value.atThreshold.fromColumn4[0], c.counted) << what;
        EXPECT_EQ(isBackgroundRow(c.counted, c.width), c.background) << what;
        const StepResult<Band> band = findBand(rows.value);
        ASSERT_TRUE(band.ok()) << what;
        EXPECT_EQ(band.value.edges.bottom, c.background ? 2 : 3) << what;
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
        std::vector<int> dark(static_cast<std::size_t>(height), std::max(0, width - 4));
        dark[static_cast<std::size_t>(height / 2)] = 0;
        const StepResult<Band> band = findBand(rowsWith(width, dark));
        ASSERT_FALSE(band.ok()) << width << " x " << height;
        EXPECT_TRUE(band.failure->starts_with(reason)) << *band.failure;
    }
}

// ---- Row counts ----

TEST(RowCounts, RefuseSettingsACountCannotUse) {
    const Bitmap photo = test::greyPhotograph(8, {100}, 8);
    const std::pair<Settings, const char*> cases[] = {
        {{.threshold = -1}, "THRESHOLD -1 is outside 0 to 245"},
        {{.threshold = 246}, "THRESHOLD 246 is outside 0 to 245"},
        {{.threshold = 100, .stretch = 0}, "STRETCH 0 is outside 1 to 4"},
        {{.threshold = 100, .stretch = 5}, "STRETCH 5 is outside 1 to 4"},
    };
    for (const auto& [settings, reason] : cases) {
        const StepResult<RowCounts> rows = countRows(photo.get(), settings);
        ASSERT_FALSE(rows.ok()) << reason;
        EXPECT_TRUE(rows.failure->starts_with(reason)) << *rows.failure;
    }
}

// Grey below a threshold is dark: at THRESHOLD, and at THRESHOLD + 10 for the later passes.
TEST(RowCounts, GreyBelowTheThresholdIsDarkAtBothThresholds) {
    const std::vector<int> greys = {0, 127, 128, 137, 254, 255};
    struct Case {
        int threshold;
        std::vector<int> dark, darkLater;  // rows dark at THRESHOLD and at THRESHOLD + 10
    };
    const Case cases[] = {{0, {}, {0}},
                          {1, {0}, {0}},
                          {128, {0, 1}, {0, 1, 2, 3}},
                          {245, {0, 1, 2, 3}, {0, 1, 2, 3, 4}}};
    for (int bits : {8, 24})
        for (const Case& c : cases) {
            const Bitmap photo = test::greyPhotograph(9, greys, bits);
            const StepResult<RowCounts> rows = countRows(photo.get(), {.threshold = c.threshold});
            ASSERT_TRUE(rows.ok());
            std::vector<int> dark, darkLater;
            for (int y = 0; y < 6; ++y) {
                if (rows.value.atThreshold.fromColumn4[y] == 5) dark.push_back(y);
                if (rows.value.atLaterThreshold.fromColumn4[y] == 5) darkLater.push_back(y);
            }
            EXPECT_EQ(dark, c.dark) << bits << " bits, THRESHOLD " << c.threshold;
            EXPECT_EQ(darkLater, c.darkLater) << bits << " bits, THRESHOLD " << c.threshold;
        }
}

// With STRETCH k each row appears k times in a row, at both thresholds and both column ranges.
TEST(RowCounts, StretchRepeatsEachRow) {
    const Bitmap photo = test::greyPhotograph(12, {0, 130, 255}, 24);
    for (int stretch = 1; stretch <= Settings::kMaxStretch; ++stretch) {
        const StepResult<RowCounts> rows =
            countRows(photo.get(), {.threshold = 128, .stretch = stretch});
        ASSERT_TRUE(rows.ok());
        ASSERT_EQ(rows.value.height, 3 * stretch);
        for (int y = 0; y < 3 * stretch; ++y) {
            const int row = y / stretch;
            EXPECT_EQ(rows.value.atThreshold.fromColumn4[y], row == 0 ? 8 : 0) << stretch;
            EXPECT_EQ(rows.value.atLaterThreshold.fromColumn8[y], row < 2 ? 4 : 0) << stretch;
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
        const StepResult<Bitmap> decoded = decodeJpegFile(file);
        ASSERT_FALSE(decoded.ok()) << name;
        EXPECT_TRUE(decoded.failure->starts_with(reason)) << *decoded.failure;
        EXPECT_FALSE(decoded.value);

        const CountResult result = countBoards(file, {.threshold = 128, .bdLine = 40});
        ASSERT_FALSE(result.ok()) << name;
        EXPECT_EQ(result.error->message(), file.string() + ": " + *decoded.failure);
    }
}

TEST_F(Photographs, DecodesAJpegAndCountsItsJoint) {
    const fs::path file = folder / "stack.jpg";
    Bitmap photo = test::stackPhotograph({{30, 40}});  // one dark joint
    ASSERT_TRUE(FreeImage_Save(FIF_JPEG, photo.get(), file.c_str(), JPEG_QUALITYSUPERB));

    const StepResult<Bitmap> decoded = decodeJpegFile(file);
    ASSERT_TRUE(decoded.ok()) << *decoded.failure;
    EXPECT_EQ(decoded.value.width(), 104);
    EXPECT_EQ(decoded.value.height(), 80);

    const CountResult result = countBoards(file, {.threshold = 128, .bdLine = 40});
    ASSERT_TRUE(result.ok()) << result.error->message();
    EXPECT_EQ(result.passLines, (std::array<int, kPassCount>{1, 0, 0, 0}));
    EXPECT_EQ(result.boards(), 2);
    EXPECT_EQ(result.band.height, 59);
}

}  // namespace
}  // namespace lathmark
