// Tests of the choice of settings on small hand-made landscapes: the most photographs right,
// then the widest margin to a setting that counts fewer right, then the nearest the current
// settings; and of the TRUTH file reader.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/calibration.h"
#include "engine/truth.h"

namespace lathmark {
namespace {

// Settings [thresholds] x [bdLines], both ends included, that count `right` photographs right.
struct Region {
    std::array<int, 2> thresholds;
    std::array<int, 2> bdLines;
    int right;
};

struct ChoiceCase {
    const char* name;
    int bdLineMax;
    std::vector<Region> regions;  // laid in order over settings that count none right
    std::array<int, 2> current;   // THRESHOLD, BDLINE
    std::array<int, 2> chosen;
    std::array<int, 2> thresholdRange;
    std::array<int, 2> bdLineRange;
};

class Choice : public testing::TestWithParam<ChoiceCase> {};

TEST_P(Choice, MostRightThenWidestMarginThenNearest) {
    const ChoiceCase& c = GetParam();
    RightCounts counts(c.bdLineMax);
    for (const Region& region : c.regions)
        for (int t = region.thresholds[0]; t <= region.thresholds[1]; ++t)
            for (int b = region.bdLines[0]; b <= region.bdLines[1]; ++b)
                counts.at(t, b) = region.right;
    const SettingsChoice choice =
        chooseSettings({counts}, {.threshold = c.current[0], .bdLine = c.current[1]});
    EXPECT_EQ((std::array{choice.settings.threshold, choice.settings.bdLine}), c.chosen);
    EXPECT_EQ(choice.thresholdRange, c.thresholdRange);
    EXPECT_EQ(choice.bdLineRange, c.bdLineRange);
}

// clang-format off
const ChoiceCase kChoiceCases[] = {
    // A single setting that counts 3 right beats a wide region that counts 2.
    {"MostRightWins", 20, {{{10, 200}, {0, 20}, 2}, {{101, 101}, {6, 6}, 3}}, {128, 40},
     {101, 6}, {101, 101}, {6, 6}},
    // Of two regions that count 2 right, the one with room around the choice, however near the
    // other lies to the current settings: 11 grey levels below and above (3.67 units), which
    // BDLINE 8 to 11 leave room for too (8 is the nearest of those).
    {"WidestMarginWins", 20, {{{50, 52}, {2, 4}, 2}, {{150, 170}, {5, 15}, 2}}, {51, 3},
     {160, 8}, {150, 170}, {5, 15}},
    // 10 % of BDLINE weighs as much as 3 grey levels: a region 61 levels high but 5 BDLINE
    // wide at BDLINE 100 (margin 0.3) loses to one 7 levels high and 101 wide (margin 1.33).
    {"BdLineMeasuredInTenthsOfItself", 200,
     {{{20, 80}, {98, 102}, 1}, {{150, 156}, {50, 150}, 1}}, {153, 100},
     {153, 100}, {150, 156}, {50, 150}},
    // Where no setting counts fewer right, the current settings are kept, or the nearest
    // setting searched when they lie outside.
    {"CurrentKeptWhenAllCountAlike", 20, {}, {128, 15}, {128, 15}, {0, 245}, {0, 20}},
    {"NearestWhenCurrentOutside", 20, {}, {128, 400}, {128, 20}, {0, 245}, {0, 20}},
    // Among settings of one margin, the nearest the current ones.
    {"TiesGoToTheNearest", 40, {{{100, 110}, {0, 40}, 1}}, {105, 12}, {105, 12}, {100, 110},
     {0, 40}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Calibration, Choice, testing::ValuesIn(kChoiceCases),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- TRUTH files ----

struct TruthCase {
    const char* name;
    std::string text;
    std::string error;  // the start of the error; "" when the file is read
    std::vector<std::pair<std::string, int>> rows = {};
};

class Truth : public testing::TestWithParam<TruthCase> {};

TEST_P(Truth, ReadsRowsOrNamesTheLineAndWhatIsWrong) {
    const TruthCase& c = GetParam();
    const TruthRead read = parseTruth(c.text, "truth.tsv");
    if (c.error.empty()) {
        ASSERT_FALSE(read.error) << *read.error;
        std::vector<std::pair<std::string, int>> rows;
        for (const TruthRow& row : read.rows) rows.emplace_back(row.file, row.boards);
        EXPECT_EQ(rows, c.rows);
    } else {
        ASSERT_TRUE(read.error);
        EXPECT_TRUE(read.error->starts_with(c.error)) << *read.error;
        EXPECT_TRUE(read.rows.empty());
    }
}

// clang-format off
const TruthCase kTruthCases[] = {
    {"ColumnsInAnyOrderOthersIgnored", "width\tboards\tfile\n768\t12\ta.jpg\n640\t3\tb/c.jpg\n", "",
     {{"a.jpg", 12}, {"b/c.jpg", 3}}},
    {"SpreadsheetExport", "\xEF\xBB\xBF" "file\tboards\r\na.jpg\t7\r\n\r\nb.jpg\t8\r\n", "",
     {{"a.jpg", 7}, {"b.jpg", 8}}},
    {"Empty", "", "truth.tsv:1: there is no header line"},
    {"NoBoardsColumn", "file\tcount\na.jpg\t3\n", "truth.tsv:1: the header line names no column boards"},
    {"ColumnNamedTwice", "file\tboards\tfile\na\t1\tb\n", "truth.tsv:1: the header names the column file twice"},
    {"SpacesForTabs", "file boards\na.jpg 3\n", "truth.tsv:1: the header line names no column file"},
    {"NoPhotographs", "file\tboards\n", "truth.tsv:1: names no photographs"},
    {"MissingField", "file\tboards\na.jpg\t3\nb.jpg\n", "truth.tsv:3: has 1 fields, the header 2"},
    {"EmptyFile", "file\tboards\n\t3\n", "truth.tsv:2: the field file is empty"},
    {"ZeroBoards", "file\tboards\na.jpg\t0\n", "truth.tsv:2: boards \"0\" is not a whole number of at least 1"},
    {"FractionBoards", "file\tboards\na.jpg\t2.5\n", "truth.tsv:2: boards \"2.5\" is not"},
    {"NegativeBoards", "file\tboards\na.jpg\t-3\n", "truth.tsv:2: boards \"-3\" is not"},
    {"WordBoards", "file\tboards\na.jpg\ttwelve\n", "truth.tsv:2: boards \"twelve\" is not"},
    {"HugeBoards", "file\tboards\na.jpg\t99999999999\n", "truth.tsv:2: boards \"99999999999\" is not"},
    {"NamedTwice", "file\tboards\na.jpg\t3\nb.jpg\t4\n./a.jpg\t3\n",
     "truth.tsv:4: \"./a.jpg\" is named again (first on line 2)"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Calibration, Truth, testing::ValuesIn(kTruthCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace lathmark
