// Bad and unusual photographs through the engine and through lathmark-count: each is counted
// right, counted right with a warning that says what the decoder noted, or refused with a
// message that names the file and what is wrong, quickly and without taking much memory.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "engine/counting.h"
#include "tests/support/corpus.h"
#include "tests/support/files.h"
#include "tests/support/programs.h"

namespace lathmark {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using test::CorpusCase;
using test::Expect;
using test::mentions;

const fs::path kCounter = fs::path(LATHMARK_BIN_DIR) / "lathmark-count";

constexpr Settings kBundled{.threshold = 128, .bdLine = 40};

// Room a count may take beyond what the test program holds: a 4000 x 3000 photograph needs
// well under 100 MB; decoding the 65000 x 65000 frames that some files claim would need 12 GB.
constexpr std::uint64_t kCountHeadroom = std::uint64_t{1} << 30;

// A refusal decodes nothing, so it is quick and its peak memory hardly moves.
constexpr double kMostRefusalSeconds = 5.0;
constexpr long kMostRefusalGrowthKiB = 64 * 1024;

long peakKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string caseName(const ::testing::TestParamInfo<CorpusCase>& info) {
    std::string name = fs::path(info.param.name).stem().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

// Checks one count against its case; `named` is how the count was told the photograph's name.
void expectOutcome(const CountResult& result, const CorpusCase& c, const std::string& named) {
    EXPECT_EQ(result.file, named);
    switch (c.expect) {
        case Expect::Refused:
            ASSERT_FALSE(result.ok()) << "counted " << result.boards() << " boards";
            EXPECT_EQ(result.error->file, named);
            EXPECT_TRUE(result.error->message().starts_with(named + ": "))
                << result.error->message();
            EXPECT_TRUE(mentions(result.error->reason, c.words))
                << "reason \"" << result.error->reason << "\" does not mention \"" << c.words
                << "\"";
            EXPECT_FALSE(result.marked) << "a refused count left a result image";
            break;
        case Expect::CountedWithWarning:
            ASSERT_TRUE(result.ok()) << result.error->message();
            EXPECT_TRUE(mentions(result.warning, c.words)) << "warning: " << result.warning;
            EXPECT_EQ(result.boards(), c.boards);
            EXPECT_TRUE(result.marked);
            break;
        case Expect::Counted:
            ASSERT_TRUE(result.ok()) << result.error->message();
            EXPECT_EQ(result.warning, "");
            EXPECT_EQ(result.boards(), c.boards);
            ASSERT_TRUE(result.marked);
            EXPECT_EQ(result.marked.width(), result.band.width);
            EXPECT_EQ(result.marked.height(), result.band.height);
            EXPECT_GT(result.band.height, 0);
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// The engine

class HostileEngine : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(HostileEngine, CountsOrRefusesAsTheCaseSays) {
    const CorpusCase& c = GetParam();
    const ScratchFolder folder = test::scratchFolderForThisTest("lathmark-hostile");
    test::writeCase(c, folder.path());
    const fs::path file = folder.path() / c.name;

    const long peakBefore = peakKiB();
    const auto start = std::chrono::steady_clock::now();
    CountResult fromFile;
    {
        const test::AddressSpaceCap cap(kCountHeadroom);
        fromFile = countBoards(file, kBundled);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    SCOPED_TRACE(c.kind);
    expectOutcome(fromFile, c, file.string());
    if (c.expect == Expect::Refused) {
        EXPECT_LT(took.count(), kMostRefusalSeconds);
        EXPECT_LT(peakKiB() - peakBefore, kMostRefusalGrowthKiB);
    }
    if (!fs::is_regular_file(file)) return;

    // The same bytes held in memory come to the same outcome, under the name given.
    const std::string bytes = test::readBytes(file);
    CountResult fromMemory;
    {
        const test::AddressSpaceCap cap(kCountHeadroom);
        fromMemory = countJpegInMemory(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                       bytes.size(), "held " + c.name, kBundled);
    }
    expectOutcome(fromMemory, c, "held " + c.name);
    if (fromFile.ok() && fromMemory.ok()) {
        EXPECT_EQ(fromMemory.boards(), fromFile.boards());
        EXPECT_EQ(fromMemory.warning, fromFile.warning);
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileEngine, ::testing::ValuesIn(test::corpusCases()), caseName);

bool samePixels(const Bitmap& a, const Bitmap& b) {
    if (!a || !b || a.width() != b.width() || a.height() != b.height() ||
        FreeImage_GetBPP(a.get()) != FreeImage_GetBPP(b.get()))
        return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(FreeImage_GetScanLine(a.get(), y), FreeImage_GetScanLine(b.get(), y),
                        FreeImage_GetLine(a.get())) != 0)
            return false;
    return true;
}

// A JPEG that lacks its end-of-image marker, or only the marker's last byte, is counted exactly
// as the whole file is: same photograph, lines, band, result image and warning.
TEST(HostileEngineEnding, FileWithoutItsEndMarkerCountsAsTheWholeFile) {
    const ScratchFolder folder = test::scratchFolderForThisTest("lathmark-hostile");
    for (const char* name :
         {"no_end_marker.jpg", "progressive_no_end_marker.jpg", "stray_bytes_no_end_marker.jpg"}) {
        test::writeCase(test::corpusCase(name), folder.path());
        const std::string whole = test::readBytes(folder.path() / name) + "\xFF\xD9";
        const auto count = [name](const std::string& bytes) {
            return countJpegInMemory(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                     bytes.size(), name, kBundled, {.keepPhotograph = true});
        };
        const CountResult expected = count(whole);
        ASSERT_TRUE(expected.ok()) << expected.error->message();
        for (std::size_t dropped : {1, 2}) {
            SCOPED_TRACE(std::string(name) + " without its last " + std::to_string(dropped) +
                         " bytes");
            const CountResult result = count(whole.substr(0, whole.size() - dropped));
            ASSERT_TRUE(result.ok()) << result.error->message();
            EXPECT_EQ(result.passLines, expected.passLines);
            EXPECT_EQ(result.band.top, expected.band.top);
            EXPECT_EQ(result.band.bottom, expected.band.bottom);
            EXPECT_EQ(result.warning, expected.warning);
            EXPECT_TRUE(samePixels(result.photograph, expected.photograph));
            EXPECT_TRUE(samePixels(result.marked, expected.marked));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// lathmark-count

using test::ProgramRun;
using test::shellQuoted;

// The counter's address space is capped as the engine's is above, so that a count that falls
// for a claimed size fails there instead of taking the machine's memory.
std::string capped(const std::string& command) {
    if (!test::AddressSpaceCap::available()) return command;
    return "ulimit -v " + std::to_string((std::uint64_t{2} << 30) / 1024) + "; " + command;
}

ProgramRun runCounter(const std::string& arguments, const fs::path& scratch) {
    return test::runProgram(capped("exec " + test::shellQuoted(kCounter) + " " + arguments),
                            scratch / "stderr.txt");
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// One of the counter's lines that starts with `prefix`, or "" if none does.
std::string lineStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const std::string& line : lines)
        if (line.starts_with(prefix)) return line;
    return "";
}

class HostileCli : public ::testing::Test {
  protected:
    void SetUp() override { cases_ = test::writeCorpus(folder_.path()); }

    // The arguments that name the whole corpus: its folder, and the directory named like a
    // photograph, which the folder's listing gives as a photograph that cannot be counted. Named
    // outright, that directory is a folder argument of its own, an empty one: an error too.
    std::string corpusArguments() const {
        return shellQuoted(folder_.path()) + " " + shellQuoted(folder_.path() / "x.jpg");
    }

    // The files the counter takes a photograph for: every *.jpg entry of the folder.
    std::size_t photographs() const { return cases_.size(); }

    fs::path pathOf(const CorpusCase& c) const { return folder_.path() / c.name; }

    ScratchFolder folder_ = test::scratchFolderForThisTest("lathmark-hostile");
    std::vector<CorpusCase> cases_;
};

TEST_F(HostileCli, JsonLinesCarryEachPhotographsBoardsWarningOrError) {
    const fs::path page = folder_.path() / "report.html";
    const ProgramRun run = runCounter("--json --jobs 2 --bdline 40 --threshold 128 --report " +
                                          shellQuoted(page) + " " + corpusArguments(),
                                      folder_.path());
    EXPECT_EQ(run.status, 1) << run.err;
    // Whatever the reasons and warnings say, the report is well-formed, a section each.
    const ProgramRun sections = test::runProgram(
        "xmllint --xpath 'count(//*[local-name()=\"section\"])' " + shellQuoted(page),
        folder_.path() / "xmllint.txt");
    EXPECT_EQ(sections.out, std::to_string(photographs()) + "\n") << sections.err;

    std::map<std::string, Json> byFile;
    Json book;
    for (const std::string& line : linesOf(run.out)) {
        const Json json = Json::parse(line);
        if (json.contains("book"))
            book = json;
        else
            byFile[json["file"].get<std::string>()] = json;
    }
    ASSERT_EQ(byFile.size(), photographs()) << run.out;

    long long boards = 0;
    int counted = 0;
    int failed = 0;
    for (const CorpusCase& c : cases_) {
        SCOPED_TRACE(c.name + ": " + c.kind);
        if (!c.listed) {  // the directory named like a photograph, also named outright
            EXPECT_NE(run.err.find(pathOf(c).string() + ": folder is empty"), std::string::npos)
                << run.err;
        }
        ASSERT_TRUE(byFile.count(pathOf(c).string()));
        const Json& line = byFile.at(pathOf(c).string());
        if (c.expect == Expect::Refused) {
            ++failed;
            ASSERT_TRUE(line.contains("error")) << line.dump();
            EXPECT_FALSE(line.contains("boards"));
            EXPECT_TRUE(mentions(line["error"].get<std::string>(), c.words)) << line.dump();
            continue;
        }
        ++counted;
        ASSERT_FALSE(line.contains("error")) << line.dump();
        const int lineBoards = line["boards"].get<int>();
        boards += lineBoards;
        EXPECT_EQ(lineBoards, c.boards);
        if (c.expect == Expect::Counted) {
            EXPECT_FALSE(line.contains("warning")) << line.dump();
        } else {
            ASSERT_TRUE(line.contains("warning")) << line.dump();
            EXPECT_TRUE(mentions(line["warning"].get<std::string>(), c.words)) << line.dump();
        }
    }
    EXPECT_EQ(book["book"], boards);
    EXPECT_EQ(book["photographs"], counted);
    EXPECT_EQ(book["failed"], failed);
}

// With --quiet the same, without the warnings.
TEST_F(HostileCli, TextNamesEachRefusedOrWarnedFileAndItsReasonOnStandardError) {
    for (const bool quiet : {false, true}) {
        SCOPED_TRACE(quiet ? "--quiet" : "");
        const ProgramRun run =
            runCounter(std::string(quiet ? "--quiet " : "") +
                           "--jobs 2 --bdline 40 --threshold 128 " + corpusArguments(),
                       folder_.path());
        EXPECT_EQ(run.status, 1);
        const std::vector<std::string> out = linesOf(run.out);
        const std::vector<std::string> err = linesOf(run.err);

        int refused = 0;
        for (const CorpusCase& c : cases_) {
            SCOPED_TRACE(c.name + ": " + c.kind);
            const std::string prefix = pathOf(c).string() + ": ";
            const std::string counted = lineStartingWith(out, prefix);
            const std::string said = lineStartingWith(err, prefix);
            if (!c.listed) {
                ++refused;
                EXPECT_EQ(counted, "");
                EXPECT_EQ(said, prefix + "folder is empty");
                EXPECT_NE(run.err.find(prefix + "is a directory, not a photograph"),
                          std::string::npos)
                    << run.err;
                continue;
            }
            switch (c.expect) {
                case Expect::Refused:
                    ++refused;
                    EXPECT_EQ(counted, "");
                    EXPECT_TRUE(mentions(said, c.words)) << "standard error:\n" << run.err;
                    break;
                case Expect::CountedWithWarning:
                    EXPECT_TRUE(counted.starts_with(prefix + std::to_string(c.boards) + " boards "))
                        << counted;
                    if (quiet) {
                        EXPECT_EQ(said, "");
                        break;
                    }
                    EXPECT_TRUE(said.starts_with(prefix + "warning: ")) << said;
                    EXPECT_TRUE(mentions(said, c.words)) << said;
                    break;
                case Expect::Counted:
                    EXPECT_TRUE(counted.starts_with(prefix + std::to_string(c.boards) + " boards "))
                        << counted;
                    EXPECT_EQ(said, "");
                    break;
            }
        }
        EXPECT_NE(run.err.find(std::to_string(refused) + " of " + std::to_string(photographs()) +
                               " photographs could not be counted"),
                  std::string::npos)
            << run.err;
    }
}

// A photograph that is listed with its folder and gone when its turn comes: the counter says so
// by name and counts the rest.
TEST(HostileCliFile, ThatVanishesBetweenListingAndCountingIsReportedByName) {
    const ScratchFolder folder = test::scratchFolderForThisTest("lathmark-hostile");
    const int firstBoards = test::writeGoodPhotograph(folder.path() / "a_first.jpg");
    // The large photograph takes the only job long enough to take its successor away.
    test::writeCase(test::corpusCase("large.jpg"), folder.path());
    fs::rename(folder.path() / "large.jpg", folder.path() / "b_large.jpg");
    test::writeGoodPhotograph(folder.path() / "c_vanishing.jpg");

    const fs::path errFile = folder.path() / "stderr.txt";
    const std::string command =
        capped("exec " + shellQuoted(kCounter) + " --json --jobs 1 --bdline 40 --threshold 128 " +
               shellQuoted(folder.path()) + " 2>" + shellQuoted(errFile));
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<Json> lines;
    std::array<char, 4096> line;
    while (std::fgets(line.data(), static_cast<int>(line.size()), pipe)) {
        lines.push_back(Json::parse(line.data()));
        // The first photograph is done, the large one is being counted: the listing is long
        // past, the last photograph's turn has not come.
        if (lines.size() == 1) fs::remove(folder.path() / "c_vanishing.jpg");
    }
    const int raw = ::pclose(pipe);
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 1);

    ASSERT_EQ(lines.size(), 4U);
    EXPECT_EQ(lines[0]["boards"], firstBoards);
    EXPECT_EQ(lines[1]["boards"], test::corpusCase("large.jpg").boards);
    EXPECT_EQ(lines[2]["file"], (folder.path() / "c_vanishing.jpg").string());
    EXPECT_EQ(lines[2]["error"], "the file does not exist");
    EXPECT_EQ(lines[3]["failed"], 1);
    EXPECT_EQ(lines[3]["photographs"], 2);
}

// A pipe where a result image is to go: the counter refuses the batch before counting, instead
// of waiting for a reader that never comes or replacing the pipe. The image of the large
// photograph is more than a pipe holds.
TEST(HostileCliFile, ResultImageNamedByAPipeHoldsNothingUp) {
    const ScratchFolder folder = test::scratchFolderForThisTest("lathmark-hostile");
    test::writeCase(test::corpusCase("large.jpg"), folder.path());
    const fs::path marked = folder.path() / "marked";
    fs::create_directory(marked);
    const fs::path pipe = marked / "large.bmp";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);

    ProgramRun run;
    bool rescued = false;
    {
        const test::PipeRescuer rescuer(pipe, std::chrono::seconds(2));
        run = runCounter("--json --bdline 40 --threshold 128 --marked " + shellQuoted(marked) +
                             " " + shellQuoted(folder.path() / "large.jpg"),
                         folder.path());
        rescued = rescuer.rescued();
    }
    EXPECT_FALSE(rescued) << "lathmark-count waited on " << pipe
                          << ", a pipe (it waits for ever without this test's help)";
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(mentions(run.err, pipe.string() + " is a named pipe")) << run.err;
    struct stat info {};
    ASSERT_EQ(::lstat(pipe.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the pipe was replaced";
}

}  // namespace
}  // namespace lathmark
