// Tests of the end of a count (the result image and its BMP file, the joints) and of whole counts
// of small photographs built in memory.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/counting.h"
#include "engine/photographs.h"
#include "engine/preparation.h"
#include "engine/report.h"
#include "tests/support/bitmaps.h"
#include "tests/support/corpus.h"
#include "tests/support/files.h"

namespace lathmark {
namespace {

namespace fs = std::filesystem;
using test::rowRange;
using test::stackPhotograph;

// The bundled settings.
constexpr Settings kBundled{.threshold = 128, .bdLine = 40};

Bitmap randomBinary(int width, int height) {
    std::mt19937 random(5);
    Bitmap dib = test::blankBinary(width, height);
    for (int y = 0; y < height; ++y)
        test::darken(dib.get(), y, 0, static_cast<int>(random() % static_cast<unsigned>(width)));
    return dib;
}

// Rows of `dib` dark across the whole width; every other row must be entirely light.
std::vector<int> blackRows(FIBITMAP* dib) {
    const int width = static_cast<int>(FreeImage_GetWidth(dib));
    std::vector<int> black;
    for (int y = 0; y < static_cast<int>(FreeImage_GetHeight(dib)); ++y) {
        const int dark = test::darkPixelsByLibrary(dib, y, 0, width);
        EXPECT_TRUE(dark == 0 || dark == width) << "row " << y << " has " << dark << " dark";
        if (dark == width) black.push_back(y);
    }
    return black;
}

// ---- Result image ----

TEST(ResultImage, BlackExactlyWhereAnyPassFoundALineRow) {
    PassWork work;
    work.reset(60);
    const std::pair<int, int> lines[] = {{20, 23}, {34, 40}, {45, 45}, {50, 53}};
    for (std::size_t pass = 0; pass < kPassCount; ++pass)
        work.lineRows[pass].insert(lines[pass].first, lines[pass].second + 1);
    const Bitmap photograph = randomBinary(17, 80);
    BandCounts band;
    band.width = 13;
    band.height = 60;
    const Bitmap image = resultImage(work, band, photograph.get());
    ASSERT_TRUE(image);
    EXPECT_EQ(image.width(), 13);
    EXPECT_EQ(image.height(), 60);
    std::vector<int> expected = rowRange(20, 23);
    for (const auto& rows : {rowRange(34, 40), rowRange(45, 45), rowRange(50, 53)})
        expected.insert(expected.end(), rows.begin(), rows.end());
    EXPECT_EQ(blackRows(image.get()), expected);
}

// ---- Result file ----

TEST(ResultFile, OneBitBmpReadsBackEqual) {
    const fs::path file =
        fs::temp_directory_path() / ("lathmark-report-" + std::to_string(getpid()) + ".bmp");
    Bitmap written = randomBinary(37, 11);
    ASSERT_EQ(writeBmp(written.get(), file), std::nullopt);
    Bitmap read(FreeImage_Load(FIF_BMP, file.c_str(), 0));
    fs::remove(file);
    ASSERT_TRUE(read);
    EXPECT_EQ(FreeImage_GetBPP(read.get()), 1u);
    ASSERT_EQ(read.width(), 37);
    ASSERT_EQ(read.height(), 11);
    EXPECT_EQ(FreeImage_GetPalette(read.get())[0].rgbRed, 0);
    EXPECT_EQ(FreeImage_GetPalette(read.get())[1].rgbRed, 255);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 37; ++x)
            EXPECT_EQ(test::darkPixelsByLibrary(read.get(), y, x, x + 1),
                      test::darkPixelsByLibrary(written.get(), y, x, x + 1))
                << x << "," << y;
}

TEST(ResultFile, UnwritablePathIsNamed) {
    const fs::path file =
        fs::temp_directory_path() / ("lathmark-no-folder-" + std::to_string(getpid())) / "test.bmp";
    Bitmap dib = test::blankBinary(8, 2);
    const auto failure = writeBmp(dib.get(), file);
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->starts_with(file.string() + " could not be written")) << *failure;
}

// A BMP file of `dib` as written to a new file, byte for byte.
std::string bmpBytes(FIBITMAP* dib, const fs::path& scratch) {
    fs::remove(scratch);
    EXPECT_EQ(writeBmp(dib, scratch), std::nullopt);
    std::string bytes = test::readBytes(scratch);
    fs::remove(scratch);
    return bytes;
}

// The result file usually exists from the photograph before: it must end up as exactly the new
// image whether that is larger or smaller, and a file reached through another name must not be
// written through.
TEST(ResultFile, WritingOverAnEarlierFileLeavesExactlyTheNewImage) {
    const ScratchFolder folder = test::scratchFolderForThisTest("lathmark-report");
    const Bitmap small = randomBinary(37, 11), large = randomBinary(300, 90);
    const std::string smallBytes = bmpBytes(small.get(), folder.path() / "scratch.bmp");
    const std::string largeBytes = bmpBytes(large.get(), folder.path() / "scratch.bmp");
    const fs::path file = folder.path() / "test.bmp";
    for (const auto& [before, after, expected] :
         {std::tuple{&large, &small, &smallBytes}, std::tuple{&small, &large, &largeBytes},
          std::tuple{&small, &small, &smallBytes}}) {
        ASSERT_EQ(writeBmp(before->get(), file), std::nullopt);
        ASSERT_EQ(writeBmp(after->get(), file), std::nullopt);
        EXPECT_EQ(test::readBytes(file), *expected)
            << before->width() << " wide, then " << after->width() << " wide";
    }
}

TEST(ResultFile, OtherNamesOfTheOldFileKeepItsContents) {
    const ScratchFolder folder = test::scratchFolderForThisTest("lathmark-report");
    const fs::path other = folder.path() / "kept.bmp", file = folder.path() / "test.bmp";
    const Bitmap image = randomBinary(37, 11);
    const std::string imageBytes = bmpBytes(image.get(), folder.path() / "scratch.bmp");
    for (const std::string link : {"hard", "symbolic"}) {
        test::writeBytes(other, "kept as it was");
        fs::remove(file);
        if (link == "hard")
            fs::create_hard_link(other, file);
        else
            fs::create_symlink(other, file);
        ASSERT_EQ(writeBmp(image.get(), file), std::nullopt) << link;
        EXPECT_EQ(test::readBytes(other), "kept as it was") << link;
        EXPECT_FALSE(fs::is_symlink(file)) << link;
        EXPECT_EQ(test::readBytes(file), imageBytes) << link;
    }
}

// ---- Whole counts ----

struct WholeCase {
    const char* name;
    std::vector<test::Joint> joints;
    std::array<int, kPassCount> passLines;
    std::vector<int> blackRows;  // rows of the result image, counted in the band
};

class WholeCount : public testing::TestWithParam<WholeCase> {};

TEST_P(WholeCount, FindsEachJointInItsPass) {
    const WholeCase& c = GetParam();
    const CountResult result = countDecoded(stackPhotograph(c.joints), "stack.jpg", kBundled);
    ASSERT_TRUE(result.ok()) << result.error->message();
    EXPECT_EQ(result.passLines, c.passLines);
    EXPECT_EQ(result.boards(),
              1 + c.passLines[0] + c.passLines[1] + c.passLines[2] + c.passLines[3]);
    EXPECT_EQ(result.band.top, 11);
    EXPECT_EQ(result.band.bottom, 70);
    EXPECT_EQ(result.band.width, 100);
    EXPECT_EQ(result.band.height, 59);
    ASSERT_EQ(result.marked.width(), 100);
    ASSERT_EQ(result.marked.height(), 59);
    EXPECT_EQ(blackRows(result.marked.get()), c.blackRows);
    EXPECT_FALSE(result.photograph);
}

// A joint of grey 40 is dark at THRESHOLD 128; one of grey 133 only at 128 + 10. A joint dark
// in 20 columns is too short for passes 1 and 2 but a full row for pass 3.
const WholeCase kWholeCases[] = {
    {"NoJoint", {}, {0, 0, 0, 0}, {}},
    // Pass 2 trims only the bottom row, passes 3 and 4 both: each must trim a fresh band.
    {"EdgeRowsTrimmedAnewByEachPass", {{10, 40, 50, 1}, {11, 40, 30, 1}}, {0, 0, 0, 0}, {}},
    {"DarkJointInPass1", {{30, 40}}, {1, 0, 0, 0}, rowRange(20, 24)},
    {"FaintJointInPass2", {{50, 133}}, {0, 1, 0, 0}, rowRange(40, 44)},
    {"ShortJointInPass3", {{50, 40, 20}}, {0, 0, 1, 0}, rowRange(40, 44)},
    {"DarkAndFaintJoints",
     {{30, 40}, {50, 133}},
     {1, 1, 0, 0},
     {20, 21, 22, 23, 24, 40, 41, 42, 43, 44}},
};

INSTANTIATE_TEST_SUITE_P(Report, WholeCount, testing::ValuesIn(kWholeCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(WholeCountInput, RefusedInputNamesThePhotograph) {
    for (int level : {246, -1}) {
        const CountResult result =
            countDecoded(stackPhotograph({}), "stack.jpg", {.threshold = level, .bdLine = 40});
        ASSERT_FALSE(result.ok()) << level;
        EXPECT_TRUE(result.error->message().starts_with(
            "stack.jpg: THRESHOLD " + std::to_string(level) + " is outside 0 to 245"))
            << result.error->message();
    }
    EXPECT_TRUE(
        countDecoded(stackPhotograph({}), "stack.jpg", {.threshold = 245, .bdLine = 40}).ok());
    EXPECT_EQ(countDecoded(Bitmap(), "stack.jpg", kBundled).error->message(),
              "stack.jpg: there is no photograph to count");
    const CountResult narrow = countDecoded(stackPhotograph({}, 4), "narrow.jpg", kBundled);
    ASSERT_FALSE(narrow.ok());
    EXPECT_TRUE(narrow.error->message().starts_with("narrow.jpg: is too narrow: 4 pixels wide"));
}

// ---- Joints ----

// On every sample, the joints a count hands back are the runs of line rows its passes counted,
// in the photograph's rows from the top: one per counted line, from the top down inside the
// band, every row of each dark enough to be a line row of its pass, and together exactly the
// black rows of the result image.
TEST(Joints, AreTheCountedRunsOfLineRowsOfEachPass) {
    const fs::path samples = fs::path(LATHMARK_SOURCE_DIR) / "samples";
    std::vector<fs::path> photographs;
    for (const fs::path& folder : {samples, samples / "dim"})
        for (const std::string& name : listPhotographs(folder))
            photographs.push_back(folder / name);
    ASSERT_GE(photographs.size(), 18u);
    for (const fs::path& photo : photographs) {
        SCOPED_TRACE(photo.filename().string());
        const CountResult result = countBoards(photo, kBundled);
        ASSERT_TRUE(result.ok()) << result.error->message();

        // Each photograph row's dark pixels from column 8 at THRESHOLD and at THRESHOLD + 10.
        const StepResult<Bitmap> decoded = decodeJpegFile(photo);
        ASSERT_TRUE(decoded.ok());
        EXPECT_EQ(result.photographWidth, decoded.value.width());
        EXPECT_EQ(result.photographHeight, decoded.value.height());
        const StepResult<RowCounts> rows = countRows(decoded.value.get(), kBundled);
        ASSERT_TRUE(rows.ok());
        auto darkInRow = [&](int pass, int row) {  // row counted from the top
            const DarkPixels& dark =
                pass == 1 ? rows.value.atThreshold : rows.value.atLaterThreshold;
            return dark.fromColumn8[result.photographHeight - 1 - row];
        };

        const int endRow = std::max(result.band.top, result.band.bottom);
        ASSERT_EQ(static_cast<int>(result.joints.size()), result.lines());
        std::array<int, kPassCount> perPass{};
        std::set<int> jointRows;
        int previousBottom = std::min(result.band.top, result.band.bottom) - 2;
        for (const Joint& joint : result.joints) {
            ASSERT_TRUE(joint.pass >= 1 && joint.pass <= kPassCount) << joint.pass;
            ++perPass[static_cast<std::size_t>(joint.pass - 1)];
            EXPECT_GT(joint.top, previousBottom + 1) << "joints overlap, touch or are out of order";
            EXPECT_LE(joint.top, joint.bottom);
            EXPECT_LT(joint.bottom, endRow);
            previousBottom = joint.bottom;
            const PassRules rules(kPasses[static_cast<std::size_t>(joint.pass - 1)],
                                  result.band.width, 40);
            for (int row = joint.top; row <= joint.bottom; ++row) {
                EXPECT_TRUE(rules.isLineRow(darkInRow(joint.pass, row)))
                    << "row " << row << " of a joint of pass " << joint.pass;
                jointRows.insert(row);
            }
        }
        EXPECT_EQ(perPass, result.passLines);
        std::set<int> black;  // band row y, counted from the band's bottom row
        for (int y : blackRows(result.marked.get())) black.insert(endRow - 1 - y);
        EXPECT_EQ(jointRows, black);
    }
}

}  // namespace
}  // namespace lathmark
