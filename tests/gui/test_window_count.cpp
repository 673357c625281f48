// The Lathmark window counting what the operator picks: the pictures and counters of each count,
// the book across picks and New Book, photographs it cannot count and the limits of a book. Each
// test runs in a working folder of its own that holds its photographs.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/main_window.h"
#include "tests/gui/photographs.h"
#include "tests/gui/window_fixture.h"

namespace lathmark {

// The one way into the window's state that captions do not show: a book of 32767 photographs,
// or of millions of boards, takes too long to count for real.
class LathmarkTestAccess {
  public:
    // Gives the window's book `photographs` counts of `boards` boards in all.
    static void fillBook(Lathmark& window, long long photographs, long long boards) {
        std::vector<BookCount> counts(static_cast<std::size_t>(photographs),
                                      {"earlier.jpg", 0, std::nullopt});
        counts.front().boards = boards;
        window.station.book_.start(1, std::move(counts));
    }
    static long long photographs(Lathmark& window) { return window.station.book().photographs(); }
};

namespace {

namespace fs = std::filesystem;
using test::lineWidth;
using test::Shown;
using test::StackPhoto;

// ---------------------------------------------------------------------------------------------
// Counting

using WindowCount = test::WindowFixture;

TEST_F(WindowCount, ABookOfMillionsOfBoardsIsShownWhole) {
    test::writeStack(here("stack.jpg"), {.boards = 4});
    open();
    LathmarkTestAccess::fillBook(window(), 32766, 9'999'996);
    click("stack.jpg");
    expectCounted(4, 32767, 10'000'000);
    for (const char* name : {"vCount", "vTotalCount"}) {
        const QLabel* counter = label(name);
        EXPECT_LE(lineWidth(counter->font(), counter->text()), counter->contentsRect().width())
            << name;
    }
    EXPECT_LT(label("vTotalCount")->font().pointSizeF(), 36);

    newBook();
    EXPECT_DOUBLE_EQ(label("vCount")->font().pointSizeF(), 24);
    EXPECT_DOUBLE_EQ(label("vTotalCount")->font().pointSizeF(), 36);
}

TEST_F(WindowCount, PickShowsPhotographResultAndCounters) {
    const StackPhoto photo{.width = 320, .boards = 4};
    test::writeStack(here("stack.jpg"), photo);
    open();
    click("stack.jpg");

    expectCounted(4, 1, 4);
    EXPECT_EQ(shown().photograph, QSize(photo.width, photo.height()));

    // The photograph is shown upright: the wall at the top is taller than the floor, so the
    // row just under the floor's height is still wall at the top and already board at the
    // bottom.
    const QImage shownPhoto = label("Image2")->pixmap().toImage();
    const int probe = photo.floorRows + 10;
    EXPECT_LT(qGray(shownPhoto.pixel(100, probe)), 80);
    EXPECT_GT(qGray(shownPhoto.pixel(100, photo.height() - 1 - probe)), 160);

    // Image1 shows the result file as written: a two-level band image.
    expectResultFileShown(QSize(photo.bandWidth(), photo.bandHeight()));
}

TEST_F(WindowCount, SettingsOfTheFileReachTheCount) {
    // At THRESHOLD 20 even the joints are light: no line, one board.
    test::writeStack(here("stack.jpg"), {});
    std::ofstream(here("Lathmark.ini")) << "BDLINE=40\nTHRESHOLD=20\n";
    open(here("Lathmark.ini"));
    EXPECT_TRUE(window().settingsProblems().empty());
    click("stack.jpg");
    expectCounted(1, 1, 1);
}

TEST_F(WindowCount, EveryRunCountsAndTheLatestResultIsShown) {
    const StackPhoto four{.width = 320, .boards = 4};
    const StackPhoto six{.width = 256, .boards = 6};
    test::writeStack(here("four.jpg"), four);
    test::writeStack(here("six.jpg"), six);
    open();

    click("four.jpg");
    expectCounted(4, 1, 4);
    click("six.jpg");
    expectCounted(6, 2, 10);
    EXPECT_EQ(shown().result, QSize(six.bandWidth(), six.bandHeight()));
    EXPECT_EQ(shown().photograph, shownSize(QSize(six.width, six.height())));
    click("four.jpg");
    expectCounted(4, 3, 14);
    EXPECT_EQ(shown().result, QSize(four.bandWidth(), four.bandHeight()));
    EXPECT_EQ(shown().photograph, shownSize(QSize(four.width, four.height())));
}

TEST_F(WindowCount, SamePhotographPickedAgainCountsAgain) {
    test::writeStack(here("four.jpg"), {.boards = 4});
    test::writeStack(here("six.jpg"), {.boards = 6});
    open();
    click("six.jpg");
    newBook();

    click("four.jpg");
    // Ctrl-click takes the selection away without a pick; the next click picks it again.
    click("four.jpg", Qt::ControlModifier);
    EXPECT_EQ(shown().count, "1");
    click("four.jpg");
    expectCounted(4, 2, 8);
}

TEST_F(WindowCount, NewBookZeroesTheCountersAndLeavesTheRest) {
    test::writeStack(here("stack.jpg"), {.boards = 5});
    open();
    click("stack.jpg");
    expectCounted(5, 1, 5);
    const Shown before = shown();

    newBook();
    Shown expected = before;
    expected.count = expected.current = expected.total = "0";
    EXPECT_EQ(shown(), expected);
    EXPECT_EQ(QFile("test.bmp").exists(), true);
}

TEST_F(WindowCount, ArrowKeysCountEveryEntryTheyReach) {
    test::writeStack(here("a.jpg"), {.boards = 3});
    test::writeStack(here("b.jpg"), {.boards = 4});
    test::writeStack(here("c.jpg"), {.boards = 5});
    open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));

    // Reaching the list is not a pick.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), list());
    EXPECT_EQ(shown().count, "0");

    QTest::keyClick(list(), Qt::Key_Down);
    expectCounted(3, 1, 3);
    QTest::keyClick(list(), Qt::Key_Down);
    expectCounted(4, 2, 7);
    QTest::keyClick(list(), Qt::Key_Down);
    expectCounted(5, 3, 12);
    // At the last entry Down changes nothing, so nothing is counted.
    QTest::keyClick(list(), Qt::Key_Down);
    expectCounted(5, 3, 12);
    QTest::keyClick(list(), Qt::Key_Up);
    expectCounted(4, 4, 16);
}

TEST_F(WindowCount, SettingsAreReadOnlyAtStart) {
    test::writeStack(here("stack.jpg"), {.boards = 4});
    std::ofstream(here("Lathmark.ini")) << "BDLINE=40\nTHRESHOLD=128\n";
    open(here("Lathmark.ini"));
    std::ofstream(here("Lathmark.ini")) << "BDLINE=40\nTHRESHOLD=250\n";
    click("stack.jpg");
    expectCounted(4, 1, 4);
}

TEST_F(WindowCount, ResultFileThatCannotBeWrittenLeavesTheCountStanding) {
    const StackPhoto photo{.boards = 4};
    test::writeStack(here("stack.jpg"), photo);
    fs::create_directory(here("test.bmp"));  // in the way of the result file, even for root
    open();
    click("stack.jpg");

    const Shown s = shown();
    EXPECT_TRUE(s.message.startsWith("Detected 4 obvious lines.")) << s.message.toStdString();
    EXPECT_TRUE(s.message.contains("test.bmp could not be written")) << s.message.toStdString();
    EXPECT_TRUE(s.message.contains("the counts stand")) << s.message.toStdString();
    EXPECT_EQ(s.count, "1");
    EXPECT_EQ(s.current, "4");
    EXPECT_EQ(s.total, "4");
    EXPECT_FALSE(s.time.isEmpty());
    EXPECT_TRUE(s.photograph.isValid());
    // The result image comes from memory instead: the band, black on its joint rows.
    EXPECT_EQ(s.result, QSize(photo.bandWidth(), photo.bandHeight()));
    const QImage result = label("Image1")->pixmap().toImage();
    EXPECT_EQ(qGray(result.pixel(10, StackPhoto::kBoardRows + 2)), 0);
    EXPECT_EQ(qGray(result.pixel(10, StackPhoto::kBoardRows / 2)), 255);
    EXPECT_TRUE(fs::is_directory(here("test.bmp")));
}

// ---------------------------------------------------------------------------------------------
// Counts that cannot be made

// A photograph that cannot be counted, and what the message must say about it.
struct Refused {
    const char* label;
    void (*prepare)(const fs::path& file);
    bool deleteAfterStart;
    const char* reason;
};

void PrintTo(const Refused& refused, std::ostream* out) {
    *out << refused.label;
}

class WindowRefusal : public test::WindowFixture, public ::testing::WithParamInterface<Refused> {};

TEST_P(WindowRefusal, SaysWhyInRedAndCountsNothing) {
    const Refused& refused = GetParam();
    test::writeStack(here("good.jpg"), {.boards = 4});
    refused.prepare(here("bad.jpg"));
    open();
    if (refused.deleteAfterStart) fs::remove(here("bad.jpg"));

    click("good.jpg");
    expectCounted(4, 1, 4);
    fs::remove(here("test.bmp"));

    click("bad.jpg");
    const Shown s = shown();
    EXPECT_TRUE(s.red);
    EXPECT_TRUE(s.message.startsWith("bad.jpg: ")) << s.message.toStdString();
    EXPECT_TRUE(s.message.contains(refused.reason)) << s.message.toStdString();
    EXPECT_EQ(s.time, "");
    EXPECT_FALSE(s.photograph.isValid());
    EXPECT_FALSE(s.result.isValid());
    EXPECT_EQ(s.count, "1");
    EXPECT_EQ(s.current, "4");
    EXPECT_EQ(s.total, "4");
    EXPECT_FALSE(fs::exists(here("test.bmp")));

    // The window goes on as before.
    click("good.jpg");
    expectCounted(4, 2, 8);
}

INSTANTIATE_TEST_SUITE_P(
    Photographs, WindowRefusal,
    ::testing::Values(Refused{"Vanished", [](const fs::path& f) { test::writeStack(f, {}); }, true,
                              "does not exist"},
                      Refused{"NotAJpeg", test::writeText, false, "JPEG"},
                      Refused{"NoBandRows", test::writeOneLightRow, false, "no board band"},
                      Refused{"TooNarrow", test::writeTooNarrow, false, "4 pixels wide"}),
    [](const ::testing::TestParamInfo<Refused>& param) { return param.param.label; });

using WindowLimits = test::WindowFixture;

TEST_F(WindowLimits, UnusableThresholdIsReportedAtStartAndAtEveryPick) {
    test::writeStack(here("stack.jpg"), {});
    std::ofstream(here("Lathmark.ini")) << "BDLINE=40\nTHRESHOLD=250\n";
    open(here("Lathmark.ini"));
    ASSERT_EQ(window().settingsProblems().size(), 1U);
    EXPECT_NE(window().settingsProblems()[0].find("THRESHOLD 250"), std::string::npos);

    click("stack.jpg");
    const Shown s = shown();
    EXPECT_TRUE(s.red);
    EXPECT_TRUE(s.message.startsWith("stack.jpg: ")) << s.message.toStdString();
    EXPECT_TRUE(s.message.contains("THRESHOLD 250")) << s.message.toStdString();
    EXPECT_EQ(s.count, "0");
    EXPECT_EQ(s.total, "0");
    EXPECT_FALSE(s.photograph.isValid());
    EXPECT_FALSE(fs::exists(here("test.bmp")));
}

TEST_F(WindowLimits, FullBookRefusesTheNextPickUntilNewBook) {
    test::writeStack(here("four.jpg"), {.boards = 4});
    test::writeStack(here("six.jpg"), {.boards = 6});
    open();
    click("four.jpg");
    expectCounted(4, 1, 4);
    fs::remove(here("test.bmp"));

    LathmarkTestAccess::fillBook(window(), 32767, 4);
    click("six.jpg");
    const Shown s = shown();
    EXPECT_TRUE(s.red);
    EXPECT_TRUE(s.message.contains("six.jpg")) << s.message.toStdString();
    EXPECT_TRUE(s.message.contains("\"New Book\"")) << s.message.toStdString();
    EXPECT_EQ(s.current, "4");
    EXPECT_EQ(s.total, "4");
    EXPECT_FALSE(s.photograph.isValid());
    EXPECT_FALSE(s.result.isValid());
    EXPECT_EQ(LathmarkTestAccess::photographs(window()), 32767);
    EXPECT_FALSE(fs::exists(here("test.bmp")));

    newBook();
    click("four.jpg");
    expectCounted(4, 1, 4);
}

}  // namespace
}  // namespace lathmark
