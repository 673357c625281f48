// Tests of the settings file's warnings: what makes a file likely not to say what was meant,
// though the reading rules skip it without a problem, and how the batch counter says it and goes
// on counting.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/settings_file.h"
#include "tests/support/files.h"
#include "tests/support/programs.h"

namespace lathmark {
namespace {

namespace fs = std::filesystem;

const std::string kFile = "/cfg/Lathmark.ini";

struct WarningCase {
    const char* name;
    std::string text;
    std::vector<std::string> warnings;  // each starts with the file's name and this
};

void PrintTo(const WarningCase& c, std::ostream* out) {
    *out << c.name;
}

class Warnings : public testing::TestWithParam<WarningCase> {};

TEST_P(Warnings, NameTheFileTheLineAndWhatIsLikelyMeant) {
    const WarningCase& c = GetParam();
    const SettingsRead read = parseSettings(c.text, kFile);
    ASSERT_EQ(read.warnings.size(), c.warnings.size()) << testing::PrintToString(read.warnings);
    for (std::size_t i = 0; i < c.warnings.size(); ++i)
        EXPECT_TRUE(read.warnings[i].starts_with(kFile + c.warnings[i])) << read.warnings[i];
}

const std::string kUtf16 = std::string(
    "\xFF\xFE"
    "B\0D\0=\0"
    "4\0\n\0",
    12);

// clang-format off
const WarningCase kWarningCases[] = {
    {"BothKeys", "BDLINE=40\nTHRESHOLD=128\n", {}},
    {"Misspelt", "TRESHOLD=128\nBDLINE=40\n",
     {":1: \"TRESHOLD\" is not a setting, so the line is skipped; did you mean THRESHOLD?",
      ": no line sets THRESHOLD, so it is 0"}},
    {"MisspeltLowerCase", "BDLINE=40\nthreshold=1\nstrech=2\n",
     {":3: \"strech\" is not a setting, so the line is skipped; did you mean STRETCH?"}},
    {"BlanksAroundTheKey", "BDLINE = 40\nTHRESHOLD=1\n",
     {":1: \"BDLINE \" is not a setting (blanks around a key", ": no line sets BDLINE, so it is 0"}},
    {"CommentsAndOtherKeys", "# THRESHOLD=90 for the old camera\n#TRESHOLD=1\nNOTE=x\n"
     "BDLINE=40\nTHRESHOLD=1\n", {}},
    {"ARefusedValueStillNamesTheKey", "BDLINE=many\nTHRESHOLD=1\n", {}},
    {"Empty", "", {": no line sets BDLINE, so it is 0", ": no line sets THRESHOLD, so it is 0"}},
    {"Utf16", kUtf16,
     {": the file begins with a UTF-16 byte-order mark, so it is not single-byte text",
      ": no line sets BDLINE", ": no line sets THRESHOLD"}},
    {"NulByte", std::string("BDLINE=40\nT\0HRESHOLD=1\n", 23),
     {":2: the line holds a NUL byte, so the file is not single-byte text",
      ":2: \"T\\x00HRESHOLD\" is not a setting", ": no line sets THRESHOLD"}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Settings, Warnings, testing::ValuesIn(kWarningCases),
                         [](const testing::TestParamInfo<WarningCase>& p) {
                             return std::string(p.param.name);
                         });

// The batch counter prints the warnings and counts on with what the file says, each count
// uncertain for the mistake; --quiet leaves the words out.
TEST(WarningsOfTheBatchCounter, ArePrintedUnlessQuietAndTheCountGoesOn) {
    const ScratchFolder folder = test::scratchFolderForThisTest("lathmark-warnings");
    const fs::path ini = folder.path() / "Lathmark.ini";
    std::ofstream(ini) << "TRESHOLD=128\nBDLINE=40\n";
    const fs::path photo = fs::path(LATHMARK_SOURCE_DIR) / "samples" / "stack_01.jpg";
    for (const bool quiet : {false, true}) {
        const test::ProgramRun run =
            test::runProgram(test::shellQuoted(fs::path(LATHMARK_BIN_DIR) / "lathmark-count") +
                                 (quiet ? " --quiet" : "") + " --settings " +
                                 test::shellQuoted(ini) + " " + test::shellQuoted(photo),
                             folder.path() / "stderr.txt");
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out.find(photo.string() + ": 1 boards"), 0u) << run.out;
        const std::string where = ini.string() +
                                  ":1: \"TRESHOLD\" is not a setting, so the line "
                                  "is skipped; did you mean THRESHOLD?";
        EXPECT_EQ(
            run.err,
            quiet ? ""
                  : "lathmark-count: warning: " + where + "\nlathmark-count: warning: " +
                        ini.string() + ": no line sets THRESHOLD, so it is 0\n" +
                        "lathmark-count: every count is marked uncertain while " + ini.string() +
                        " has a mistake; mend it, or give the option of the key in question "
                        "(--bdline, --threshold, --stretch, --region, --thickness, --angle): an "
                        "option replaces that one key, and the file's other keys are still "
                        "used\n" +
                        photo.string() + ": uncertain: the settings file has a mistake: " + where +
                        " (and 1 more); no joint was found: a stack of one board is almost "
                        "never what was photographed\n");
    }
}

}  // namespace
}  // namespace lathmark
