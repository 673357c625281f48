// End-to-end tests of lathmark-count: the real executable over the committed samples, its counts
// and output, its errors, where its settings come from, its result images and its manual page.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <set>
#include <sstream>

#include "engine/counting.h"
#include "engine/csv.h"
#include "engine/report.h"
#include "tests/support/programs.h"
#include "tools/samplegen.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using lathmark::test::jsonLines;
using lathmark::test::ProgramRun;
using lathmark::test::readBytes;

const fs::path kSamples = lathmark::test::samplesFolder();
const fs::path kDim = kSamples / "dim";  // one kind of stack that the bundled settings miscount

using CountCli = lathmark::test::CounterTest;

// file name -> true board count, from the samples' manifest.
std::map<std::string, int> manifest() {
    return lathmark::test::boardsOfTable(kSamples / "manifest.tsv");
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
    const ProgramRun run =
        count("--json " + quoted(notJpeg) + " " + quoted(scratch() / "gone.jpg") + " " +
              quoted(scratch()) + " " + quoted(sample));
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

    const ProgramRun text = count(quoted(scratch() / "gone.jpg"));
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.err.find(scratch().string() + "/gone.jpg: the file does not exist"),
              std::string::npos)
        << text.err;
    EXPECT_EQ(text.out, "Book: 0 boards in 0 photographs\n");
}

TEST_F(CountCli, APipeNamedLikeAPhotographIsRefusedWithoutWaitingOnIt) {
    const fs::path pipe = scratch() / "pipe.jpg";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // In a folder, the pipe is an entry that cannot be counted; named outright, the same.
    const ProgramRun listed = count("--json " + quoted(scratch()));
    EXPECT_EQ(listed.status, 1);
    ASSERT_EQ(jsonLines(listed.out).size(), 2u);
    EXPECT_NE(jsonLines(listed.out)[0].value("error", "").find("is not a regular file"),
              std::string::npos)
        << listed.out;
    const ProgramRun named = count(quoted(pipe));
    EXPECT_EQ(named.status, 1);
    EXPECT_NE(named.err.find("pipe.jpg: is not a regular file"), std::string::npos) << named.err;
}

TEST_F(CountCli, UsageAndSettingsErrorsCountNothing) {
    const std::string photo = quoted(kSamples / manifest().begin()->first);
    const std::string copy = quoted(write("copy.jpg", readBytes(kSamples / "stack_01.jpg")));
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
        {"--settings " + quoted(scratch() / "absent.ini") + " " + photo, "absent.ini"},
        {"--landscape " + quoted(scratch() / "l.svg") + " " + photo, "--calibrate"},
        {"--write-settings " + quoted(scratch() / "w.ini") + " " + photo, "--calibrate"},
        {"--calibrate " + quoted(kDim / "truth.tsv") + " " + photo, "photographs"},
        {"--stability --calibrate " + quoted(kDim / "truth.tsv"), "--stability"},
        {"--stretch 5 " + photo, "--stretch"},
        {"--angle 10.5 " + photo, "ANGLE \"10.5\" is steeper than 10 degrees"},
        {"--angle level " + photo, "ANGLE \"level\" is not a slope"},
        {"--csv --json " + photo, "--csv"},
        {"--csv --calibrate " + quoted(kDim / "truth.tsv"), "--csv"},
        {"--report " + quoted(scratch() / "r.html") + " --calibrate " + quoted(kDim / "truth.tsv"),
         "--report"},
        {"--report " + copy + " " + quoted(scratch()), "would replace the photograph"},
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

    // With both values given, no file is needed beside the executable; a file named by
    // --settings must be there.
    const ProgramRun named = count("--json --settings " + quoted(scratch() / "absent.ini") +
                                   " --bdline 40 --threshold 128 " + photo);
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_NE(named.err.find("absent.ini: cannot be opened"), std::string::npos) << named.err;
    EXPECT_EQ(jsonLines(named.out).back()["uncertain"], 1) << named.out;
}

// A settings file with a mistake: what can be read is used, every count made with it is
// uncertain with the file and line as the reason (exit 3 with --strict), and an option replaces
// its own key only, the file's other keys kept; a value no count can run with refuses each
// photograph.
TEST_F(CountCli, ASettingsMistakeFlagsEveryCountUntilAnOptionReplacesItsKey) {
    const std::string photo = quoted(kSamples / "stack_01.jpg");
    const std::string region = "REGION=700x576+0+0\n";
    struct Case {
        std::string file;
        std::string options;
        int status;
        std::string why;  // in uncertain_why; empty for a sure count
    };
    const std::vector<Case> cases = {
        {"BDLINE=40\nTRESHOLD=128\n" + region, "", 3, "m.ini:2: \"TRESHOLD\" is not a"},
        {"BDLINE=40\nTHRESHOLD=abc\n" + region, "", 3, "m.ini:2: THRESHOLD value"},
        {"BDLINE=40\nTHRESHOLD=128\nTHICKNESS=-5\n", "", 3, "m.ini:3: THICKNESS"},
        {"BDLINE=40\nTHRESHOLD=128\nTHICKNESS=0.004\n", "", 3, "m.ini:3: THICKNESS"},
        {"BDLINE=40\nTRESHOLD=128\n" + region, "--threshold 128", 0, ""},
        {"BDLINE=40\nTHRESHOLD=abc\n" + region, "--bdline 40 --threshold 128", 0, ""},
        {"BDLINE=40\nTHRESHOLD=abc\n" + region, "--bdline 40", 3, "m.ini:2"},
        {"BDLINE=40\nTHRESHOLD=128\nTHICKNESS=-5\n", "--thickness 0", 0, ""},
        {"BDLINE=40\nTHRESHOLD=128\nANGLE=12\n", "", 3, "m.ini:3: ANGLE \"12\" is steeper"},
        {"BDLINE=40\nTHRESHOLD=128\nANGLE=level\n", "--angle 0", 0, ""},
        {"BDLINE=40\nTHRESHOLD=250\n", "", 1, ""},
        {"BDLINE=40\nTHRESHOLD=128\nSTRETCH=9\n", "", 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + c.options);
        const std::string ini = quoted(write("m.ini", c.file));
        const ProgramRun run =
            count("--strict --csv --settings " + ini + " " + c.options + " " + photo);
        EXPECT_EQ(run.status, c.status) << run.err;
        std::vector<lathmark::CsvRecord> rows;
        int badLine = 0;
        ASSERT_TRUE(lathmark::parseCsv(run.out, rows, badLine)) << run.out;
        ASSERT_EQ(rows.size(), 2u) << run.out;
        const auto column = [&](const std::string& name) {
            const auto& names = rows[0].fields;
            const auto at = std::find(names.begin(), names.end(), name) - names.begin();
            return rows[1].fields.at(static_cast<std::size_t>(at));
        };
        if (c.status == 1) {
            EXPECT_NE(run.err.find("m.ini:"), std::string::npos) << run.err;
            continue;
        }
        EXPECT_EQ(column("uncertain"), c.status == 3 ? "true" : "false");
        const std::string why = column("uncertain_why");
        if (c.status == 3) {
            EXPECT_EQ(why.find("the settings file has a mistake: "), 0u) << why;
            EXPECT_NE(why.find(c.why), std::string::npos) << why;
        }
        if (c.file.find("REGION") != std::string::npos) {
            EXPECT_EQ(column("band_width"), "696");
        }
        if (c.status == 3) {
            EXPECT_NE(run.err.find("an option replaces that one key, and the file's other keys "
                                   "are still used"),
                      std::string::npos)
                << run.err;
        }
    }
}

// Along a slope, each output says the slope and the stack's rhythm: a hand-held photograph
// counted without its stack's region found, whose count the rhythm does not agree with.
TEST_F(CountCli, AlongASlopeEveryOutputSaysTheSlopeAndTheRhythm) {
    const std::string photo = quoted(kSamples / "yard" / "yard_05.jpg");
    for (const std::string angle : {"1.8", "auto"}) {
        SCOPED_TRACE(angle);
        const std::string options = "--bdline 40 --threshold 128 --angle " + angle + " ";
        const ProgramRun text = count(options + photo);
        const ProgramRun json = count(options + "--json " + photo);
        const ProgramRun csv = count(options + "--csv " + photo);
        const Json line = jsonLines(json.out).at(0);
        EXPECT_EQ(line["angle"].get<double>(), 1.8);
        const Json& rhythm = line["rhythm"];
        EXPECT_NEAR(rhythm["thickness"].get<double>(), 7, 0.1);
        EXPECT_FALSE(rhythm["agrees"].get<bool>());
        EXPECT_TRUE(line["uncertain"].get<bool>());
        EXPECT_NE(line["uncertainWhy"].get<std::string>().find("the stack's rhythm gives "),
                  std::string::npos);
        char boards[32];
        std::snprintf(boards, sizeof boards, "%.1f", rhythm["boards"].get<double>());
        EXPECT_NE(text.out.find(", along 1.8°; by rhythm " + std::string(boards) + " boards"),
                  std::string::npos)
            << text.out;
        std::vector<lathmark::CsvRecord> rows;
        int badLine = 0;
        ASSERT_TRUE(lathmark::parseCsv(csv.out, rows, badLine)) << csv.out;
        const std::vector<std::string>& names = rows.at(0).fields;
        ASSERT_GE(names.size(), 2u);
        EXPECT_EQ(names[names.size() - 2], "angle");
        EXPECT_EQ(names.back(), "by_rhythm");
        EXPECT_EQ(rows.at(1).fields[names.size() - 2], "1.8");
        EXPECT_EQ(std::stod(rows.at(1).fields.back()), rhythm["boards"].get<double>());
    }
    const Json level = jsonLines(count("--bdline 40 --threshold 128 --json " + photo).out).at(0);
    EXPECT_FALSE(level.contains("angle") || level.contains("rhythm")) << level;
    // With the stack found in the photograph, its region is reported and the count agrees
    // with its rhythm.
    const Json found = jsonLines(count("--bdline 60 --threshold 110 --stretch 3 --angle auto "
                                       "--region auto --json " +
                                       quoted(kSamples / "yard" / "yard_01.jpg"))
                                     .out)
                           .at(0);
    EXPECT_EQ(found["boards"], 48) << found;
    EXPECT_TRUE(found["rhythm"]["agrees"].get<bool>()) << found;
    EXPECT_FALSE(found["uncertain"].get<bool>()) << found;
    EXPECT_GT(found["region"]["top"].get<int>(), 400) << found;
}

TEST_F(CountCli, MarkedImagesAreWhatTheEngineWrites) {
    const auto expected = manifest();
    const ProgramRun run =
        count("--jobs 2 --marked " + quoted(scratch() / "marked") + " " + quoted(kSamples));
    ASSERT_EQ(run.status, 0) << run.err;
    for (const auto& [name, boards] : expected) {
        const fs::path photo = kSamples / name;
        const fs::path marked = scratch() / "marked" / fs::path(name).replace_extension(".bmp");
        ASSERT_TRUE(fs::exists(marked)) << marked;
        lathmark::CountResult result =
            lathmark::countBoards(photo, {.threshold = 128, .bdLine = 40});
        ASSERT_TRUE(result.ok());
        const fs::path reference = scratch() / "reference.bmp";
        ASSERT_FALSE(lathmark::writeBmp(result.marked.get(), reference).has_value());
        EXPECT_EQ(readBytes(marked), readBytes(reference)) << name;
    }
}

TEST_F(CountCli, PhotographsThatWouldShareAResultImageAreRefusedUpFront) {
    const std::string name = manifest().begin()->first;
    fs::create_directories(scratch() / "a");
    fs::create_directories(scratch() / "b");
    fs::copy_file(kSamples / name, scratch() / "a" / name);
    fs::copy_file(kSamples / name, scratch() / "b" / name);
    const std::string marked = " --marked " + quoted(scratch() / "marked") + " ";

    const ProgramRun clash =
        count("--jobs 2" + marked + quoted(scratch() / "a") + " " + quoted(scratch() / "b" / name));
    EXPECT_EQ(clash.status, 2);
    EXPECT_EQ(clash.out, "");
    EXPECT_NE(clash.err.find((scratch() / "a" / name).string() + " and " +
                             (scratch() / "b" / name).string() + " would both write"),
              std::string::npos)
        << clash.err;
    EXPECT_FALSE(fs::exists(scratch() / "marked" / fs::path(name).replace_extension(".bmp")));

    // The same photograph named twice, or without --marked, is counted as asked.
    const ProgramRun twice = count("--jobs 2" + marked + quoted(scratch() / "a" / name) + " " +
                                   quoted(scratch() / "a" / "." / name));
    EXPECT_EQ(twice.status, 0) << twice.err;
    const ProgramRun unmarked = count(quoted(scratch() / "a") + " " + quoted(scratch() / "b"));
    EXPECT_EQ(unmarked.status, 0) << unmarked.err;
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
    const std::set<std::string> described = optionsOfManualPage(readBytes(page));
    for (const std::string& option : offered)
        EXPECT_TRUE(described.contains(option))
            << option << " is in lathmark-count --help but has no .TP entry under OPTIONS in "
            << page.string();
    for (const std::string& option : described)
        EXPECT_TRUE(offered.contains(option))
            << page.string() << " describes " << option << ", which lathmark-count --help lacks";
}

// Photographs made to fool the rules: a stack turned by 2 degrees, a grey ground, and settings far
// from those of the photographs. Whatever the count comes to, a wrong one is never given as
// sure: the self-check flags it (or the photograph is refused).
TEST_F(CountCli, TheSelfCheckFlagsEveryWrongCountOfPhotographsMadeToFoolTheRules) {
    struct Made {
        std::string name;
        int boards;
        std::string settings;
    };
    std::vector<Made> made;
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        lathmark::samplegen::StackPlan plan;
        plan.boards = 8 + static_cast<int>(seed) * 3;
        const std::string boards = std::to_string(plan.boards);
        lathmark::samplegen::StackPhoto turned = lathmark::samplegen::planStack(plan, seed);
        for (auto& joint : turned.joints) joint.tilt = plan.width * std::tan(2.0 * M_PI / 180);
        lathmark::samplegen::StackPhoto grey = lathmark::samplegen::planStack(plan, seed);
        grey.floorGrey = 120 + 10 * seed;
        grey.wallGrey = 150 - 5 * seed;
        const lathmark::samplegen::StackPhoto plain = lathmark::samplegen::planStack(plan, seed);
        const std::pair<const char*, const lathmark::samplegen::StackPhoto*> kinds[] = {
            {"turned", &turned}, {"grey", &grey}, {"plain", &plain}};
        for (const auto& [kind, photo] : kinds) {
            const std::string name = std::string(kind) + std::to_string(seed) + ".jpg";
            lathmark::samplegen::saveJpeg(lathmark::samplegen::renderStack(*photo, seed).get(),
                                          (scratch() / name).string());
            if (std::string(kind) != "plain") {
                made.push_back({name, plan.boards, "--bdline 40 --threshold 128"});
                continue;
            }
            for (const char* off : {"--bdline 40 --threshold 60", "--bdline 40 --threshold 200",
                                    "--bdline 3 --threshold 128", "--bdline 400 --threshold 128"})
                made.push_back({name, plan.boards, off});
        }
    }
    int wrong = 0;
    for (const Made& m : made) {
        const ProgramRun run = count("--json " + m.settings + " " + quoted(scratch() / m.name));
        const auto line = jsonLines(run.out).front();
        if (line.contains("error")) continue;
        if (line["boards"] == m.boards) continue;
        ++wrong;
        EXPECT_EQ(line["uncertain"], true) << m.name << " " << m.settings << ": " << line.dump();
    }
    EXPECT_GT(wrong, static_cast<int>(made.size()) / 2);
}

}  // namespace
