// Tests of the choice of settings on small hand-made landscapes: the most photographs right,
// then the widest margin to a setting that counts fewer right, then the nearest the current
// settings; and of the readers of true counts, the TRUTH file and the journal.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/calibration.h"
#include "engine/calibration_search.h"
#include "engine/journal.h"
#include "engine/preparation.h"
#include "engine/truth.h"
#include "tests/support/files.h"
#include "tests/support/programs.h"
#include "tools/samplegen.h"

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

// ---- Journals ----

// A photograph as a journal records it: its count, and the operator's word if any. The digest
// recorded is that of a sample photograph; `picture` "" records none.
struct Recorded {
    std::string file;
    long long counted;
    std::optional<long long> truth;  // corrected or confirmed to this
    std::string picture = "stack_01.jpg";
};

struct JournalCase {
    const char* name;
    std::vector<Recorded> recorded;  // one book of them
    bool trustCounts;
    std::vector<std::pair<std::string, int>> rows;
    std::vector<std::string> notes;  // the start of each, after the photograph's path
    std::string error = {};          // the start of the error, after the file's name
    std::string text = {};           // the file's whole text instead of `recorded`
};

// In the journal's folder: a.jpg and b.jpg hold stack_01.jpg, c.jpg holds stack_02.jpg.
TEST(JournalTruth, GivesTheTruthListAndSaysWhatItLeavesOut) {
    const ScratchFolder folder = test::scratchFolderForThisTest("lathmark-journal-truth");
    const std::filesystem::path samples = test::samplesFolder();
    for (const auto& [name, sample] :
         {std::pair{"a.jpg", "stack_01.jpg"}, {"b.jpg", "stack_01.jpg"}, {"c.jpg", "stack_02.jpg"}})
        std::filesystem::copy_file(samples / sample, folder.path() / name);
    const std::string damaged = journalHeader() + "t,count,1,a.jpg,12,false,,1,12,,,,\r\n" +
                                "t,confirm,1,a.jpg,12,,,1,12,,,12,\r\n" +
                                "t,count,1,b.jpg,9,false,,2,99,,,,\r\n";
    // clang-format off
    const JournalCase cases[] = {
        {"corrected and confirmed", {{"a.jpg", 11, 12}, {"c.jpg", 13, 13, "stack_02.jpg"}}, false,
         {{"a.jpg", 12}, {"c.jpg", 13}}, {}},
        {"the operator's word over a later count, counts trusted",
         {{"a.jpg", 11, 12}, {"b.jpg", 12, {}}, {"a.jpg", 9, {}}}, true,
         {{"a.jpg", 12}, {"b.jpg", 12}}, {}},
        {"a picture that changed", {{"a.jpg", 12, 12}, {"c.jpg", 9, 9}}, false, {{"a.jpg", 12}},
         {"c.jpg: its picture is not the one the journal recorded; left out"}},
        {"a photograph gone", {{"gone.jpg", 3, 3}, {"a.jpg", 12, 12}}, false, {{"a.jpg", 12}},
         {"gone.jpg: is gone; left out"}},
        {"no boards", {{"a.jpg", 1, 0}, {"b.jpg", 12, 12}}, false, {{"b.jpg", 12}},
         {"a.jpg: its true count is 0 boards"}},
        {"an old journal is taken by the names", {{"c.jpg", 3, 4, ""}}, false, {{"c.jpg", 4}}, {}},
        {"no truth at all", {{"a.jpg", 12, {}}}, false, {}, {},
         "holds no corrected or confirmed count to calibrate on"},
        {"every truth left out", {{"gone.jpg", 3, 3}}, false, {}, {"gone.jpg: is gone"},
         "the one photograph it holds a true count of is left out"},
        {"damage", {}, false, {{"a.jpg", 12}}, {"book 1 is damaged: line 4"}, "", damaged},
    };
    // clang-format on
    for (const JournalCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.text;
        if (text.empty()) {
            StationBook book;
            text = journalHeader();
            for (const Recorded& r : c.recorded) {
                std::optional<PhotographDigest> digest;
                if (!r.picture.empty()) digest = readJpegFile(samples / r.picture).value.digest;
                text += journalLine(book.counted({r.file, r.counted, digest}, std::nullopt));
                if (r.truth)
                    text += journalLine(*book.check(
                        {*r.truth == r.counted ? JournalEvent::Confirm : JournalEvent::Correct,
                         *r.truth, "", ""}));
            }
        }
        const std::filesystem::path journal = folder.path() / "journal.csv";
        test::writeBytes(journal, text);
        const TruthRead read = readTruthOrJournal(journal, c.trustCounts);
        EXPECT_EQ(read.source, TruthSource::Journal);
        if (c.error.empty())
            EXPECT_FALSE(read.error) << *read.error;
        else
            EXPECT_TRUE(read.error.value_or("").starts_with(journal.string() + ": " + c.error))
                << read.error.value_or("");
        std::vector<std::pair<std::string, int>> rows;
        for (const TruthRow& row : read.rows)
            rows.emplace_back(
                std::filesystem::path(row.file).lexically_relative(folder.path()).string(),
                row.boards);
        EXPECT_EQ(rows, c.rows);
        ASSERT_EQ(read.notes.size(), c.notes.size());
        for (std::size_t i = 0; i < c.notes.size(); ++i) {
            const std::string& note = read.notes[i];
            EXPECT_TRUE(note.starts_with((folder.path() / c.notes[i]).string()) ||
                        note.starts_with(journal.string() + ": " + c.notes[i]))
                << note;
        }
    }
    // A file that does not begin as a journal is a TRUTH file, with that reader's words.
    test::writeBytes(folder.path() / "truth.tsv", "file,boards\r\na.jpg,3\r\n");
    const TruthRead truth = readTruthOrJournal(folder.path() / "truth.tsv", true);
    EXPECT_EQ(truth.source, TruthSource::TruthFile);
    EXPECT_TRUE(truth.error && truth.error->ends_with(
                                   "truth.tsv:1: the header line names no column file (columns are "
                                   "separated by tabs)"))
        << truth.error.value_or("");
}

// A search asked to end (a window closed while it learns) ends at once and chooses nothing.
TEST(CalibrationSearch, EndsEarlyWhenAsked) {
    const TruthRead truth =
        readTruth(std::filesystem::path(LATHMARK_SOURCE_DIR) / "samples/dim/truth.tsv");
    ASSERT_FALSE(truth.error);
    // Before the photographs are read, or in the search for the region, after its first window.
    for (const bool findRegion : {false, true}) {
        std::atomic<bool> stop{!findRegion};
        CalibrationOptions options{.findRegion = findRegion};
        options.stop = &stop;
        options.progress = [&stop](const CalibrationOptions::Step& step) {
            if (step.windows) stop = true;
        };
        EXPECT_FALSE(calibrate(truth.rows, {.threshold = 128, .bdLine = 40}, options,
                               [](const PhotographSearch&) {}));
    }
}

// The climb to the best window ends, where windows tie as well as where one is best: windows
// scored by width alone up to a cap tie with their shifted neighbours (on the bundled thin
// samples the climb went back and forth between two such windows for ever).
TEST(CalibrationSearch, ClimbEndsAmongWindowsAsGood) {
    using Window = std::pair<int, int>;
    auto width = [](Window w) { return w.second - w.first; };
    struct Case {
        const char* name;
        std::function<int(Window)> score;
        std::function<bool(Window)> isEnd;
    };
    const std::vector<Case> cases{
        {"one best window",
         [](Window w) { return -std::abs(w.first - 3) - std::abs(w.second - 20); },
         [](Window w) {
             return w == Window{3, 20};
         }},
        {"the best width 8, shifts tie",
         [&](Window w) { return width(w) <= 8 ? width(w) : 16 - width(w); },
         [&](Window w) { return width(w) == 8; }},
        {"every window as good", [](Window) { return 0; }, [](Window) { return true; }},
    };
    for (const Case& c : cases) {
        int steps = 0;
        const Window end = climbWindows({10, 18}, 32, 4, [&](const std::vector<Window>& windows) {
            if (++steps > 1000) return windows.back();  // the test's own way out
            // The best first; of windows as good, the first offered, as the search sorts them.
            std::vector<Window> sorted = windows;
            std::stable_sort(sorted.begin(), sorted.end(),
                             [&](Window a, Window b) { return c.score(a) > c.score(b); });
            return sorted.front();
        });
        EXPECT_LE(steps, 1000) << c.name;
        EXPECT_TRUE(c.isEnd(end)) << c.name << ": ends at " << end.first << " to " << end.second;
    }
}

// ---- Which settings count a photograph right ----

// A small station, smooth or rough (uneven light, grain and noise), as the search for the region
// sees one.
Bitmap smallStation(bool rough, std::uint32_t seed) {
    samplegen::StationPlan plan;
    plan.width = 160;
    plan.height = 120;
    plan.tableRows = 14;
    plan.boards = 5;
    plan.boardRows = 12;
    plan.jointRows = 3;
    plan.rough = rough;
    auto dib = samplegen::renderStation(samplegen::planStation(plan, seed), seed);
    return Bitmap(dib.release());
}

// rightSettings against a count at every setting, one at a time, within column windows of
// several photographs: which settings count the true boards, the nearest count at each BDLINE
// and the band's height. Its sweep jumps from one BDLINE at which the passes' rules change to
// the next, and a threshold that sees the rows of the one below repeats its row; none of that
// may change what it finds.
TEST(RightSettings, AreThoseACountAtEachSettingFinds) {
    struct Case {
        const char* name;
        Bitmap photograph;
        std::optional<lathmark::Region> window;
        int boards;
    };
    const std::string samples = std::string(LATHMARK_SOURCE_DIR) + "/samples/";
    auto load = [&](const char* name) {
        return Bitmap(FreeImage_Load(FIF_JPEG, (samples + name).c_str(), 0));
    };
    std::vector<Case> cases;
    cases.push_back({"smooth station, whole", smallStation(false, 11), std::nullopt, 5});
    cases.push_back(
        {"smooth station, a window", smallStation(false, 12), lathmark::Region{40, 0, 70, 120}, 5});
    cases.push_back({"rough station, whole", smallStation(true, 13), std::nullopt, 5});
    cases.push_back(
        {"rough station, a window", smallStation(true, 14), lathmark::Region{24, 0, 90, 120}, 5});
    cases.push_back(
        {"stack_03, a window", load("stack_03.jpg"), lathmark::Region{300, 0, 40, 576}, 8});
    cases.push_back(
        {"thin_01, a window", load("thin/thin_01.jpg"), lathmark::Region{200, 0, 48, 288}, 9});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.photograph);
        const StepResult<ThresholdTable> table =
            ThresholdTable::build(c.photograph.get(), c.window);
        ASSERT_TRUE(table.ok()) << *table.failure;
        const int bdLineMax = table.value.width();
        const PhotographRight found = rightSettings(table.value, c.boards, bdLineMax);
        ASSERT_TRUE(found.ok()) << *found.failure;
        std::vector<std::optional<int>> nearest(static_cast<std::size_t>(bdLineMax) + 1);
        int right = 0;
        PassWork work;
        for (int stretch = Settings::kMinStretch; stretch <= Settings::kMaxStretch; ++stretch)
            for (int threshold = 0; threshold < kThresholds; ++threshold) {
                const Settings at{.threshold = threshold, .stretch = stretch};
                const StepResult<Band> band = findBand(rowsAt(table.value, at));
                ASSERT_EQ(bandRowsAt(found, at), band.ok() ? band.value.counts.height / stretch : 0)
                    << countingSettingsText(at);
                for (int bdLine = 0; bdLine <= bdLineMax; ++bdLine) {
                    const Settings settings{threshold, bdLine, stretch};
                    const std::optional<PassLines> lines = countAt(table.value, settings, work);
                    const bool isRight = lines && boardsOf(*lines) == c.boards;
                    right += isRight;
                    ASSERT_EQ(
                        found.right[static_cast<std::size_t>(stretch - 1)].at(threshold, bdLine),
                        isRight)
                        << countingSettingsText(settings);
                    if (!lines) continue;
                    // The nearest the true boards; of two as near, the smaller.
                    const int boards = boardsOf(*lines);
                    std::optional<int>& best = nearest[static_cast<std::size_t>(bdLine)];
                    const int distance = std::abs(boards - c.boards);
                    if (!best || distance < std::abs(*best - c.boards) ||
                        (distance == std::abs(*best - c.boards) && boards < *best))
                        best = boards;
                }
            }
        for (int bdLine = 0; bdLine <= bdLineMax; ++bdLine)
            EXPECT_EQ(found.nearest[static_cast<std::size_t>(bdLine)],
                      nearest[static_cast<std::size_t>(bdLine)].value_or(0))
                << "BDLINE " << bdLine;
        // Without the nearest counts, the same settings right and the same bands.
        const PhotographRight quick = rightSettings(table.value, c.boards, bdLineMax, false);
        EXPECT_EQ(quick.bandRows, found.bandRows);
        for (std::size_t s = 0; s < found.right.size(); ++s)
            for (int threshold = 0; threshold < kThresholds; ++threshold)
                for (int bdLine = 0; bdLine <= bdLineMax; ++bdLine)
                    ASSERT_EQ(quick.right[s].at(threshold, bdLine),
                              found.right[s].at(threshold, bdLine))
                        << "STRETCH " << s + 1 << " THRESHOLD " << threshold << " BDLINE "
                        << bdLine;
        // Each case has settings that count it right and settings that do not.
        EXPECT_GT(right, 0);
    }
}

}  // namespace
}  // namespace lathmark
