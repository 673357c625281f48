// End-to-end tests of lathmark-count at a station: --watch counting photographs as they arrive
// (copied in, written in pieces, written again) until SIGTERM, and --journal's records.

#include <span>
#include <string>
#include <vector>

#include "engine/csv.h"
#include "engine/journal.h"
#include "tests/support/programs.h"

namespace lathmark {
namespace {

using test::ProgramRun;

class WatchCli : public test::CounterTest {};

const std::filesystem::path kSamples = test::samplesFolder();

// The journal's records after its header, as lines without their CR.
std::vector<std::string> journalLines(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    const std::string text = test::readBytes(file);
    std::size_t at = text.find('\n') + 1;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at - 1));
        at = end + 1;
    }
    return lines;
}

// Each step of a watch, as the shell makes it, and the journal records it gives: event, file
// (its name in the folder) and reason, one record a line ("" none).
struct WatchStep {
    const char* label;
    const char* shell;  // run in the scratch folder; $S is the samples folder, d the watched one
    const char* records;
};

TEST_F(WatchCli, CountsEachPhotographOnceHoweverItReachesTheFolder) {
    const WatchStep steps[] = {
        {"there at start: a file, its links and a link to nothing",
         "cp $S/stack_01.jpg d/a.jpg; ln d/a.jpg d/hard.jpg; ln -s a.jpg d/soft.jpg; "
         "ln -s $S/stack_03.jpg d/out.jpg; ln -s nothing.jpg d/dangling.jpg",
         "settings lathmark-count THRESHOLD=128 BDLINE=40 STRETCH=1 REGION=full THICKNESS=0\n"
         "count a.jpg \n"
         "refused dangling.jpg is a symbolic link to nothing.jpg, which does not exist\n"
         "refused hard.jpg already counted as d/a.jpg\n"
         "count out.jpg \n"
         "refused soft.jpg already counted as d/a.jpg\n"},
        {"copied in", "cp $S/stack_02.jpg d/b.jpg", "count b.jpg \n"},
        {"touched, opened and closed", "touch d/b.jpg; : >> d/b.jpg", ""},
        {"copied under another name", "cp d/b.jpg d/b2.jpg",
         "refused b2.jpg already counted as d/b.jpg\n"},
        {"renamed", "mv d/b2.jpg d/b3.jpg", "refused b3.jpg already counted as d/b.jpg\n"},
        {"in pieces, its end marker late, then a trailer",
         "head -c 2000 $S/stack_04.jpg > d/c.jpg; sleep 0.3; "
         "tail -c +2001 $S/stack_04.jpg | head -c -2 >> d/c.jpg; sleep 0.3; "
         "tail -c 2 $S/stack_04.jpg >> d/c.jpg; sleep 0.3; echo trailer >> d/c.jpg",
         "count c.jpg \n"},
        {"written again with a new image", "cp $S/stack_05.jpg d/a.jpg", "count a.jpg \n"},
        {"links arriving",
         "ln -s $S/stack_06.jpg d/l.jpg; sleep 0.3; ln d/b.jpg d/h2.jpg; "
         "sleep 0.3; ln -s missing.jpg d/gone.jpg",
         "count l.jpg \nrefused h2.jpg already counted as d/b.jpg\n"
         "refused gone.jpg is a symbolic link to missing.jpg, which does not exist\n"},
        {"the folder removed and made again",
         "rm -rf d; sleep 0.3; mkdir d; sleep 0.3; cp $S/stack_07.jpg d/z.jpg", "count z.jpg \n"},
    };
    std::filesystem::create_directory(scratch() / "d");
    // The first step makes what is there before the watch starts.
    std::string script = "cd " + quoted(scratch()) + "; S=" + quoted(kSamples) + "; " +
                         steps[0].shell + "; " + quoted(test::counterProgram()) +
                         " --bdline 40 --threshold 128 --journal j.csv --watch d > out.txt "
                         "2> err.txt & pid=$!; sleep 0.5; ";
    std::string expected = steps[0].records;
    for (const WatchStep& step : std::span(steps).subspan(1)) {
        script += std::string(step.shell) + "; sleep 0.5; ";
        expected += step.records;
    }
    const ProgramRun run = this->run(script + "kill -TERM $pid; wait $pid; echo status $?");
    // Photographs may have been missed while the folder was away.
    EXPECT_EQ(run.out, "status 1\n") << run.err;

    std::vector<CsvRecord> records;
    int badLine = 0;
    ASSERT_TRUE(parseCsv(test::readBytes(scratch() / "j.csv"), records, badLine));
    std::string recorded;
    for (std::size_t i = 1; i + 1 < records.size(); ++i) {
        const std::vector<std::string>& f = records[i].fields;
        recorded +=
            f[1] + " " + std::filesystem::path(f[3]).filename().string() + " " + f[9] + "\n";
        EXPECT_EQ(f[10].size(), f[1] == "count" || f[9].find("already") == 0 ? 32u : 0u) << f[3];
    }
    EXPECT_EQ(recorded, expected);
    EXPECT_EQ(records.back().fields[1], "exit");
    const std::string err = test::readBytes(scratch() / "err.txt");
    EXPECT_NE(err.find("d is gone (removed or renamed)"), std::string::npos) << err;
    EXPECT_NE(err.find("d is there again"), std::string::npos) << err;
}

TEST_F(WatchCli, JournalOfABatchAndItsErrors) {
    const std::string photo = quoted(kSamples / "stack_01.jpg");
    const std::filesystem::path journal = scratch() / "j.csv";
    const std::string options = "--bdline 40 --threshold 128 --journal " + quoted(journal) + " ";
    const std::string missing = quoted(scratch() / "missing.jpg");
    ASSERT_EQ(count(options + photo + " " + missing).status, 1);
    ASSERT_EQ(count(options + photo).status, 0);
    const std::vector<std::string> records = journalLines(journal);
    ASSERT_EQ(records.size(), 7u);
    // Each run begins with the program and its settings.
    EXPECT_NE(records[0].find(",settings,1,lathmark-count,,,,0,0,THRESHOLD=128 BDLINE=40 STRETCH=1 "
                              "REGION=full THICKNESS=0,"),
              std::string::npos)
        << records[0];
    EXPECT_NE(records[1].find(",count,1,"), std::string::npos);
    EXPECT_NE(records[2].find(",refused,1,"), std::string::npos);
    EXPECT_NE(records[2].find(",1,12,"), std::string::npos);  // the counters stay
    EXPECT_NE(records[3].find(",exit,1,,,,,1,12,"), std::string::npos);
    EXPECT_NE(records[4].find(",settings,2,"), std::string::npos);  // the next run, the next book
    EXPECT_NE(records[5].find(",count,2,"), std::string::npos);

    // A batch into a journal is a station's book: a copy of a photograph counted is refused; a
    // plain batch counts it again, as ever.
    std::filesystem::copy_file(kSamples / "stack_01.jpg", scratch() / "copy.jpg");
    const std::string twice = photo + " " + quoted(scratch() / "copy.jpg");
    const ProgramRun booked = count(options + twice);
    EXPECT_EQ(booked.status, 1);
    EXPECT_NE(
        booked.err.find("copy.jpg: already counted as " + (kSamples / "stack_01.jpg").string()),
        std::string::npos)
        << booked.err;
    EXPECT_NE(booked.out.find("Book: 12 boards in 1 photograph"), std::string::npos) << booked.out;
    EXPECT_EQ(count("--bdline 40 --threshold 128 " + twice).status, 0);

    // A journal that stops taking records (here a file size limit, as a full disk does): the
    // records are kept in order, the journal holds a whole part of the book, and the status says
    // that the rest could not be written.
    const std::filesystem::path limited = scratch() / "limited.csv";
    const ProgramRun full = run("{ trap '' XFSZ; ulimit -f 1; " + quoted(test::counterProgram()) +
                                " --bdline 40 --threshold 128 --journal " + quoted(limited) + " " +
                                quoted(kSamples) + "; echo status $?; }");
    EXPECT_EQ(full.out.substr(full.out.rfind("status")), "status 2\n") << full.err;
    EXPECT_NE(full.err.find("records could not be written to the journal"), std::string::npos)
        << full.err;
    EXPECT_FALSE(readJournal(limited).untrusted);
    const std::vector<std::string> kept = journalLines(limited);
    ASSERT_GT(kept.size(), 2u);
    EXPECT_EQ(kept.back().find(",exit,"), std::string::npos);  // its exit was among those kept

    // One writer at a time: a second is told who holds the journal, and counts nothing.
    std::filesystem::create_directory(scratch() / "camera");
    const ProgramRun second =
        run("{ " + quoted(test::counterProgram()) + " --bdline 40 --threshold 128 --journal " +
            quoted(journal) + " --watch " + quoted(scratch() / "camera") +
            " > /dev/null & pid=$!; sleep 0.5; " + quoted(test::counterProgram()) + " " + options +
            photo + "; echo \"status $? holder $pid\"; kill -TERM $pid; wait $pid; }");
    const std::string holder = second.out.substr(second.out.find("holder ") + 7);
    EXPECT_EQ(second.out.substr(0, second.out.find(" holder")), "status 2") << second.err;
    EXPECT_NE(second.err.find("is being written by the batch counter (process " +
                              holder.substr(0, holder.find('\n')) + ")"),
              std::string::npos)
        << second.err;
    EXPECT_EQ(second.out.find("Book"), std::string::npos);

    // A file that is not a journal is never written to, and nothing is counted.
    const std::filesystem::path notJournal = write("boards.csv", "file,boards\n");
    const ProgramRun refused =
        count("--bdline 40 --threshold 128 --journal " + quoted(notJournal) + " " + photo);
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("is not a journal"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(test::readBytes(notJournal), "file,boards\n");
    const ProgramRun unwatchable =
        count("--bdline 40 --threshold 128 --watch " + quoted(scratch() / "none"));
    EXPECT_EQ(unwatchable.status, 2);
    EXPECT_NE(unwatchable.err.find("cannot be watched"), std::string::npos) << unwatchable.err;
}

}  // namespace
}  // namespace lathmark
