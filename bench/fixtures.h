#pragma once
// The photographs the benchmarks measure. They are drawn by the sample generator at the size
// wanted, so that no large file has to be kept in the repository, and written at the
// generator's default JPEG quality, as the committed samples are.

#include <filesystem>
#include <string>

#include "tools/scratch_folder.h"

namespace lathmark::bench {

// The sizes measured: a camera frame and a 12-megapixel photograph.
constexpr int kSmallWidth = 768;
constexpr int kSmallHeight = 576;
constexpr int kLargeWidth = 4000;
constexpr int kLargeHeight = 3000;
// A station camera's photograph.
constexpr int kStationWidth = 2448;
constexpr int kStationHeight = 2048;

// The settings every benchmark counts with: those of the bundled Lathmark.ini.
constexpr short kBdLine = 40;
constexpr short kThreshold = 128;

struct BenchPhotograph {
    std::filesystem::path file;
    int width = 0;
    int height = 0;
    int boards = 0;  // the true count, for checking that a benchmark measured a real count
};

// Draws a stack photograph of `width` x `height` pixels (at least 64 x 64) and writes it as
// `file`. The layout scales with the height: the floor and wall each take about a ninth of
// it, and the stack holds 12 boards, as the first 768 x 576 sample does.
// Throws std::runtime_error or std::invalid_argument when it cannot.
// `cameraLike` writes it as most cameras do (colour at half resolution both ways, 4:2:0) instead
// of the sample generator's full-resolution colour (4:4:4).
BenchPhotograph writeBenchPhotograph(const std::filesystem::path& file, int width, int height,
                                     bool cameraLike = false);

// Writes a 1 x 1 mid-grey JPEG: a photograph the counter decodes and then refuses at once,
// which shows what a run costs apart from the photograph.
void writeTinyPhotograph(const std::filesystem::path& file);

using lathmark::ScratchFolder;

}  // namespace lathmark::bench
