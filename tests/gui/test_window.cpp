// The Lathmark window as it opens and closes: its controls, their layout, captions and keys, the
// list of photographs it offers, the counters' lettering, its settings problems and Exit. Each
// test runs in a working folder of its own that holds its photographs.

#include <gtest/gtest.h>

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/counter_label.h"
#include "app/drawn_controls.h"
#include "app/main_window.h"
#include "tests/gui/photographs.h"
#include "tests/gui/window_fixture.h"

namespace lathmark {
namespace {

namespace fs = std::filesystem;
using test::kRed;
using test::lineWidth;
using test::Shown;
using test::textOfDialogDuring;

// ---------------------------------------------------------------------------------------------
// Start

using WindowStart = test::WindowFixture;

TEST_F(WindowStart, ShowsZeroCountersAndNothingElse) {
    test::writeStack(here("stack.jpg"), {});
    open();

    EXPECT_EQ(shown(), (Shown{"", "", "0", "0", "0", {}, {}, false}));
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
    EXPECT_EQ(shown(), (Shown{"", "", "0", "0", "0", {}, {}, false}));
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

    // The field for a correction takes them only while it is open.
    auto* correction = window().findChild<QWidget*>("txtCorrection");
    EXPECT_TRUE(correction && correction->isHidden());
    for (QWidget* child : window().findChildren<QWidget*>()) {
        const bool takesKeys = child == cmdReset || child == btnExit || child == list() ||
                               child == correction || child->parentWidget() != &window();
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
// Settings problems and the end

using WindowSettings = test::WindowFixture;

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
