// Speed of a count, stage by stage, and of a whole count against decoding alone.
//
// Every case runs at two sizes: a 768 x 576 camera frame and a 4000 x 3000 photograph, both
// drawn once per process by the sample generator into a temporary folder. The stage cases run
// the count's own stages in the order a count runs them; BM_CountToDecode times a whole
// count and a bare FreeImage_Load of the same file alternately and reports the ratio of their
// medians, the figure the speed target is about.

#include <FreeImage.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/fixtures.h"
#include "bench/timing.h"
#include "engine/counting.h"
#include "engine/landscape.h"
#include "engine/passes.h"
#include "engine/preparation.h"
#include "engine/report.h"
#include "tools/samplegen.h"

namespace {

using namespace lathmark;

constexpr Settings kSettings{.threshold = bench::kThreshold, .bdLine = bench::kBdLine};

// The most a whole count may take, as a multiple of decoding the same file; with its stability
// ranges; and the most the whole settings landscape of a 768 x 576 photograph may take.
constexpr double kCountToDecodeTarget = 1.25;
constexpr double kLargeCountToDecodeTarget = 1.5;
constexpr double kStabilityToDecodeTarget = 2.0;
constexpr double kLandscapeToDecodeTarget = 100.0;
// The landscape over all four STRETCH values.
constexpr double kStretchedLandscapeToDecodeTarget = 250.0;

struct Fixtures {
    bench::ScratchFolder folder{"lathmark-bench"};
    std::map<int, bench::BenchPhotograph> byWidth;  // keyed by width: 768, 2448 and 4000
};

// Made on first use, so that listing the benchmarks draws nothing.
const Fixtures& fixtures() {
    static const std::unique_ptr<Fixtures> made = [] {
        auto f = std::make_unique<Fixtures>();
        const std::pair<int, int> sizes[] = {{bench::kSmallWidth, bench::kSmallHeight},
                                             {bench::kLargeWidth, bench::kLargeHeight},
                                             {bench::kStationWidth, bench::kStationHeight}};
        for (const auto& [width, height] : sizes) {
            const auto file = f->folder.path() / ("stack_" + std::to_string(width) + "x" +
                                                  std::to_string(height) + ".jpg");
            f->byWidth.emplace(width, bench::writeBenchPhotograph(file, width, height));
        }
        return f;
    }();
    return *made;
}

const bench::BenchPhotograph& photographFor(const benchmark::State& state) {
    return fixtures().byWidth.at(static_cast<int>(state.range(0)));
}

// Where the cases write result images: one file written over every time, as the window writes
// test.bmp at every pick, or a new file each time, as lathmark-count --marked writes into an
// empty folder. A new file costs the file system an inode, and on some (ext4 without a journal,
// as on the machine the figures in bench/README.md come from) that costs far more for minutes
// after many files were removed nearby: it looks past every inode freed in that time.
class ResultFiles {
  public:
    explicit ResultFiles(const benchmark::State& state)
        : folder_(fixtures().folder.path() / ("marked_" + std::to_string(state.range(0)))) {
        std::filesystem::create_directories(folder_);
    }
    ~ResultFiles() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    ResultFiles(const ResultFiles&) = delete;
    ResultFiles& operator=(const ResultFiles&) = delete;

    // A file name not used before.
    std::filesystem::path next() { return folder_ / (std::to_string(written_++) + ".bmp"); }
    // The same file name every time.
    std::filesystem::path same() const { return folder_ / "same.bmp"; }

  private:
    std::filesystem::path folder_;
    int written_ = 0;
};

// A count of the fixture as it stands after each stage, made by the count's own stages: the step
// cases start from here.
struct Prepared {
    Bitmap photograph;
    RowCounts rows;
    Band band;
    PassWork work;
};

// Runs the count's stages on the fixture, keeping what the step cases need. Gives back why it
// failed, if it did, or found the wrong number of boards.
std::optional<std::string> prepare(Prepared& p, const bench::BenchPhotograph& photograph) {
    StepResult<Bitmap> decoded = decodeJpegFile(photograph.file);
    if (!decoded.ok()) return decoded.failure;
    p.photograph = std::move(decoded.value);
    StepResult<RowCounts> rows = countRows(p.photograph.get(), kSettings);
    if (!rows.ok()) return rows.failure;
    p.rows = std::move(rows.value);
    const StepResult<Band> band = findBand(p.rows);
    if (!band.ok()) return band.failure;
    p.band = band.value;
    const PassLines lines = countLines(p.band.counts, kSettings.bdLine, p.work);
    if (boardsOf(lines) != photograph.boards)
        return "the stages found " + std::to_string(boardsOf(lines)) + " boards, not " +
               std::to_string(photograph.boards);
    return std::nullopt;
}

// Runs `step` on a prepared count of the benchmark's photograph in every iteration.
template <typename Step>
void onPrepared(benchmark::State& state, Step step) {
    Prepared p;
    if (auto failure = prepare(p, photographFor(state))) {
        state.SkipWithError(failure->c_str());
        return;
    }
    for (auto _ : state)
        if (!step(p)) {
            state.SkipWithError("the step failed");
            break;
        }
}

// Sizes, unit and repetitions shared by the cases; their medians are what counts.
void atBothSizes(benchmark::internal::Benchmark* b) {
    b->ArgName("width")
        ->Arg(bench::kSmallWidth)
        ->Arg(bench::kLargeWidth)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.3)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
}

// ---------------------------------------------------------------------------------------------
// Whole counts against decoding alone

// Reads the fixture's boards off a count, or says why the count does not stand.
bool checkCount(benchmark::State& state, const CountResult& result) {
    if (!result.ok()) {
        state.SkipWithError(result.error->message().c_str());
        return false;
    }
    if (result.boards() != photographFor(state).boards) {
        state.SkipWithError("the count found the wrong number of boards");
        return false;
    }
    return true;
}

// A whole count of the fixture, its result image written to `target`.
bool countAndWrite(benchmark::State& state, const std::filesystem::path& file,
                   const std::filesystem::path& target, const CountOptions& options = {}) {
    const CountResult result = countBoards(file, kSettings, options);
    if (!checkCount(state, result)) return false;
    if (options.stability && !result.stable) {
        state.SkipWithError("the count found no stability ranges");
        return false;
    }
    if (writeBmp(result.marked.get(), target)) {
        state.SkipWithError("the result image could not be written");
        return false;
    }
    return true;
}

// `work` and a bare decode of the same file, timed alternately so that both see the same state
// of the machine. Counters: the medians of each in elapsed time (ms) and their ratio, the
// target, and the same ratio in the thread's processor time (cpu_ratio), which holds steadier
// when other programs share the cores.
template <typename Work>
void againstDecode(benchmark::State& state, const std::filesystem::path& file, double target,
                   const char* name, Work work) {
    // One of each first, so that neither pays for a cold cache or a fresh heap.
    FreeImage_Unload(FreeImage_Load(FIF_JPEG, file.c_str(), 0));
    if (!work()) return;
    // What earlier benchmarks wrote goes to disk now, not while this one writes its files.
    ::sync();

    bench::Samples decodes, runs;
    for (auto _ : state) {
        const bool decoded = decodes.time([&file] {
            FIBITMAP* dib = FreeImage_Load(FIF_JPEG, file.c_str(), 0);
            FreeImage_Unload(dib);
            return dib != nullptr;
        });
        if (!decoded) {
            state.SkipWithError("the fixture could not be decoded");
            break;
        }
        if (!runs.time(work)) break;
    }
    state.counters["decode_ms"] = decodes.medianMs();
    state.counters[name] = runs.medianMs();
    state.counters["ratio"] = bench::ratio(runs.medianMs(), decodes.medianMs());
    state.counters["target"] = target;
    state.counters["cpu_ratio"] = bench::ratio(runs.medianCpuMs(), decodes.medianCpuMs());
}

// A whole count against decoding alone. new_files:0 writes the result image over one file, as
// the window does; new_files:1 writes a new file each time, as lathmark-count --marked does.
// These cases run first, before the step cases make and remove thousands of files.
void BM_CountToDecode(benchmark::State& state) {
    const auto file = photographFor(state).file;
    ResultFiles results(state);
    const bool newFiles = state.range(1) != 0;
    const double target =
        state.range(0) == bench::kSmallWidth ? kCountToDecodeTarget : kLargeCountToDecodeTarget;
    againstDecode(state, file, target, "count_ms", [&] {
        return countAndWrite(state, file, newFiles ? results.next() : results.same());
    });
}
BENCHMARK(BM_CountToDecode)
    ->ArgNames({"width", "new_files"})
    ->ArgsProduct({{bench::kSmallWidth}, {0, 1}})
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountToDecode)
    ->ArgNames({"width", "new_files"})
    ->ArgsProduct({{bench::kLargeWidth}, {0, 1}})
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond);

// A count of a stack photographed by hand, in a phone's wide frame of 2528 x 850 drawn by the
// sample generator (a stack of 40 sheets of 7 rows, turned by 2.2 degrees, in a yard): its
// slope and its stack found (ANGLE=auto REGION=auto), within 3 x decoding; its slope given
// (ANGLE=2.2), within 1.3 x. Result image written over one file, as the window does.
constexpr double kFoundToDecodeTarget = 3.0;
constexpr double kSlopeGivenToDecodeTarget = 1.3;
constexpr int kHandHeldBoards = 40;

const std::filesystem::path& handHeldPhotograph() {
    static const std::filesystem::path file = [] {
        samplegen::YardPlan plan;
        plan.width = 2528;
        plan.height = 850;
        plan.boards = kHandHeldBoards;
        plan.sheetRows = 7;
        plan.slopeDegrees = 2.2;
        plan.left = 0.05;
        plan.right = 0.95;
        plan.bottom = 0.2;
        const auto photo = samplegen::renderYard(samplegen::planYard(plan, 7), 7);
        const auto path = fixtures().folder.path() / "hand_held_2528x850.jpg";
        samplegen::savePhoneJpeg(photo.get(), path.string());
        return path;
    }();
    return file;
}

void BM_HandHeldToDecode(benchmark::State& state) {
    const bool found = state.range(0) != 0;
    Settings settings{.threshold = 80, .bdLine = 60, .stretch = 3};
    settings.angle = found ? Angle{0, true} : Angle{220, false};
    settings.regionFound = found;
    const auto& file = handHeldPhotograph();
    ResultFiles results(state);
    againstDecode(state, file, found ? kFoundToDecodeTarget : kSlopeGivenToDecodeTarget, "count_ms",
                  [&] {
                      const CountResult result = countBoards(file, settings);
                      if (!result.ok()) {
                          state.SkipWithError(result.error->message().c_str());
                          return false;
                      }
                      // Found, the stack is counted right; along the slope given, the whole
                      // photograph is counted, yard and all.
                      if (found && result.boards() != kHandHeldBoards) {
                          state.SkipWithError("the count found the wrong number of boards");
                          return false;
                      }
                      if (writeBmp(result.marked.get(), results.same())) {
                          state.SkipWithError("the result image could not be written");
                          return false;
                      }
                      return true;
                  });
}
BENCHMARK(BM_HandHeldToDecode)
    ->ArgName("found")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond);

// A count with its stability ranges, as lathmark-count --stability makes it, result image
// written over one file.
void BM_StabilityToDecode(benchmark::State& state) {
    const auto file = photographFor(state).file;
    ResultFiles results(state);
    CountOptions options;
    options.stability = true;
    againstDecode(state, file, kStabilityToDecodeTarget, "count_ms",
                  [&] { return countAndWrite(state, file, results.same(), options); });
}
BENCHMARK(BM_StabilityToDecode)
    ->ArgName("width")
    ->Arg(bench::kSmallWidth)
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond);

// A count with its self-check, as lathmark-count makes it by default, result image written over
// one file.
void BM_SelfCheckToDecode(benchmark::State& state) {
    const auto file = photographFor(state).file;
    ResultFiles results(state);
    CountOptions options;
    options.selfCheck = true;
    againstDecode(state, file, kCountToDecodeTarget, "count_ms",
                  [&] { return countAndWrite(state, file, results.same(), options); });
}
BENCHMARK(BM_SelfCheckToDecode)
    ->ArgName("width")
    ->Arg(bench::kSmallWidth)
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelfCheckToDecode)
    ->ArgName("width")
    ->Arg(bench::kStationWidth)
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond);

// The whole settings landscape of the photograph, from its file: decoded, its table of row
// counts made, and the passes run at all 246 x 769 settings, on one thread; at STRETCH 1
// (stretches:1), or at each STRETCH from 1 to 4 (stretches:4), as a calibration searches.
void BM_LandscapeToDecode(benchmark::State& state) {
    const bench::BenchPhotograph& photograph = photographFor(state);
    const auto stretches = static_cast<int>(state.range(1));
    const double target =
        stretches == 1 ? kLandscapeToDecodeTarget : kStretchedLandscapeToDecodeTarget;
    againstDecode(state, photograph.file, target, "landscape_ms", [&] {
        const StepResult<Bitmap> decoded = decodeJpegFile(photograph.file);
        const StepResult<ThresholdTable> table =
            decoded.ok() ? ThresholdTable::build(decoded.value.get()) : Failed{"not decoded"};
        if (!table.ok()) {
            state.SkipWithError("the fixture could not be searched");
            return false;
        }
        for (int stretch = 1; stretch <= stretches; ++stretch) {
            const Landscape landscape =
                settingsLandscape(table.value, table.value.width(), stretch);
            if (stretch == 1 &&
                landscape.boards(bench::kThreshold, bench::kBdLine) != photograph.boards) {
                state.SkipWithError("the landscape found the wrong number of boards");
                return false;
            }
        }
        return true;
    });
}
BENCHMARK(BM_LandscapeToDecode)
    ->ArgNames({"width", "stretches"})
    ->ArgsProduct({{bench::kSmallWidth}, {1, 4}})
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond);

// A count at each STRETCH from its decoded photograph, beyond decoding: thresholds, row counts,
// the passes and the result image, written over one file. Counters: the median at this
// STRETCH, at STRETCH 1 (measured in turn in the same loop) and their ratio, whose target is
// the STRETCH itself.
void BM_StretchBeyondDecode(benchmark::State& state) {
    const bench::BenchPhotograph& photograph = photographFor(state);
    const auto stretch = static_cast<int>(state.range(1));
    ResultFiles results(state);
    const StepResult<Bitmap> decoded = decodeJpegFile(photograph.file);
    if (!decoded.ok()) {
        state.SkipWithError("the fixture could not be decoded");
        return;
    }
    auto countAt = [&](bench::Samples& samples, int at) {
        Bitmap copy(FreeImage_Clone(decoded.value.get()));
        return samples.time([&] {
            Settings settings = kSettings;
            settings.stretch = at;
            const CountResult result =
                countDecoded(std::move(copy), photograph.file.string(), settings);
            return result.ok() && !writeBmp(result.marked.get(), results.same());
        });
    };
    bench::Samples atOne, atStretch;
    for (auto _ : state) {
        if (!countAt(atOne, 1) || !countAt(atStretch, stretch)) {
            state.SkipWithError("the count failed");
            break;
        }
    }
    state.counters["stretch_ms"] = atStretch.medianMs();
    state.counters["stretch1_ms"] = atOne.medianMs();
    state.counters["ratio"] = bench::ratio(atStretch.medianMs(), atOne.medianMs());
    state.counters["target"] = stretch;
    state.counters["cpu_ratio"] = bench::ratio(atStretch.medianCpuMs(), atOne.medianCpuMs());
}
BENCHMARK(BM_StretchBeyondDecode)
    ->ArgNames({"width", "stretch"})
    ->ArgsProduct({{bench::kSmallWidth}, {2, 3, 4}})
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StretchBeyondDecode)
    ->ArgNames({"width", "stretch"})
    ->ArgsProduct({{bench::kLargeWidth}, {2, 4}})
    ->Iterations(11)
    ->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// The digest that tells which photograph a file holds

// The digest of a photograph's walked data against the whole count that reads it, timed
// alternately: its share of a count. Target: at most 3 %.
void BM_DigestToCount(benchmark::State& state) {
    const auto file = photographFor(state).file;
    const StepResult<JpegPhotograph> read = readJpegFile(file);
    if (!read.ok() || !checkCount(state, countBoards(file, kSettings))) {
        if (!read.ok()) state.SkipWithError(read.failure->c_str());
        return;
    }
    bench::Samples digests, counts;
    for (auto _ : state) {
        digests.time([&read] { return digestOf(read.value.jpeg).has_value(); });
        counts.time([&file] { return countBoards(file, kSettings).ok(); });
    }
    state.counters["digest_ms"] = digests.medianMs();
    state.counters["count_ms"] = counts.medianMs();
    state.counters["share"] = bench::ratio(digests.medianMs(), counts.medianMs());
    state.counters["target"] = 0.03;
}
BENCHMARK(BM_DigestToCount)
    ->ArgName("width")
    ->Arg(bench::kSmallWidth)
    ->Arg(bench::kLargeWidth)
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Decoding

// The library's decoder alone: the yardstick of the speed target.
void BM_Decode(benchmark::State& state) {
    const auto file = photographFor(state).file;
    for (auto _ : state) {
        FIBITMAP* dib = FreeImage_Load(FIF_JPEG, file.c_str(), 0);
        if (dib == nullptr) {
            state.SkipWithError("the fixture could not be decoded");
            break;
        }
        FreeImage_Unload(dib);
    }
}
BENCHMARK(BM_Decode)->Apply(atBothSizes);

// The engine's decoding step: file checks, the header read for the size limit, then the
// decode itself.
void BM_DecodePhotograph(benchmark::State& state) {
    const auto file = photographFor(state).file;
    for (auto _ : state) {
        if (!decodeJpegFile(file).ok()) {
            state.SkipWithError("the fixture could not be decoded");
            break;
        }
    }
}
BENCHMARK(BM_DecodePhotograph)->Apply(atBothSizes);

// ---------------------------------------------------------------------------------------------
// The stages after decoding, each from where a real count of the fixture has got to

// Each row's dark pixels at both thresholds, in the one sweep a count makes of the photograph.
void BM_RowCounts(benchmark::State& state) {
    onPrepared(state, [](Prepared& p) { return countRows(p.photograph.get(), kSettings).ok(); });
}
BENCHMARK(BM_RowCounts)->Apply(atBothSizes);

void BM_FindBand(benchmark::State& state) {
    onPrepared(state, [](Prepared& p) { return findBand(p.rows).ok(); });
}
BENCHMARK(BM_FindBand)->Apply(atBothSizes);

// All four passes over the band's row counts, their rules applied to every row included.
void BM_Passes(benchmark::State& state) {
    onPrepared(state, [](Prepared& p) {
        benchmark::DoNotOptimize(countLines(p.band.counts, kSettings.bdLine, p.work));
        return true;
    });
}
BENCHMARK(BM_Passes)->Apply(atBothSizes);

// The result image and the joints, from the passes' line rows.
void BM_ResultImage(benchmark::State& state) {
    onPrepared(state, [](Prepared& p) {
        benchmark::DoNotOptimize(jointsOf(p.work, p.band.edges));
        return static_cast<bool>(resultImage(p.work, p.band.counts, p.photograph.get()));
    });
}
BENCHMARK(BM_ResultImage)->Apply(atBothSizes);

// The landscape's own steps: the table of every row's dark pixels at every threshold, and the
// passes at every setting.
void BM_ThresholdTable(benchmark::State& state) {
    onPrepared(state, [](Prepared& p) { return ThresholdTable::build(p.photograph.get()).ok(); });
}
BENCHMARK(BM_ThresholdTable)->Apply(atBothSizes);

void BM_Landscape(benchmark::State& state) {
    Prepared p;
    if (auto failure = prepare(p, photographFor(state))) {
        state.SkipWithError(failure->c_str());
        return;
    }
    const StepResult<ThresholdTable> table = ThresholdTable::build(p.photograph.get());
    if (!table.ok()) {
        state.SkipWithError("the table could not be made");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(settingsLandscape(table.value, table.value.width()));
}
BENCHMARK(BM_Landscape)
    ->ArgName("width")
    ->Arg(bench::kSmallWidth)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_WriteBmp(benchmark::State& state) {
    Prepared p;
    if (auto failure = prepare(p, photographFor(state))) {
        state.SkipWithError(failure->c_str());
        return;
    }
    const Bitmap image = resultImage(p.work, p.band.counts, p.photograph.get());
    ResultFiles results(state);
    const bool overwrite = state.range(1) != 0;
    for (auto _ : state) {
        if (writeBmp(image.get(), overwrite ? results.same() : results.next())) {
            state.SkipWithError("the result image could not be written");
            break;
        }
    }
}
BENCHMARK(BM_WriteBmp)
    ->ArgNames({"width", "overwrite"})
    ->ArgsProduct({{bench::kSmallWidth, bench::kLargeWidth}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.3)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// ---------------------------------------------------------------------------------------------
// A whole count alone, into new files

void BM_FullCount(benchmark::State& state) {
    const auto file = photographFor(state).file;
    ResultFiles results(state);
    for (auto _ : state)
        if (!countAndWrite(state, file, results.next())) break;
}
BENCHMARK(BM_FullCount)->Apply(atBothSizes);

}  // namespace

// The decoder library initialises itself when it is loaded, as the programs rely on too.
BENCHMARK_MAIN();
