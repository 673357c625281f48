// Tests of the settings reader: line rules, value conversion, problem messages and the file
// access around them.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"

namespace lathmark {
namespace {

namespace fs = std::filesystem;

const std::string kFile = "/cfg/Lathmark.ini";

// ---- Line rules: which lines set which key, and which lines are problems. ----

struct LineCase {
    const char* name;
    std::string text;
    std::int16_t bdLine;
    std::int16_t threshold;
    // Each problem, in order, must start with "<file>:" followed by this text.
    std::vector<std::string> problems;
    std::int16_t stretch = 1;
};

class LineRules : public testing::TestWithParam<LineCase> {};

TEST_P(LineRules, SetsKeysAndReportsProblems) {
    const LineCase& c = GetParam();
    const SettingsRead read = parseSettings(c.text, kFile);
    EXPECT_EQ(read.settings.bdLine, c.bdLine);
    EXPECT_EQ(read.settings.threshold, c.threshold);
    EXPECT_EQ(read.settings.stretch, c.stretch);
    ASSERT_EQ(read.problems.size(), c.problems.size()) << testing::PrintToString(read.problems);
    for (std::size_t i = 0; i < c.problems.size(); ++i) {
        EXPECT_TRUE(read.problems[i].starts_with(kFile + ":" + c.problems[i])) << read.problems[i];
    }
}

// clang-format off
const LineCase kLineCases[] = {
    {"BothKeys", "BDLINE=40\nTHRESHOLD=128\n", 40, 128, {}},
    {"OtherKeysSkippedLastWins", "NOTE=x\nthreshold=90\nThreshold=100\n", 0, 100, {}},
    {"KeyCaseIgnored", "bdline=12\nBdLine=13\n", 13, 0, {}},
    {"EmptyFile", "", 0, 0, {}},
    {"BlanksAroundEqualsSkipped", "BDLINE = 12\nTHRESHOLD =7\n", 0, 0, {}},
    {"BlankBeforeKeySkipped", " BDLINE=12\n\tTHRESHOLD=7", 0, 0, {}},
    {"BlanksAroundValue", "BDLINE= 12 \nTHRESHOLD=\t7\t", 12, 7, {}},
    {"SecondEqualsEndsValue", "BDLINE=12=30\nTHRESHOLD=7=", 12, 7, {}},
    {"EmptyLinesSkipped", "\nBDLINE=5\n\n\nTHRESHOLD=7\n\n", 5, 7, {}},
    {"BlankOnlyLineSkipped", "BDLINE=5\n  \t \nTHRESHOLD=7", 5, 7, {}},
    {"TextWithoutEqualsSkipped", "hello\nBDLINES\nBDLINE=3", 3, 0, {}},
    {"CrLf", "BDLINE=40\r\nTHRESHOLD=128\r\n", 40, 128, {}},
    {"NoFinalLineBreak", "BDLINE=40\nTHRESHOLD=128", 40, 128, {}},
    {"LoneCrDoesNotEndLine", "BDLINE=4\rTHRESHOLD=5", 0, 0,
     {"1: BDLINE value \"4\\x0DTHRESHOLD\""}},
    {"ByteOrderMark", "\xEF\xBB\xBF" "BDLINE=40\nTHRESHOLD=9", 0, 9,
     {"1: the file begins with a UTF-8 byte-order mark"}},
    {"ByteOrderMarkBeforeOtherKey", "\xEF\xBB\xBF" "NOTE=1\nBDLINE=4", 4, 0,
     {"1: the file begins with a UTF-8 byte-order mark"}},
    {"ByteOrderMarkLaterIsText", "THRESHOLD=9\n\xEF\xBB\xBF" "BDLINE=40", 0, 9, {}},
    {"KeyWithoutEquals", "BDLINE=8\nbdline\nTHRESHOLD", 8, 0,
     {"2: BDLINE has no \"=\" and no value", "3: THRESHOLD has no \"=\""}},
    {"EmptyValue", "BDLINE=8\nBDLINE=\nTHRESHOLD=  \nBDLINE==3", 8, 0,
     {"2: BDLINE has an empty value", "3: THRESHOLD has an empty value",
      "4: BDLINE has an empty value"}},
    {"ProblemsDoNotStopReading", "BDLINE=abc\nTHRESHOLD=9\nBDLINE\n\nBDLINE=3\nTHRESHOLD=x", 3, 9,
     {"1: BDLINE value \"abc\" is not a number", "3: BDLINE has no", "6: THRESHOLD value \"x\""}},
    {"ThresholdHighestUsable", "THRESHOLD=245", 0, 245, {}},
    {"ThresholdAboveUsableIsKept", "THRESHOLD=246", 0, 246,
     {"1: THRESHOLD 246: the passes at THRESHOLD + 10 need a grey level 0..255"}},
    {"ThresholdBelowZeroIsKept", "THRESHOLD=100\nTHRESHOLD=-1", 0, -1,
     {"2: THRESHOLD -1: the passes"}},
    {"NegativeBdLineNotFlagged", "BDLINE=-5\nTHRESHOLD=0", -5, 0, {}},
    {"StretchReadLikeTheOthers", "stretch= 2 \nNOTE=4\nStretch=3\n", 0, 0, {}, 3},
    {"StretchOutsideOneToFourIsKept", "STRETCH=5\nSTRETCH=0", 0, 0,
     {"1: STRETCH 5: each photograph row is repeated", "2: STRETCH 0:"}, 0},
    {"StretchUnusableValue", "STRETCH=2\nSTRETCH=two\nSTRETCH\nSTRETCH=", 0, 0,
     {"2: STRETCH value \"two\" is not a number", "3: STRETCH has no", "4: STRETCH has an empty"},
     2},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Settings, LineRules, testing::ValuesIn(kLineCases),
                         [](const testing::TestParamInfo<LineCase>& p) {
                             return std::string(p.param.name);
                         });

// ---- Value conversion: each value is read after an earlier good one, so a refused value
// must leave that earlier 111 in place. ----

struct ValueCase {
    const char* name;
    std::string value;
    std::optional<std::int16_t> expected;  // empty: the value is refused
    const char* reason;                    // for a refused value: end of the problem
};

class ValueRules : public testing::TestWithParam<ValueCase> {};

TEST_P(ValueRules, ConvertsOrRefuses) {
    const ValueCase& c = GetParam();
    const SettingsRead read = parseSettings("BDLINE=111\nBDLINE=" + c.value + "\n", kFile);
    if (c.expected) {
        EXPECT_EQ(read.settings.bdLine, *c.expected);
        EXPECT_TRUE(read.ok()) << testing::PrintToString(read.problems);
    } else {
        EXPECT_EQ(read.settings.bdLine, 111);
        ASSERT_EQ(read.problems.size(), 1u);
        EXPECT_TRUE(read.problems[0].starts_with(kFile + ":2: BDLINE value \""))
            << read.problems[0];
        EXPECT_TRUE(read.problems[0].ends_with(c.reason)) << read.problems[0];
    }
}

constexpr const char* kNaN = "is not a number";
constexpr const char* kRange = "is outside -32768..32767";

const ValueCase kValueCases[] = {
    {"Plus", "+12", 12, ""},
    {"Minus", "-12", -12, ""},
    {"LeadingZeros", "0000000000032767", 32767, ""},
    {"MinusZero", "-0", 0, ""},
    {"FractionDown", "12.4", 12, ""},
    {"FractionUp", "12.6", 13, ""},
    {"HalfToEvenDown", "12.5", 12, ""},
    {"HalfToEvenUp", "13.5", 14, ""},
    {"HalfWithTrailingZeros", "12.50000", 12, ""},
    {"JustAboveHalf", "0.5000001", 1, ""},
    {"JustBelowHalf", "2.4999999999999999999", 2, ""},
    {"NegativeHalfToEven", "-2.5", -2, ""},
    {"NegativeHalfAwayToEven", "-3.5", -4, ""},
    {"NegativeSmallFraction", "-0.4", 0, ""},
    {"TrailingPoint", "12.", 12, ""},
    {"LeadingPoint", ".5", 0, ""},
    {"LeadingPointUp", ".6", 1, ""},
    {"Max", "32767", 32767, ""},
    {"Min", "-32768", -32768, ""},
    {"MaxFractionDown", "32767.4", 32767, ""},
    {"MinHalfRoundsIn", "-32768.5", -32768, ""},
    {"AboveMax", "32768", std::nullopt, kRange},
    {"BelowMin", "-32769", std::nullopt, kRange},
    {"MaxHalfRoundsOut", "32767.5", std::nullopt, kRange},
    {"MinFractionOut", "-32768.6", std::nullopt, kRange},
    {"Large", "100000", std::nullopt, kRange},
    {"HugeDigitString", std::string(100000, '9'), std::nullopt, kRange},
    {"Letters", "abc", std::nullopt, kNaN},
    {"Exponent", "1e3", std::nullopt, kNaN},
    {"Hex", "0x10", std::nullopt, kNaN},
    {"Comma", "1,5", std::nullopt, kNaN},
    {"InnerBlank", "12 3", std::nullopt, kNaN},
    {"BlankAfterSign", "- 5", std::nullopt, kNaN},
    {"SignOnly", "-", std::nullopt, kNaN},
    {"PointOnly", ".", std::nullopt, kNaN},
    {"DoubleSign", "++1", std::nullopt, kNaN},
    {"TwoPoints", "1.2.3", std::nullopt, kNaN},
    {"TrailingLetter", "12a", std::nullopt, kNaN},
};

INSTANTIATE_TEST_SUITE_P(Settings, ValueRules, testing::ValuesIn(kValueCases),
                         [](const testing::TestParamInfo<ValueCase>& p) {
                             return std::string(p.param.name);
                         });

// ---- Message text. ----

TEST(SettingsMessages, NameFileLineAndQuoteValue) {
    const SettingsRead read =
        parseSettings("BDLINE=1\n\nBDLINE\nNOTE\nTHRESHOLD= abc\n", "/path/Lathmark.ini");
    EXPECT_EQ(read.problems, (std::vector<std::string>{
                                 "/path/Lathmark.ini:3: BDLINE has no \"=\" and no value",
                                 "/path/Lathmark.ini:5: THRESHOLD value \" abc\" is not a number",
                             }));
}

TEST(SettingsMessages, NeverCarryRawControlBytesOrRunaway) {
    const std::string value = "\"\\\x01\x7F\xE9" + std::string(5000, 'x');
    const SettingsRead read = parseSettings("THRESHOLD=" + value + "\r\n", kFile);
    ASSERT_EQ(read.problems.size(), 1u);
    const std::string& message = read.problems[0];
    EXPECT_NE(message.find(R"("\"\\\x01\x7F\xE9xxx)"), std::string::npos) << message;
    EXPECT_LT(message.size(), 200u);
    for (char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(byte >= 0x20 && byte < 0x7F) << "byte " << int{byte} << " in " << message;
    }
}

// ---- Reading from disk. ----

class SettingsFile : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "lathmark_settings_XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path write(const std::string& content) {
        const fs::path file = dir_ / "Lathmark.ini";
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

    fs::path dir_;
};

TEST_F(SettingsFile, ReadsRealFile) {
    const fs::path file = write("BDLINE=40\r\nTHRESHOLD=300\r\n");
    const SettingsRead read = readSettings(file);
    EXPECT_EQ(read.settings.bdLine, 40);
    EXPECT_EQ(read.settings.threshold, 300);
    ASSERT_EQ(read.problems.size(), 1u);
    EXPECT_TRUE(read.problems[0].starts_with(file.string() + ":2: THRESHOLD 300"))
        << read.problems[0];
}

TEST_F(SettingsFile, UnreadableGivesOneProblemAndInitialSettings) {
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    const struct {
        fs::path path;
        std::string reason;
    } cases[] = {
        {dir_ / "missing.ini", "cannot be opened: No such file or directory"},
        {dir_, "cannot be opened: Is a directory"},
        {dir_ / "fifo", "cannot be opened: not a regular file"},  // must not block either
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.string());
        const SettingsRead read = readSettings(c.path);
        EXPECT_EQ(read.settings.bdLine, 0);
        EXPECT_EQ(read.settings.threshold, 0);
        EXPECT_EQ(read.problems, std::vector<std::string>{c.path.string() + ": " + c.reason});
    }
}

TEST_F(SettingsFile, OversizedFileIsNotRead) {
    const fs::path file = write("BDLINE=40\n" + std::string((1u << 20) - 9, ' '));
    const SettingsRead read = readSettings(file);
    EXPECT_EQ(read.settings.bdLine, 0);
    EXPECT_EQ(read.problems, std::vector<std::string>{
                                 file.string() + ": is larger than 1 MiB; not a settings file"});

    // One byte less is exactly 1 MiB and still read.
    const SettingsRead edge =
        readSettings(write("BDLINE=40\n" + std::string((1u << 20) - 10, ' ')));
    EXPECT_EQ(edge.settings.bdLine, 40);
    EXPECT_TRUE(edge.ok());
}

TEST_F(SettingsFile, WrittenSettingsReadBackExactly) {
    const fs::path file = dir_ / "written.ini";
    for (const Settings written :
         {Settings{.threshold = 128, .bdLine = 40}, Settings{.threshold = 0, .bdLine = -32768},
          Settings{.threshold = 245, .bdLine = 32767}}) {
        ASSERT_EQ(writeSettings(file, written), std::nullopt);
        std::ifstream in(file, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(text, "BDLINE=" + std::to_string(written.bdLine) +
                            "\nTHRESHOLD=" + std::to_string(written.threshold) + "\n");
        const SettingsRead read = readSettings(file);
        EXPECT_TRUE(read.ok());
        EXPECT_EQ(read.settings.bdLine, written.bdLine);
        EXPECT_EQ(read.settings.threshold, written.threshold);
    }
    // Through a link, as beside the installed programs, the file it leads to is written and the
    // link stays.
    const fs::path link = dir_ / "link.ini";
    fs::create_symlink(file, link);
    ASSERT_EQ(writeSettings(link, Settings{.threshold = 9, .bdLine = 7}), std::nullopt);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readSettings(file).settings.bdLine, 7);
    // A folder in the way is not written into, and the message names it; nor is a BDLINE the file
    // cannot hold, which is never wrapped into another value.
    const auto failure = writeSettings(dir_, Settings{});
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->starts_with(dir_.string() + " could not be written")) << *failure;
    EXPECT_EQ(writeSettings(file, Settings{.bdLine = 40000}),
              file.string() +
                  " could not be written: BDLINE 40000 is outside -32768 to 32767, "
                  "the values a settings file holds");
    EXPECT_EQ(readSettings(file).settings.bdLine, 7);
}

TEST_F(SettingsFile, ALinkBesideTheExecutableNamesTheFileItLeadsTo) {
    fs::create_directories(dir_ / "etc" / "lathmark");
    fs::create_directories(dir_ / "beside");
    const fs::path real = dir_ / "etc" / "lathmark" / "Lathmark.ini";
    std::ofstream(real) << "BDLINE=40\nTHRESHOLD=128\n";
    const fs::path beside = dir_ / "beside" / "Lathmark.ini";
    const struct {
        const char* what;
        std::vector<fs::path> links;  // the first is made beside the executable
        std::vector<fs::path> targets;
        fs::path expected;
    } cases[] = {
        {"no link", {}, {}, beside},
        {"absolute link", {beside}, {real}, real},
        {"relative link", {beside}, {"../etc/lathmark/Lathmark.ini"}, real},
        {"link to a link", {beside, dir_ / "second"}, {dir_ / "second", real}, real},
        {"link to a missing file",
         {beside},
         {dir_ / "etc" / "gone.ini"},
         dir_ / "etc" / "gone.ini"},
        {"loop of links", {beside, dir_ / "loop"}, {dir_ / "loop", beside}, beside},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(beside);
        fs::remove(dir_ / "second");
        fs::remove(dir_ / "loop");
        if (c.links.empty()) std::ofstream(beside) << "BDLINE=40\n";
        for (std::size_t i = 0; i < c.links.size(); ++i)
            fs::create_symlink(c.targets[i], c.links[i]);
        EXPECT_EQ(settingsPathIn(dir_ / "beside"), c.expected);
    }
}

TEST(ExecutableFolder, IsAbsoluteExistingFolderIndependentOfWorkingDirectory) {
    const fs::path folder = executableFolder();
    EXPECT_TRUE(folder.is_absolute()) << folder;
    EXPECT_TRUE(fs::is_directory(folder)) << folder;

    const fs::path before = fs::current_path();
    fs::current_path(fs::temp_directory_path());
    EXPECT_EQ(executableFolder(), folder);
    EXPECT_EQ(defaultSettingsPath(), folder / "Lathmark.ini");
    fs::current_path(before);
}

// REGION, THICKNESS and WATCH: read as the other keys are, refused with the line's number when
// their value is unusable, and written back to themselves.
TEST(SettingsKeys, RegionThicknessAndWatchAreReadRefusedAndWrittenBack) {
    struct Case {
        std::string text;
        std::string region;  // "" for none
        int thickness;       // hundredths
        std::vector<std::string> problems;
        bool watch = false;
    };
    const Case cases[] = {
        {"BDLINE=40\nTHRESHOLD=128\nREGION=800x600+100+0\nTHICKNESS=50.1\n",
         "800x600+100+0",
         5010,
         {}},
        {"region = 8x6+1+2\nthickness= 7 \n", "", 700, {}},  // blanks around a key: no key
        {"region= 8x6+1+2\nREGION=9x9+0+0\n", "9x9+0+0", 0, {}},
        {"REGION=800x600\nTHICKNESS=abc\n",
         "",
         0,
         {":1: REGION \"800x600\" is not of the form WxH+X+Y",
          ":2: THICKNESS \"abc\" is not a number"}},
        {"REGION=0x600+0+0\nTHICKNESS=-1\nREGION=\n",
         "",
         0,
         {":1: REGION \"0x600+0+0\": its width and height must be at least 1",
          ":2: THICKNESS \"-1\" is negative", ":3: REGION has an empty value"}},
        {"REGION=8x6+1+2\nREGION=70000x6+1+2\nTHICKNESS=70000\n",
         "8x6+1+2",
         0,
         {":2: REGION \"70000x6+1+2\": its numbers are pixels, at most 65535",
          ":3: THICKNESS \"70000\" is above 65535 rows"}},
        {"WATCH=1\n", "", 0, {}, true},
        {"watch= 1 \nWATCH=0\n", "", 0, {}, false},
        {"WATCH=1\nWATCH=yes\nWATCH=2\nWATCH=1.0\n",
         "",
         0,
         {":2: WATCH \"yes\" is neither 0 (off) nor 1 (on)",
          ":3: WATCH \"2\" is neither 0 (off) nor 1 (on)",
          ":4: WATCH \"1.0\" is neither 0 (off) nor 1 (on)"},
         true},
    };
    for (const Case& c : cases) {
        const SettingsRead read = parseSettings(c.text, kFile);
        EXPECT_EQ(read.settings.region ? regionText(*read.settings.region) : "", c.region)
            << c.text;
        EXPECT_EQ(read.settings.thicknessHundredths, c.thickness) << c.text;
        EXPECT_EQ(read.settings.watch, c.watch) << c.text;
        ASSERT_EQ(read.problems.size(), c.problems.size()) << testing::PrintToString(read.problems);
        for (std::size_t i = 0; i < c.problems.size(); ++i)
            EXPECT_TRUE(read.problems[i].starts_with(kFile + c.problems[i])) << read.problems[i];
        EXPECT_EQ(parseSettings(settingsText(read.settings), kFile).settings, read.settings)
            << settingsText(read.settings);
    }
}

// ANGLE: a slope in degrees to hundredths, at most 10 either way, or auto; anything else is a
// problem of its line. A level one is not written back. REGION=auto is found in each photograph.
TEST(SettingsKeys, AngleIsASlopeOrAutoAndRegionMayBeFound) {
    struct Case {
        std::string value;
        Angle angle;          // what is read (level where refused)
        std::string problem;  // "" for none
    };
    const Case cases[] = {
        {"1.5", {150, false}, ""},
        {"-2", {-200, false}, ""},
        {"+0.05", {5, false}, ""},
        {"auto", {0, true}, ""},
        {"0", {}, ""},
        {"-10", {-1000, false}, ""},
        {"10.004", {1000, false}, ""},
        {"10.01", {}, "ANGLE \"10.01\" is steeper than 10 degrees either way"},
        {"AUTO", {}, "ANGLE \"AUTO\" is not a slope in degrees such as 1.5 or -2, nor auto"},
        {"1,5", {}, "ANGLE \"1,5\" is not a slope"},
        {"2deg", {}, "ANGLE \"2deg\" is not a slope"},
        {"", {}, "ANGLE has an empty value"},
    };
    for (const Case& c : cases) {
        const SettingsRead read = parseSettings("BDLINE=40\nANGLE=" + c.value + "\n", kFile);
        EXPECT_EQ(read.settings.angle, c.angle) << c.value;
        if (c.problem.empty()) {
            EXPECT_TRUE(read.problems.empty()) << c.value;
        } else {
            ASSERT_EQ(read.problems.size(), 1u) << c.value;
            EXPECT_TRUE(read.problems[0].starts_with(kFile + ":2: " + c.problem))
                << read.problems[0];
        }
        const std::string written = settingsText(read.settings);
        EXPECT_EQ(written.find("ANGLE") != std::string::npos, !c.angle.level()) << written;
        EXPECT_EQ(parseSettings(written, kFile).settings, read.settings) << written;
    }
    const SettingsRead found = parseSettings("REGION=8x6+1+2\nREGION=auto\n", kFile);
    EXPECT_TRUE(found.settings.regionFound && !found.settings.region && found.problems.empty());
    EXPECT_NE(settingsText(found.settings).find("REGION=auto"), std::string::npos);
    EXPECT_EQ(parseSettings(settingsText(found.settings), kFile).settings, found.settings);
    EXPECT_FALSE(parseSettings("REGION=auto\nREGION=8x6+1+2\n", kFile).settings.regionFound);
}

}  // namespace
}  // namespace lathmark
