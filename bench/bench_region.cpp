// Speed of counting within a region and with a second opinion, against what they add to.
//
// Every case draws a 2448 x 2048 photograph (an industrial camera's frame) or a 768 x 576 one
// with the sample generator, and times two things alternately in one loop, so that both see the
// same state of the machine: a whole count and a bare FreeImage_Load of the file (target: at most
// 1.15 x at 2448 x 2048); a count within a region of the middle 45 % of the width and a count of
// the whole photograph (target: at most 1 x); a count within the middle quarter or half of the
// width against a bare decode of the whole (targets: 0.6 x and 0.75 x, as only the region is
// decoded); a count with a THICKNESS and one without (target: at most 1.02 x). Counters: both
// medians (ms) and their ratio, in elapsed time (`ratio`) and in the thread's processor time
// (`cpu_ratio`).

#include <FreeImage.h>
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "bench/fixtures.h"
#include "bench/timing.h"
#include "engine/counting.h"

namespace {

using namespace lathmark;

constexpr int kStationWidth = 2448;
constexpr int kStationHeight = 2048;

const bench::BenchPhotograph& photographOf(int width) {
    static bench::ScratchFolder folder{"lathmark-bench-region"};
    static std::map<int, bench::BenchPhotograph> made;
    auto found = made.find(width);
    if (found == made.end()) {
        const int height = width == kStationWidth ? kStationHeight : bench::kSmallHeight;
        const auto file = folder.path() / ("stack_" + std::to_string(width) + ".jpg");
        found = made.emplace(width, bench::writeBenchPhotograph(file, width, height)).first;
    }
    return found->second;
}

constexpr Settings kSettings{.threshold = bench::kThreshold, .bdLine = bench::kBdLine};

// `first` and `second` alternately, each `state.iterations()` times after one untimed round.
template <typename First, typename Second>
void alternately(benchmark::State& state, double target, First first, Second second) {
    if (!first() || !second()) {
        state.SkipWithError("a count failed");
        return;
    }
    bench::Samples a, b;
    for (auto _ : state)
        if (!a.time(first) || !b.time(second)) {
            state.SkipWithError("a count failed");
            return;
        }
    state.counters["first_ms"] = a.medianMs();
    state.counters["second_ms"] = b.medianMs();
    state.counters["ratio"] = bench::ratio(a.medianMs(), b.medianMs());
    state.counters["cpu_ratio"] = bench::ratio(a.medianCpuMs(), b.medianCpuMs());
    state.counters["target"] = target;
}

bool counted(const bench::BenchPhotograph& photograph, const Settings& settings) {
    const CountResult result = countBoards(photograph.file, settings);
    return result.ok() && result.boards() == photograph.boards;
}

// A whole count (first) against a bare decode (second).
void BM_CountToDecode(benchmark::State& state) {
    const bench::BenchPhotograph& photograph = photographOf(static_cast<int>(state.range(0)));
    alternately(
        state, 1.15, [&] { return counted(photograph, kSettings); },
        [&] {
            FIBITMAP* dib = FreeImage_Load(FIF_JPEG, photograph.file.c_str(), 0);
            FreeImage_Unload(dib);
            return dib != nullptr;
        });
}
BENCHMARK(BM_CountToDecode)->Arg(kStationWidth)->Iterations(15)->Unit(benchmark::kMillisecond);

// A count within the middle 45 % of the width (first) against a count of the whole (second).
void BM_RegionToWhole(benchmark::State& state) {
    const bench::BenchPhotograph& photograph = photographOf(static_cast<int>(state.range(0)));
    Settings region = kSettings;
    const int width = photograph.width * 45 / 100;
    region.region = Region{(photograph.width - width) / 2, 0, width, photograph.height};
    alternately(
        state, 1.0, [&] { return counted(photograph, region); },
        [&] { return counted(photograph, kSettings); });
}
BENCHMARK(BM_RegionToWhole)
    ->Arg(bench::kSmallWidth)
    ->Arg(kStationWidth)
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond);

// A count within the middle quarter or half of the width, all rows (first), against a bare
// decode of the whole photograph (second): only the region is decoded, so the count costs less
// than the decode it needed before (targets: a quarter at most 0.6 x, a half at most 0.75 x).
// The second argument 1 writes the photograph as most cameras do, with colour at half
// resolution (4:2:0), where the decoder's work beyond reading the data is a larger share.
void BM_RegionCountToDecode(benchmark::State& state) {
    static bench::ScratchFolder folder{"lathmark-bench-region-decode"};
    const bool cameraLike = state.range(1) != 0;
    static std::map<bool, bench::BenchPhotograph> made;
    if (!made.contains(cameraLike))
        made.emplace(cameraLike, bench::writeBenchPhotograph(
                                     folder.path() / (cameraLike ? "camera.jpg" : "stack.jpg"),
                                     kStationWidth, kStationHeight, cameraLike));
    const bench::BenchPhotograph& photograph = made.at(cameraLike);
    const auto percent = static_cast<int>(state.range(0));
    Settings region = kSettings;
    const int width = photograph.width * percent / 100;
    region.region = Region{(photograph.width - width) / 2, 0, width, photograph.height};
    alternately(
        state, percent <= 25 ? 0.6 : 0.75, [&] { return counted(photograph, region); },
        [&] {
            FIBITMAP* dib = FreeImage_Load(FIF_JPEG, photograph.file.c_str(), 0);
            FreeImage_Unload(dib);
            return dib != nullptr;
        });
}
BENCHMARK(BM_RegionCountToDecode)
    ->Args({25, 0})
    ->Args({50, 0})
    ->Args({25, 1})
    ->Args({50, 1})
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond);

// A count with a THICKNESS (first) against one without (second).
void BM_ThicknessToPlain(benchmark::State& state) {
    const bench::BenchPhotograph& photograph = photographOf(static_cast<int>(state.range(0)));
    Settings thick = kSettings;
    thick.thicknessHundredths = 3500;
    alternately(
        state, 1.02, [&] { return counted(photograph, thick); },
        [&] { return counted(photograph, kSettings); });
}
BENCHMARK(BM_ThicknessToPlain)
    ->Arg(bench::kSmallWidth)
    ->Arg(kStationWidth)
    ->Iterations(31)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
