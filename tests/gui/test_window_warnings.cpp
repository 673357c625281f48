// The window and a settings file that likely does not say what was meant: its warnings are shown
// at start, as its problems are, and the window goes on with the values read.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <fstream>

#include "tests/gui/photographs.h"
#include "tests/gui/window_fixture.h"

namespace lathmark {
namespace {

using WindowWarnings = test::WindowFixture;

TEST_F(WindowWarnings, AreShownAtStartAndTheWindowCountsWithTheValuesRead) {
    test::writeStack(here("stack.jpg"), {.boards = 4});
    std::ofstream(here("Lathmark.ini")) << "BDLINE=40\nTRESHOLD=128\n";
    open(here("Lathmark.ini"));
    EXPECT_TRUE(window().settingsProblems().empty());
    ASSERT_EQ(window().settingsWarnings().size(), 2U);

    const QString text = test::textOfDialogDuring([&] { window().reportSettingsProblems(); });
    EXPECT_TRUE(text.startsWith("The settings file " +
                                QString::fromStdString(here("Lathmark.ini").string()) +
                                " may not say what was meant:"))
        << text.toStdString();
    for (const std::string& warning : window().settingsWarnings())
        EXPECT_TRUE(text.contains(QString::fromStdString(warning))) << warning;
    EXPECT_TRUE(text.contains("\"TRESHOLD\" is not a setting")) << text.toStdString();
    EXPECT_TRUE(text.contains("goes on with BDLINE 40 and THRESHOLD 0.")) << text.toStdString();

    // THRESHOLD 0 finds no joint: one board.
    click("stack.jpg");
    EXPECT_EQ(label("vCurrentCount")->text(), "1");
}

}  // namespace
}  // namespace lathmark
