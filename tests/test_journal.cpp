// The station's journal: what a journal read back at start says (resume, the next book, why it is
// not trusted), the writer's care for the file, and the CSV both rest on.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/csv.h"
#include "engine/journal.h"
#include "tests/support/files.h"

namespace lathmark {
namespace {

const std::string kHeader = journalHeader();

std::string line(const std::string& event, int book, const std::string& file,
                 const std::string& boards, long long photographs, long long total) {
    return "2026-12-09T10:00:00+01:00," + event + "," + std::to_string(book) + "," + file + "," +
           boards + ",,," + std::to_string(photographs) + "," + std::to_string(total) + ",\r\n";
}

// The operator's word on a count, with its columns of the newest journals.
std::string checked(const std::string& event, const std::string& file, const std::string& boards,
                    const std::string& counted, long long photographs, long long total) {
    const std::string record = line(event, 1, file, boards, photographs, total);
    return record.substr(0, record.size() - 2) + ",," + counted + ",op\r\n";
}

// A record torn by a power cut after the line break in its file's name.
const std::string kTornInAName = "2026-12-09T10:00:01+01:00,count,1,\"two\nlin";

// The record that begins a batch counter's book.
std::string batch(int book) {
    return line("settings", book, "lathmark-count", "", 0, 0);
}

TEST(Journal, WhatAJournalSaysAtStart) {
    const std::string a = line("count", 1, "a.jpg", "12", 1, 12);
    const std::string b = line("count", 1, "b.jpg", "8", 2, 20);
    struct Case {
        const char* name;
        std::string text;
        int book;
        bool resume;
        long long photographs, boards;
        const char* untrusted;  // a part of why not, or "" if trusted
        bool foreign;
    };
    const Case cases[] = {
        {"empty", "", 1, false, 0, 0, "", false},
        {"header only", kHeader, 1, false, 0, 0, "", false},
        {"killed in a book", kHeader + a + b, 1, true, 2, 20, "", false},
        {"exited", kHeader + a + b + line("exit", 1, "", "", 2, 20), 2, false, 0, 0, "", false},
        {"new book", kHeader + a + line("new book", 2, "", "", 0, 0), 2, false, 0, 0, "", false},
        {"undone then killed", kHeader + a + b + line("undo", 1, "b.jpg", "8", 1, 12), 1, true, 1,
         12, "", false},
        {"torn last record left out", kHeader + a + "2026-12-09T10:00:01+01:00,count,1,b.j", 1,
         true, 1, 12, "", false},
        {"only refused", kHeader + line("refused", 1, "x.jpg", "", 0, 0), 1, false, 0, 0, "",
         false},
        {"a later book after exit",
         kHeader + a + line("exit", 1, "", "", 1, 12) + line("count", 2, "c.jpg", "5", 1, 5), 2,
         true, 1, 5, "", false},
        {"counters that do not add up", kHeader + a + line("count", 1, "b.jpg", "8", 2, 21), 2,
         false, 0, 0, "line 3 has book counters that do not follow", false},
        {"undo of another photograph", kHeader + a + line("undo", 1, "x.jpg", "12", 0, 0), 2, false,
         0, 0, "line 3 takes back a photograph", false},
        {"damage in a book before is history",
         kHeader + line("count", 1, "a.jpg", "12", 1, 13) + line("count", 2, "c.jpg", "5", 1, 5), 2,
         true, 1, 5, "", false},
        {"a book after the damage damaged again",
         kHeader + line("count", 1, "a.jpg", "12", 1, 13) + line("count", 2, "c.jpg", "5", 1, 6), 3,
         false, 0, 0, "line 3 has book counters", false},
        {"unknown event", kHeader + line("counted", 1, "a.jpg", "1", 1, 1), 1, false, 0, 0,
         "line 2 has an event", false},
        {"short record", kHeader + "x,count,1\r\n", 1, false, 0, 0, "line 2 has 3 fields", false},
        {"torn in a name with a line break", kHeader + a + kTornInAName, 1, true, 1, 12, "", false},
        {"written on after a torn record (by an earlier writer)",
         kHeader + a + kTornInAName.substr(0, kTornInAName.rfind('\n') + 1) + b, 1, true, 2, 20, "",
         false},
        {"not CSV spoils its book", kHeader + a + "2026-12-09T10:00:00+01:00,\"x\"y,\r\n" + b, 2,
         false, 0, 0, "line 3 is not CSV", false},
        {"not a journal", "file,boards\r\na.jpg,3\r\n", 1, false, 0, 0, "is not a journal", true},
        // The window resumes its own last book, whatever the batch counter wrote after it.
        {"a batch after the window's interrupted book",
         kHeader + a + b + batch(2) + line("count", 2, "x.jpg", "3", 1, 3) +
             line("exit", 2, "", "", 1, 3),
         1, true, 2, 20, "", false},
        {"a batch's interrupted book is none of the window's",
         kHeader + a + line("exit", 1, "", "", 1, 12) + batch(2) +
             line("count", 2, "x.jpg", "3", 1, 3),
         3, false, 0, 0, "", false},
        {"the window goes on after a batch",
         kHeader + a + batch(2) + line("resumed", 1, "", "", 1, 12) + b, 1, true, 2, 20, "", false},
        {"a book number no book can follow",
         kHeader + line("count", 2147483647, "a.jpg", "1", 1, 1), 1, false, 0, 0,
         "line 2 has a book number beyond", false},
        // The operator's word on the last count changes the book's boards; undo takes the
        // latest word back first.
        {"corrected then killed", kHeader + a + b + checked("correct", "b.jpg", "9", "8", 2, 21), 1,
         true, 2, 21, "", false},
        {"correction taken back",
         kHeader + a + b + checked("correct", "b.jpg", "9", "8", 2, 21) +
             checked("confirm", "b.jpg", "9", "8", 2, 21) + line("undo", 1, "b.jpg", "9", 2, 21) +
             line("undo", 1, "b.jpg", "9", 2, 20),
         1, true, 2, 20, "", false},
        {"undo after a correction takes the correction, not the count",
         kHeader + a + b + checked("correct", "b.jpg", "9", "8", 2, 21) +
             line("undo", 1, "b.jpg", "9", 1, 12),
         2, false, 0, 0, "line 5 has book counters", false},
        {"a correction of another photograph",
         kHeader + a + b + checked("correct", "a.jpg", "9", "12", 2, 17), 2, false, 0, 0,
         "line 4 checks a photograph that was not the book's last", false},
        {"a correction of another count", kHeader + a + checked("correct", "a.jpg", "9", "7", 1, 9),
         2, false, 0, 0, "line 3 has a counted count that is not the book's", false},
        {"journals of every age are read",
         kHeader + a +
             line("count", 1, "b.jpg", "8", 2, 20)
                 .replace(line("count", 1, "b.jpg", "8", 2, 20).size() - 2, 0, ","),
         1, true, 2, 20, "", false},
        {"boards beyond a book's",
         kHeader + line("count", 1, "a.jpg", "9223372036854775807", 1, 9223372036854775807) +
             line("count", 1, "b.jpg", "1", 2, 0),
         2, false, 0, 0, "line 3 has boards beyond", false},
    };
    for (const Case& c : cases) {
        const JournalStart start = readJournalText(c.text);
        EXPECT_EQ(start.book, c.book) << c.name;
        EXPECT_EQ(start.resume, c.resume) << c.name;
        EXPECT_EQ(start.photographs, c.photographs) << c.name;
        EXPECT_EQ(start.boards, c.boards) << c.name;
        EXPECT_EQ(start.foreign, c.foreign) << c.name;
        if (*c.untrusted == '\0') {
            EXPECT_FALSE(start.untrusted) << c.name << ": " << *start.untrusted;
        } else {
            ASSERT_TRUE(start.untrusted) << c.name;
            EXPECT_NE(start.untrusted->find(c.untrusted), std::string::npos) << *start.untrusted;
        }
    }
    // A book begun now follows every book, the batch counter's too.
    EXPECT_EQ(readJournalText(kHeader + a + batch(2) + line("exit", 2, "", "", 0, 0)).nextBook, 3);

    // The counts resumed are the book's, in order, as far as undo left them.
    const JournalStart undone =
        readJournalText(kHeader + a + b + line("undo", 1, "b.jpg", "8", 1, 12) + b);
    ASSERT_EQ(undone.counts.size(), 2u);
    EXPECT_EQ(undone.counts[1].file, "b.jpg");
    EXPECT_EQ(undone.counts[1].boards, 8);

    // The true counts: the latest word of the operator on each photograph, in any book, and
    // with trusted counts the latest count of the others.
    const std::string truths =
        kHeader + a + b + checked("correct", "b.jpg", "9", "8", 2, 21) +
        line("new book", 2, "", "", 0, 0) + line("count", 2, "b.jpg", "7", 1, 7) +
        line("count", 2, "c.jpg", "5", 2, 12) + line("count", 2, "a.jpg", "11", 3, 23);
    for (const bool trust : {false, true}) {
        std::string found;
        for (const JournalTruth& truth : journalTruths(truths, trust).photographs)
            found +=
                truth.file + "=" + std::to_string(truth.boards) + (truth.checked ? "!" : "") + " ";
        EXPECT_EQ(found, trust ? "b.jpg=9! c.jpg=5 a.jpg=11 " : "b.jpg=9! ");
    }
}

TEST(Journal, RecordsReadBackAsWritten) {
    const ScratchFolder folder = test::scratchFolderForThisTest("lathmark-journal");
    const std::filesystem::path file = folder.path() / kJournalFile;
    JournalWriter writer(file);
    StationBook book;
    book.start(1);
    // Names with what CSV must quote, and a refusal's reason with a comma.
    for (const std::string name : {"a,b.jpg", "say \"x\".jpg", "two\nlines.jpg"})
        ASSERT_FALSE(writer.append(book.counted({name, 7, std::nullopt, true}, 6.5)));
    ASSERT_FALSE(writer.append(book.refused("c.jpg", "cannot be decoded, it is cut off")));
    // Names a spreadsheet would run as formulas.
    const std::vector<std::string> formulas = {
        "=1+1.jpg", "@SUM(A1).jpg", "=HYPERLINK(\"http:x\",\"y\").jpg", "-2.jpg", "+3.jpg",
        "\tx.jpg",  "'=kept.jpg"};
    for (const std::string& name : formulas) ASSERT_FALSE(writer.append(book.refused(name, name)));
    // The operator's word, with what CSV must quote and a spreadsheet would run.
    ASSERT_FALSE(writer.append(*book.check({JournalEvent::Correct, 9, "glued, two", "=op"})));

    const JournalStart start = readJournal(file);
    EXPECT_FALSE(start.untrusted);
    EXPECT_TRUE(start.resume);
    ASSERT_EQ(start.counts.size(), 3u);
    std::vector<CsvRecord> all;
    int notCsv = 0;
    ASSERT_TRUE(parseCsv(test::readBytes(file), all, notCsv));
    for (std::size_t i = 0; i < formulas.size(); ++i) {
        const std::vector<std::string>& fields = all[5 + i].fields;
        for (const std::string& cell : {fields[3], fields[9]}) {
            EXPECT_TRUE(cell.find_first_of("=+-@\t") != 0) << cell;
            EXPECT_EQ(csvTextValue(cell), formulas[i]);
        }
    }
    EXPECT_EQ(start.counts[2].file, "two\nlines.jpg");
    EXPECT_EQ(start.boards, 23);
    ASSERT_EQ(start.counts[2].checks.size(), 1u);
    EXPECT_EQ(start.counts[2].checks[0].reason, "glued, two");
    EXPECT_EQ(start.counts[2].checks[0].operatorName, "=op");
    EXPECT_EQ(start.counts[2].held(), 9);

    std::vector<CsvRecord> records;
    int bad = 0;
    ASSERT_TRUE(parseCsv(test::readBytes(file), records, bad));
    ASSERT_EQ(records.size(), 6u + formulas.size());
    EXPECT_EQ(records.back().fields[11], "7");
    EXPECT_EQ(records[1].fields[5], "true");
    EXPECT_EQ(records[1].fields[6], "6.50");
    EXPECT_EQ(records[4].fields[9], "cannot be decoded, it is cut off");
    EXPECT_EQ(records[3].line, 4);
    EXPECT_EQ(records[4].line, 6);  // after the name with a line break
    EXPECT_EQ(records[1].fields[0].size(), std::string("2026-12-09T10:00:00+01:00").size());
}

TEST(Journal, WriterCutsATornRecordAndNeverWritesIntoAnotherFile) {
    const ScratchFolder folder = test::scratchFolderForThisTest("lathmark-journal");
    StationBook book;
    book.start(1, {{"a.jpg", 12, std::nullopt}});
    const std::string a = line("count", 1, "a.jpg", "12", 1, 12);
    for (const std::string& tail :
         {std::string("2026-12-09T1"), kTornInAName, kTornInAName + "\n"}) {
        const std::filesystem::path torn = folder.path() / "torn.csv";
        test::writeBytes(torn, kHeader + a + tail);
        JournalWriter writer(torn);
        ASSERT_FALSE(writer.append(book.record(JournalEvent::Exit)));
        const JournalStart start = readJournal(torn);
        EXPECT_FALSE(start.untrusted) << *start.untrusted;
        EXPECT_EQ(start.book, 2) << tail;
        // The exit record right after the last whole one.
        EXPECT_EQ(test::readBytes(torn).substr((kHeader + a).size()).find(",exit,1,"), 25u);
    }

    const std::filesystem::path other = folder.path() / "other.csv";
    test::writeBytes(other, "file,boards\r\n");
    const auto failure = JournalWriter(other).append(book.record(JournalEvent::Exit));
    ASSERT_TRUE(failure);
    EXPECT_NE(failure->find("not a journal"), std::string::npos);
    EXPECT_EQ(test::readBytes(other), "file,boards\r\n");

    const std::filesystem::path fifo = folder.path() / "fifo.csv";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(JournalWriter(fifo).append(book.record(JournalEvent::Exit)));
    EXPECT_TRUE(readJournal(fifo).foreign);
}

TEST(Journal, DigestsTravelWithTheBookAndAJournalWithoutThemGetsTheColumn) {
    const ScratchFolder folder = test::scratchFolderForThisTest("lathmark-journal");
    const std::filesystem::path file = folder.path() / kJournalFile;
    const std::string oldHeader = kHeader.substr(0, kHeader.rfind(",digest")) + "\r\n";
    const std::string old = line("count", 1, "a.jpg", "12", 1, 12);
    test::writeBytes(file, oldHeader + old);
    const PhotographDigest digest = *PhotographDigest::fromHex(std::string(32, 'b'));

    JournalWriter writer(file);
    StationBook book;
    book.start(1, readJournal(file).counts);
    ASSERT_FALSE(writer.append(book.counted({"b.jpg", 8, digest}, std::nullopt)));
    const std::string withColumn = test::readBytes(file);
    EXPECT_EQ(withColumn.substr(0, kHeader.size() + old.size()), kHeader + old);

    // The journal removed while the book is open is made again with the book so far, the
    // operator's words too.
    ASSERT_FALSE(writer.append(*book.check({JournalEvent::Correct, 9, "", "op"})));
    std::filesystem::remove(file);
    writer.onMadeAgain([&book](const std::deque<JournalRecord>& behind) {
        return book.historyBefore(behind, "again");
    });
    ASSERT_FALSE(writer.append(book.counted({"c.jpg", 5, std::nullopt}, std::nullopt)));
    for (const std::string& text : {withColumn, test::readBytes(file)}) {
        const JournalStart start = readJournalText(text);
        EXPECT_FALSE(start.untrusted) << *start.untrusted;
        ASSERT_GE(start.counts.size(), 2u);
        EXPECT_FALSE(start.counts[0].digest);
        EXPECT_EQ(start.counts[1].digest, digest);
        EXPECT_EQ(start.digests.at("b.jpg"), digest);
        EXPECT_TRUE(start.lastTime);
    }
    EXPECT_EQ(readJournal(file).boards, 26);
    EXPECT_EQ(readJournal(file).counts[1].held(), 9);
    EXPECT_EQ(journalTimeSeconds("2026-12-09T10:00:00+01:00"), 1796806800);
    EXPECT_FALSE(journalTimeSeconds("yesterday"));
}

}  // namespace
}  // namespace lathmark
