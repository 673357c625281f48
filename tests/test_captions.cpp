// Tests of the texts and the time the window shows after a count, and of what the operator
// types to correct one.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/captions.h"
#include "app/station.h"

namespace lathmark {
namespace {

TEST(Captions, DetectionMessageAndCaption) {
    EXPECT_EQ(detectionMessage(5), "Detected 5 obvious lines.");
    EXPECT_EQ(detectionMessage(1), "Detected 1 obvious lines.");
    EXPECT_EQ(processTimeCaption(1500), "Process Time: 1.5 sec.");
    EXPECT_EQ(processTimeCaption(250, ","), "Process Time: 0,25 sec.");
}

TEST(Captions, SecondsRoundedToHundredthsInShortestForm) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {1500, "1.5"}, {250, "0.25"}, {2000, "2"},      {3, "0"},
        {4, "0"},      {5, "0.01"},   {1234, "1.23"},   {1235, "1.24"},  // halves round up
        {0, "0"},      {995, "1"},    {60010, "60.01"}, {4294967295, "4294967.3"},
    };
    for (const auto& [milliseconds, text] : cases)
        EXPECT_EQ(secondsText(milliseconds), text) << milliseconds;
    EXPECT_EQ(secondsText(1500, ","), "1,5");
    EXPECT_EQ(secondsText(2000, ","), "2");
}

TEST(ElapsedTime, ExactAcrossAWrapAndForLargeReadings) {
    EXPECT_EQ(elapsedMilliseconds(0xFFFFFF00u, 0x100u), 512u);
    for (std::uint32_t start : {0u, (1u << 24) + 7, 3000000000u, 0xFFFFFFFFu})
        EXPECT_EQ(secondsText(elapsedMilliseconds(start, start + 1234)), "1.23") << start;

    const std::uint32_t start = tickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const std::uint32_t elapsed = elapsedMilliseconds(start, tickCount());
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 10000u);
}

// The true boards, then an optional word of why; anything else is asked for again.
TEST(Correction, IsTheTrueBoardsThenAWordOfWhy) {
    struct Case {
        const char* typed;
        long long boards;  // -1: not a correction
        const char* reason;
    };
    const Case cases[] = {
        {"12", 12, ""},
        {"  12\t", 12, ""},
        {"12 two sheets glued ", 12, "two sheets glued"},
        {"0", 0, ""},
        {"007", 7, ""},
        {"99999", 99999, ""},
        {"100000", -1, ""},
        {"99999999999999999999", -1, ""},
        {"", -1, ""},
        {"twelve", -1, ""},
        {"12x", -1, ""},
        {"-3", -1, ""},
        {"1 2", 1, "2"},
    };
    for (const Case& c : cases) {
        const CorrectionTyped typed = parseCorrection(c.typed);
        EXPECT_EQ(typed.problem.has_value(), c.boards < 0) << c.typed;
        if (c.boards < 0) continue;
        EXPECT_EQ(typed.boards, c.boards) << c.typed;
        EXPECT_EQ(typed.reason, c.reason) << c.typed;
    }
}

}  // namespace
}  // namespace lathmark
