// The window as a counting station: how sure each count is, a photograph counted twice, Ctrl+Z,
// the journal of every event, a book resumed after an interruption, the region's outline and a
// watched working folder. Each test runs in a working folder of its own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/counter_label.h"
#include "app/station.h"
#include "engine/csv.h"
#include "engine/journal.h"
#include "engine/preparation.h"
#include "tests/gui/photographs.h"
#include "tests/gui/window_fixture.h"
#include "tests/support/files.h"

namespace lathmark {
namespace {

namespace fs = std::filesystem;
using test::StackPhoto;

class WindowStation : public test::WindowFixture {
  protected:
    std::string settingsWith(const std::string& extra) {
        std::ofstream(here("Lathmark.ini")) << "BDLINE=40\nTHRESHOLD=128\n" << extra;
        return here("Lathmark.ini");
    }

    QColor colourOf(const char* name) { return label(name)->palette().color(QPalette::WindowText); }

    void undo() {
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier);
    }

    // The journal's records, each as its fields from the event to the book's boards (the time
    // and the reason left out), e.g. "count,1,a.jpg,3,false,,1,3"; without the settings
    // record each start writes.
    // The journal of the working folder, which a test may change.
    std::vector<std::string> journal() {
        std::ifstream in(kJournalFile, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::vector<CsvRecord> records;
        int badLine = 0;
        EXPECT_TRUE(parseCsv(text.str(), records, badLine)) << badLine;
        std::vector<std::string> rows;
        for (std::size_t i = 1; i < records.size(); ++i) {
            if (records[i].fields.at(1) == "settings") continue;  // each start's; see below
            std::string row;
            for (std::size_t field = 1; field <= 8; ++field)
                row += (field == 1 ? "" : ",") + records[i].fields.at(field);
            rows.push_back(row);
        }
        return rows;
    }
    std::string lastReason() {
        std::ifstream in(kJournalFile, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::vector<CsvRecord> records;
        int badLine = 0;
        parseCsv(text.str(), records, badLine);
        while (!records.empty() && records.back().fields.at(1) == "settings") records.pop_back();
        return records.empty() ? "" : records.back().fields.at(9);
    }
};

// ---------------------------------------------------------------------------------------------
// How sure a count is

struct CertaintyCase {
    const char* label;
    const char* settings;  // beyond BDLINE=40 and THRESHOLD=128
    const char* line;      // a regular expression for the whole line
    bool uncertain;
    const char* record;  // the count's record in the journal
};

TEST_F(WindowStation, LineSaysHowSureEachCountIsAndAnUncertainOneIsAmber) {
    // Boards of 30 rows and joints of 5: 35 rows a board; the band of 4 boards is 134 rows.
    const CertaintyCase cases[] = {
        {"ranges", "", R"(^Same count from THRESHOLD \d+ to \d+ and BDLINE \d+ to \d+$)", false,
         "count,1,stack.jpg,4,false,,1,4"},
        {"thickness agrees", "THICKNESS=35\n",
         R"(^Same count from THRESHOLD \d+ to \d+ and BDLINE \d+ to \d+; by thickness 3\.8 boards$)",
         false, "count,1,stack.jpg,4,false,3.83,1,4"},
        {"thickness disagrees", "THICKNESS=20\n",
         R"(^Uncertain: the stack's height gives 6\.70 boards of THICKNESS 20, not 4$)", true,
         "count,1,stack.jpg,4,true,6.70,1,4"},
        {"no joint", "THRESHOLD=0\n", R"(^Uncertain: no joint was found)", true,
         "count,1,stack.jpg,1,true,,1,1"},
    };
    test::writeStack(here("stack.jpg"), {.boards = 4});
    test::writeText(here("text.jpg"));
    for (const CertaintyCase& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove(here(kJournalFile));  // a new book, not the last one resumed
        open(settingsWith(c.settings));
        click("stack.jpg");
        const QString line = label("lblCertainty")->text();
        EXPECT_TRUE(QRegularExpression(c.line).match(line).hasMatch()) << line.toStdString();
        EXPECT_EQ(colourOf("lblCertainty") == kWarningAmber, c.uncertain);
        EXPECT_EQ(colourOf("vCurrentCount"), c.uncertain ? kWarningAmber : kCounterRed);
        EXPECT_FALSE(shown().red);
        EXPECT_EQ(journal(), std::vector<std::string>{c.record});

        // A refused photograph takes the line down and the counter back to red.
        click("text.jpg");
        EXPECT_TRUE(shown().red);
        EXPECT_EQ(label("lblCertainty")->text(), "");
        EXPECT_EQ(colourOf("vCurrentCount"), kCounterRed);
    }
}

TEST_F(WindowStation, PhotographPickedAgainInTheBookIsCountedAndSaidToBeSo) {
    test::writeStack(here("four.jpg"), {.boards = 4});
    test::writeStack(here("six.jpg"), {.boards = 6});
    open();
    click("four.jpg");
    click("six.jpg");
    EXPECT_FALSE(label("lblCertainty")->text().startsWith("Already"));
    click("four.jpg");
    expectCounted(4, 3, 14);
    EXPECT_TRUE(
        label("lblCertainty")->text().startsWith("Already counted in this book as four.jpg\n"));
    EXPECT_EQ(colourOf("lblCertainty"), kWarningAmber);
    EXPECT_EQ(colourOf("vCurrentCount"), kCounterRed);  // the count itself is sure

    // Written again under the same name, it is another photograph.
    newBook();
    click("six.jpg");
    test::writeStack(here("six.jpg"), {.width = 300, .boards = 6});
    click("four.jpg");
    click("six.jpg");
    EXPECT_FALSE(label("lblCertainty")->text().startsWith("Already"));
}

// ---------------------------------------------------------------------------------------------
// Ctrl+Z

TEST_F(WindowStation, CtrlZTakesTheBooksCountsBackOneAtATime) {
    test::writeStack(here("a.jpg"), {.boards = 3});
    test::writeStack(here("b.jpg"), {.boards = 4});
    open();
    undo();
    EXPECT_EQ(shown().message, "Nothing to take back: this book has no count left.");

    click("a.jpg");
    click("b.jpg");
    undo();
    test::Shown s = shown();
    EXPECT_EQ(s.message, "b.jpg taken back: 4 boards");
    EXPECT_EQ((QStringList{s.count, s.current, s.total}), (QStringList{"1", "0", "3"}));
    EXPECT_FALSE(s.photograph.isValid());
    EXPECT_TRUE(list()->selectedItems().isEmpty());

    // Picked again at once, it is counted again, and not as one the book holds.
    click("b.jpg");
    expectCounted(4, 2, 7);
    EXPECT_EQ(label("lblCertainty")->text().startsWith("Already"), false);

    undo();
    undo();
    s = shown();
    EXPECT_EQ(s.message, "a.jpg taken back: 3 boards");
    EXPECT_EQ((QStringList{s.count, s.current, s.total}), (QStringList{"0", "0", "0"}));
    undo();
    EXPECT_EQ(shown().message, "Nothing to take back: this book has no count left.");

    // Only the counts of the book at hand.
    click("a.jpg");
    newBook();
    undo();
    EXPECT_EQ(shown().message, "Nothing to take back: this book has no count left.");

    EXPECT_EQ(journal(),
              (std::vector<std::string>{"count,1,a.jpg,3,false,,1,3", "count,1,b.jpg,4,false,,2,7",
                                        "undo,1,b.jpg,4,,,1,3", "count,1,b.jpg,4,false,,2,7",
                                        "undo,1,b.jpg,4,,,1,3", "undo,1,a.jpg,3,,,0,0",
                                        "count,1,a.jpg,3,false,,1,3", "new book,2,,,,,0,0"}));
}

// ---------------------------------------------------------------------------------------------
// Corrections

TEST_F(WindowStation, OperatorCorrectsAndConfirmsCountsAndTakesThemBack) {
    test::writeStack(here("a.jpg"), {.boards = 3});
    test::writeStack(here("b.jpg"), {.boards = 4});
    open();
    const auto key = [this](Qt::Key pressed, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
        QTest::keyClick(QApplication::focusWidget(), pressed, modifiers);
    };
    auto* field = control<QLineEdit>("txtCorrection");
    const auto type = [&](const QString& text) {
        key(Qt::Key_F2);
        ASSERT_TRUE(field->isVisible());
        field->selectAll();
        QTest::keyClicks(field, text);
    };
    const auto tip = [this](const char* name) {
        return list()->findItems(name, Qt::MatchExactly).front()->toolTip();
    };
    struct Step {
        const char* label;
        std::function<void()> act;
        const char* message;  // the message's start
        const char* counters;
        const char* mark;  // under the photograph's boards
        const char* tip;   // of b.jpg in the list
    };
    const Step steps[] = {
        {"nothing shown", [&] { key(Qt::Key_F2); }, "Nothing to correct", "0 0 0", "",
         "Not counted in this book"},
        {"counted", [&] { click("a.jpg"), click("b.jpg"); }, "Detected 4", "2 4 7", "",
         "Counted in this book"},
        {"a word that is no number", [&] { type("many"), key(Qt::Key_Return); },
         "Type the true number of boards", "2 4 7", "", "Counted in this book"},
        {"Esc", [&] { key(Qt::Key_Escape); }, "The count stands as it was.", "2 4 7", "",
         "Counted in this book"},
        {"corrected", [&] { type("6 two glued"), key(Qt::Key_Return); },
         "b.jpg corrected: 6 boards (counted 4)", "2 6 9", "corrected, counted 4",
         "Corrected in this book"},
        {"confirmed as corrected", [&] { key(Qt::Key_Return, Qt::ControlModifier); },
         "b.jpg confirmed: 6 boards (counted 4)", "2 6 9", "corrected, counted 4",
         "Corrected in this book"},
        {"confirmation taken back", [&] { undo(); },
         "The confirmation of b.jpg taken back: 6 boards", "2 6 9", "corrected, counted 4",
         "Corrected in this book"},
        {"correction taken back", [&] { undo(); },
         "The correction of b.jpg taken back: 4 boards as counted", "2 4 7", "",
         "Counted in this book"},
        {"confirmed", [&] { key(Qt::Key_Return, Qt::ControlModifier); },
         "b.jpg confirmed: 4 boards", "2 4 7", "confirmed", "Confirmed in this book"},
        {"confirmed again", [&] { key(Qt::Key_Return, Qt::ControlModifier); },
         "b.jpg is confirmed already.", "2 4 7", "confirmed", "Confirmed in this book"},
        {"double click",
         [&] {
             QTest::mouseDClick(label("vCurrentCount"), Qt::LeftButton);
             QTest::keyClicks(field, "5");
             key(Qt::Key_Enter);
         },
         "b.jpg corrected: 5 boards (counted 4)", "2 5 8", "corrected, counted 4",
         "Corrected in this book"},
        {"count taken back after its checks", [&] { undo(), undo(), undo(); },
         "b.jpg taken back: 4 boards", "1 0 3", "", "Not counted in this book"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        step.act();
        const test::Shown s = shown();
        EXPECT_TRUE(s.message.startsWith(step.message)) << s.message.toStdString();
        EXPECT_EQ(s.count + " " + s.current + " " + s.total, step.counters);
        EXPECT_EQ(label("lblCheck")->text(), step.mark);
        EXPECT_EQ(tip("b.jpg"), step.tip);
        EXPECT_EQ(field->isVisible(), std::string(step.label) == "a word that is no number");
    }
    EXPECT_EQ(journal(),
              (std::vector<std::string>{
                  "count,1,a.jpg,3,false,,1,3", "count,1,b.jpg,4,false,,2,7",
                  "correct,1,b.jpg,6,,,2,9", "confirm,1,b.jpg,6,,,2,9", "undo,1,b.jpg,6,,,2,9",
                  "undo,1,b.jpg,6,,,2,7", "confirm,1,b.jpg,4,,,2,7", "correct,1,b.jpg,5,,,2,8",
                  "undo,1,b.jpg,5,,,2,7", "undo,1,b.jpg,4,,,2,7", "undo,1,b.jpg,4,,,1,3"}));
    // The correction keeps what was counted, the word typed with it, and who made it.
    std::vector<CsvRecord> records;
    int badLine = 0;
    ASSERT_TRUE(parseCsv(test::readBytes(here(kJournalFile)), records, badLine));
    const auto correction = std::find_if(records.begin(), records.end(), [](const CsvRecord& r) {
        return r.fields.at(1) == "correct";
    });
    ASSERT_NE(correction, records.end());
    EXPECT_EQ(correction->fields.at(9), "two glued");
    EXPECT_EQ(correction->fields.at(11), "4");
    EXPECT_EQ(correction->fields.at(12), loginName());

    // A book cut short with its corrections is resumed with them.
    click("b.jpg");
    type("7"), key(Qt::Key_Return);
    open();
    EXPECT_EQ(shown().message,
              "Book resumed after an interruption: 2 photographs, 10 boards (1 corrected)");
    EXPECT_EQ(tip("b.jpg"), "Corrected in this book");
    EXPECT_EQ(tip("a.jpg"), "Counted in this book");
}

// ---------------------------------------------------------------------------------------------
// The journal

TEST_F(WindowStation, JournalHoldsEveryEventAndTheExitOnce) {
    test::writeStack(here("good.jpg"), {.boards = 4});
    test::writeText(here("bad.jpg"));
    open(settingsWith("THICKNESS=35\n"));
    click("good.jpg");
    click("bad.jpg");
    EXPECT_NE(lastReason().find("JPEG"), std::string::npos) << lastReason();
    newBook();
    click("good.jpg");
    QTest::mouseClick(control<QPushButton>("btnExit"), Qt::LeftButton);
    window().close();  // closed again: no second exit
    EXPECT_EQ(journal(),
              (std::vector<std::string>{"count,1,good.jpg,4,false,3.83,1,4",
                                        "refused,1,bad.jpg,,,,1,4", "new book,2,,,,,0,0",
                                        "count,2,good.jpg,4,false,3.83,1,4", "exit,2,,,,,1,4"}));

    // After an exit the next start begins the next book at 0.
    open();
    EXPECT_EQ(shown().count, "0");
    EXPECT_EQ(shown().message, "");
    click("good.jpg");
    EXPECT_EQ(journal().back(), "count,3,good.jpg,4,false,,1,4");
}

// What the window makes at start of the journal it finds.
struct StartCase {
    const char* label;
    std::string journal;   // the file's bytes; a directory where "/"
    const char* message;   // a regular expression for the message
    bool warning;          // the message is amber
    const char* counters;  // photographs and boards shown
    const char* appended;  // the journal's last record after the start and one pick ("" none)
};

std::string journalOf(const std::vector<JournalRecord>& records) {
    std::string text = journalHeader();
    for (JournalRecord record : records) {
        record.time = "2026-12-09T10:00:00+01:00";
        text += journalLine(record);
    }
    return text;
}

JournalRecord counted(int book, const char* file, long long boards, long long photographs,
                      long long total) {
    JournalRecord record;
    record.book = book;
    record.file = file;
    record.boards = boards;
    record.uncertain = false;
    record.bookPhotographs = photographs;
    record.bookBoards = total;
    return record;
}

JournalRecord ended(JournalEvent event, int book, long long photographs, long long total) {
    JournalRecord record;
    record.event = event;
    record.book = book;
    record.bookPhotographs = photographs;
    record.bookBoards = total;
    return record;
}

TEST_F(WindowStation, StartResumesAnInterruptedBookAndTrustsNoDamagedJournal) {
    const StartCase cases[] = {
        {"interrupted",
         journalOf({ended(JournalEvent::Exit, 1, 0, 0), counted(2, "a.jpg", 3, 1, 3),
                    counted(2, "b.jpg", 4, 2, 7)}),
         R"(^Book resumed after an interruption: 2 photographs, 7 boards$)", false, "2 7",
         "count,2,stack.jpg,4,false,,3,11"},
        {"one photograph", journalOf({counted(1, "a.jpg", 1, 1, 1)}),
         R"(^Book resumed after an interruption: 1 photograph, 1 board$)", false, "1 1",
         "count,1,stack.jpg,4,false,,2,5"},
        {"new book last",
         journalOf({counted(1, "a.jpg", 3, 1, 3), ended(JournalEvent::NewBook, 2, 0, 0)}), "^$",
         false, "0 0", "count,2,stack.jpg,4,false,,1,4"},
        {"damaged", journalOf({counted(1, "a.jpg", 3, 1, 3), counted(1, "b.jpg", 4, 1, 99)}),
         R"(^Lathmark-journal\.csv is damaged: line 3 .*; the book starts at 0$)", true, "0 0",
         "count,2,stack.jpg,4,false,,1,4"},
        {"not a journal", "BDLINE=40\n",
         R"(^Lathmark-journal\.csv is not a journal .*; the book starts at 0 and nothing is )"
         R"(written to it$)",
         true, "0 0", ""},
        {"a folder", "/", R"(^Lathmark-journal\.csv .*; the book starts at 0 and nothing is )",
         true, "0 0", ""},
    };
    test::writeStack(here("stack.jpg"), {.boards = 4});
    for (const StartCase& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(here(kJournalFile));
        if (c.journal == "/")
            fs::create_directory(here(kJournalFile));
        else
            std::ofstream(here(kJournalFile), std::ios::binary) << c.journal;
        open();
        const test::Shown s = shown();
        EXPECT_TRUE(QRegularExpression(c.message).match(s.message).hasMatch())
            << s.message.toStdString();
        EXPECT_EQ(colourOf("Label3") == kWarningAmber, c.warning);
        // Wrapped within its box, even the journal's header that has no space.
        const QLabel* message = label("Label3");
        const QRect needed =
            QFontMetrics(message->font())
                .boundingRect(message->contentsRect(), Qt::TextWordWrap | message->alignment(),
                              message->text());
        EXPECT_LE(needed.width(), message->contentsRect().width()) << s.message.toStdString();
        EXPECT_LE(needed.height(), message->contentsRect().height()) << s.message.toStdString();
        EXPECT_EQ(s.count + " " + s.total, c.counters);
        if (std::string(c.counters) != "0 0") {
            EXPECT_EQ(journal().back().substr(0, 8), "resumed,");
            EXPECT_EQ(lastReason(), "the book's last record was not New Book or Exit");
        }

        click("stack.jpg");
        const std::string before = c.journal == "/" ? "" : c.journal;
        if (*c.appended) {
            EXPECT_EQ(journal().back(), c.appended);
        } else if (fs::is_regular_file(here(kJournalFile))) {
            std::ifstream in(here(kJournalFile), std::ios::binary);
            std::stringstream now;
            now << in.rdbuf();
            EXPECT_EQ(now.str(), before) << "a file that is no journal was written to";
        }
        // Said at start: the pick says nothing more of the journal.
        EXPECT_FALSE(shown().message.contains(kJournalFile)) << shown().message.toStdString();
    }
}

// Ctrl+L learns the settings from the journal's true counts on another thread, and writes them
// only when the operator says yes.
TEST_F(WindowStation, CtrlLLearnsSettingsFromTheJournalAndWritesThemOnlyOnYes) {
    std::vector<JournalRecord> records;
    const int boards[] = {3, 5, 4, 6};
    for (int i = 0; i < 4; ++i) {
        const std::string name = "s" + std::to_string(i) + ".jpg";
        test::writeStack(here(name), {.boards = boards[i]});
        // Counted wrong at the settings below, and corrected by the operator.
        JournalRecord count = counted(1, name.c_str(), 1, i + 1, 0);
        count.digest = readJpegFile(here(name)).value.digest;
        JournalRecord correction = count;
        correction.event = JournalEvent::Correct;
        correction.boards = boards[i];
        correction.counted = 1;
        long long total = 0;
        for (int j = 0; j <= i; ++j) total += boards[j];
        count.bookBoards = total - boards[i] + 1;
        correction.bookBoards = total;
        records.push_back(count);
        records.push_back(correction);
    }
    const std::string journalText = journalOf(records);
    const std::string settingsText = "BDLINE=40\nTHRESHOLD=20\n";
    // A window closed while it learns ends the search and writes nothing.
    std::ofstream(here(kJournalFile), std::ios::binary) << journalText;
    std::ofstream(here("Lathmark.ini")) << settingsText;
    open(here("Lathmark.ini"));
    QTest::keyClick(&window(), Qt::Key_L, Qt::ControlModifier);
    open(here("Lathmark.ini"));
    EXPECT_EQ(test::readBytes(here("Lathmark.ini")), settingsText);
    EXPECT_FALSE(fs::exists(here("Lathmark.ini.bak")));
    for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
        SCOPED_TRACE(answer == QMessageBox::Yes ? "yes" : "no");
        std::ofstream(here(kJournalFile), std::ios::binary) << journalText;
        std::ofstream(here("Lathmark.ini")) << settingsText;
        fs::remove(here("Lathmark.ini.bak"));
        open(here("Lathmark.ini"));
        QString asked;
        QTimer answering;
        answering.setInterval(10);
        QObject::connect(&answering, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                asked = box->text();
                box->button(answer)->click();
            }
        });
        answering.start();
        QTest::keyClick(&window(), Qt::Key_L, Qt::ControlModifier);
        // The window goes on while it learns: its standing line says how far it has come.
        EXPECT_TRUE(label("lblStanding")->text().contains("Learning settings from"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !asked.isEmpty(); }, 60000));
        EXPECT_TRUE(asked.startsWith("Learnt from Lathmark-journal.csv: THRESHOLD 20 → "))
            << asked.toStdString();
        EXPECT_TRUE(asked.contains(": 4 of the 4 photographs right, ")) << asked.toStdString();
        QTest::qWait(20);
        const std::string written = test::readBytes(here("Lathmark.ini"));
        if (answer == QMessageBox::No) {
            EXPECT_EQ(written, settingsText);
            EXPECT_FALSE(fs::exists(here("Lathmark.ini.bak")));
            EXPECT_EQ(shown().message, "Lathmark.ini stays as it was.");
            continue;
        }
        EXPECT_EQ(test::readBytes(here("Lathmark.ini.bak")), settingsText);
        EXPECT_TRUE(written.starts_with("# Written by lathmark from Lathmark-journal.csv"));
        EXPECT_TRUE(shown().message.startsWith("Lathmark.ini written: counting now with"));
        EXPECT_TRUE(label("lblStanding")->text().isEmpty());
        // The settings learnt count each photograph right, and the journal says what they are.
        for (int i = 0; i < 4; ++i) {
            click("s" + std::to_string(i) + ".jpg");
            EXPECT_EQ(shown().current, QString::number(boards[i]));
        }
        std::vector<CsvRecord> rows;
        int badLine = 0;
        ASSERT_TRUE(parseCsv(test::readBytes(here(kJournalFile)), rows, badLine));
        EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                                [](const CsvRecord& r) { return r.fields.at(1) == "settings"; }),
                  2);
    }
}

TEST_F(WindowStation, JournalThatCannotBeWrittenKeepsItsRecordsUntilItCanBe) {
    test::writeStack(here("stack.jpg"), {.boards = 4});
    // A link into a folder that does not exist: the journal can be neither read nor made, even
    // by root, whom a read-only folder does not stop.
    fs::create_symlink(here("gone") / "journal.csv", here(kJournalFile));
    open();
    // Said at start, before anything is counted, and not again at the picks; the standing line
    // says how far behind the journal is until it has caught up.
    EXPECT_EQ(shown().message,
              "Lathmark-journal.csv could not be written (No such file or "
              "directory); its records are kept and written as soon as it can be.");
    for (int pick = 1; pick <= 3; ++pick) {
        click("stack.jpg");
        const QString said = shown().message;
        EXPECT_EQ(said, "Detected 4 obvious lines.");
        EXPECT_EQ(shown().count, QString::number(pick));
        EXPECT_EQ(shownText("lblStanding"),
                  QString("Lathmark-journal.csv is behind by %1 records (No such file or "
                          "directory): they are written as soon as it can be")
                      .arg(pick + 1));  // the settings record, and a count a pick
        list()->clearSelection();
    }
    fs::create_directory(here("gone"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shownText("lblStanding").isEmpty(); }, 5000));
    EXPECT_EQ(journal(), (std::vector<std::string>{"count,1,stack.jpg,4,false,,1,4",
                                                   "count,1,stack.jpg,4,false,,2,8",
                                                   "count,1,stack.jpg,4,false,,3,12"}));
    if (::geteuid() != 0) {
        // A read-only working folder, where permissions hold.
        fs::remove(here(kJournalFile));
        fs::permissions(here(), fs::perms::owner_write, fs::perm_options::remove);
        open();
        click("stack.jpg");
        EXPECT_TRUE(shown().message.contains("Lathmark-journal.csv could not be written"));
        EXPECT_EQ(shown().count, "1");
        fs::permissions(here(), fs::perms::owner_write, fs::perm_options::add);
    }
}

// ---------------------------------------------------------------------------------------------
// The region and a watched folder

TEST_F(WindowStation, PhotographShowsTheRegionsOutline) {
    const StackPhoto photo{.width = 320, .boards = 4};
    test::writeStack(here("stack.jpg"), photo);
    open(settingsWith("REGION=200x180+60+20\n"));
    click("stack.jpg");
    ASSERT_EQ(shown().photograph, QSize(photo.width, photo.height()));
    const QImage picture = label("Image2")->pixmap().toImage();
    const auto outline = [&](int x, int y) {
        const QRgb pixel = picture.pixel(x, y);
        return qBlue(pixel) > 200 && qRed(pixel) < 80;
    };
    for (const QPoint edge : {QPoint(60, 100), QPoint(259, 100), QPoint(150, 20), QPoint(150, 199)})
        EXPECT_TRUE(outline(edge.x(), edge.y())) << edge.x() << "," << edge.y();
    for (const QPoint off : {QPoint(58, 100), QPoint(150, 100), QPoint(262, 100)})
        EXPECT_FALSE(outline(off.x(), off.y())) << off.x() << "," << off.y();
}

TEST_F(WindowStation, WatchedFolderListsAndCountsPhotographsAsTheyArriveAndLeave) {
    test::writeStack(here("b.jpg"), {.boards = 3});
    open(settingsWith("WATCH=1\n"));
    const auto waitFor = [&](const QString& count) {
        return QTest::qWaitFor([&] { return shown().count == count; }, 5000);
    };

    // Written elsewhere and moved in.
    test::writeStack(here("new.tmp"), {.boards = 5});
    fs::rename(here("new.tmp"), here("a.jpg"));
    ASSERT_TRUE(waitFor("1"));
    EXPECT_EQ(listed(), (QStringList{"a.jpg", "b.jpg"}));
    expectCounted(5, 1, 5);
    EXPECT_EQ(list()->selectedItems().front()->text(), "a.jpg");

    // Written in place in two pieces: the first is held back quietly, the whole counted.
    test::writeStack(here("whole.tmp"), {.boards = 4});
    std::ifstream in(here("whole.tmp"), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    std::ofstream(here("c.jpg"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    QTest::qWait(300);
    EXPECT_FALSE(shown().red);
    EXPECT_EQ(shown().count, "1");
    std::ofstream(here("c.jpg"), std::ios::binary | std::ios::app)
        << bytes.substr(bytes.size() / 2);
    ASSERT_TRUE(waitFor("2"));
    expectCounted(4, 2, 9);
    EXPECT_EQ(listed(), (QStringList{"a.jpg", "b.jpg", "c.jpg"}));

    // Opened and closed again without a change, touched, or given a trailer: the same image.
    std::ofstream(here("c.jpg"), std::ios::binary | std::ios::app).close();
    fs::last_write_time(here("c.jpg"), fs::file_time_type::clock::now());
    std::ofstream(here("c.jpg"), std::ios::binary | std::ios::app) << "trailer";
    QTest::qWait(300);
    EXPECT_EQ(shown().count, "2");
    EXPECT_FALSE(shown().red);

    // Renamed in the folder or copied, it is the same photograph: listed, refused as counted.
    fs::rename(here("c.jpg"), here("d.jpg"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed().contains("d.jpg"); }, 5000));
    EXPECT_EQ(listed(), (QStringList{"a.jpg", "b.jpg", "d.jpg"}));
    fs::copy_file(here("d.jpg"), here("e.jpg"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown().message.startsWith("e.jpg"); }, 5000));
    EXPECT_EQ(shown().message, "e.jpg: already counted as c.jpg");
    EXPECT_EQ(label("lblCertainty")->text(), "Already counted in this book as c.jpg");
    EXPECT_EQ(shown().count, "2");
    EXPECT_EQ(journal().back(), "refused,1,e.jpg,,,,2,9");
    fs::remove(here("e.jpg"));

    // One that joins above the selected entry is counted once, and only it; one that leaves,
    // leaves the list without a pick.
    test::writeStack(here("new.tmp"), {.boards = 6});
    fs::rename(here("new.tmp"), here("b2.jpg"));
    ASSERT_TRUE(waitFor("3"));
    expectCounted(6, 3, 15);
    fs::remove(here("a.jpg"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed().size() == 3; }, 5000));
    EXPECT_EQ(listed(), (QStringList{"b.jpg", "b2.jpg", "d.jpg"}));
    QTest::qWait(100);
    EXPECT_EQ(shown().count, "3");
}

TEST_F(WindowStation, PhotographsThatArrivedWhileClosedAreCountedAtStartOldestFirst) {
    // A book interrupted yesterday; since then c.jpg (counted in it) was touched, and y.jpg and
    // x.jpg were copied in, in that order.
    test::writeStack(here("c.jpg"), {.boards = 3});
    open();
    click("c.jpg");
    window().close();
    std::string journal = test::readBytes(here(kJournalFile));
    journal.erase(journal.rfind("\n", journal.size() - 3) + 1);  // the exit record: as if killed
    const auto yesterday = fs::file_time_type::clock::now() - std::chrono::hours(24);
    for (std::size_t at = journal.find("\n20"); at != std::string::npos;
         at = journal.find("\n20", at + 1))
        journal.replace(at + 1, 4, "2025");  // its records a year old
    std::ofstream(here(kJournalFile), std::ios::binary) << journal;
    fs::last_write_time(here("c.jpg"), fs::file_time_type::clock::now());
    test::writeStack(here("y.jpg"), {.boards = 5});
    fs::last_write_time(here("y.jpg"), yesterday);
    test::writeStack(here("x.jpg"), {.boards = 4});

    open(settingsWith("WATCH=1\n"));
    EXPECT_EQ(this->journal(), (std::vector<std::string>{
                                   "count,1,c.jpg,3,false,,1,3", "resumed,1,,,,,1,3",
                                   "count,1,y.jpg,5,false,,2,8", "count,1,x.jpg,4,false,,3,12"}));
    expectCounted(4, 3, 12);
}

TEST_F(WindowStation, WorkingFolderThatGoesAwayIsSaidUntilItIsBack) {
    const fs::path folder = here() / "station";
    fs::create_directory(folder);
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(folder.string())));
    std::ofstream(folder / "Lathmark.ini") << "BDLINE=40\nTHRESHOLD=128\nWATCH=1\n";
    test::writeStack(folder / "a.jpg", {.boards = 3});
    open(folder / "Lathmark.ini");
    click("a.jpg");
    fs::rename(folder, here() / "away");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shownText("lblStanding").isEmpty(); }, 5000));
    EXPECT_EQ(shownText("lblStanding").toStdString(),
              folder.string() +
                  " is gone (removed or renamed): nothing can be counted until a folder is "
                  "there again");

    // Made again: the window works in it, and counts what arrives, into the same book.
    fs::create_directory(folder);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shownText("lblStanding").isEmpty(); }, 5000));
    test::writeStack(here("b.tmp"), {.boards = 4});
    fs::rename(here("b.tmp"), folder / "b.jpg");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown().count == "2"; }, 5000));
    expectCounted(4, 2, 7);
    // Its journal begins with the book so far, each count with its verdict.
    EXPECT_EQ(this->journal(), (std::vector<std::string>{"count,1,a.jpg,3,false,,1,3",
                                                         "count,1,b.jpg,4,false,,2,7"}));
}

}  // namespace
}  // namespace lathmark
