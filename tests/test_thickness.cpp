// Tests of the second opinion: the boards the band's height gives at a THICKNESS, when they agree
// with a count, and the THICKNESS value a settings file or option may hold.

#include <gtest/gtest.h>

#include "engine/counting.h"
#include "tests/support/bitmaps.h"

namespace lathmark {
namespace {

TEST(Thickness, CountAgreesWithinHalfABoard) {
    struct Case {
        int bandRows;
        int thickness;  // hundredths of a row
        int boards;
        double byThickness;
        bool agrees;
    };
    const Case cases[] = {
        {1002, 5010, 20, 20.0, true}, {998, 5000, 20, 19.96, true},
        {975, 5000, 20, 19.5, true},  {974, 5000, 20, 19.48, false},   // half a board below
        {1025, 5000, 20, 20.5, true}, {1026, 5000, 20, 20.52, false},  // and above
        {1025, 5000, 21, 20.5, true}, {100, 3333, 3, 3.0, true},
        {1, 6553500, 1, 0.0, false},  {65535, 100, 65535, 65535.0, true},
        {199, 200, 100, 99.5, true},  {199, 200, 99, 99.5, true},
    };
    for (const Case& c : cases) {
        const ThicknessCount count = thicknessCount(c.bandRows, c.thickness, c.boards);
        EXPECT_DOUBLE_EQ(count.boards, c.byThickness) << c.bandRows << " / " << c.thickness;
        EXPECT_EQ(count.agrees, c.agrees)
            << c.bandRows << " / " << c.thickness << " vs " << c.boards;
    }
}

TEST(Thickness, ValuesAreReadToHundredthsOrNamedWhatIsWrong) {
    const std::pair<const char*, int> read[] = {{"50.1", 5010},     {"50", 5000},
                                                {"0", 0},           {"0.005", 1},
                                                {"50.125", 5013},   {".5", 50},
                                                {"7.", 700},        {"+3.25", 325},
                                                {"65535", 6553500}, {"65535.004", 6553500},
                                                {"-0", 0},          {"00012.30", 1230}};
    for (const auto& [text, hundredths] : read) {
        const ThicknessParsed parsed = parseThickness(text);
        ASSERT_TRUE(parsed.hundredths) << text << ": " << parsed.problem;
        EXPECT_EQ(*parsed.hundredths, hundredths) << text;
    }
    const std::pair<const char*, const char*> refused[] = {
        {"", " is not a number of rows such as 50.1"},
        {"abc", " is not a number"},
        {"50,1", " is not a number"},
        {"5 0", " is not a number"},
        {".", " is not a number"},
        {"1e3", " is not a number"},
        {"-2.5", " is negative"},
        {"65535.005", " is above 65535 rows"},
        {"0.004", " rounds to 0: give at least 0.01 rows"},
        {"99999999999999", " is above 65535 rows"},
    };
    for (const auto& [text, problem] : refused) {
        const ThicknessParsed parsed = parseThickness(text);
        EXPECT_FALSE(parsed.hundredths) << text;
        EXPECT_TRUE(parsed.problem.starts_with("\"" + std::string(text) + "\"" + problem))
            << parsed.problem;
    }
    EXPECT_EQ(hundredthsText(5010), "50.1");
    EXPECT_EQ(hundredthsText(5000), "50");
    EXPECT_EQ(hundredthsText(5), "0.05");
}

// A count's verdict: uncertain when the height disagrees, or when no joint was found.
TEST(Thickness, CountIsUncertainWhenTheHeightDisagreesOrNoJointWasFound) {
    // The band is rows 10 to 68: 59 rows, two boards with the joint.
    const Bitmap oneJoint = test::stackPhotograph({{30, 40}});
    struct Case {
        const Bitmap* photograph;
        int thickness;
        bool uncertain;
        const char* why;
    };
    const Bitmap noJoint = test::stackPhotograph({});
    const Case cases[] = {
        {&oneJoint, 0, false, ""},
        {&oneJoint, 2950, false, ""},
        {&oneJoint, 2000, true, "the stack's height gives 2.95 boards of THICKNESS 20, not 2"},
        {&noJoint, 0, true, "no joint was found"},
        {&noJoint, 5900, true, "no joint was found"},
    };
    for (const Case& c : cases) {
        const CountResult result =
            countDecoded(Bitmap(FreeImage_Clone(c.photograph->get())), "p",
                         {.threshold = 128, .bdLine = 40, .thicknessHundredths = c.thickness});
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result.certainty.uncertain, c.uncertain) << c.thickness;
        EXPECT_TRUE(result.certainty.why.starts_with(c.why)) << result.certainty.why;
        EXPECT_EQ(result.certainty.byThickness.has_value(), c.thickness > 0);
    }
}

}  // namespace
}  // namespace lathmark
