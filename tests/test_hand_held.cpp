// Tests of counting a stack photographed by hand: joints that are not level, counted along
// their slope (given, or found in the photograph), and the stack's rhythm as a second opinion.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "engine/counting.h"
#include "engine/rhythm.h"

namespace lathmark {
namespace {

// A stack of boards turned by `degrees` (rising to the right), drawn as a camera would see it:
// dark ground below and a dark wall above the stack, each pixel the mean of four samples across
// its height so that a slanted edge is partly dark, and a little noise.
struct TurnedStack {
    double degrees = 0;
    int width = 640;
    int height = 480;
    int boards = 12;
    double boardRows = 24;  // from one joint to the next
    double jointRows = 5;   // the passes take a run of four rows or more for a joint
    int boardGrey = 200;
    int jointGrey = 60;
    int shift = 0;  // the stack's middle, in rows below the photograph's middle
    // A yard around the stack instead of a dark floor and wall: a light top face above it,
    // shade and grey ground below, a ribbed wall behind, the stack this share of the width.
    bool yard = false;
    double stackWidth = 0.7;
    double ridgeRows = 0;  // the top face's ridges, this many rows apart (0: a plain top face)
};

// What a pixel of a yard shows outside the stack: `across` rows below the stack's top (negative
// above it), at column x.
double yardAround(const TurnedStack& s, double across, double stackRows, int x) {
    if (across < 0 && across >= -s.boardRows * 2)  // the top face, with ridges or without
        return s.ridgeRows > 0 && std::fmod(-across, s.ridgeRows) < s.ridgeRows / 2 ? 190 : 225;
    if (across >= stackRows && across < stackRows + 12) return 35;  // shade under the stack
    if (across >= stackRows) return 120;                            // ground
    return x % 24 < 6 ? 140 : 165;                                  // the wall's ribs
}

Bitmap drawn(const TurnedStack& s) {
    Bitmap photo(FreeImage_Allocate(s.width, s.height, 24));
    const double angle = s.degrees * std::numbers::pi / 180.0;
    const double stackRows = s.boards * s.boardRows;
    const double top = s.height / 2.0 + s.shift - stackRows / 2.0;
    std::mt19937 noise(static_cast<unsigned>(s.width + s.boards));
    std::uniform_int_distribution<int> grain(-6, 6);
    for (int y = 0; y < s.height; ++y) {
        BYTE* line = FreeImage_GetScanLine(photo.get(), s.height - 1 - y);
        for (int x = 0; x < s.width; ++x) {
            double sum = 0;
            for (int sample = 0; sample < 4; ++sample) {
                const double row = y + (sample + 0.5) / 4.0;
                // Rows across the stack, measured square to its joints.
                const double across = (row - s.height / 2.0) * std::cos(angle) +
                                      (x - s.width / 2.0) * std::sin(angle) + s.height / 2.0 - top;
                const double along = std::abs(x - s.width / 2.0) / s.width;
                if (s.yard && (across < 0 || across >= stackRows || along > s.stackWidth / 2)) {
                    sum += yardAround(s, along > s.stackWidth / 2 ? -1e6 : across, stackRows, x);
                    continue;
                }
                if (across < 0 || across >= stackRows) {
                    sum += 25;
                    continue;
                }
                const double within = std::fmod(across, s.boardRows);
                const bool joint = across >= s.boardRows && within < s.jointRows;
                sum += joint ? s.jointGrey : s.boardGrey;
            }
            const int grey = std::clamp(static_cast<int>(sum / 4) + grain(noise), 0, 255);
            std::fill_n(line + 3 * x, 3, static_cast<BYTE>(grey));
        }
    }
    return photo;
}

CountResult countAt(const TurnedStack& stack, Angle angle, bool regionFound = false,
                    int stretch = 1) {
    Settings settings;
    settings.bdLine = 40;
    settings.threshold = 128;
    settings.angle = angle;
    settings.regionFound = regionFound;
    settings.stretch = stretch;
    return countDecoded(drawn(stack), "turned", settings);
}

TEST(HandHeld, TurnedStacksAreCountedAlongTheirSlopeGivenOrFound) {
    const TurnedStack cases[] = {
        {.degrees = 2},
        {.degrees = -3.5},
        {.degrees = 4.6, .width = 900, .boards = 20, .boardRows = 15, .shift = 20},
        {.degrees = 1.2, .boards = 30, .boardRows = 12, .jointRows = 4, .shift = -30},
        {.degrees = -2.5, .height = 600, .boards = 9, .boardRows = 50, .jointRows = 7},
        {.degrees = 3, .boardGrey = 150, .jointGrey = 90},  // little contrast
        {.degrees = -0.5, .width = 1200, .boards = 16, .boardRows = 20, .shift = 60},
    };
    for (const TurnedStack& stack : cases) {
        SCOPED_TRACE(testing::Message() << stack.degrees << "° " << stack.boards << " boards of "
                                        << stack.boardRows << " rows");
        const CountResult found = countAt(stack, Angle{0, true});
        ASSERT_TRUE(found.ok()) << found.error->reason;
        EXPECT_EQ(found.boards(), stack.boards);
        ASSERT_TRUE(found.angleHundredths);
        EXPECT_NEAR(*found.angleHundredths, stack.degrees * 100, 10);
        EXPECT_FALSE(found.certainty.uncertain) << found.certainty.why;
        ASSERT_TRUE(found.certainty.byRhythm);
        EXPECT_NEAR(found.certainty.byRhythm->thickness, stack.boardRows, 0.01 * stack.boardRows);
        const CountResult given =
            countAt(stack, Angle{static_cast<int>(std::lround(stack.degrees * 100)), false});
        ASSERT_TRUE(given.ok());
        EXPECT_EQ(given.boards(), stack.boards);
    }
}

// REGION=auto: stacks turned and framed by hand in a yard, found and counted within themselves.
TEST(HandHeld, StacksInAYardAreFoundAndCountedWithinThemselves) {
    struct Case {
        TurnedStack stack;
        int stretch;
    };
    const Case cases[] = {
        {{.degrees = 1.5, .width = 900, .height = 700, .boards = 14, .yard = true}, 1},
        {{.degrees = -2.5,
          .width = 1000,
          .height = 800,
          .boards = 25,
          .boardRows = 16,
          .shift = 60,
          .yard = true,
          .stackWidth = 0.5},
         1},
        {{.degrees = -1,
          .width = 1000,
          .height = 700,
          .boards = 30,
          .boardRows = 12,
          .jointRows = 4,
          .yard = true,
          .ridgeRows = 4},
         1},
        {{.degrees = 2,
          .width = 1200,
          .height = 900,
          .boards = 50,
          .boardRows = 4,
          .jointRows = 1.2,
          .yard = true},
         4},
        {{.degrees = 3,
          .width = 1200,
          .height = 900,
          .boards = 40,
          .boardRows = 7,
          .jointRows = 2,
          .shift = -80,
          .yard = true},
         3},
    };
    for (const Case& c : cases) {
        const TurnedStack& stack = c.stack;
        SCOPED_TRACE(testing::Message() << stack.degrees << "° " << stack.boards << " boards of "
                                        << stack.boardRows << " rows");
        const CountResult found = countAt(stack, Angle{0, true}, true, c.stretch);
        ASSERT_TRUE(found.ok()) << found.error->reason;
        EXPECT_EQ(found.boards(), stack.boards);
        EXPECT_FALSE(found.certainty.uncertain) << found.certainty.why;
        ASSERT_TRUE(found.settings.region);
        const Region& region = *found.settings.region;
        const double top = stack.height / 2.0 + stack.shift - stack.boards * stack.boardRows / 2;
        EXPECT_NEAR(region.top, top, stack.boardRows / 2);
        EXPECT_NEAR(region.height, stack.boards * stack.boardRows, stack.boardRows / 2);
        EXPECT_LE(region.width, stack.stackWidth * stack.width + 64);
        // Without the stack found, the yard around it is counted too: never a sure count.
        const CountResult whole = countAt(stack, Angle{0, true}, false, c.stretch);
        EXPECT_TRUE(!whole.ok() || whole.certainty.uncertain || whole.boards() == stack.boards);
    }
}

// A level stack at ANGLE=auto is found level and counted exactly as without ANGLE; a photograph
// with no stack in it is never a confident count.
TEST(HandHeld, LevelStackIsCountedAsItIsAndNoStackIsNeverSure) {
    const TurnedStack level{};
    const CountResult plain = countAt(level, Angle{});
    const CountResult automatic = countAt(level, Angle{0, true});
    ASSERT_TRUE(plain.ok() && automatic.ok());
    EXPECT_EQ(automatic.angleHundredths, 0);
    EXPECT_FALSE(plain.angleHundredths);
    EXPECT_EQ(automatic.passLines, plain.passLines);
    EXPECT_EQ(automatic.band.top, plain.band.top);
    EXPECT_EQ(automatic.band.bottom, plain.band.bottom);
    EXPECT_EQ(automatic.joints.size(), plain.joints.size());
    EXPECT_FALSE(plain.certainty.byRhythm);

    for (const TurnedStack& empty :
         {TurnedStack{.boards = 1, .boardRows = 300},
          TurnedStack{.degrees = 2, .boards = 1, .boardRows = 300, .boardGrey = 25}}) {
        const CountResult counted = countAt(empty, Angle{0, true});
        EXPECT_TRUE(!counted.ok() || counted.certainty.uncertain) << counted.boards();
    }
}

// The rhythm of profiles of many kinds of stack: its boards within a fifth of a board of the
// truth, through light that falls off across the stack and through noise; a profile with no
// repeat has none.
TEST(HandHeld, RhythmGivesTheBoardsOfARegularProfileAndNothingOfNoise) {
    struct Case {
        double boardRows;
        int boards;
        double jointRows;
        double trend;  // grey lost per row
        int noise;
    };
    const Case cases[] = {{24, 12, 3, 0, 0},     {3.5, 52, 1, 0.1, 4}, {6.5, 48, 1.5, 0.3, 8},
                          {10, 34, 2, -0.2, 10}, {40, 5, 4, 0, 3},     {9.04, 21, 2, 0.05, 6},
                          {4, 80, 1, 0, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.boards << " boards of " << c.boardRows);
        std::mt19937 random(static_cast<unsigned>(c.boards));
        std::uniform_int_distribution<int> noise(-c.noise, c.noise);
        // A band: its boards and a joint between each two, one joint fewer than boards.
        const int rows = static_cast<int>(std::lround(c.boards * c.boardRows - c.jointRows));
        std::vector<double> profile;
        for (int y = 0; y < rows; ++y) {
            double dark = 0;  // the share of the row's height that is joint
            for (int sample = 0; sample < 8; ++sample) {
                const double within = std::fmod(y + (sample + 0.5) / 8, c.boardRows);
                if (within >= c.boardRows - c.jointRows) dark += 1.0 / 8;
            }
            profile.push_back(200 - 120 * dark - c.trend * y + noise(random));
        }
        const std::optional<Rhythm> rhythm = rhythmOf(profile);
        ASSERT_TRUE(rhythm);
        EXPECT_NEAR(rhythm->boards, c.boards, 0.2);
        EXPECT_NEAR(rhythm->thickness, c.boardRows, 0.05 * c.boardRows);
        EXPECT_TRUE(rhythmAgrees(*rhythm, c.boards));
        EXPECT_FALSE(rhythmAgrees(*rhythm, c.boards + 1));
    }
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-20, 20);
    std::vector<double> flat(400);
    for (double& row : flat) row = 150 + noise(random);
    EXPECT_FALSE(rhythmOf(flat));
    EXPECT_FALSE(rhythmOf({10, 200, 10, 200, 10}));  // too few rows for three repeats
}

}  // namespace
}  // namespace lathmark
