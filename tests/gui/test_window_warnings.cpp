// The window and a settings file that likely does not say what was meant: its warnings are shown
// at start, as its problems are, and the window goes on with the values read.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <fstream>
#include <iterator>

#include "engine/journal.h"
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

// A settings mistake stays in sight until it is mended: a standing line, every count uncertain
// for it, the book's uncertain counts by its counter across picks and a resume, and the list's
// marks; mended in the file while the window runs (WATCH=1), it goes, and the journal records
// the settings counted with from then on.
TEST_F(WindowWarnings, ADoubtStaysInSightUntilItIsMended) {
    test::writeStack(here("a.jpg"), {.boards = 4});
    test::writeStack(here("b.jpg"), {.boards = 5});
    std::ofstream(here("empty.jpg")) << "";
    const std::filesystem::path ini = here("settings") / "Lathmark.ini";
    std::filesystem::create_directory(ini.parent_path());
    std::ofstream(ini) << "BDLINE=40\nTRESHOLD=128\nWATCH=1\n";
    open(ini);
    const QString where = QString::fromStdString(ini.string()) + ":2:";
    EXPECT_EQ(shownText("lblStanding"),
              "Every count is uncertain until the settings file is mended: Lathmark.ini:2: "
              "\"TRESHOLD\" is not a setting, so the line is skipped; did you mean THRESHOLD? (and "
              "1 more)");
    const auto markOf = [&](const char* name) {
        return list()->findItems(name, Qt::MatchExactly).front()->toolTip();
    };

    click("a.jpg");
    EXPECT_TRUE(shownText("lblCertainty").contains("Lathmark.ini:2: \"TRESHOLD\""))
        << shownText("lblCertainty").toStdString();
    EXPECT_TRUE(label("lblCertainty")->toolTip().contains(where));
    EXPECT_EQ(label("lblBookUncertain")->text(), "(1 uncertain)");
    EXPECT_EQ(markOf("a.jpg"), "Counted in this book, uncertain");
    click("empty.jpg");
    EXPECT_EQ(markOf("empty.jpg"), "Refused in this book");
    EXPECT_EQ(markOf("b.jpg"), "Not counted in this book");
    EXPECT_TRUE(shownText("lblStanding").startsWith("Every count is uncertain until"));

    // Mended by renaming a new file over it, as editors save.
    std::ofstream(here("settings") / "new.ini") << "BDLINE=40\nTHRESHOLD=128\nWATCH=1\n";
    std::filesystem::rename(here("settings") / "new.ini", ini);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shownText("lblStanding").isEmpty(); }, 5000));
    EXPECT_TRUE(shownText("Label3").contains("counting now with THRESHOLD=128 BDLINE=40"));
    click("b.jpg");
    EXPECT_EQ(label("vCurrentCount")->text(), "5");
    EXPECT_EQ(markOf("b.jpg"), "Counted in this book");
    EXPECT_EQ(label("lblBookUncertain")->text(), "(1 uncertain)");

    // Cut short and started again: the book comes back with its uncertain count.
    open(ini);
    EXPECT_TRUE(shownText("Label3").endsWith("6 boards (1 uncertain)"))
        << shownText("Label3").toStdString();
    EXPECT_EQ(label("lblBookUncertain")->text(), "(1 uncertain)");
    EXPECT_EQ(markOf("a.jpg"), "Counted in this book, uncertain");
    std::ifstream journal(here(kJournalFile));
    const std::string text((std::istreambuf_iterator<char>(journal)), {});
    EXPECT_NE(text.find("settings,1,lathmark,,,,2,6,THRESHOLD=128 BDLINE=40"), std::string::npos)
        << text;
    EXPECT_NE(text.find("1 of its counts uncertain"), std::string::npos) << text;

    newBook();
    EXPECT_EQ(label("lblBookUncertain")->text(), "");
    EXPECT_EQ(markOf("a.jpg"), "Not counted in this book");
}

}  // namespace
}  // namespace lathmark
