// The Lathmark window, driven as the operator drives it: clicks and keys on the real controls,
// each test in a working folder of its own that holds its photographs.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>

#include "app/counter_label.h"
#include "app/drawn_controls.h"
#include "app/main_window.h"
#include "engine/counting.h"
#include "tests/gui/photographs.h"
#include "tests/gui/window_fixture.h"

namespace lathmark {

// The one way into the window's state that captions do not show: a book of 32767 photographs,
// or of millions of boards, takes too long to count for real.
class LathmarkTestAccess {
  public:
    static std::int16_t& imageCount(Lathmark& window) { return window.imageCount; }
    static std::int64_t& bookTotal(Lathmark& window) { return window.bookTotal; }
};

namespace {

namespace fs = std::filesystem;
using test::StackPhoto;

const QColor kRed(192, 0, 0);

// What the operator sees of a count.
struct Shown {
    QString message;
    QString time;
    QString count;
    QString current;
    QString total;
    bool photograph = false;
    bool result = false;
    bool messageRed = false;

    bool operator==(const Shown&) const = default;
};

void PrintTo(const Shown& shown, std::ostream* out) {
    *out << "{message \"" << shown.message.toStdString() << "\", time \""
         << shown.time.toStdString() << "\", counters " << shown.count.toStdString() << " / "
         << shown.current.toStdString() << " / " << shown.total.toStdString()
         << (shown.photograph ? ", photograph" : "") << (shown.result ? ", result" : "")
         << (shown.messageRed ? ", red" : "") << "}";
}

// Each test in a fresh temporary working folder.
class WindowTest : public test::WindowFixture {
  protected:
    void newBook() { QTest::mouseClick(control<QPushButton>("cmdReset"), Qt::LeftButton); }

    Shown shown() {
        Shown s;
        s.message = label("Label3")->text();
        s.time = label("pTime")->text();
        s.count = label("vCount")->text();
        s.current = label("vCurrentCount")->text();
        s.total = label("vTotalCount")->text();
        s.photograph = !label("Image2")->pixmap().isNull();
        s.result = !label("Image1")->pixmap().isNull();
        s.messageRed = label("Label3")->palette().color(QPalette::WindowText) == kRed;
        return s;
    }

    QSize photographSize() { return label("Image2")->pixmap().size(); }
    QSize resultSize() { return label("Image1")->pixmap().size(); }

    // The window's last count went through: message, counters, time and both pictures.
    void expectCounted(int boards, int count, long long total) {
        const Shown s = shown();
        EXPECT_EQ(s.message, QString("Detected %1 obvious lines.").arg(boards));
        EXPECT_FALSE(s.messageRed);
        EXPECT_EQ(s.count, QString::number(count));
        EXPECT_EQ(s.current, QString::number(boards));
        EXPECT_EQ(s.total, QString::number(total));
        EXPECT_TRUE(
            QRegularExpression(R"(^Process Time: \d+([.,]\d\d?)? sec\.$)").match(s.time).hasMatch())
            << s.time.toStdString();
        EXPECT_TRUE(s.photograph);
        EXPECT_TRUE(s.result);
    }
};

// ---------------------------------------------------------------------------------------------
// Start

using WindowStart = WindowTest;

TEST_F(WindowStart, ShowsZeroCountersAndNothingElse) {
    test::writeStack(here("stack.jpg"), {});
    open();

    EXPECT_EQ(shown(), (Shown{"", "", "0", "0", "0", false, false, false}));
    EXPECT_EQ(window().windowTitle(), "Lathmark");
    EXPECT_EQ(label("Label1")->text(), "MiniBook");
    EXPECT_EQ(label("Label2")->text(), "Select an example file");
    EXPECT_EQ(label("Label4")->text(), "Count No.");
    EXPECT_EQ(label("TotalCount")->text(), "Book");
    EXPECT_EQ(control<QPushButton>("cmdReset")->text(), "New Book");
    EXPECT_EQ(control<QPushButton>("btnExit")->text(), "Exit");
    EXPECT_FALSE(fs::exists(here("test.bmp")));

    // Nothing to take back at the start of the first book.
    newBook();
    EXPECT_EQ(shown(), (Shown{"", "", "0", "0", "0", false, false, false}));
}

TEST_F(WindowStart, CarriesTheIconInEverySize) {
    open();
    const QList<QSize> sizes = window().windowIcon().availableSizes();
    for (int size : {16, 32, 48, 128}) EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
}

TEST_F(WindowStart, ListsTheJpegFilesOnceSortedIgnoringCase) {
    test::writeStack(here("b_stack.JPG"), {});
    test::writeStack(here("a_stack.jpg"), {});
    test::writeStack(here("C_stack.Jpg"), {});
    test::writeStack(here("d_stack.jpeg"), {});
    test::writeText(here("notes.txt"));
    fs::create_directory(here("folder.jpg"));
    open();
    EXPECT_EQ(listed(), (QStringList{"a_stack.jpg", "b_stack.JPG", "C_stack.Jpg"}));

    // A photograph that arrives later is not offered.
    test::writeStack(here("a_late.jpg"), {});
    QTest::qWait(50);
    EXPECT_EQ(listed(), (QStringList{"a_stack.jpg", "b_stack.JPG", "C_stack.Jpg"}));
}

TEST_F(WindowStart, KeyboardGoesFromNewBookToExitToTheList) {
    test::writeStack(here("stack.jpg"), {});
    open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    auto* cmdReset = control<QPushButton>("cmdReset");
    auto* btnExit = control<QPushButton>("btnExit");
    EXPECT_EQ(QApplication::focusWidget(), cmdReset);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), btnExit);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), list());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), cmdReset);

    for (QWidget* child : window().findChildren<QWidget*>()) {
        const bool takesKeys = child == cmdReset || child == btnExit || child == list() ||
                               child->parentWidget() != &window();
        if (!takesKeys) {
            EXPECT_EQ(child->focusPolicy(), Qt::NoFocus) << child->objectName().toStdString();
        }
    }
}

// The layout in twips, 15 to a pixel.
struct Placement {
    const char* name;
    int left, top, width, height;
};

TEST_F(WindowStart, ControlsSitWhereTheLayoutPutsThem) {
    open();
    EXPECT_EQ(window().size(), QSize(11880 / 15, 8490 / 15));

    const Placement placements[] = {
        {"File1", 4080, 4320, 1575, 1650},     {"btnExit", 1320, 7320, 2535, 615},
        {"cmdReset", 1320, 6480, 2535, 615},   {"Label2", 120, 4440, 3735, 375},
        {"Image2", 120, 120, 5535, 4095},      {"Label3", 6000, 4320, 5535, 495},
        {"vCount", 6240, 6840, 855, 495},      {"Label4", 4200, 6960, 1935, 375},
        {"Label1", 7680, 5520, 1935, 735},     {"Shape1", 7560, 5160, 3975, 2895},
        {"pTime", 4200, 7560, 3015, 375},      {"vCurrentCount", 9720, 5400, 1695, 975},
        {"Image1", 6000, 120, 5535, 4095},     {"vTotalCount", 9720, 6840, 1695, 975},
        {"TotalCount", 7680, 6840, 1935, 855},
    };
    for (const Placement& p : placements) {
        const QWidget* widget = control<QWidget>(p.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), QRect(p.left / 15, p.top / 15, p.width / 15, p.height / 15))
            << p.name;
    }
    const auto* line = control<LineShape>("Line2");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->from(), QPoint(7560 / 15, 6480 / 15));
    EXPECT_EQ(line->to(), QPoint(11520 / 15, 6480 / 15));

    // The layout stays put whatever the window's size.
    window().resize(400, 300);
    EXPECT_EQ(control<QWidget>("Image1")->geometry(), QRect(400, 8, 369, 273));
}

struct Lettering {
    const char* name;
    double points;
    QFont::Weight weight;
    Qt::Alignment horizontal;
    bool red;
};

TEST_F(WindowStart, CaptionsHaveTheirSizeWeightAlignmentAndColour) {
    open();
    const Lettering letterings[] = {
        {"Label2", 9.75, QFont::Bold, Qt::AlignRight, false},
        {"Label3", 14.25, QFont::Bold, Qt::AlignHCenter, false},
        {"vCount", 24, QFont::Bold, Qt::AlignLeft, true},
        {"Label4", 18, QFont::Bold, Qt::AlignLeft, false},
        {"Label1", 24, QFont::Normal, Qt::AlignLeft, false},
        {"pTime", 9.75, QFont::Normal, Qt::AlignHCenter, false},
        {"vCurrentCount", 36, QFont::Bold, Qt::AlignRight, true},
        {"vTotalCount", 36, QFont::Bold, Qt::AlignRight, true},
        {"TotalCount", 36, QFont::Bold, Qt::AlignLeft, false},
    };
    for (const Lettering& l : letterings) {
        SCOPED_TRACE(l.name);
        const QLabel* caption = label(l.name);
        ASSERT_NE(caption, nullptr);
        EXPECT_DOUBLE_EQ(caption->font().pointSizeF(), l.points);
        EXPECT_EQ(caption->font().weight(), l.weight);
        EXPECT_EQ(caption->alignment() & Qt::AlignHorizontal_Mask, l.horizontal);
        EXPECT_EQ(caption->palette().color(QPalette::WindowText) == kRed, l.red);
    }
    for (const char* name : {"cmdReset", "btnExit"}) {
        const QFont font = control<QPushButton>(name)->font();
        EXPECT_DOUBLE_EQ(font.pointSizeF(), 9.75) << name;
        EXPECT_EQ(font.weight(), QFont::Bold) << name;
    }
    for (const char* name : {"Image1", "Image2"}) {
        const auto* picture = label(name);
        EXPECT_EQ(picture->frameShape(), QFrame::Box) << name;
        EXPECT_EQ(picture->lineWidth(), 1) << name;
        EXPECT_TRUE(picture->hasScaledContents()) << name;
    }
}

// How wide `text` is drawn on one line in `font`, glyphs that reach past their advance included.
int lineWidth(const QFont& font, const QString& text) {
    const QFontMetrics metrics(font);
    return std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).width());
}

struct CounterCase {
    const char* name;
    double points;   // the layout's size
    long long most;  // the largest number the counter must show whole
};

TEST_F(WindowStart, CountersShowTheirWholeNumberAtTheLargestSizeThatFits) {
    open();
    for (const CounterCase& c :
         {CounterCase{"vCount", 24, 32767}, CounterCase{"vCurrentCount", 36, 99'999'999},
          CounterCase{"vTotalCount", 36, 99'999'999}}) {
        auto* counter = control<CounterLabel>(c.name);
        ASSERT_NE(counter, nullptr);
        const QFont layout = counter->font();
        ASSERT_DOUBLE_EQ(layout.pointSizeF(), c.points);
        const int box = counter->contentsRect().width();
        // Growing numbers, the largest, and back to a small one.
        std::vector<long long> numbers;
        for (long long n = 8; n < c.most; n = n * 10 + 8) numbers.push_back(n);
        numbers.insert(numbers.end(), {c.most, 0});
        bool shrunk = false;
        for (long long number : numbers) {
            SCOPED_TRACE(std::string(c.name) + " showing " + std::to_string(number));
            counter->setNumber(number);
            const QString text = QString::number(number);
            EXPECT_EQ(counter->text(), text);
            const QFont font = counter->font();
            EXPECT_EQ(font.family(), layout.family());
            EXPECT_EQ(font.weight(), layout.weight());
            EXPECT_LE(lineWidth(font, text), box);
            if (font.pointSizeF() == c.points) continue;
            shrunk = true;
            EXPECT_LT(font.pointSizeF(), c.points);
            QFont larger = font;
            larger.setPointSizeF(font.pointSizeF() + 0.75);
            EXPECT_GT(lineWidth(larger, text), box) << "the number fits at a larger size";
        }
        EXPECT_TRUE(shrunk) << "every number fitted at the layout's size";
        EXPECT_DOUBLE_EQ(counter->font().pointSizeF(), c.points);
    }
}

// ---------------------------------------------------------------------------------------------
// Counting

using WindowCount = WindowTest;

TEST_F(WindowCount, ABookOfMillionsOfBoardsIsShownWhole) {
    test::writeStack(here("stack.jpg"), {.boards = 4});
    open();
    LathmarkTestAccess::imageCount(window()) = 32766;
    LathmarkTestAccess::bookTotal(window()) = 9'999'996;
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
    EXPECT_EQ(photographSize(), QSize(photo.width, photo.height()));

    // The photograph is shown upright: the wall at the top is taller than the floor, so the
    // row just under the floor's height is still wall at the top and already board at the
    // bottom.
    const QImage shownPhoto = label("Image2")->pixmap().toImage();
    const int probe = photo.floorRows + 10;
    EXPECT_LT(qGray(shownPhoto.pixel(100, probe)), 80);
    EXPECT_GT(qGray(shownPhoto.pixel(100, photo.height() - 1 - probe)), 160);

    // Image1 shows the result file as written: a two-level band image.
    QImage written;
    ASSERT_TRUE(written.load("test.bmp", "BMP"));
    EXPECT_EQ(written.depth(), 1);
    EXPECT_EQ(written.size(), QSize(photo.bandWidth(), photo.bandHeight()));
    EXPECT_EQ(label("Image1")->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
              written.convertToFormat(QImage::Format_RGB32));
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
    EXPECT_EQ(resultSize(), QSize(six.bandWidth(), six.bandHeight()));
    EXPECT_EQ(photographSize(), QSize(six.width, six.height()));
    click("four.jpg");
    expectCounted(4, 3, 14);
    EXPECT_EQ(resultSize(), QSize(four.bandWidth(), four.bandHeight()));
    EXPECT_EQ(photographSize(), QSize(four.width, four.height()));
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
    EXPECT_TRUE(s.photograph);
    // The result image comes from memory instead: the band, black on its joint rows.
    EXPECT_EQ(resultSize(), QSize(photo.bandWidth(), photo.bandHeight()));
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

class WindowRefusal : public WindowTest, public ::testing::WithParamInterface<Refused> {};

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
    EXPECT_TRUE(s.messageRed);
    EXPECT_TRUE(s.message.startsWith("bad.jpg: ")) << s.message.toStdString();
    EXPECT_TRUE(s.message.contains(refused.reason)) << s.message.toStdString();
    EXPECT_EQ(s.time, "");
    EXPECT_FALSE(s.photograph);
    EXPECT_FALSE(s.result);
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

using WindowLimits = WindowTest;

TEST_F(WindowLimits, UnusableThresholdIsReportedAtStartAndAtEveryPick) {
    test::writeStack(here("stack.jpg"), {});
    std::ofstream(here("Lathmark.ini")) << "BDLINE=40\nTHRESHOLD=250\n";
    open(here("Lathmark.ini"));
    ASSERT_EQ(window().settingsProblems().size(), 1U);
    EXPECT_NE(window().settingsProblems()[0].find("THRESHOLD 250"), std::string::npos);

    click("stack.jpg");
    const Shown s = shown();
    EXPECT_TRUE(s.messageRed);
    EXPECT_TRUE(s.message.startsWith("stack.jpg: ")) << s.message.toStdString();
    EXPECT_TRUE(s.message.contains("THRESHOLD 250")) << s.message.toStdString();
    EXPECT_EQ(s.count, "0");
    EXPECT_EQ(s.total, "0");
    EXPECT_FALSE(s.photograph);
    EXPECT_FALSE(fs::exists(here("test.bmp")));
}

TEST_F(WindowLimits, FullBookRefusesTheNextPickUntilNewBook) {
    test::writeStack(here("four.jpg"), {.boards = 4});
    test::writeStack(here("six.jpg"), {.boards = 6});
    open();
    click("four.jpg");
    expectCounted(4, 1, 4);
    fs::remove(here("test.bmp"));

    LathmarkTestAccess::imageCount(window()) = 32767;
    click("six.jpg");
    const Shown s = shown();
    EXPECT_TRUE(s.messageRed);
    EXPECT_TRUE(s.message.contains("six.jpg")) << s.message.toStdString();
    EXPECT_TRUE(s.message.contains("\"New Book\"")) << s.message.toStdString();
    EXPECT_EQ(s.current, "4");
    EXPECT_EQ(s.total, "4");
    EXPECT_FALSE(s.photograph);
    EXPECT_FALSE(s.result);
    EXPECT_EQ(LathmarkTestAccess::imageCount(window()), 32767);
    EXPECT_FALSE(fs::exists(here("test.bmp")));

    newBook();
    click("four.jpg");
    expectCounted(4, 1, 4);
}

// ---------------------------------------------------------------------------------------------
// Settings problems and the end

using WindowSettings = WindowTest;

// Runs `action` and gives back the text of the message box it opened, if any, closing it.
QString textOfDialogDuring(const std::function<void()>& action) {
    QString text;
    bool seen = false;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            seen = true;
            box->accept();
        }
    });
    closer.start();
    action();
    closer.stop();
    return seen ? text : QString();
}

TEST_F(WindowSettings, EveryProblemIsShownOnceNamingTheFile) {
    std::ofstream(here("Lathmark.ini")) << "BDLINE=many\nTHRESHOLD=\n";
    open(here("Lathmark.ini"));
    ASSERT_EQ(window().settingsProblems().size(), 2U);

    const QString text = textOfDialogDuring([&] { window().reportSettingsProblems(); });
    EXPECT_TRUE(text.contains(QString::fromStdString(here("Lathmark.ini").string())))
        << text.toStdString();
    for (const std::string& problem : window().settingsProblems())
        EXPECT_TRUE(text.contains(QString::fromStdString(problem))) << problem;
    // The program goes on with what it could read.
    EXPECT_TRUE(text.contains("BDLINE 0 and THRESHOLD 0")) << text.toStdString();
}

TEST_F(WindowSettings, MissingFileIsAProblemAndGoodFileShowsNoDialog) {
    open(here("nowhere.ini"));
    ASSERT_EQ(window().settingsProblems().size(), 1U);
    EXPECT_NE(window().settingsProblems()[0].find(here("nowhere.ini").string()), std::string::npos);

    std::ofstream(here("Lathmark.ini")) << "BDLINE=40\nTHRESHOLD=128\n";
    open(here("Lathmark.ini"));
    EXPECT_TRUE(window().settingsProblems().empty());
    EXPECT_EQ(textOfDialogDuring([&] { window().reportSettingsProblems(); }), QString());
}

TEST_F(WindowSettings, ExitClosesTheWindow) {
    open();
    QTest::mouseClick(control<QPushButton>("btnExit"), Qt::LeftButton);
    EXPECT_FALSE(window().isVisible());
}

}  // namespace
}  // namespace lathmark
