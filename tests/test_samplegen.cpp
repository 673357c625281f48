// Checks that the generated photographs are what the counting rules expect of a stack photograph:
// layouts that add up, floor and wall dark across their rows, board faces clear of dark pixels even
// at the looser threshold, faint joints dark only at the looser threshold, and all of it still true
// after the JPEG round trip that the counter sees. Also checks the committed samples' manifest.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/samplegen.h"

namespace {

namespace fs = std::filesystem;
using lathmark::samplegen::BitmapPtr;
using lathmark::samplegen::StackPhoto;
using lathmark::samplegen::StackPlan;
using lathmark::samplegen::YardPlan;
using lathmark::samplegen::YardPoint;

// Grey level of every pixel, by the library's own conversion (the one its threshold uses).
struct Greys {
    int width = 0;
    int height = 0;
    std::vector<int> levels;

    explicit Greys(FIBITMAP* dib) {
        BitmapPtr grey(FreeImage_ConvertToGreyscale(dib));
        width = static_cast<int>(FreeImage_GetWidth(grey.get()));
        height = static_cast<int>(FreeImage_GetHeight(grey.get()));
        for (int y = 0; y < height; ++y) {
            const BYTE* line = FreeImage_GetScanLine(grey.get(), y);
            for (int x = 0; x < width; ++x) levels.push_back(line[x]);
        }
    }
    // Pixels of row y (counted from the bottom), columns 4 onwards, darker than the threshold.
    int darkIn(int y, int threshold) const {
        int dark = 0;
        for (int x = 4; x < width; ++x) dark += levels[y * width + x] < threshold ? 1 : 0;
        return dark;
    }
};

// What each row of a description is meant to hold.
enum class RowKind { kFloor, kWall, kFace, kNearJoint, kDarkCore, kFaintCore, kGapCore };

std::vector<RowKind> rowKinds(const StackPhoto& p, double faintGrey, double gapGrey) {
    std::vector<RowKind> kinds(p.height, RowKind::kFace);
    for (int y = 0; y < p.floorRows; ++y) kinds[y] = RowKind::kFloor;
    for (int y = p.height - p.wallRows; y < p.height; ++y) kinds[y] = RowKind::kWall;
    int row = p.floorRows;
    for (std::size_t i = 0; i < p.boards.size(); ++i) {
        row += p.boards[i].rows;
        if (i == p.joints.size()) break;
        const auto& joint = p.joints[i];
        // Tilt and bend move a joint's edges by up to a row; the rows inside stay covered.
        for (int y = std::max(0, row - 3); y < std::min(p.height, row + joint.rows + 3); ++y)
            kinds[y] = RowKind::kNearJoint;
        RowKind core = RowKind::kDarkCore;
        if (joint.gapLength > 0 && joint.grey == gapGrey) core = RowKind::kGapCore;
        if (joint.gapLength == 0 && joint.grey == faintGrey) core = RowKind::kFaintCore;
        for (int y = row + 1; y < row + joint.rows - 1; ++y) kinds[y] = core;
        row += joint.rows;
    }
    return kinds;
}

StackPlan busyPlan() {
    StackPlan plan;
    plan.width = 640;
    plan.height = 480;
    plan.floorRows = 48;
    plan.wallRows = 56;
    plan.boards = 12;
    plan.faintJoints = 3;
    plan.gapLengths = {20, 9};
    return plan;
}

StackPhoto busyPhoto(std::uint32_t seed) {
    StackPhoto photo = lathmark::samplegen::planStack(busyPlan(), seed);
    photo.gradientX = 0.006;
    photo.gradientY = -0.005;
    return photo;
}

// Checks every row of a rendered photograph against what its description puts there.
void expectRowsFollowTheCountingRules(const StackPhoto& p, const Greys& g,
                                      const std::string& what) {
    const StackPlan plan = busyPlan();
    const auto kinds = rowKinds(p, plan.faintJointGrey, plan.gapJointGrey);
    const double background = 0.7 * p.width;
    int faint = 0;
    int gap = 0;
    for (int y = 0; y < p.height; ++y) {
        const int at128 = g.darkIn(y, 128);
        const int at138 = g.darkIn(y, 138);
        const std::string where = what + ", row " + std::to_string(y);
        switch (kinds[y]) {
            case RowKind::kFloor:
            case RowKind::kWall:
                EXPECT_GT(at128, background) << where;
                break;
            case RowKind::kFace:
                EXPECT_EQ(at138, 0) << where;
                break;
            case RowKind::kNearJoint:
                break;
            case RowKind::kDarkCore:
                EXPECT_GT(at128, background) << where;
                break;
            case RowKind::kFaintCore:
                ++faint;
                EXPECT_LT(at128, 10) << where;
                EXPECT_GT(at138, 0.6 * p.width) << where;
                break;
            case RowKind::kGapCore:
                ++gap;
                EXPECT_LT(at128, 32) << where;
                EXPECT_GE(at138, 6) << where;
                EXPECT_LT(at138, 32) << where;
                break;
        }
    }
    EXPECT_GT(faint, 0) << what << ": no faint joint rows to check";
    EXPECT_GT(gap, 0) << what << ": no gapped joint rows to check";
}

TEST(SampleGen, PlansFillTheSpaceBetweenFloorAndWallExactly) {
    for (int boards = 1; boards <= 25; boards += 3) {
        for (std::uint32_t seed = 1; seed <= 12; ++seed) {
            StackPlan plan;
            plan.floorRows = 40;
            plan.wallRows = 32;
            plan.boards = boards;
            plan.faintJoints = boards > 4 ? 2 : 0;
            if (boards > 6) plan.gapLengths = {12};
            const StackPhoto p = lathmark::samplegen::planStack(plan, seed);
            const std::string what =
                std::to_string(boards) + " boards, seed " + std::to_string(seed);
            ASSERT_EQ(static_cast<int>(p.boards.size()), boards) << what;
            ASSERT_EQ(p.joints.size() + 1, p.boards.size()) << what;
            int rows = 0;
            for (const auto& b : p.boards) rows += b.rows;
            for (const auto& j : p.joints) rows += j.rows;
            EXPECT_EQ(rows, plan.height - plan.floorRows - plan.wallRows) << what;

            const int boardRows = std::accumulate(p.boards.begin(), p.boards.end(), 0,
                                                  [](int s, const auto& b) { return s + b.rows; });
            const int mean = boardRows / boards;
            int faint = 0;
            int gapped = 0;
            for (const auto& b : p.boards)
                EXPECT_LE(std::abs(b.rows - mean), plan.boardJitterRows + 1) << what;
            for (const auto& j : p.joints) {
                EXPECT_GE(j.rows, plan.jointRowsMin) << what;
                EXPECT_LE(j.rows, plan.jointRowsMax) << what;
                if (j.gapLength > 0) {
                    ++gapped;
                    EXPECT_LE(j.gapStart + j.gapLength, plan.width) << what;
                } else if (j.grey == plan.faintJointGrey) {
                    ++faint;
                } else {
                    EXPECT_GE(j.grey, plan.darkJointGreyMin) << what;
                    EXPECT_LE(j.grey, plan.darkJointGreyMax) << what;
                }
                // Only the loose passes find faint and gapped joints; they need four rows and
                // get a fifth to spare.
                if (j.gapLength > 0 || j.grey == plan.faintJointGrey) {
                    EXPECT_GE(j.rows, 5) << what;
                }
            }
            EXPECT_EQ(faint, plan.faintJoints) << what;
            EXPECT_EQ(gapped, static_cast<int>(plan.gapLengths.size())) << what;
        }
    }
}

TEST(SampleGen, TheSameSeedDrawsTheSamePixelsAndAnotherSeedOthers) {
    const StackPhoto photo = busyPhoto(7);
    const Greys first(lathmark::samplegen::renderStack(photo, 7).get());
    const Greys again(lathmark::samplegen::renderStack(photo, 7).get());
    const Greys other(lathmark::samplegen::renderStack(photo, 8).get());
    EXPECT_TRUE(first.levels == again.levels);
    EXPECT_FALSE(first.levels == other.levels);
}

TEST(SampleGen, RowsHoldWhatTheDescriptionPutsThere) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        const StackPhoto photo = busyPhoto(seed);
        const auto dib = lathmark::samplegen::renderStack(photo, seed);
        ASSERT_EQ(FreeImage_GetBPP(dib.get()), 24u);
        expectRowsFollowTheCountingRules(photo, Greys(dib.get()), "seed " + std::to_string(seed));
    }
}

// The counter decodes with the library's default, fast, decoder. At high JPEG qualities that
// decoder shifts whole rows by several grey levels, which turns faint joints dark at 128.
TEST(SampleGen, RowsStillHoldAfterTheJpegRoundTripTheCounterSees) {
    // A folder of this run's own, so that test runs side by side do not overwrite each other.
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path folder =
        fs::temp_directory_path() / ("lathmark-samplegen-test-" + std::to_string(stamp));
    fs::create_directories(folder);
    for (std::uint32_t seed : {4u, 5u}) {
        for (bool colour : {true, false}) {
            StackPhoto photo = busyPhoto(seed);
            photo.colour = colour;
            auto dib = lathmark::samplegen::renderStack(photo, seed);
            if (!colour) dib = lathmark::samplegen::toGreyscale(dib.get());
            const fs::path file = folder / ("round_trip_" + std::to_string(seed) +
                                            (colour ? "_colour.jpg" : "_grey.jpg"));
            lathmark::samplegen::saveJpeg(dib.get(), file.string());
            const BitmapPtr loaded(FreeImage_Load(FIF_JPEG, file.string().c_str(), 0));
            ASSERT_TRUE(loaded) << file;
            EXPECT_EQ(FreeImage_GetBPP(loaded.get()), colour ? 24u : 8u);
            expectRowsFollowTheCountingRules(photo, Greys(loaded.get()), file.string());
        }
    }
    fs::remove_all(folder);
}

TEST(SampleGen, InconsistentDescriptionsAreRefusedWithTheReason) {
    StackPhoto photo;
    photo.height = 100;
    photo.floorRows = 30;
    photo.wallRows = 30;
    photo.boards = {{18, 190}, {18, 190}};
    photo.joints = {{5, 70}};
    try {
        lathmark::samplegen::renderStack(photo, 1);
        ADD_FAILURE() << "41 rows of boards and joint in a 40-row space were accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("fill 41 rows, but 40"), std::string::npos)
            << e.what();
    }
    photo.joints.clear();
    EXPECT_THROW(lathmark::samplegen::renderStack(photo, 1), std::invalid_argument);

    StackPlan plan;
    plan.boards = 100;  // 99 joints of at least 4 rows leave 52 rows for 100 boards
    try {
        lathmark::samplegen::planStack(plan, 1);
        ADD_FAILURE() << "100 boards in 448 rows were accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("100 boards"), std::string::npos) << e.what();
    }
}

TEST(SampleGen, AJpegThatCannotBeWrittenNamesItsFile) {
    StackPlan plan;
    plan.width = 32;
    plan.height = 64;
    plan.floorRows = 8;
    plan.wallRows = 8;
    plan.boards = 1;
    const auto dib = lathmark::samplegen::renderStack(lathmark::samplegen::planStack(plan, 1), 1);
    const std::string path = "/no/such/folder/photo.jpg";
    try {
        lathmark::samplegen::saveJpeg(dib.get(), path);
        ADD_FAILURE() << "writing into a missing folder succeeded";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
}

// A yard photograph's scene says where its edge lies: halfway along, the edge is as tall as its
// sheets, the left end is (1 + taper) times as tall as the right, the line halfway up slopes as
// planned, and the joints lie in order, 1 to 3 rows thick. The same seed draws the same pixels.
TEST(SampleGen, YardScenesHoldTheirGeometryAndDrawTheSamePixels) {
    struct Case {
        int boards;
        double sheetRows;
        double slope;
        double taper;
        bool corrugated;
        std::uint32_t seed;
    };
    const Case cases[] = {
        {21, 10.0, 2.9, -0.04, true, 11},
        {34, 7.0, -2.8, 0.05, false, 12},
        {48, 4.0, 0.7, 0.03, true, 13},
        {52, 3.0, -1.5, -0.06, false, 14},
    };
    auto length = [](const YardPoint& a, const YardPoint& b) {
        return std::hypot(b.x - a.x, b.y - a.y);
    };
    auto halfway = [](const YardPoint& a, const YardPoint& b) {
        return YardPoint{0.5 * (a.x + b.x), 0.5 * (a.y + b.y)};
    };
    for (const Case& c : cases) {
        YardPlan plan;
        plan.width = 640;
        plan.height = 480;
        plan.boards = c.boards;
        plan.stackSeed = 100 + c.seed;
        plan.corrugated = c.corrugated;
        plan.sheetRows = c.sheetRows;
        plan.slopeDegrees = c.slope;
        plan.taper = c.taper;
        plan.bottom = 0.15;
        plan.stacksBehind = c.seed % 2 == 0;
        const auto scene = lathmark::samplegen::planYard(plan, c.seed);
        const std::string what = "seed " + std::to_string(c.seed);
        ASSERT_EQ(scene.boards, c.boards) << what;
        ASSERT_EQ(static_cast<int>(scene.sheets.size()), c.boards) << what;
        ASSERT_EQ(scene.joints.size() + 1, scene.sheets.size()) << what;
        EXPECT_NEAR(scene.slopeDegrees, c.slope, 1e-9) << what;
        EXPECT_LE(std::fabs(scene.slopeDegrees), 3.0) << what;
        EXPECT_GE(scene.sheetRows, 3.0) << what;
        EXPECT_LE(scene.sheetRows, 10.0) << what;
        const auto& corner = scene.corners;
        EXPECT_NEAR(length(halfway(corner[0], corner[1]), halfway(corner[3], corner[2])),
                    c.boards * c.sheetRows, 1e-6)
            << what;
        EXPECT_NEAR(length(corner[0], corner[3]) / length(corner[1], corner[2]), 1.0 + c.taper,
                    1e-9)
            << what;
        double below = 0.0;
        for (const auto& joint : scene.joints) {
            EXPECT_GT(joint.up, below) << what;
            EXPECT_GE(joint.rows, 1.0) << what;
            EXPECT_LE(joint.rows, 3.0) << what;
            below = joint.up;
        }
        EXPECT_LT(below, 1.0) << what;

        const Greys first(lathmark::samplegen::renderYard(scene, c.seed).get());
        const Greys again(lathmark::samplegen::renderYard(scene, c.seed).get());
        const Greys other(lathmark::samplegen::renderYard(scene, c.seed + 1).get());
        EXPECT_TRUE(first.levels == again.levels) << what;
        EXPECT_FALSE(first.levels == other.levels) << what;
    }
}

// The manifest is what the end-to-end tests compare counts with, so it must list exactly the
// committed photographs, at their real sizes.
TEST(SampleGen, TheManifestListsEveryCommittedSampleAtItsSize) {
    const fs::path samples = fs::path(LATHMARK_SOURCE_DIR) / "samples";
    std::ifstream in(samples / "manifest.tsv");
    ASSERT_TRUE(in) << samples / "manifest.tsv";
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "file\tboards\twidth\theight");
    std::map<std::string, int> listed;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string file;
        int boards = 0;
        int width = 0;
        int height = 0;
        ASSERT_TRUE(fields >> file >> boards >> width >> height) << line;
        listed[file] = boards;
        const fs::path path = samples / file;
        const BitmapPtr header(FreeImage_Load(FIF_JPEG, path.string().c_str(), FIF_LOAD_NOPIXELS));
        ASSERT_TRUE(header) << path;
        EXPECT_EQ(static_cast<int>(FreeImage_GetWidth(header.get())), width) << file;
        EXPECT_EQ(static_cast<int>(FreeImage_GetHeight(header.get())), height) << file;
        EXPECT_GE(boards, 1) << file;
    }
    int photographs = 0;
    for (const auto& entry : fs::directory_iterator(samples)) {
        if (entry.path().extension() != ".jpg") continue;
        ++photographs;
        EXPECT_TRUE(listed.count(entry.path().filename().string())) << entry.path();
    }
    EXPECT_EQ(photographs, static_cast<int>(listed.size()));
    EXPECT_GE(photographs, 8);
}

}  // namespace
