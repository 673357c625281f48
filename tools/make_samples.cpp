// lathmark-make-samples OUTDIR
// lathmark-make-samples --station OUTDIR COUNT WIDTH HEIGHT SEED
// lathmark-make-samples --rough-station OUTDIR COUNT WIDTH HEIGHT SEED
// lathmark-make-samples --line OUTDIR COUNT WIDTH HEIGHT SEED
//
// Writes the sample photographs of stacked fibreboard that the project keeps in samples/, and
// manifest.tsv, which lists each file with its true board count and size; in OUTDIR/dim/ a
// second, smaller set of one kind of stack under dim light, and in OUTDIR/thin/ one of a kind
// whose joints are three rows thick, in OUTDIR/station/ photographs of a counting station, and in
// OUTDIR/yard/ hand-held photographs of stacks in a yard, each set with its truth.tsv. Every
// photograph comes from a fixed plan and seed, so running the program again writes the same
// pictures.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "tools/samplegen.h"

namespace {

using lathmark::samplegen::StackPhoto;
using lathmark::samplegen::StackPlan;
using lathmark::samplegen::StationPlan;
using lathmark::samplegen::YardPlan;

struct Sample {
    const char* file;
    int width;
    int height;
    int floorRows;  // height - floorRows and wallRows are multiples of 8: the edges of the stack
    int wallRows;   // then fall on JPEG block edges and stay free of ringing
    int boards;
    int faintJoints;
    std::vector<int> gapLengths;  // 18 to 24 columns: found by the third pass; 8 or 9: the fourth
    double gradientX;
    double gradientY;
    bool colour;
    std::uint32_t seed;
};

// Photographs with faint joints keep the lighting gradient small, so that the faint joints stay
// between grey 131 and 137 across the whole picture.
const std::vector<Sample>& samples() {
    static const std::vector<Sample> list = {
        {"stack_01.jpg", 768, 576, 64, 64, 12, 0, {}, 0.02, 0.015, true, 101},
        {"stack_02.jpg", 768, 576, 48, 56, 16, 2, {}, 0.006, -0.005, true, 202},
        {"stack_03.jpg", 768, 576, 96, 112, 8, 0, {20}, -0.015, 0.01, true, 303},
        {"stack_04.jpg", 768, 576, 40, 32, 20, 1, {9}, 0.005, 0.005, true, 404},
        {"stack_05.jpg", 768, 576, 128, 160, 6, 0, {}, -0.03, 0.02, true, 505},
        {"stack_06.jpg", 640, 480, 56, 64, 10, 1, {}, -0.006, 0.004, true, 606},
        {"stack_07.jpg", 1024, 400, 40, 48, 9, 0, {22}, 0.025, -0.01, true, 707},
        {"stack_08.jpg", 900, 577, 57, 40, 15, 2, {8}, 0.005, 0.006, true, 808},
        {"stack_09.jpg", 800, 700, 60, 48, 22, 1, {}, -0.005, -0.006, true, 909},
        {"stack_10.jpg", 768, 576, 72, 80, 14, 1, {18}, 0.006, 0.005, false, 1010},
    };
    return list;
}

int boardRowsJitter(int boards) {
    return boards <= 6 ? 1 : 2;
}

// A set of photographs of one kind of stack, each with its board count and seed.
struct KindSample {
    const char* file;
    int boards;
    std::uint32_t seed;
};

// One board type under one dim light: board faces of grey 118 to 140, so that at the usual
// THRESHOLD of 128 much of each face turns dark.
const std::vector<KindSample>& dimSamples() {
    static const std::vector<KindSample> list = {
        {"dim_01.jpg", 9, 3101},  {"dim_02.jpg", 12, 3102}, {"dim_03.jpg", 14, 3103},
        {"dim_04.jpg", 10, 3104}, {"dim_05.jpg", 16, 3105}, {"dim_06.jpg", 11, 3106},
        {"dim_07.jpg", 13, 3107}, {"dim_08.jpg", 8, 3108},
    };
    return list;
}

void writeDimSample(const KindSample& s, const std::filesystem::path& file) {
    StackPlan plan;
    plan.boards = s.boards;
    plan.boardGreyMin = 118.0;
    plan.boardGreyMax = 140.0;
    plan.darkJointGreyMin = 50.0;
    plan.darkJointGreyMax = 85.0;
    StackPhoto photo = lathmark::samplegen::planStack(plan, s.seed);
    photo.gradientX = 0.02;
    photo.gradientY = 0.01;
    photo.noiseSigma = 3.0;
    photo.floorGrey = 40.0;
    photo.wallGrey = 38.0;
    auto dib = lathmark::samplegen::renderStack(photo, s.seed);
    lathmark::samplegen::saveJpeg(dib.get(), file.string());
}

// A stack photographed from farther away: 640 x 288, joints three rows thick, which the passes
// take for short runs unless each row is repeated (STRETCH 2 or more).
const std::vector<KindSample>& thinSamples() {
    static const std::vector<KindSample> list = {
        {"thin_01.jpg", 9, 4101},  {"thin_02.jpg", 12, 4102}, {"thin_03.jpg", 14, 4103},
        {"thin_04.jpg", 10, 4104}, {"thin_05.jpg", 11, 4105}, {"thin_06.jpg", 13, 4106},
    };
    return list;
}

void writeThinSample(const KindSample& s, const std::filesystem::path& file) {
    StackPlan plan;
    plan.width = 640;
    plan.height = 288;
    plan.floorRows = 32;
    plan.wallRows = 40;
    plan.boards = s.boards;
    plan.jointRowsMin = 3;
    plan.jointRowsMax = 3;
    plan.boardJitterRows = 1;
    StackPhoto photo = lathmark::samplegen::planStack(plan, s.seed);
    photo.gradientX = 0.01;
    photo.gradientY = 0.01;
    auto dib = lathmark::samplegen::renderStack(photo, s.seed);
    lathmark::samplegen::saveJpeg(dib.get(), file.string());
}

// A counting station (see samplegen.h): 1024 x 768, plates about 28 rows from one joint to the
// next, the stack filling 35 to 60 % of the width and standing up to 8 % of the width off centre.
struct StationSample {
    const char* file;
    int boards;
    double share;
    double shift;
    std::uint32_t seed;
};

const std::vector<StationSample>& stationSamples() {
    static const std::vector<StationSample> list = {
        {"station_01.jpg", 4, 0.42, -0.05, 5101},  {"station_02.jpg", 7, 0.55, 0.03, 5102},
        {"station_03.jpg", 9, 0.36, 0.07, 5103},   {"station_04.jpg", 12, 0.48, -0.02, 5104},
        {"station_05.jpg", 15, 0.60, 0.00, 5105},  {"station_06.jpg", 18, 0.39, -0.08, 5106},
        {"station_07.jpg", 20, 0.51, 0.05, 5107},  {"station_08.jpg", 6, 0.45, 0.08, 5108},
        {"station_09.jpg", 10, 0.35, -0.06, 5109}, {"station_10.jpg", 13, 0.58, 0.02, 5110},
        {"station_11.jpg", 16, 0.44, -0.03, 5111}, {"station_12.jpg", 11, 0.50, 0.06, 5112},
    };
    return list;
}

void writeStation(const StationPlan& plan, std::uint32_t seed, const std::filesystem::path& file) {
    const auto scene = lathmark::samplegen::planStation(plan, seed);
    auto dib = lathmark::samplegen::renderStation(scene, seed);
    lathmark::samplegen::saveJpeg(dib.get(), file.string());
}

void writeStationSample(const StationSample& s, const std::filesystem::path& file) {
    StationPlan plan;
    plan.boards = s.boards;
    plan.stackShare = s.share;
    plan.shift = s.shift;
    writeStation(plan, s.seed, file);
}

// Writes one kind's set into `folder` with its truth.tsv; false if anything failed.
template <typename Sample, typename Write>
bool writeKindSet(const std::filesystem::path& folder, const std::vector<Sample>& samples,
                  Write write) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    std::ofstream truth(folder / "truth.tsv", std::ios::binary);
    truth << "file\tboards\n";
    bool ok = !error && truth.good();
    for (const Sample& s : samples) {
        const std::filesystem::path file = folder / s.file;
        try {
            write(s, file);
            truth << s.file << '\t' << s.boards << '\n';
            std::printf("%s: %d boards\n", file.string().c_str(), s.boards);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", file.string().c_str(), e.what());
            ok = false;
        }
    }
    truth.close();
    if (!truth) {
        std::fprintf(stderr, "%s: cannot write\n", (folder / "truth.tsv").string().c_str());
        ok = false;
    }
    return ok;
}

// The station set of samples/station/: the twelve photographs of truth.tsv, each with its rows
// from one joint to the next, and two whose count at the station's settings is wrong, for the
// second opinion to flag: one with a joint barely darker than the plates, one with a dark strap
// across a plate.
bool writeStationSamples(const std::filesystem::path& folder) {
    if (!writeKindSet(folder, stationSamples(), writeStationSample)) return false;
    {
        // The plates' thickness from one joint to the next, as the second opinion needs it.
        std::ofstream truth(folder / "truth.tsv", std::ios::binary);
        truth << "file\tboards\tthickness\n";
        for (const StationSample& s : stationSamples())
            truth << s.file << '\t' << s.boards << "\t28\n";
        if (!truth) return false;
    }
    try {
        StationPlan faint;
        faint.boards = 14;
        faint.stackShare = 0.47;
        faint.shift = 0.01;
        faint.faintJoints = 1;
        faint.faintJointGrey = 192.0;
        writeStation(faint, 5113, folder / "station_13.jpg");

        StationPlan strapped;
        strapped.boards = 9;
        strapped.stackShare = 0.52;
        strapped.shift = -0.04;
        const auto scene = lathmark::samplegen::planStation(strapped, 5114);
        auto dib = lathmark::samplegen::renderStation(scene, 5114);
        // A dark strap across the middle of the fifth plate, the whole width of the stack.
        int row = scene.tableRows;
        for (int i = 0; i < 4; ++i) row += scene.stack.boards[i].rows + scene.stack.joints[i].rows;
        row += scene.stack.boards[4].rows / 2 - 3;
        for (int y = row; y < row + 6; ++y) {
            BYTE* line = FreeImage_GetScanLine(dib.get(), y);
            for (int x = scene.stackLeft; x < scene.stackLeft + scene.stack.width; ++x)
                for (int c = 0; c < 3; ++c)
                    line[3 * x + c] = static_cast<BYTE>(line[3 * x + c] / 5);
        }
        lathmark::samplegen::saveJpeg(dib.get(), (folder / "station_14.jpg").string());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", folder.string().c_str(), e.what());
        return false;
    }
    std::ofstream flagged(folder / "flagged.tsv", std::ios::binary);
    flagged << "file\tboards\n"
            << "station_13.jpg\t14\n"
            << "station_14.jpg\t9\n";
    return flagged.good();
}

// A stack in a yard photographed by hand (see samplegen.h). Each of the four stacks is
// photographed three times, framed differently: nearer or farther, turned either way, from
// either side, with other stacks or a clad wall behind.
struct YardStack {
    int boards;
    std::uint32_t seed;
    bool corrugated;
};

struct YardSample {
    const char* file;
    int boards;
    YardStack stack;
    int width;
    int height;
    double sheetRows;
    double slope;
    double taper;
    double left;
    double right;
    double bottom;
    bool stacksBehind;
    int quality;
    std::uint32_t seed;
};

const std::vector<YardSample>& yardSamples() {
    static const YardStack a{48, 6101, true};
    static const YardStack b{34, 6102, false};
    static const YardStack c{21, 6103, true};
    static const YardStack d{52, 6104, false};
    static const std::vector<YardSample> list = {
        {"yard_01.jpg", a.boards, a, 1280, 960, 6.0, 2.4, 0.04, 0.06, 0.95, 0.22, false, 88, 6201},
        {"yard_02.jpg", a.boards, a, 1600, 1200, 8.5, -1.3, -0.05, -0.08, 0.88, 0.20, true, 90,
         6202},
        {"yard_03.jpg", a.boards, a, 1280, 960, 4.0, 0.7, 0.03, 0.18, 1.15, 0.30, false, 86, 6203},
        {"yard_04.jpg", b.boards, b, 1600, 1200, 10.0, -2.5, -0.05, 0.04, 0.97, 0.18, true, 87,
         6204},
        {"yard_05.jpg", b.boards, b, 1280, 960, 7.0, 1.8, -0.03, -0.12, 0.90, 0.25, false, 91,
         6205},
        {"yard_06.jpg", b.boards, b, 1600, 1200, 5.5, -0.4, 0.06, 0.12, 1.08, 0.28, true, 88, 6206},
        {"yard_07.jpg", c.boards, c, 1280, 960, 9.5, 2.6, 0.04, 0.10, 0.92, 0.24, true, 89, 6207},
        {"yard_08.jpg", c.boards, c, 1600, 1200, 7.5, -2.0, 0.03, -0.05, 0.93, 0.22, false, 86,
         6208},
        {"yard_09.jpg", c.boards, c, 1280, 960, 5.0, 0.2, -0.06, 0.05, 1.10, 0.33, false, 90, 6209},
        {"yard_10.jpg", d.boards, d, 1600, 1200, 6.5, -1.7, -0.04, 0.02, 0.96, 0.20, false, 88,
         6210},
        {"yard_11.jpg", d.boards, d, 1280, 960, 3.5, 2.2, 0.02, 0.15, 0.98, 0.30, true, 87, 6211},
        {"yard_12.jpg", d.boards, d, 1600, 1200, 9.0, -2.4, -0.05, -0.10, 0.90, 0.16, true, 91,
         6212},
    };
    return list;
}

void writeYardSample(const YardSample& s, const std::filesystem::path& file) {
    YardPlan plan;
    plan.width = s.width;
    plan.height = s.height;
    plan.boards = s.stack.boards;
    plan.stackSeed = s.stack.seed;
    plan.corrugated = s.stack.corrugated;
    plan.sheetRows = s.sheetRows;
    plan.slopeDegrees = s.slope;
    plan.taper = s.taper;
    plan.left = s.left;
    plan.right = s.right;
    plan.bottom = s.bottom;
    plan.stacksBehind = s.stacksBehind;
    const auto scene = lathmark::samplegen::planYard(plan, s.seed);
    auto dib = lathmark::samplegen::renderYard(scene, s.seed);
    lathmark::samplegen::savePhoneJpeg(dib.get(), file.string(), s.quality);
}

}  // namespace

// A generated station set for benchmarks and experiments: `count` photographs `width` x `height`,
// each with 4 to 20 plates and its own share of the width and shift, all drawn from `seed`;
// `rough`, under uneven light, with grain and noise as a real camera's.
bool writeStationSet(const std::filesystem::path& folder, int count, int width, int height,
                     std::uint32_t seed, bool rough) {
    std::vector<StationSample> samples;
    std::vector<std::string> names;
    std::mt19937 random(seed);
    auto uniform = [&](double low, double high) {
        return low + (high - low) * (static_cast<double>(random()) / 4294967296.0);
    };
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "station_%03d.jpg", i + 1);
        names.push_back(name);
        samples.push_back({nullptr, 4 + static_cast<int>(random() % 17), uniform(0.35, 0.6),
                           uniform(-0.08, 0.08), seed * 1000u + static_cast<std::uint32_t>(i)});
    }
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i].file = names[i].c_str();
    const double scale = height / 768.0;
    return writeKindSet(folder, samples, [&](const StationSample& s, const auto& file) {
        StationPlan plan;
        plan.width = width;
        plan.height = height;
        plan.tableRows = static_cast<int>(std::lround(96 * scale));
        plan.boardRows = static_cast<int>(std::lround(24 * scale));
        plan.jointRows = std::max(3, static_cast<int>(std::lround(4 * scale)));
        plan.boards = s.boards;
        plan.stackShare = s.share;
        plan.shift = s.shift;
        plan.rough = rough;
        writeStation(plan, s.seed, file);
    });
}

// A generated production-line set: `count` photographs of whole stacks of one board type, 8 to
// 22 boards each, some with a faint joint or a gapped one, under light that varies a little.
bool writeLineSet(const std::filesystem::path& folder, int count, int width, int height,
                  std::uint32_t seed) {
    std::vector<KindSample> samples;
    std::vector<std::string> names;
    std::mt19937 random(seed);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "line_%03d.jpg", i + 1);
        names.push_back(name);
        samples.push_back({nullptr, 8 + static_cast<int>(random() % 15),
                           seed * 1000u + static_cast<std::uint32_t>(i)});
    }
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i].file = names[i].c_str();
    return writeKindSet(folder, samples, [&](const KindSample& s, const auto& file) {
        std::mt19937 look(s.seed);
        StackPlan plan;
        plan.width = width;
        plan.height = height;
        plan.floorRows = height / 9 / 8 * 8;
        plan.wallRows = height / 9 / 8 * 8;
        plan.boards = s.boards;
        plan.faintJoints = static_cast<int>(look() % 3);
        if (look() % 3 == 0) plan.gapLengths = {18 + static_cast<int>(look() % 6)};
        plan.boardGreyMin = 160.0;
        plan.boardGreyMax = 205.0;
        // Some joints barely darker than the usual threshold, so that only part of them is dark.
        plan.darkJointGreyMax = 118.0;
        plan.jointRowsMin = 3;
        StackPhoto photo = lathmark::samplegen::planStack(plan, s.seed);
        photo.gradientX = (static_cast<double>(look() % 41) - 20.0) / 1000.0;
        photo.gradientY = (static_cast<double>(look() % 41) - 20.0) / 1000.0;
        auto dib = lathmark::samplegen::renderStack(photo, s.seed);
        // Some stacks cast a shadow along their foot: the lowest rows of the bottom board darker
        // over part of the width, which only a low enough BDLINE trims away with the floor.
        if (look() % 3 == 0) {
            const int columns = width * (35 + static_cast<int>(look() % 30)) / 100;
            const int from = static_cast<int>(look() % static_cast<unsigned>(width - columns));
            for (int y = plan.floorRows; y < plan.floorRows + 4; ++y) {
                BYTE* line = FreeImage_GetScanLine(dib.get(), y);
                for (int x = from; x < from + columns; ++x)
                    for (int c = 0; c < 3; ++c)
                        line[3 * x + c] = static_cast<BYTE>(line[3 * x + c] / 3);
            }
        }
        lathmark::samplegen::saveJpeg(dib.get(), file.string());
    });
}

int main(int argc, char** argv) {
    if (argc == 7 && std::string(argv[1]) == "--line") {
        FreeImage_Initialise();
        const bool ok =
            writeLineSet(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                         static_cast<std::uint32_t>(std::atol(argv[6])));
        FreeImage_DeInitialise();
        return ok ? 0 : 1;
    }
    if (argc == 7 &&
        (std::string(argv[1]) == "--station" || std::string(argv[1]) == "--rough-station")) {
        FreeImage_Initialise();
        const bool ok =
            writeStationSet(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                            static_cast<std::uint32_t>(std::atol(argv[6])),
                            std::string(argv[1]) == "--rough-station");
        FreeImage_DeInitialise();
        return ok ? 0 : 1;
    }
    if (argc != 2) {
        std::fprintf(stderr,
                     "usage: lathmark-make-samples OUTDIR\n"
                     "       lathmark-make-samples --station OUTDIR COUNT WIDTH HEIGHT SEED\n"
                     "       lathmark-make-samples --rough-station OUTDIR COUNT WIDTH HEIGHT SEED\n"
                     "       lathmark-make-samples --line OUTDIR COUNT WIDTH HEIGHT SEED\n");
        return 2;
    }
    const std::filesystem::path outDir = argv[1];
    std::error_code error;
    std::filesystem::create_directories(outDir, error);
    if (error || !std::filesystem::is_directory(outDir)) {
        std::fprintf(stderr, "%s: cannot use as the output folder: %s\n", outDir.string().c_str(),
                     error ? error.message().c_str() : "not a folder");
        return 1;
    }

    FreeImage_Initialise();
    const std::filesystem::path manifestPath = outDir / "manifest.tsv";
    std::ofstream manifest(manifestPath, std::ios::binary);
    if (!manifest) {
        std::fprintf(stderr, "%s: cannot open for writing\n", manifestPath.string().c_str());
        return 1;
    }
    manifest << "file\tboards\twidth\theight\n";

    int status = 0;
    for (const Sample& s : samples()) {
        const std::filesystem::path file = outDir / s.file;
        try {
            StackPlan plan;
            plan.width = s.width;
            plan.height = s.height;
            plan.floorRows = s.floorRows;
            plan.wallRows = s.wallRows;
            plan.boards = s.boards;
            plan.boardJitterRows = boardRowsJitter(s.boards);
            plan.faintJoints = s.faintJoints;
            plan.gapLengths = s.gapLengths;
            StackPhoto photo = lathmark::samplegen::planStack(plan, s.seed);
            photo.gradientX = s.gradientX;
            photo.gradientY = s.gradientY;
            photo.colour = s.colour;
            auto dib = lathmark::samplegen::renderStack(photo, s.seed);
            // A photograph without colour is written as an 8-bit grey JPEG, as some cameras do.
            if (!s.colour) dib = lathmark::samplegen::toGreyscale(dib.get());
            lathmark::samplegen::saveJpeg(dib.get(), file.string());
            manifest << s.file << '\t' << s.boards << '\t' << s.width << '\t' << s.height << '\n';
            std::printf("%s: %d boards, %d x %d\n", file.string().c_str(), s.boards, s.width,
                        s.height);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", file.string().c_str(), e.what());
            status = 1;
        }
    }
    manifest.close();
    if (!manifest) {
        std::fprintf(stderr, "%s: cannot write\n", manifestPath.string().c_str());
        status = 1;
    }
    if (!writeKindSet(outDir / "dim", dimSamples(), writeDimSample)) status = 1;
    if (!writeKindSet(outDir / "thin", thinSamples(), writeThinSample)) status = 1;
    if (!writeStationSamples(outDir / "station")) status = 1;
    if (!writeKindSet(outDir / "yard", yardSamples(), writeYardSample)) status = 1;
    FreeImage_DeInitialise();
    return status;
}
