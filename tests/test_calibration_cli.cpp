// End-to-end tests of lathmark-count finding settings: calibration against a table of true
// counts or a station's journal, the ranges over which each count stays the same, and the
// STRETCH that thin joints need.

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <random>
#include <regex>
#include <sstream>

#include "engine/csv.h"
#include "engine/journal.h"
#include "engine/preparation.h"
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

// The bundled settings miscount the dim set; calibration finds settings that count it all right,
// writes them as a settings file that counts it all right, and draws them.
TEST_F(CountCli, CalibrationFindsSettingsThatCountTheDimSetRight) {
    const fs::path ini = scratch() / "found.ini";
    const fs::path svg = scratch() / "landscape.svg";
    // A station's window setting in the settings in effect is kept in the file written.
    const fs::path current = write("current.ini", "BDLINE=40\nTHRESHOLD=128\nWATCH=1\n");
    const ProgramRun run = count("--settings " + quoted(current) + " --json --calibrate " +
                                 quoted(kDim / "truth.tsv") + " --write-settings " + quoted(ini) +
                                 " --landscape " + quoted(svg));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(lathmark::test::readBytes(ini).find("\nWATCH=1\n"), std::string::npos);
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
    const auto truth = lathmark::test::boardsOfTable(kDim / "truth.tsv");
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
                scratch() / "xmllint.txt")
                .out;
        while (!value.empty() && value.back() == '\n') value.pop_back();
        return value;
    };
    ASSERT_EQ(
        lathmark::test::runProgram("xmllint --noout " + quoted(svg), scratch() / "x.txt").status,
        0);
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
    fs::copy_file(kDim / "dim_01.jpg", scratch() / "dim_01.jpg");
    fs::copy_file(kDim / "dim_02.jpg", scratch() / "dim_02.jpg");
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

// A station's journal: 40 photographs counted at settings pushed off, which count a few wrong,
// and the operator's corrections of those. With its other counts taken as true, calibration finds
// settings that count all 40 right, and writes them with a header that names the journal; without,
// it learns from the corrected photographs alone, and says which one it left out as gone.
TEST_F(CountCli, CalibrationOnAJournalOfCorrections) {
    // Forty photographs of a station's camera (half its size, to keep the test quick), each
    // stack with its own number of plates, width and place on the table.
    std::map<std::string, int> truth;
    std::mt19937 random(31);
    const auto uniform = [&](double low, double high) {
        return low + (high - low) * (static_cast<double>(random()) / 4294967296.0);
    };
    for (int i = 0; i < 40; ++i) {
        lathmark::samplegen::StationPlan plan;
        plan.width = 512;
        plan.height = 384;
        plan.tableRows = 48;
        plan.boardRows = 12;
        plan.jointRows = 3;
        plan.boards = 4 + static_cast<int>(random() % 17);
        plan.stackShare = uniform(0.35, 0.6);
        plan.shift = uniform(-0.08, 0.08);
        const auto seed = 31'000u + static_cast<std::uint32_t>(i);
        const auto dib = renderStation(planStation(plan, seed), seed);
        const std::string name = "s" + std::to_string(10 + i) + ".jpg";
        lathmark::samplegen::saveJpeg(dib.get(), (scratch() / name).string());
        truth[name] = plan.boards;
    }
    // The station's settings with THRESHOLD pushed off: six of them are counted wrong.
    const std::string pushedOff = "--bdline 14 --stretch 2 --region 64x384+208+0 --threshold 187 ";
    const ProgramRun counted = count(pushedOff + "--json " + quoted(scratch()));
    ASSERT_EQ(counted.status, 0) << counted.err;

    lathmark::StationBook book;
    std::string journal =
        lathmark::journalHeader() +
        lathmark::journalLine(book.settings(lathmark::kWindowProgram, "THRESHOLD=170"));
    std::vector<std::string> corrected;
    for (const Json& line : jsonLines(counted.out)) {
        if (!line.contains("file")) continue;
        const fs::path photograph = line["file"].get<std::string>();
        const int boards = truth.at(photograph.filename().string());
        journal += lathmark::journalLine(
            book.counted({photograph.filename().string(), line["boards"].get<int>(),
                          lathmark::readJpegFile(photograph).value.digest},
                         std::nullopt));
        if (line["boards"] == boards) continue;
        corrected.push_back(photograph.string());
        journal += lathmark::journalLine(
            *book.check({lathmark::JournalEvent::Correct, boards, "", "ida"}));
    }
    ASSERT_EQ(corrected.size(), 6u) << "the settings pushed off count another number wrong";
    const fs::path journalFile = write("Lathmark-journal.csv", journal);

    const fs::path ini = scratch() / "learnt.ini";
    const ProgramRun run = count(pushedOff + "--json --calibrate " + quoted(journalFile) +
                                 " --trust-counts --write-settings " + quoted(ini));
    ASSERT_EQ(run.status, 0) << run.err;
    const Json chosen = Json::parse(run.out)["calibration"];
    EXPECT_EQ(chosen["right"], 40);
    EXPECT_EQ(chosen["photographs"], 40);
    EXPECT_EQ(chosen["leaveOneOut"]["of"], 40);
    EXPECT_EQ(chosen["leaveOneOut"]["right"], 40);
    EXPECT_TRUE(readBytes(ini).starts_with("# Written by lathmark-count --calibrate " +
                                           journalFile.string() + " --trust-counts on "))
        << readBytes(ini);
    const ProgramRun recount = count("--json --settings " + quoted(ini) + " " + quoted(scratch()));
    ASSERT_EQ(recount.status, 0) << recount.err;
    for (const Json& line : jsonLines(recount.out)) {
        if (!line.contains("file")) continue;
        EXPECT_EQ(line["boards"],
                  truth.at(fs::path(line["file"].get<std::string>()).filename().string()))
            << line;
    }

    fs::remove(corrected[0]);
    const ProgramRun corrections = count(pushedOff + "--json --calibrate " + quoted(journalFile));
    ASSERT_EQ(corrections.status, 0) << corrections.err;
    EXPECT_EQ(Json::parse(corrections.out)["calibration"]["photographs"], corrected.size() - 1);
    EXPECT_NE(corrections.err.find(corrected[0] + ": is gone; left out"), std::string::npos)
        << corrections.err;
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
    const fs::path ini = scratch() / "thin.ini";
    const ProgramRun run = count("--bdline 40 --threshold 128 --json --calibrate " +
                                 quoted(thin / "truth.tsv") + " --write-settings " + quoted(ini));
    ASSERT_EQ(run.status, 0) << run.err;
    const Json chosen = Json::parse(run.out)["calibration"];
    EXPECT_GT(chosen["stretch"].get<int>(), 1) << chosen;
    EXPECT_EQ(chosen["right"], chosen["photographs"]) << chosen;
    EXPECT_NE(
        readBytes(ini).find("\nSTRETCH=" + std::to_string(chosen["stretch"].get<int>()) + "\n"),
        std::string::npos)
        << readBytes(ini);
    const ProgramRun recount = count("--json --settings " + quoted(ini) + " " + quoted(thin));
    ASSERT_EQ(recount.status, 0) << recount.err;
    const std::vector<Json> lines = jsonLines(recount.out);
    EXPECT_EQ(lines.back()["book"], 69);  // the boards of thin/truth.tsv
    EXPECT_EQ(lines.back()["stretch"], chosen["stretch"]);
}

// Hand-held photographs: with ANGLE=auto and REGION=auto in effect, calibration also counts each
// photograph along its slope and within its stack found, chooses that way of counting where it
// counts more right, and writes it; a count with the settings written agrees, and no wrong
// count of it is sure.
TEST_F(CountCli, CalibrationOnTheYardChoosesTheStackFoundAlongItsSlope) {
    const fs::path yard = kSamples / "yard";
    const fs::path truth = write(
        "yard.tsv", "file\tboards\n" + [&] {
            std::string rows;
            for (const auto& [file, boards] :
                 std::vector<std::pair<std::string, int>>{{"yard_01.jpg", 48},
                                                          {"yard_04.jpg", 34},
                                                          {"yard_06.jpg", 34},
                                                          {"yard_08.jpg", 21},
                                                          {"yard_10.jpg", 52},
                                                          {"yard_12.jpg", 52}})
                rows += (yard / file).string() + "\t" + std::to_string(boards) + "\n";
            return rows;
        }());
    const fs::path ini = scratch() / "yard.ini";
    const ProgramRun run =
        count("--bdline 40 --threshold 128 --angle auto --region auto --json --calibrate " +
              quoted(truth) + " --write-settings " + quoted(ini));
    ASSERT_EQ(run.status, 0) << run.err;
    const Json chosen = Json::parse(run.out)["calibration"];
    EXPECT_EQ(chosen["angle"], "auto") << chosen;
    EXPECT_EQ(chosen["region"], "auto") << chosen;
    EXPECT_GE(chosen["right"].get<int>(), 5) << chosen;
    const std::string written = readBytes(ini);
    EXPECT_NE(written.find("\nANGLE=auto\n"), std::string::npos) << written;
    EXPECT_NE(written.find("\nREGION=auto\n"), std::string::npos) << written;
    const ProgramRun recount = count("--csv --settings " + quoted(ini) + " " + quoted(yard));
    std::vector<lathmark::CsvRecord> rows;
    int badLine = 0;
    ASSERT_TRUE(lathmark::parseCsv(recount.out, rows, badLine)) << recount.out;
    const std::map<std::string, int> truthOf = {
        {"yard_01.jpg", 48}, {"yard_02.jpg", 48}, {"yard_03.jpg", 48}, {"yard_04.jpg", 34},
        {"yard_05.jpg", 34}, {"yard_06.jpg", 34}, {"yard_07.jpg", 21}, {"yard_08.jpg", 21},
        {"yard_09.jpg", 21}, {"yard_10.jpg", 52}, {"yard_11.jpg", 52}, {"yard_12.jpg", 52}};
    ASSERT_EQ(rows.size(), 13u) << recount.out;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const std::vector<std::string>& row = rows[i].fields;
        const std::string file = fs::path(row[0]).filename().string();
        if (row[1] != std::to_string(truthOf.at(file))) {
            EXPECT_EQ(row[14], "true") << file << " counted " << row[1] << " and sure";
        }
    }
}

}  // namespace
