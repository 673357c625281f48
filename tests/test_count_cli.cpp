// End-to-end tests of lathmark-count: the real executable over the committed samples.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "engine/counting.h"
#include "engine/report.h"
#include "tests/support/programs.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const fs::path kSamples = fs::path(LATHMARK_SOURCE_DIR) / "samples";
const fs::path kDim = kSamples / "dim";  // one kind of stack that the bundled settings miscount
const fs::path kCounter = fs::path(LATHMARK_BIN_DIR) / "lathmark-count";

using lathmark::test::ProgramRun;
// Shorter, as the tests quote many paths.
std::string quoted(const fs::path& path) {
    return lathmark::test::shellQuoted(path);
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CountCli : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch = fs::temp_directory_path() /
                  ("lathmark-cli-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(scratch);
        fs::create_directories(scratch);
    }
    void TearDown() override { fs::remove_all(scratch); }

    // Runs lathmark-count with `arguments` (already shell-quoted where needed).
    ProgramRun count(const std::string& arguments) const {
        return lathmark::test::runProgram(quoted(kCounter) + " " + arguments,
                                          scratch / "stderr.txt");
    }

    fs::path write(const std::string& name, const std::string& content) const {
        std::ofstream(scratch / name, std::ios::binary) << content;
        return scratch / name;
    }

    fs::path scratch;
};

// file name -> true board count, from the samples' manifest.
std::map<std::string, int> manifest() {
    std::map<std::string, int> boards;
    std::istringstream lines(readFile(kSamples / "manifest.tsv"));
    std::string line;
    std::getline(lines, line);  // header
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string file;
        int count = 0;
        if (fields >> file >> count) boards[file] = count;
    }
    return boards;
}

std::vector<Json> jsonLines(const std::string& out) {
    std::vector<Json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line));
    return lines;
}

// Output with the timings taken out, which naturally differ from run to run.
std::string withoutTimes(const std::string& out) {
    return std::regex_replace(out, std::regex(R"("ms":[0-9.e+-]+)"), "\"ms\":_");
}

TEST_F(CountCli, EverySampleCountsAsItsManifestSays) {
    const auto expected = manifest();
    ASSERT_GE(expected.size(), 8u);
    const ProgramRun run = count("--json --jobs 2 " + quoted(kSamples));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = jsonLines(run.out);
    ASSERT_EQ(lines.size(), expected.size() + 1);

    long long book = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const Json& line = lines[i];
        const std::string name = fs::path(line["file"].get<std::string>()).filename().string();
        ASSERT_TRUE(expected.count(name)) << name;
        EXPECT_EQ(line["boards"].get<int>(), expected.at(name)) << name;
        int lines4 = 0;
        for (const Json& p : line["passLines"]) lines4 += p.get<int>();
        EXPECT_EQ(line["boards"].get<int>(), lines4 + 1) << name;
        EXPECT_LT(line["band"]["top"].get<int>(), line["band"]["bottom"].get<int>()) << name;
        book += line["boards"].get<int>();
    }
    const Json& last = lines.back();
    EXPECT_EQ(last["book"].get<long long>(), book);
    EXPECT_EQ(last["photographs"].get<std::size_t>(), expected.size());
    EXPECT_EQ(last["failed"].get<int>(), 0);
    EXPECT_EQ(last["bdline"].get<int>(), 40);
    EXPECT_EQ(last["threshold"].get<int>(), 128);
}

TEST_F(CountCli, SeveralJobsGiveTheSameOutputInArgumentOrder) {
    const std::string arguments = "--json " + quoted(kSamples) + " missing.jpg " +
                                  quoted(kSamples / "manifest.tsv") + " " + quoted(kSamples);
    const ProgramRun one = count("--jobs 1 " + arguments);
    const ProgramRun two = count("--jobs 2 " + arguments);
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(two.status, 1);
    EXPECT_EQ(withoutTimes(one.out), withoutTimes(two.out));
}

TEST_F(CountCli, TextOutputHasOneLinePerPhotographAndTheBook) {
    const auto expected = manifest();
    const ProgramRun run = count("--jobs 2 " + quoted(kSamples));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::regex photoLine(
        R"(.+\.jpg: ([0-9]+) boards \(lines [0-9]+ \+ [0-9]+ \+ [0-9]+ \+ [0-9]+\), [0-9]+\.[0-9] ms)");
    std::istringstream in(run.out);
    std::string line;
    long long book = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_TRUE(std::getline(in, line));
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, photoLine)) << line;
        book += std::stoi(match[1]);
    }
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "Book: " + std::to_string(book) + " boards in " +
                        std::to_string(expected.size()) + " photographs");
}

TEST_F(CountCli, APhotographThatCannotBeCountedDoesNotStopTheBatch) {
    const fs::path notJpeg = write("notes.jpg", "these are not pixels\n");
    const fs::path sample = kSamples / manifest().begin()->first;
    const ProgramRun run = count("--json " + quoted(notJpeg) + " " + quoted(scratch / "gone.jpg") +
                                 " " + quoted(scratch) + " " + quoted(sample));
    EXPECT_EQ(run.status, 1);
    const auto lines = jsonLines(run.out);
    // notes.jpg appears twice: named, and as the folder's only *.jpg.
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0]["file"], notJpeg.string());
    EXPECT_NE(lines[0]["error"].get<std::string>().find("JPEG"), std::string::npos);
    EXPECT_EQ(lines[1]["error"], "the file does not exist");
    EXPECT_TRUE(lines[2].contains("error"));
    EXPECT_EQ(lines[3]["boards"].get<int>(), manifest().begin()->second);
    EXPECT_EQ(lines[4]["failed"].get<int>(), 3);
    EXPECT_EQ(lines[4]["photographs"].get<int>(), 1);

    const ProgramRun text = count(quoted(scratch / "gone.jpg"));
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.err.find(scratch.string() + "/gone.jpg: the file does not exist"),
              std::string::npos)
        << text.err;
    EXPECT_EQ(text.out, "Book: 0 boards in 0 photographs\n");
}

TEST_F(CountCli, APipeNamedLikeAPhotographIsRefusedWithoutWaitingOnIt) {
    const fs::path pipe = scratch / "pipe.jpg";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // A folder lists regular files only; a pipe named outright gets a message.
    const ProgramRun listed = count("--json " + quoted(scratch));
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(jsonLines(listed.out).size(), 1u);
    const ProgramRun named = count(quoted(pipe));
    EXPECT_EQ(named.status, 1);
    EXPECT_NE(named.err.find("pipe.jpg: is not a regular file"), std::string::npos) << named.err;
}

TEST_F(CountCli, UsageAndSettingsErrorsCountNothing) {
    const std::string photo = quoted(kSamples / manifest().begin()->first);
    const std::string copy = quoted(write("copy.jpg", readFile(kSamples / "stack_01.jpg")));
    struct Case {
        std::string arguments;
        std::string inError;
    };
    const std::vector<Case> cases = {
        {"--threshold 246 --bdline 40 " + photo, "--threshold"},
        {"--bdline 40000 --threshold 128 " + photo, "--bdline"},
        {"--jobs 0 " + photo, "--jobs"},
        {"--no-such-option " + photo, "no-such-option"},
        {"", "photographs"},
        {"--settings " + quoted(scratch / "absent.ini") + " " + photo, "absent.ini"},
        {"--settings " + quoted(write("bad.ini", "BDLINE=40\nTHRESHOLD=abc\n")) + " " + photo,
         "bad.ini:2"},
        {"--settings " + quoted(write("high.ini", "BDLINE=40\nTHRESHOLD=250\n")) + " " + photo,
         "high.ini:2"},
        {"--landscape " + quoted(scratch / "l.svg") + " " + photo, "--calibrate"},
        {"--write-settings " + quoted(scratch / "w.ini") + " " + photo, "--calibrate"},
        {"--calibrate " + quoted(kDim / "truth.tsv") + " " + photo, "photographs"},
        {"--stability --calibrate " + quoted(kDim / "truth.tsv"), "--stability"},
        {"--stretch 5 " + photo, "--stretch"},
        {"--settings " + quoted(write("wide.ini", "BDLINE=40\nTHRESHOLD=128\nSTRETCH=9\n")) + " " +
             photo,
         "wide.ini:3: STRETCH 9"},
        {"--csv --json " + photo, "--csv"},
        {"--csv --calibrate " + quoted(kDim / "truth.tsv"), "--csv"},
        {"--report " + quoted(scratch / "r.html") + " --calibrate " + quoted(kDim / "truth.tsv"),
         "--report"},
        {"--report " + copy + " " + quoted(scratch), "would replace the photograph"},
        {"--calibrate " + quoted(write("t.tsv", "file\tboards\ndim_01.jpg\t9\ndim_01.jpg\t9\n")),
         "t.tsv:3: \"dim_01.jpg\" is named again"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = count(c.arguments);
        EXPECT_EQ(run.status, 2) << c.arguments;
        EXPECT_EQ(run.out, "") << c.arguments;
        EXPECT_NE(run.err.find(c.inError), std::string::npos) << c.arguments << "\n" << run.err;
    }
}

TEST_F(CountCli, SettingsComeFromTheFileBesideTheExecutableOrOverrides) {
    const std::string photo = quoted(kSamples / manifest().begin()->first);
    const ProgramRun fromFile = count("--json " + photo);
    ASSERT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_EQ(jsonLines(fromFile.out).back()["bdline"], 40);

    const fs::path ini = write("other.ini", "BDLINE=25\r\nTHRESHOLD=100\r\n");
    const ProgramRun fromOther =
        count("--json --settings " + quoted(ini) + " --bdline 30 " + photo);
    ASSERT_EQ(fromOther.status, 0) << fromOther.err;
    EXPECT_EQ(jsonLines(fromOther.out).back()["bdline"], 30);
    EXPECT_EQ(jsonLines(fromOther.out).back()["threshold"], 100);

    // With both values given, a broken file is never read.
    const ProgramRun overrides = count("--json --settings " + quoted(scratch / "absent.ini") +
                                       " --bdline 40 --threshold 128 " + photo);
    EXPECT_EQ(overrides.status, 0) << overrides.err;
}

TEST_F(CountCli, MarkedImagesAreWhatTheEngineWrites) {
    const auto expected = manifest();
    const ProgramRun run =
        count("--jobs 2 --marked " + quoted(scratch / "marked") + " " + quoted(kSamples));
    ASSERT_EQ(run.status, 0) << run.err;
    for (const auto& [name, boards] : expected) {
        const fs::path photo = kSamples / name;
        const fs::path marked = scratch / "marked" / fs::path(name).replace_extension(".bmp");
        ASSERT_TRUE(fs::exists(marked)) << marked;
        lathmark::CountResult result =
            lathmark::countBoards(photo, {.threshold = 128, .bdLine = 40});
        ASSERT_TRUE(result.ok());
        const fs::path reference = scratch / "reference.bmp";
        ASSERT_FALSE(lathmark::writeBmp(result.marked.get(), reference).has_value());
        EXPECT_EQ(readFile(marked), readFile(reference)) << name;
    }
}

TEST_F(CountCli, PhotographsThatWouldShareAResultImageAreRefusedUpFront) {
    const std::string name = manifest().begin()->first;
    fs::create_directories(scratch / "a");
    fs::create_directories(scratch / "b");
    fs::copy_file(kSamples / name, scratch / "a" / name);
    fs::copy_file(kSamples / name, scratch / "b" / name);
    const std::string marked = " --marked " + quoted(scratch / "marked") + " ";

    const ProgramRun clash =
        count("--jobs 2" + marked + quoted(scratch / "a") + " " + quoted(scratch / "b" / name));
    EXPECT_EQ(clash.status, 2);
    EXPECT_EQ(clash.out, "");
    EXPECT_NE(clash.err.find((scratch / "a" / name).string() + " and " +
                             (scratch / "b" / name).string() + " would both write"),
              std::string::npos)
        << clash.err;
    EXPECT_FALSE(fs::exists(scratch / "marked" / fs::path(name).replace_extension(".bmp")));

    // The same photograph named twice, or without --marked, is counted as asked.
    const ProgramRun twice = count("--jobs 2" + marked + quoted(scratch / "a" / name) + " " +
                                   quoted(scratch / "a" / "." / name));
    EXPECT_EQ(twice.status, 0) << twice.err;
    const ProgramRun unmarked = count(quoted(scratch / "a") + " " + quoted(scratch / "b"));
    EXPECT_EQ(unmarked.status, 0) << unmarked.err;
}

// ---- Finding the settings ----

// file name -> true board count, from the dim set's truth.tsv.
std::map<std::string, int> dimTruth() {
    std::map<std::string, int> boards;
    std::istringstream lines(readFile(kDim / "truth.tsv"));
    std::string line;
    std::getline(lines, line);
    for (std::string file; lines >> file;) lines >> boards[file];
    return boards;
}

// The bundled settings miscount the dim set; calibration finds settings that count it all right,
// writes them as a settings file that counts it all right, and draws them.
TEST_F(CountCli, CalibrationFindsSettingsThatCountTheDimSetRight) {
    const fs::path ini = scratch / "found.ini";
    const fs::path svg = scratch / "landscape.svg";
    const ProgramRun run =
        count("--bdline 40 --threshold 128 --json --calibrate " + quoted(kDim / "truth.tsv") +
              " --write-settings " + quoted(ini) + " --landscape " + quoted(svg));
    ASSERT_EQ(run.status, 0) << run.err;
    const Json result = Json::parse(run.out);
    const Json& chosen = result["calibration"];
    EXPECT_EQ(chosen["right"], 8);
    EXPECT_EQ(chosen["photographs"], 8);
    EXPECT_LE(result["current"]["right"].get<int>(), 5) << "the bundled settings count it right";
    EXPECT_EQ(result["current"]["threshold"], 128);
    EXPECT_EQ(result["neverRight"], Json::array());
    const int threshold = chosen["threshold"];
    const int bdLine = chosen["bdline"];
    EXPECT_LE(chosen["thresholdRange"][0].get<int>(), threshold);
    EXPECT_GE(chosen["thresholdRange"][1].get<int>(), threshold);
    EXPECT_LE(chosen["bdlineRange"][0].get<int>(), bdLine);
    EXPECT_GE(chosen["bdlineRange"][1].get<int>(), bdLine);

    const ProgramRun recount = count("--json --settings " + quoted(ini) + " " + quoted(kDim));
    ASSERT_EQ(recount.status, 0) << recount.err;
    const std::vector<Json> lines = jsonLines(recount.out);
    const auto truth = dimTruth();
    ASSERT_EQ(lines.size(), truth.size() + 1);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        EXPECT_EQ(lines[i]["boards"], truth.at(fs::path(lines[i]["file"]).filename().string()))
            << lines[i];
    EXPECT_EQ(lines.back()["threshold"], threshold);
    EXPECT_EQ(lines.back()["bdline"], bdLine);

    // The picture is well-formed XML and marks both settings.
    auto xpath = [&](const std::string& expression) {
        std::string value =
            lathmark::test::runProgram(
                "xmllint --xpath " + quoted(fs::path(expression)) + " " + quoted(svg),
                scratch / "xmllint.txt")
                .out;
        while (!value.empty() && value.back() == '\n') value.pop_back();
        return value;
    };
    ASSERT_EQ(
        lathmark::test::runProgram("xmllint --noout " + quoted(svg), scratch / "x.txt").status, 0);
    const std::string svgNs = "//*[local-name()=\"g\"][@id=\"";
    EXPECT_EQ(xpath("string(" + svgNs + "chosen\"]/@data-threshold)"), std::to_string(threshold));
    EXPECT_EQ(xpath("string(" + svgNs + "chosen\"]/@data-bdline)"), std::to_string(bdLine));
    EXPECT_EQ(xpath("string(" + svgNs + "current\"]/@data-threshold)"), "128");
    EXPECT_EQ(xpath("string(" + svgNs + "current\"]/@data-bdline)"), "40");
    EXPECT_EQ(xpath("count(//*[local-name()=\"script\"])"), "0");
}

// A photograph that cannot be counted is left out; one that no setting counts right is named
// with the nearest count any setting reaches.
TEST_F(CountCli, CalibrationNamesPhotographsLeftOutAndNeverRight) {
    fs::copy_file(kDim / "dim_01.jpg", scratch / "dim_01.jpg");
    fs::copy_file(kDim / "dim_02.jpg", scratch / "dim_02.jpg");
    const fs::path truth =
        write("truth.tsv", "boards\tfile\n99\tdim_01.jpg\n12\tdim_02.jpg\n3\tgone.jpg\n");
    const ProgramRun run = count("--bdline 40 --threshold 128 --calibrate " + quoted(truth));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("gone.jpg: the file does not exist"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("counts 1 of 2 photographs right"), std::string::npos) << run.out;
    const std::regex neverRight("Never right: .*dim_01.jpg: at best ([0-9]+) of 99 boards");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(run.out, match, neverRight)) << run.out;
    EXPECT_LT(std::stoi(match[1]), 99);

    const ProgramRun none = count("--bdline 40 --threshold 128 --calibrate " +
                                  quoted(write("t.tsv", "file\tboards\ngone.jpg\t3\n")));
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.out, "");
}

// --stability gives each count the ranges over which its boards stay the same, in text and in
// JSON alike, and calls a count whose range is short uncertain.
TEST_F(CountCli, StabilityRangesInTextAndJson) {
    const fs::path sure = kSamples / "stack_01.jpg";  // wide ranges at the bundled settings
    const fs::path edgy = kDim / "dim_03.jpg";        // its boards change at once
    const std::string both = quoted(sure) + " " + quoted(edgy);
    const ProgramRun json = count("--bdline 40 --threshold 128 --stability --json " + both);
    const ProgramRun text = count("--bdline 40 --threshold 128 --stability " + both);
    const ProgramRun plain = count("--bdline 40 --threshold 128 --json " + both);
    ASSERT_EQ(json.status, 0) << json.err;
    const std::vector<Json> lines = jsonLines(json.out);
    const std::vector<Json> plainLines = jsonLines(plain.out);
    ASSERT_EQ(lines.size(), 3u);
    const std::regex ranges(
        "THRESHOLD ([0-9]+) to ([0-9]+) and BDLINE ([0-9]+) to ([0-9]+)(, uncertain)?");
    std::istringstream textLines(text.out);
    for (std::size_t i = 0; i < 2; ++i) {
        const Json& stable = lines[i]["stable"];
        EXPECT_EQ(lines[i]["boards"], plainLines[i]["boards"]);
        EXPECT_LE(stable["threshold"][0].get<int>(), 128);
        EXPECT_GE(stable["threshold"][1].get<int>(), 128);
        EXPECT_LE(stable["bdline"][0].get<int>(), 40);
        EXPECT_GE(stable["bdline"][1].get<int>(), 40);
        std::string line;
        std::getline(textLines, line);
        std::smatch match;
        ASSERT_TRUE(std::regex_search(line, match, ranges)) << line;
        EXPECT_EQ(std::stoi(match[1]), stable["threshold"][0].get<int>()) << line;
        EXPECT_EQ(std::stoi(match[2]), stable["threshold"][1].get<int>()) << line;
        EXPECT_EQ(std::stoi(match[3]), stable["bdline"][0].get<int>()) << line;
        EXPECT_EQ(std::stoi(match[4]), stable["bdline"][1].get<int>()) << line;
        EXPECT_EQ(match[5].matched, i == 1) << line;
    }
}

// ---- STRETCH ----

// At STRETCH 1, the default, every sample counts as it did before STRETCH existed: the same
// pass lines and band, whether STRETCH comes from a file without the key or from --stretch 1.
TEST_F(CountCli, StretchOneCountsTheSamplesAsBefore) {
    const struct {
        const char* file;
        std::array<int, 4> passLines;
        std::array<int, 4> band;  // top, bottom, width, height
    } before[] = {
        {"stack_01.jpg", {11, 0, 0, 0}, {65, 512, 764, 447}},
        {"stack_02.jpg", {13, 2, 0, 0}, {57, 528, 764, 471}},
        {"stack_03.jpg", {6, 0, 1, 0}, {113, 480, 764, 367}},
        {"stack_04.jpg", {17, 1, 0, 1}, {33, 536, 764, 503}},
        {"stack_05.jpg", {5, 0, 0, 0}, {161, 448, 764, 287}},
        {"stack_06.jpg", {8, 1, 0, 0}, {65, 424, 636, 359}},
        {"stack_07.jpg", {7, 0, 1, 0}, {49, 360, 1020, 311}},
        {"stack_08.jpg", {11, 2, 0, 1}, {41, 520, 896, 479}},
        {"stack_09.jpg", {20, 1, 0, 0}, {49, 640, 796, 591}},
        {"stack_10.jpg", {11, 1, 1, 0}, {81, 504, 764, 423}},
    };
    for (const std::string& stretch : {std::string(), std::string("--stretch 1 ")}) {
        const ProgramRun run = count(stretch + "--json --settings " +
                                     quoted(kSamples / "Lathmark.ini") + " " + quoted(kSamples));
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<Json> lines = jsonLines(run.out);
        ASSERT_EQ(lines.size(), std::size(before) + 1);
        for (std::size_t i = 0; i < std::size(before); ++i) {
            const Json& band = lines[i]["band"];
            EXPECT_EQ(fs::path(lines[i]["file"]).filename(), before[i].file);
            EXPECT_EQ((lines[i]["passLines"].get<std::array<int, 4>>()), before[i].passLines);
            EXPECT_EQ(
                (std::array<int, 4>{band["top"], band["bottom"], band["width"], band["height"]}),
                before[i].band)
                << before[i].file;
        }
        EXPECT_EQ(lines.back()["stretch"], 1);
    }
}

// The thin set's joints are three rows thick: calibration picks a STRETCH above 1, which counts
// them all right, writes it, and a count with the settings written agrees.
TEST_F(CountCli, CalibrationOnThinJointsPicksAStretchAboveOne) {
    const fs::path thin = kSamples / "thin";
    const fs::path ini = scratch / "thin.ini";
    const ProgramRun run = count("--bdline 40 --threshold 128 --json --calibrate " +
                                 quoted(thin / "truth.tsv") + " --write-settings " + quoted(ini));
    ASSERT_EQ(run.status, 0) << run.err;
    const Json chosen = Json::parse(run.out)["calibration"];
    EXPECT_GT(chosen["stretch"].get<int>(), 1) << chosen;
    EXPECT_EQ(chosen["right"], chosen["photographs"]) << chosen;
    EXPECT_NE(
        readFile(ini).find("\nSTRETCH=" + std::to_string(chosen["stretch"].get<int>()) + "\n"),
        std::string::npos)
        << readFile(ini);
    const ProgramRun recount = count("--json --settings " + quoted(ini) + " " + quoted(thin));
    ASSERT_EQ(recount.status, 0) << recount.err;
    const std::vector<Json> lines = jsonLines(recount.out);
    EXPECT_EQ(lines.back()["book"], 69);  // the boards of thin/truth.tsv
    EXPECT_EQ(lines.back()["stretch"], chosen["stretch"]);
}

// The option names ("-h", "--json") in `text`, each at the start of a word or after a comma.
std::set<std::string> optionNamesIn(const std::string& text) {
    static const std::regex name(R"((^|[\s,])(--?[A-Za-z0-9][A-Za-z0-9_-]*))");
    std::set<std::string> names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), name);
         it != std::sregex_iterator(); ++it)
        names.insert((*it)[2]);
    return names;
}

// The options a CLI11 help text lists: the first column of each line that begins with "-",
// as in "  -h,--help   Print this help message and exit".
std::set<std::string> optionsOfHelp(const std::string& help) {
    std::set<std::string> names;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos || line[start] != '-') continue;
        const std::string column = line.substr(start, line.find(' ', start) - start);
        names.merge(optionNamesIn(column));
    }
    return names;
}

// The options a manual page describes: the tag lines (the line after each ".TP") of its
// OPTIONS section, with roff's font changes and escaped minus signs undone.
std::set<std::string> optionsOfManualPage(const std::string& page) {
    std::set<std::string> names;
    std::istringstream lines(page);
    bool inOptions = false;
    bool tagNext = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(".SH")) {
            inOptions = line == ".SH OPTIONS";
            continue;
        }
        if (!inOptions) continue;
        if (tagNext) {
            line = std::regex_replace(line, std::regex(R"(\\f(\[[^\]]*\]|\(..|.))"), "");
            line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
            names.merge(optionNamesIn(line));
        }
        tagNext = line.starts_with(".TP");
    }
    return names;
}

TEST_F(CountCli, ManualPageDescribesExactlyTheOptionsOfTheHelp) {
    const ProgramRun help = count("--help");
    ASSERT_EQ(help.status, 0) << help.err;
    const std::set<std::string> offered = optionsOfHelp(help.out);
    // A parse that finds nothing would pass against any page.
    ASSERT_TRUE(offered.contains("--help") && offered.contains("--json")) << help.out;

    const fs::path page = fs::path(LATHMARK_SOURCE_DIR) / "cli" / "lathmark-count.1";
    const std::set<std::string> described = optionsOfManualPage(readFile(page));
    for (const std::string& option : offered)
        EXPECT_TRUE(described.contains(option))
            << option << " is in lathmark-count --help but has no .TP entry under OPTIONS in "
            << page.string();
    for (const std::string& option : described)
        EXPECT_TRUE(offered.contains(option))
            << page.string() << " describes " << option << ", which lathmark-count --help lacks";
}

}  // namespace
