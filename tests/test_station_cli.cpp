// End-to-end tests of lathmark-count at a counting station: counting within a region (--region,
// REGION), the search for it (--find-region) and the settings it writes, the leave-one-out figure,
// and the second opinion (--thickness, --strict and what each output says of it).

#include <string>
#include <vector>

#include "engine/csv.h"
#include "tests/support/programs.h"
#include "tools/samplegen.h"

namespace lathmark {
namespace {

using test::jsonLines;
using test::ProgramRun;
using Json = nlohmann::json;

class StationCli : public test::CounterTest {};

const std::filesystem::path kSamples = test::samplesFolder();

TEST_F(StationCli, RegionOptionsAndTheirErrors) {
    const std::string photo = quoted(kSamples / "stack_01.jpg");
    const std::string settings =
        quoted(write("region.ini", "BDLINE=40\nTHRESHOLD=128\nREGION=400x576+300+0\n"));
    struct Case {
        std::string arguments;
        int status;
        std::string region;  // of the JSON line, "" for none; or a part of standard error
    };
    const Case cases[] = {
        {"--settings " + settings + " --json " + photo, 0, "400x576+300+0"},
        {"--settings " + settings + " --region full --json " + photo, 0, ""},
        {"--settings " + settings + " --region 200x100+10+20 --json " + photo, 0, "200x100+10+20"},
        {"--bdline 40 --threshold 128 --region 769x576+0+0 --json " + photo, 1,
         "the region 769x576+0+0 does not fit this photograph of 768 × 576"},
        {"--bdline 40 --threshold 128 --region 800x600 " + photo, 2, "is not of the form"},
        {"--bdline 40 --threshold 128 --region 0x5+0+0 " + photo, 2, "at least 1"},
        {"--bdline 40 --threshold 128 --thickness -3 " + photo, 2, "is negative"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = count(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.err;
        if (c.status == 2) {
            EXPECT_NE(run.err.find(c.region), std::string::npos) << run.err;
            EXPECT_EQ(run.out, "");
            continue;
        }
        const std::vector<Json> lines = jsonLines(run.out);
        ASSERT_EQ(lines.size(), 2u) << run.out;
        if (c.status == 1) {
            EXPECT_NE(lines[0].value("error", "").find(c.region), std::string::npos) << run.out;
            continue;
        }
        const Json& book = lines.back();
        EXPECT_EQ(book.value("region", ""), c.region);
        EXPECT_EQ(lines[0].contains("region"), !c.region.empty());
        if (!c.region.empty()) {
            EXPECT_EQ(lines[0]["region"]["width"].get<int>(), std::stoi(c.region));
        }
    }
}

// The second opinion in every output, and --strict: at a THICKNESS that gives stack_01.jpg (12
// boards, band 447 rows) 11.97 boards the count is sure; at one that gives 14.9 it is not.
TEST_F(StationCli, SecondOpinionInEveryOutputAndStrict) {
    const std::string photo = quoted(kSamples / "stack_01.jpg");
    for (const auto& [thickness, byThickness, agrees] :
         {std::tuple{"37.33", "11.97", true}, std::tuple{"30", "14.90", false}}) {
        const std::string settings =
            "--bdline 40 --threshold 128 --thickness " + std::string(thickness) + " ";
        const ProgramRun text = count(settings + "--strict " + photo);
        const ProgramRun json = count(settings + "--json " + photo);
        const ProgramRun csv = count(settings + "--csv " + photo);
        EXPECT_EQ(text.status, agrees ? 0 : 3) << text.err;
        EXPECT_EQ(json.status, 0);
        EXPECT_NE(text.out.find("; by thickness " + std::string(byThickness) + " boards" +
                                (agrees ? "\n" : ", uncertain\n")),
                  std::string::npos)
            << text.out;
        EXPECT_NE(text.out.find(agrees ? "photographs\n" : "photographs (1 uncertain)\n"),
                  std::string::npos)
            << text.out;
        const std::vector<Json> lines = jsonLines(json.out);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0]["thickness"]["boards"].get<double>(), std::stod(byThickness));
        EXPECT_EQ(lines[0]["thickness"]["agrees"].get<bool>(), agrees);
        EXPECT_EQ(lines[0]["uncertain"].get<bool>(), !agrees);
        EXPECT_EQ(lines[0].contains("uncertainWhy"), !agrees);
        EXPECT_EQ(lines[1]["uncertain"].get<int>(), agrees ? 0 : 1);
        EXPECT_EQ(lines[1]["thickness"].get<double>(), std::stod(thickness));
        // CSV's by_thickness, uncertain and uncertain_why say what JSON says.
        const std::string why = agrees ? "" : lines[0]["uncertainWhy"].get<std::string>();
        EXPECT_NE(csv.out.find(std::string(",") + byThickness +
                               (agrees ? ",false,,,\r\n" : ",true," + csvField(why) + ",,\r\n")),
                  std::string::npos)
            << csv.out;
    }
    // No THICKNESS: no thickness count, the verdict still there; a failure gives 1 with --strict.
    const ProgramRun plain = count("--bdline 40 --threshold 128 --json " + photo);
    EXPECT_FALSE(jsonLines(plain.out)[0].contains("thickness"));
    EXPECT_FALSE(jsonLines(plain.out)[0]["uncertain"].get<bool>());
    EXPECT_EQ(count("--bdline 40 --threshold 128 --strict " + photo + " " +
                    quoted(scratch() / "gone.jpg"))
                  .status,
              1);
}

// A set of station photographs: the committed ones, or under the sanitizers (where the search
// runs several times slower) six small ones drawn here.
std::filesystem::path stationSet(const std::filesystem::path& scratch) {
#if defined(__SANITIZE_ADDRESS__)
    const std::filesystem::path folder = scratch / "station";
    std::filesystem::create_directories(folder);
    std::string truth = "file\tboards\n";
    const int boards[] = {4, 7, 9, 6, 5, 8};
    for (int i = 0; i < 6; ++i) {
        samplegen::StationPlan plan;
        plan.width = 384;
        plan.height = 288;
        plan.tableRows = 36;
        plan.boardRows = 20;
        plan.boards = boards[i];
        plan.stackShare = 0.38 + 0.04 * i;
        plan.shift = 0.06 - 0.025 * i;
        const auto seed = static_cast<std::uint32_t>(900 + i);
        const auto dib = samplegen::renderStation(samplegen::planStation(plan, seed), seed);
        const std::string name = "s" + std::to_string(i) + ".jpg";
        samplegen::saveJpeg(dib.get(), (folder / name).string());
        truth += name + "\t" + std::to_string(boards[i]) + "\n";
    }
    test::writeBytes(folder / "truth.tsv", truth);
    return folder;
#else
    (void)scratch;
    return kSamples / "station";
#endif
}

// The search for the region finds one every stack fills, and its settings, written out and read
// back, count every photograph right.
TEST_F(StationCli, FindRegionFindsARegionWhoseSettingsCountAllRight) {
    const std::filesystem::path set = stationSet(scratch());
    const std::filesystem::path written = scratch() / "station.ini";
    const ProgramRun calibration =
        count("--bdline 40 --threshold 128 --jobs 2 --json --calibrate " +
              quoted(set / "truth.tsv") + " --find-region --write-settings " + quoted(written));
    ASSERT_EQ(calibration.status, 0) << calibration.err;
    const Json chosen = jsonLines(calibration.out).at(0)["calibration"];
    const std::map<std::string, int> truth = test::boardsOfTable(set / "truth.tsv");
    const int photographs = static_cast<int>(truth.size());
    EXPECT_EQ(chosen["right"].get<int>(), photographs);
    EXPECT_EQ(chosen["leaveOneOut"]["right"].get<int>(), photographs);
    ASSERT_TRUE(chosen.contains("region")) << calibration.out;
    const std::string settings = test::readBytes(written);
    EXPECT_TRUE(settings.starts_with("# Written by lathmark-count --calibrate")) << settings;
    EXPECT_NE(
        settings.find("\nREGION=" + std::to_string(chosen["region"]["width"].get<int>()) + "x"),
        std::string::npos)
        << settings;

    std::string photos;
    for (const auto& [file, boards] : truth) photos += " " + quoted(set / file);
    const ProgramRun counted = count("--settings " + quoted(written) + " --json" + photos);
    ASSERT_EQ(counted.status, 0) << counted.err;
    for (const Json& line : jsonLines(counted.out)) {
        if (!line.contains("file")) continue;
        const std::string name =
            std::filesystem::path(line["file"].get<std::string>()).filename().string();
        EXPECT_EQ(line["boards"].get<int>(), truth.at(name)) << line.dump();
    }
}

// A TRUTH with one wrong count: chosen without that photograph, the settings count it wrong, so
// the leave-one-out figure is 2 of 3 and the choice is called weak. Boards of three different
// stacks differ in thickness: no THICKNESS is written, and the warning says why.
TEST_F(StationCli, LeaveOneOutFindsTheWrongTruth) {
    for (const char* name : {"stack_01.jpg", "stack_03.jpg", "stack_05.jpg"})
        std::filesystem::copy_file(kSamples / name, scratch() / name);
    const std::filesystem::path truth =
        write("truth.tsv", "file\tboards\nstack_01.jpg\t12\nstack_03.jpg\t9\nstack_05.jpg\t6\n");
    const std::filesystem::path written = scratch() / "written.ini";
    const ProgramRun run = count("--bdline 40 --threshold 128 --calibrate " + quoted(truth) +
                                 " --write-settings " + quoted(written));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("counted right in 2 of 3 cases"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("The choice is weak:"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("warning: the choice is weak"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("gets no THICKNESS: the boards of these photographs vary too much"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(test::readBytes(written).find("THICKNESS="), std::string::npos);
}

}  // namespace
}  // namespace lathmark
