// The Lathmark window over bad and unusual photographs and settings files: a bad pick says why
// in red and leaves the book, the pictures and test.bmp alone; the next good pick is counted and
// shown right; a result file that is a pipe holds nothing up; every settings problem is listed
// and the window counts with the values it could read.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QString>
#include <chrono>
#include <filesystem>
#include <optional>

#include "app/main_window.h"
#include "engine/counting.h"
#include "tests/gui/window_fixture.h"
#include "tests/support/bitmaps.h"
#include "tests/support/corpus.h"

namespace lathmark {
namespace {

namespace fs = std::filesystem;
using test::CorpusCase;
using test::Expect;
using test::Shown;

// Room a pick may take beyond what the test program holds, as in the engine's tests.
constexpr std::uint64_t kPickHeadroom = std::uint64_t{3} << 29;

class HostileWindow : public test::WindowFixture {
  protected:
    // A count went through, and its pictures are the size of the photograph just picked (within
    // its box).
    void expectCounted(int boards, int count, long long total, const CountResult& engine,
                       bool warned = false) {
        WindowFixture::expectCounted(boards, count, total, warned);
        const Shown s = shown();
        EXPECT_EQ(s.photograph,
                  shownSize(QSize(engine.photograph.width(), engine.photograph.height())));
        EXPECT_EQ(s.result, shownSize(QSize(engine.marked.width(), engine.marked.height())));
    }
};

// What the engine makes of a file, for the sizes the window must show.
CountResult engineCount(const fs::path& file, int bdLine = 40, int threshold = 128,
                        int stretch = 1) {
    return countBoards(file, {threshold, bdLine, stretch}, {.keepPhotograph = true});
}

// ---------------------------------------------------------------------------------------------
// Photographs

TEST_F(HostileWindow, EachCorpusPickIsCountedOrRefusedAndTheNextGoodPickIsRight) {
    const std::vector<CorpusCase> cases = test::writeCorpus(here());
    const int goodBoards = test::writeGoodPhotograph(here("good.jpg"));
    const CountResult good = engineCount(here("good.jpg"));
    ASSERT_TRUE(good.ok());
    open();

    // The directory named like a photograph is not offered; every file is, sorted.
    QStringList expected{"good.jpg"};
    for (const CorpusCase& c : cases)
        if (c.listed) expected << QString::fromStdString(c.name);
    expected.sort(Qt::CaseInsensitive);
    EXPECT_EQ(listed(), expected);

    int count = 0;
    long long total = 0;
    for (const CorpusCase& c : cases) {
        if (!c.listed) continue;
        SCOPED_TRACE(c.name + ": " + c.kind);
        fs::remove(here("test.bmp"));
        const Shown before = shown();
        {
            const test::AddressSpaceCap cap(kPickHeadroom);
            click(c.name);
        }
        const Shown s = shown();
        const QString name = QString::fromStdString(c.name);
        const QString words = QString::fromStdString(c.words);

        if (c.expect == Expect::Refused) {
            EXPECT_TRUE(s.red);
            EXPECT_TRUE(s.message.startsWith(name + ": ")) << s.message.toStdString();
            EXPECT_TRUE(s.message.contains(words, Qt::CaseInsensitive)) << s.message.toStdString();
            EXPECT_EQ(s.time, "");
            EXPECT_EQ(s.photograph, QSize()) << "the previous photograph is still shown";
            EXPECT_EQ(s.result, QSize()) << "the previous result image is still shown";
            EXPECT_EQ(s.count, before.count);
            EXPECT_EQ(s.current, before.current);
            EXPECT_EQ(s.total, before.total);
            EXPECT_FALSE(fs::exists(here("test.bmp")));
        } else {
            const CountResult engine = engineCount(here(c.name));
            ASSERT_TRUE(engine.ok());
            const int boards = s.current.toInt();
            EXPECT_EQ(boards, c.boards);
            if (c.expect == Expect::CountedWithWarning) {
                // The count stands, and the message says what the decoder noted.
                EXPECT_TRUE(s.message.contains(name + ": ")) << s.message.toStdString();
                EXPECT_TRUE(s.message.contains(words, Qt::CaseInsensitive))
                    << s.message.toStdString();
            }
            total += boards;
            expectCounted(boards, ++count, total, engine, c.expect == Expect::CountedWithWarning);
            expectResultFileShown(QSize(engine.marked.width(), engine.marked.height()));
        }

        // The good photograph after it is counted and shown as if nothing had come before.
        click("good.jpg");
        total += goodBoards;
        expectCounted(goodBoards, ++count, total, good);
        expectResultFileShown(QSize(good.marked.width(), good.marked.height()));
    }
}

TEST_F(HostileWindow, ResultFileThatIsAPipeHoldsNothingUp) {
    const int boards = test::writeGoodPhotograph(here("good.jpg"));
    const CountResult good = engineCount(here("good.jpg"));
    ASSERT_EQ(::mkfifo(here("test.bmp").c_str(), 0600), 0);
    open();

    {
        const test::PipeRescuer rescuer(here("test.bmp"), std::chrono::seconds(3));
        click("good.jpg");
        EXPECT_FALSE(rescuer.rescued()) << "the pick waited on test.bmp, a pipe, for 3 s and "
                                           "more (it waits for ever without this test's help)";
    }
    const Shown s = shown();
    EXPECT_TRUE(s.message.startsWith(QString("Detected %1 obvious lines.").arg(boards)))
        << s.message.toStdString();
    EXPECT_TRUE(s.message.contains("test.bmp")) << s.message.toStdString();
    EXPECT_TRUE(s.message.contains("the counts stand")) << s.message.toStdString();
    EXPECT_EQ(s.count, "1");
    EXPECT_EQ(s.total, QString::number(boards));
    // The result image comes from memory instead.
    EXPECT_EQ(s.result, shownSize(QSize(good.marked.width(), good.marked.height())));
    struct stat info {};
    ASSERT_EQ(::lstat(here("test.bmp").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "test.bmp was replaced";
}

// ---------------------------------------------------------------------------------------------
// Settings files

struct SettingsCase {
    const char* label;
    std::optional<std::string> text;    // the file's bytes; none: there is no file
    std::vector<std::string> problems;  // each problem holds one of these, in order
    int bdLine;                         // the values the window goes on with
    int threshold;
    int boards;  // what the window counts with them on the photograph below
    int stretch = 1;
};

void PrintTo(const SettingsCase& c, std::ostream* out) {
    *out << c.label;
}

// The photograph the settings are tried on: joints of grey 60 at rows 20 and 50 and of grey 100
// at row 35. THRESHOLD 128 finds all three (4 boards), 80 only the darker two (3 boards; the
// later passes look at 90), 0 none (1 board).
void writeSettingsPhotograph(const fs::path& file) {
    const Bitmap photo = test::stackPhotograph({{.firstRow = 20, .grey = 60, .columns = 316},
                                                {.firstRow = 35, .grey = 100, .columns = 316},
                                                {.firstRow = 50, .grey = 60, .columns = 316}},
                                               320);
    ASSERT_TRUE(FreeImage_Save(FIF_JPEG, photo.get(), file.c_str(), JPEG_QUALITYSUPERB));
}

class HostileSettings : public HostileWindow, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(HostileSettings, ProblemsAreListedAndTheWindowCountsWithTheValuesRead) {
    const SettingsCase& c = GetParam();
    writeSettingsPhotograph(here("stack.jpg"));
    const fs::path ini = here("Lathmark.ini");
    if (c.text) test::writeBytes(ini, *c.text);
    open(ini);

    const std::vector<std::string>& problems = window().settingsProblems();
    ASSERT_EQ(problems.size(), c.problems.size()) << ::testing::PrintToString(problems);
    for (std::size_t i = 0; i < problems.size(); ++i) {
        EXPECT_TRUE(problems[i].starts_with(ini.string() + ":")) << problems[i];
        EXPECT_NE(problems[i].find(c.problems[i]), std::string::npos) << problems[i];
    }

    const QString dialog = test::textOfDialogDuring([&] { window().reportSettingsProblems(); });
    if (c.problems.empty()) {
        EXPECT_EQ(dialog, QString());
    } else {
        for (const std::string& problem : problems)
            EXPECT_TRUE(dialog.contains(QString::fromStdString(problem))) << problem;
        EXPECT_TRUE(dialog.contains(
            QString("goes on with BDLINE %1 and THRESHOLD %2.").arg(c.bdLine).arg(c.threshold)))
            << dialog.toStdString();
    }

    // The window is up and counts with what it read.
    click("stack.jpg");
    const CountResult engine = engineCount(here("stack.jpg"), c.bdLine, c.threshold, c.stretch);
    ASSERT_TRUE(engine.ok()) << engine.error->message();
    expectCounted(c.boards, 1, c.boards, engine);
}

const std::string kBom = "\xEF\xBB\xBF";

INSTANTIATE_TEST_SUITE_P(
    Files, HostileSettings,
    ::testing::Values(
        SettingsCase{"Missing", std::nullopt, {"cannot be opened"}, 0, 0, 1},
        SettingsCase{"Good", "BDLINE=40\nTHRESHOLD=80\n", {}, 40, 80, 3},
        SettingsCase{"EmptyLinesAreNoProblem", "\nBDLINE=40\n\nTHRESHOLD=128\n\n", {}, 40, 128, 4},
        // The result image of a count at STRETCH 2 is twice the band's rows high.
        SettingsCase{"Stretch", "BDLINE=40\nTHRESHOLD=80\nSTRETCH=2\n", {}, 40, 80, 3, 2},
        SettingsCase{"KeyWithoutEquals",
                     "THRESHOLD=80\nBDLINE=40\nTHRESHOLD\n",
                     {":3: THRESHOLD has no \"=\""},
                     40,
                     80,
                     3},
        SettingsCase{"EmptyValue",
                     "BDLINE=40\nTHRESHOLD=80\nTHRESHOLD= \n",
                     {":3: THRESHOLD has an empty value"},
                     40,
                     80,
                     3},
        SettingsCase{"NotANumber",
                     "BDLINE=40\nTHRESHOLD=80\nTHRESHOLD=dark\n",
                     {":3: THRESHOLD value \"dark\" is not a number"},
                     40,
                     80,
                     3},
        SettingsCase{"OutOfRange",
                     "BDLINE=40\nTHRESHOLD=80\nBDLINE=99999\n",
                     {":3: BDLINE value \"99999\" is outside"},
                     40,
                     80,
                     3},
        SettingsCase{"ByteOrderMarkHidesTheFirstKey",
                     kBom + "THRESHOLD=80\r\nBDLINE=40\r\n",
                     {":1: the file begins with a UTF-8 byte-order mark"},
                     40,
                     0,
                     1},
        SettingsCase{"EveryProblemAtOnce",
                     kBom + "BDLINE=40\nTHRESHOLD=abc\nBDLINE\nTHRESHOLD=\nBDLINE=1e3\n",
                     {":1: the file begins with a UTF-8 byte-order mark", ":2: THRESHOLD value",
                      ":3: BDLINE has no", ":4: THRESHOLD has an empty value", ":5: BDLINE value"},
                     0,
                     0,
                     1}),
    [](const ::testing::TestParamInfo<SettingsCase>& param) { return param.param.label; });

}  // namespace
}  // namespace lathmark
