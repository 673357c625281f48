// End-to-end tests of lathmark-count at a station: --watch counting photographs as they arrive
// (copied in, written in pieces, written again) until SIGTERM, and --journal's records.

#include <string>
#include <vector>

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

TEST_F(WatchCli, CountsEachPhotographAsItArrivesOnceAndTheBookAtSigterm) {
    const std::filesystem::path folder = scratch() / "camera";
    std::filesystem::create_directory(folder);
    std::filesystem::copy_file(kSamples / "stack_01.jpg", folder / "a.jpg");
    const std::string out = quoted(scratch() / "out.txt");
    const std::string journal = quoted(scratch() / "journal.csv");
    const std::string sample = quoted(kSamples / "stack_02.jpg");
    const std::string other = quoted(kSamples / "stack_03.jpg");
    // Waits until the output has `n` lines, for at most ten seconds.
    const std::string lines =
        "lines() { i=0; while [ $(cat " + out +
        " 2>/dev/null | wc -l) -lt $1 ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done; }; ";
    const ProgramRun run = this->run(
        lines + quoted(test::counterProgram()) + " --bdline 40 --threshold 128 --journal " +
        journal + " --watch " + quoted(folder) + " > " + out + " & pid=$!; lines 1; cp " + sample +
        " " + quoted(folder / "b.jpg") + "; lines 2; head -c 2000 " + sample + " > " +
        quoted(folder / "c.jpg") + "; sleep 0.3; tail -c +2001 " + sample + " >> " +
        quoted(folder / "c.jpg") + "; lines 3; cp " + other + " " + quoted(folder / "a.jpg") +
        "; lines 4; touch " + quoted(folder / "notes.txt") +
        "; kill -TERM $pid; wait $pid; echo status $?; cat " + out);
    EXPECT_NE(run.out.find("status 0\n"), std::string::npos) << run.out << run.err;
    const std::string counted = run.out.substr(run.out.find('\n') + 1);
    const std::string a = (folder / "a.jpg").string(), b = (folder / "b.jpg").string(),
                      c = (folder / "c.jpg").string();
    // Each photograph once, in the order it arrived; the cut-off c.jpg only when whole; a.jpg
    // again once written over; then the book.
    std::vector<std::string> names;
    for (std::size_t at = 0; at < counted.size();) {
        const std::size_t end = counted.find('\n', at);
        names.push_back(counted.substr(at, counted.find(':', at) - at));
        at = end + 1;
    }
    EXPECT_EQ(names, (std::vector<std::string>{a, b, c, a, "Book"})) << counted;
    EXPECT_NE(counted.find("Book: 52 boards in 4 photographs"), std::string::npos) << counted;
    EXPECT_EQ(run.err, "");

    const std::vector<std::string> records = journalLines(scratch() / "journal.csv");
    ASSERT_EQ(records.size(), 5u);
    EXPECT_NE(records[3].find(",count,1," + a + ",8,false,,4,52,"), std::string::npos)
        << records[3];
    EXPECT_NE(records[4].find(",exit,1,,,,,4,52,"), std::string::npos) << records[4];
}

TEST_F(WatchCli, JournalOfABatchAndItsErrors) {
    const std::string photo = quoted(kSamples / "stack_01.jpg");
    const std::filesystem::path journal = scratch() / "j.csv";
    const std::string options = "--bdline 40 --threshold 128 --journal " + quoted(journal) + " ";
    const std::string missing = quoted(scratch() / "missing.jpg");
    ASSERT_EQ(count(options + photo + " " + missing).status, 1);
    ASSERT_EQ(count(options + photo).status, 0);
    const std::vector<std::string> records = journalLines(journal);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_NE(records[0].find(",count,1,"), std::string::npos);
    EXPECT_NE(records[1].find(",refused,1,"), std::string::npos);
    EXPECT_NE(records[1].find(",1,12,"), std::string::npos);  // the counters stay
    EXPECT_NE(records[2].find(",exit,1,,,,,1,12,"), std::string::npos);
    EXPECT_NE(records[3].find(",count,2,"), std::string::npos);  // the next run, the next book

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
