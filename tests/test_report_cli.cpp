// End-to-end tests of what lathmark-count gives besides its counts: the HTML report, opened in
// a real browser; CSV output; the progress line of long batches.

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "engine/bitmap.h"
#include "tests/support/files.h"
#include "tests/support/programs.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using lathmark::test::jsonLines;
using lathmark::test::ProgramRun;
using lathmark::test::readBytes;

const fs::path kSamples = lathmark::test::samplesFolder();

using ReportCli = lathmark::test::CounterTest;

// ---- The report in a browser ----

// `jpeg` with an Exif segment after its start marker whose orientation says the camera was
// turned a quarter: a viewer that follows it shows the photograph turned, its rows as columns.
std::string turnedByExif(const std::string& jpeg) {
    const std::string exif(
        "\xFF\xE1\x00\x22"
        "Exif\0\0"
        "MM\x00\x2A\x00\x00\x00\x08"
        "\x00\x01"
        "\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00"
        "\x00\x00\x00\x00",
        36);
    return jpeg.substr(0, 2) + exif + jpeg.substr(2);
}

struct Rgb {
    int r, g, b;
};

// A screenshot's pixel, x from the left and y from the top.
Rgb pixelAt(FIBITMAP* shot, int x, int y) {
    const BYTE* row =
        FreeImage_GetScanLine(shot, static_cast<int>(FreeImage_GetHeight(shot)) - 1 - y);
    const BYTE* p = row + 3 * x;
    return {p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE]};
}

bool isEdgeRed(Rgb c) {
    return c.r > 170 && c.g < 90 && c.b < 90;
}

// What a pixel of the overlay's margin shows: 0 nothing of the overlay, 1 to 4 the stripe of
// that pass (its colour at 45 % over white), 5 a band edge.
int marginMark(FIBITMAP* shot, int x, int y) {
    static const Rgb kPass[4] = {
        {0x15, 0x65, 0xc0}, {0xef, 0x6c, 0x00}, {0x2e, 0x7d, 0x32}, {0x8e, 0x24, 0xaa}};
    const Rgb c = pixelAt(shot, x, y);
    // An edge spans the whole figure; the legend's sample of it is short.
    if (isEdgeRed(c) && isEdgeRed(pixelAt(shot, x + 60, y))) return 5;
    // Grey text that happens to lie near a pass's colour lacks its tint.
    const auto tint = [](double r, double g, double b) {
        return std::max({r, g, b}) - std::min({r, g, b});
    };
    for (int pass = 0; pass < 4; ++pass) {
        auto blend = [](int v) { return 0.45 * v + 0.55 * 255; };
        const double r = blend(kPass[pass].r), g = blend(kPass[pass].g), b = blend(kPass[pass].b);
        if (std::hypot(c.r - r, c.g - g, c.b - b) < 25 && tint(c.r, c.g, c.b) > 0.7 * tint(r, g, b))
            return pass + 1;
    }
    return 0;
}

struct MarkRun {
    int mark;
    int first;  // screenshot rows first to last
    int last;
    double centre() const { return (first + last + 1) / 2.0; }
};

// The report of the samples, a photograph that cannot be counted and one in another folder whose
// name needs escaping (and whose Exif says to turn it), opened in headless Chromium: the DOM it
// parsed has every section in argument order with the joints of the JSON output, and on its
// screenshot each photograph shows as stored under its overlay, whose stripes lie over the
// joints' rows.
TEST_F(ReportCli, ChromiumShowsEverySectionWithItsStripesOverItsJoints) {
    const ProgramRun which = run("command -v chromium");
    if (which.status != 0) GTEST_SKIP() << "chromium is not installed (tools/setup.sh installs it)";
    const fs::path odd = scratch() / "odd folder #1" / "a %41 & 'q' \"d\" \xc3\xa9,#.jpg";
    fs::create_directories(odd.parent_path());
    std::ofstream(odd, std::ios::binary) << turnedByExif(readBytes(kSamples / "stack_05.jpg"));
    const fs::path page = scratch() / "report" / "batch.html";
    fs::create_directories(page.parent_path());

    const ProgramRun counted = count("--json --report " + quoted(page) + " " + quoted(kSamples) +
                                     " " + quoted(scratch() / "gone.jpg") + " " + quoted(odd));
    ASSERT_EQ(counted.status, 1) << counted.err;
    std::vector<Json> outcomes = jsonLines(counted.out);
    outcomes.pop_back();  // the book
    ASSERT_EQ(outcomes.size(), 12u);
    ASSERT_EQ(run("xmllint --noout " + quoted(page)).status, 0) << "the page is not well-formed";

    const ProgramRun browser =
        run("chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
            "--disable-background-networking --disable-component-update --disable-sync "
            "--user-data-dir=" +
            quoted(scratch() / "profile") + " --window-size=600,9000 --screenshot=" +
            quoted(scratch() / "shot.png") + " --dump-dom " + quoted("file://" + page.string()));
    ASSERT_EQ(browser.status, 0) << browser.err;

    // The DOM: a section per photograph, in order, with the joints of its JSON line.
    const std::string& dom = browser.out;
    const std::regex sectionStart(
        R"re(<section class="photograph( failed)?" id="photograph-([0-9]+)")re");
    std::vector<std::pair<std::size_t, bool>> sections;  // where each starts, whether failed
    for (auto it = std::sregex_iterator(dom.begin(), dom.end(), sectionStart);
         it != std::sregex_iterator(); ++it) {
        EXPECT_EQ(std::stoul((*it)[2]), sections.size() + 1);
        sections.emplace_back(static_cast<std::size_t>(it->position()), (*it)[1].matched);
    }
    ASSERT_EQ(sections.size(), outcomes.size()) << dom;
    const std::regex joint(
        R"re(data-pass="([0-9])" data-top="([0-9]+)" data-bottom="([0-9]+)" x="-?[0-9]+" y="([0-9]+)" width="[0-9]+" height="([0-9]+)")re");
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const Json& outcome = outcomes[i];
        SCOPED_TRACE(outcome["file"].get<std::string>());
        const std::size_t end = i + 1 < sections.size() ? sections[i + 1].first : dom.size();
        const std::string section = dom.substr(sections[i].first, end - sections[i].first);
        EXPECT_EQ(sections[i].second, outcome.contains("error"));
        if (outcome.contains("error")) {
            EXPECT_NE(section.find(outcome["error"].get<std::string>()), std::string::npos);
            EXPECT_EQ(section.find("<svg"), std::string::npos);
            continue;
        }
        Json joints = Json::array();
        for (auto it = std::sregex_iterator(section.begin(), section.end(), joint);
             it != std::sregex_iterator(); ++it) {
            const int top = std::stoi((*it)[2]);
            const int bottom = std::stoi((*it)[3]);
            EXPECT_EQ(std::stoi((*it)[4]), top);
            EXPECT_EQ(std::stoi((*it)[5]), bottom - top + 1);
            joints.push_back({{"pass", std::stoi((*it)[1])}, {"top", top}, {"bottom", bottom}});
        }
        EXPECT_EQ(joints, outcome["joints"]);
        int lines = 0;
        for (const Json& p : outcome["passLines"]) lines += p.get<int>();
        EXPECT_EQ(static_cast<int>(joints.size()), lines);
    }
    const std::string oddText = std::regex_replace(odd.string(), std::regex("&"), "&amp;");
    EXPECT_NE(dom.find("<h2>12. " + oddText + "</h2>"), std::string::npos);

    // The screenshot: down the left of the margins, each counted photograph's band edges with
    // its stripes between them, scaled as the photograph is.
    lathmark::Bitmap loaded(FreeImage_Load(FIF_PNG, (scratch() / "shot.png").c_str(), 0));
    ASSERT_TRUE(loaded);
    lathmark::Bitmap shot(FreeImage_ConvertTo24Bits(loaded.get()));
    const int width = shot.width();
    const int height = shot.height();
    int left = width;  // the margins' left side: where the band edges begin
    for (int y = 0; y < height && left == width; ++y)
        for (int x = 0; x + 60 < width; ++x)
            if (marginMark(shot.get(), x, y) == 5) {
                left = x;
                break;
            }
    ASSERT_LT(left, width) << "no band edge on the screenshot";
    std::vector<MarkRun> runs;
    for (int y = 0; y < height; ++y) {
        const int mark = marginMark(shot.get(), left + 2, y);
        if (mark == 0) continue;
        if (!runs.empty() && runs.back().mark == mark && runs.back().last == y - 1)
            runs.back().last = y;
        else
            runs.push_back({mark, y, y});
    }
    std::size_t next = 0;
    for (const Json& outcome : outcomes) {
        if (outcome.contains("error")) continue;
        SCOPED_TRACE(outcome["file"].get<std::string>());
        const Json& joints = outcome["joints"];
        ASSERT_LE(next + joints.size() + 2, runs.size()) << "the screenshot ends too soon";
        const MarkRun topEdge = runs[next];
        const MarkRun bottomEdge = runs[next + joints.size() + 1];
        ASSERT_EQ(topEdge.mark, 5);
        ASSERT_EQ(bottomEdge.mark, 5);
        const int firstRow =
            std::min(outcome["band"]["top"].get<int>(), outcome["band"]["bottom"].get<int>());
        const int endRow =
            std::max(outcome["band"]["top"].get<int>(), outcome["band"]["bottom"].get<int>());
        const double scale = (bottomEdge.centre() - topEdge.centre()) / (endRow - firstRow);
        ASSERT_GT(scale, 0.3);
        for (std::size_t j = 0; j < joints.size(); ++j) {
            const MarkRun& stripe = runs[next + 1 + j];
            const int top = joints[j]["top"];
            const int bottom = joints[j]["bottom"];
            EXPECT_EQ(stripe.mark, joints[j]["pass"].get<int>()) << "joint " << j;
            EXPECT_NEAR(stripe.centre(),
                        topEdge.centre() + scale * ((top + bottom + 1) / 2.0 - firstRow), 2.0)
                << "joint " << j;
            EXPECT_NEAR(stripe.last - stripe.first + 1, scale * (bottom - top + 1), 2.5)
                << "joint " << j;
        }
        // The photograph lies under its overlay: its dark floor right below the band, the light
        // face of its first board between the band's top and the first joint.
        int right = left;
        const int edgeRow = (bottomEdge.first + bottomEdge.last) / 2;
        while (right + 1 < width && isEdgeRed(pixelAt(shot.get(), right + 1, edgeRow))) ++right;
        auto grey = [&](int y) {
            const Rgb c = pixelAt(shot.get(), right - 20, y);
            return (c.r + c.g + c.b) / 3;
        };
        EXPECT_LT(grey(bottomEdge.last + 5), 100) << "no floor below the band";
        const int firstBoard = static_cast<int>((topEdge.centre() + runs[next + 1].first) / 2);
        EXPECT_GT(grey(firstBoard), 130) << "no board face at the top of the band";
        next += joints.size() + 2;
    }
    EXPECT_EQ(next, runs.size()) << "marks on the screenshot that belong to no photograph";
}

// ---- CSV ----

// A header line, one record per photograph in argument order, CR LF line ends; a file name with a
// comma and a quote is quoted with the quote doubled; the numbers are the JSON output's.
TEST_F(ReportCli, CsvQuotesFileNamesAndHasARecordPerPhotograph) {
    const fs::path odd = scratch() / "stack, \"first\".jpg";
    fs::copy_file(kSamples / "stack_01.jpg", odd);
    const std::string arguments = quoted(odd) + " " + quoted(scratch() / "gone.jpg");
    const ProgramRun csv = count("--csv " + arguments);
    const ProgramRun json = count("--json " + arguments);
    EXPECT_EQ(csv.status, 1);
    const Json counted = jsonLines(json.out).at(0);
    const Json& band = counted["band"];
    std::string numbers = std::to_string(counted["boards"].get<int>());
    for (const Json& lines : counted["passLines"])
        numbers += "," + std::to_string(lines.get<int>());
    for (const char* key : {"top", "bottom", "width", "height"})
        numbers += "," + std::to_string(band[key].get<int>());
    EXPECT_EQ(std::regex_replace(csv.out, std::regex(",[0-9]+\\.[0-9],"), ",_,"),
              "file,boards,lines1,lines2,lines3,lines4,band_top,band_bottom,band_width,"
              "band_height,ms,warning,error,by_thickness,uncertain,uncertain_why,angle,"
              "by_rhythm\r\n\"" +
                  scratch().string() + "/stack, \"\"first\"\".jpg\"," + numbers +
                  ",_,,,,false,,,\r\n" + scratch().string() +
                  "/gone.jpg,,,,,,,,,,,,the file does not exist,,,,,\r\n");
}

// ---- Progress ----

// A batch of more than a second shows no progress where standard error is a file, and shows it
// under a terminal, erased at the end; standard output is the same either way.
TEST_F(ReportCli, ProgressLineOnlyWhereStandardErrorIsATerminal) {
    if (run("command -v script").status != 0) GTEST_SKIP() << "script (util-linux) is missing";
    // The samples, named over and over until both batches last long enough on this machine,
    // which other work may slow down for one and not the other.
    const auto timed = [this](const std::string& command, double& seconds) {
        const auto start = std::chrono::steady_clock::now();
        ProgramRun done = run(command);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return done;
    };
    const fs::path typescript = scratch() / "typescript";
    const fs::path out = scratch() / "out.txt";
    ProgramRun plain;
    ProgramRun terminal;
    double plainSeconds = 0;
    double terminalSeconds = 0;
    for (int repeats = 60; repeats <= 480; repeats *= 2) {
        std::string batch = quoted(lathmark::test::counterProgram()) + " --jobs 1";
        for (int i = 0; i < repeats; ++i) batch += " " + quoted(kSamples);
        plain = timed(batch, plainSeconds);
        terminal = timed("script -qec " + quoted(batch + " >" + quoted(out)) + " " +
                             quoted(typescript) + " </dev/null",
                         terminalSeconds);
        if (plainSeconds > 1.2 && terminalSeconds > 1.3) break;
    }
    ASSERT_TRUE(plainSeconds > 1.2 && terminalSeconds > 1.3) << "no batch lasted long enough";
    ASSERT_EQ(plain.status, 0) << plain.err.substr(0, 500);
    // Standard error holds the warnings of photographs named again, and nothing else.
    EXPECT_EQ(plain.err.find("\r"), std::string::npos) << plain.err.substr(0, 500);
    EXPECT_EQ(plain.err.find("lathmark-count"), std::string::npos) << plain.err.substr(0, 500);
    ASSERT_EQ(terminal.status, 0) << terminal.err.substr(0, 500);
    const std::string shown = readBytes(typescript);
    EXPECT_TRUE(std::regex_search(
        shown, std::regex("\r\x1b\\[Klathmark-count: [0-9]+ of [0-9]+ photographs, [0-9.]+ a "
                          "second, [^\r]+ left")))
        << shown.substr(0, 500);
    // Erased at the end: nothing follows the last erasure but the end of the session.
    const std::size_t erased = shown.rfind("\r\x1b[K");
    ASSERT_NE(erased, std::string::npos);
    EXPECT_EQ(shown.find("lathmark-count", erased), std::string::npos) << shown.substr(erased);
    const auto withoutTimes = [](const std::string& text) {
        return std::regex_replace(text, std::regex(R"([0-9.]+ ms)"), "_ ms");
    };
    EXPECT_EQ(withoutTimes(readBytes(out)), withoutTimes(plain.out));
}

}  // namespace
