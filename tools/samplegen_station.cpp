// Photographs of a counting station: the stack drawn as any stack is, set into a wider picture of
// a dark table, a dark wall with a lit patch, and a dark press head above the stack.

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/samplegen.h"
#include "tools/samplegen_internal.h"

namespace lathmark::samplegen {

using detail::Random;
using detail::refuse;
using detail::streamSeed;

StationScene planStation(const StationPlan& plan, std::uint32_t seed) {
    const std::string what = "station plan";
    if (plan.boards < 1) refuse(what, "boards must be at least 1");
    if (plan.stackShare <= 0.0 || plan.stackShare > 1.0) refuse(what, "stackShare is not 0 to 1");
    Random rnd(streamSeed(seed, 7));
    StationScene scene;
    scene.width = plan.width;
    scene.height = plan.height;
    scene.tableRows = plan.tableRows;
    const int stackWidth = std::max(1, static_cast<int>(std::lround(plan.width * plan.stackShare)));
    const double centre = plan.width * (0.5 + plan.shift);
    scene.stackLeft = std::clamp(static_cast<int>(std::lround(centre - stackWidth / 2.0)), 0,
                                 plan.width - stackWidth);
    const int stackRows = plan.boards * plan.boardRows + (plan.boards - 1) * plan.jointRows;
    if (plan.tableRows + stackRows + 8 > plan.height)
        refuse(what, std::to_string(plan.boards) + " plates do not fit under the wall");

    StackPlan stack;
    stack.width = stackWidth;
    stack.height = stackRows;
    stack.floorRows = 0;
    stack.wallRows = 0;
    stack.boards = plan.boards;
    stack.jointRowsMin = plan.jointRows;
    stack.jointRowsMax = plan.jointRows;
    stack.boardJitterRows = 1;
    stack.boardGreyMin = 196.0;
    stack.boardGreyMax = 226.0;
    stack.darkJointGreyMin = 30.0;
    stack.darkJointGreyMax = 75.0;
    stack.faintJoints = plan.faintJoints;
    stack.faintJointGrey = plan.faintJointGrey;
    scene.stack = planStack(stack, seed);
    scene.stack.gradientX = rnd.uniform(-0.02, 0.02);
    scene.stack.gradientY = rnd.uniform(-0.02, 0.02);
    scene.stack.edgeShade = 0.1;
    scene.stack.noiseSigma = 2.5;

    // Lighting varies from one photograph to the next; the table and wall stay dark.
    scene.tableGrey = rnd.uniform(26.0, 44.0);
    scene.wallGrey = rnd.uniform(38.0, 62.0);
    // A lamp's reflection on the wall beside the stack, as tall as part of the stack: lighter than
    // the wall, far darker than a plate.
    const bool left = rnd.unit() < 0.5;
    const int room = left ? scene.stackLeft : plan.width - scene.stackLeft - stackWidth;
    if (room > 8) {
        scene.patchColumns = rnd.integer(room / 3, room - 4);
        scene.patchLeft =
            left ? rnd.integer(0, room - scene.patchColumns)
                 : scene.stackLeft + stackWidth + rnd.integer(4, room - scene.patchColumns);
        scene.patchBottom = plan.tableRows + rnd.integer(0, stackRows / 3);
        scene.patchRows = rnd.integer(stackRows / 3, std::max(stackRows / 3, stackRows));
        scene.patchGrey = rnd.uniform(95.0, 135.0);
    }
    // The press head: a dark block over most of the stack's width, a gap of wall above the stack.
    scene.objectColumns = static_cast<int>(stackWidth * rnd.uniform(0.6, 0.9));
    scene.objectLeft = scene.stackLeft + rnd.integer(0, stackWidth - scene.objectColumns);
    scene.objectBottom = plan.tableRows + stackRows + rnd.integer(16, 40);
    scene.objectRows = std::max(0, std::min(plan.height - scene.objectBottom, rnd.integer(40, 90)));
    scene.objectGrey = rnd.uniform(14.0, 28.0);
    if (plan.rough) {
        // Drawn from a stream of their own, so that a smooth station stays as it was.
        Random rough(streamSeed(seed, 9));
        scene.lightFalloff = rough.uniform(0.25, 0.4);
        scene.grainGrey = rough.uniform(8.0, 14.0);
        scene.stackNoiseSigma = rough.uniform(6.0, 9.0);
        scene.stack.noiseSigma = scene.stackNoiseSigma;
        scene.stack.gradientX = rough.uniform(-0.08, 0.08);
        scene.stack.gradientY = rough.uniform(-0.08, 0.08);
    }
    return scene;
}

namespace {

// The grain and light of a rough station over a drawn picture: each grey level scaled by the
// light at its place, which falls off from a spot towards the corners, plus the grain there.
void roughen(const StationScene& scene, std::uint32_t seed, FIBITMAP* dib) {
    Random rnd(streamSeed(seed, 10));
    const double spotX = scene.width * rnd.uniform(0.2, 0.8);
    const double spotY = scene.height * rnd.uniform(0.3, 0.9);
    const double reach = std::hypot(static_cast<double>(scene.width), scene.height);
    // Grain: a coarse field of random levels, one every few pixels, smoothed by taking each
    // pixel's from the nearest cell; and a streak per row, as rows of fibres or plaster.
    constexpr int kCell = 3;
    const int cellsX = scene.width / kCell + 2;
    const int cellsY = scene.height / kCell + 2;
    std::vector<double> cells(static_cast<std::size_t>(cellsX) * static_cast<std::size_t>(cellsY));
    for (double& cell : cells) cell = rnd.normal();
    std::vector<double> streaks(static_cast<std::size_t>(scene.height));
    for (double& streak : streaks) streak = rnd.normal();
    for (int y = 0; y < scene.height; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib, y);
        const double* row =
            cells.data() + static_cast<std::size_t>(y / kCell) * static_cast<std::size_t>(cellsX);
        for (int x = 0; x < scene.width; ++x) {
            const double away = std::hypot(x - spotX, y - spotY) / reach;
            const double light = 1.0 - scene.lightFalloff * std::min(1.0, 1.6 * away);
            const double grain = scene.grainGrey * (0.7 * row[x / kCell] +
                                                    0.5 * streaks[static_cast<std::size_t>(y)]);
            for (int c = 0; c < 3; ++c) {
                BYTE& level = line[3 * x + c];
                level = static_cast<BYTE>(std::clamp(std::lround(level * light + grain), 0L, 255L));
            }
        }
    }
}

}  // namespace

BitmapPtr renderStation(const StationScene& scene, std::uint32_t seed) {
    const BitmapPtr stack = renderStack(scene.stack, seed);
    BitmapPtr dib(FreeImage_Allocate(scene.width, scene.height, 24, FI_RGBA_RED_MASK,
                                     FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
    if (!dib) throw std::runtime_error("cannot allocate the station's bitmap");
    Random noise(streamSeed(seed, 8));
    auto inside = [](int x, int y, int left, int columns, int bottom, int rows) {
        return x >= left && x < left + columns && y >= bottom && y < bottom + rows;
    };
    const int stackRows = scene.stack.height;
    for (int y = 0; y < scene.height; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib.get(), y);
        const BYTE* stackLine = y >= scene.tableRows && y < scene.tableRows + stackRows
                                    ? FreeImage_GetScanLine(stack.get(), y - scene.tableRows)
                                    : nullptr;
        for (int x = 0; x < scene.width; ++x) {
            BYTE* pixel = line + 3 * x;
            if (stackLine && x >= scene.stackLeft && x < scene.stackLeft + scene.stack.width) {
                std::copy_n(stackLine + 3 * (x - scene.stackLeft), 3, pixel);
                continue;
            }
            double grey = y < scene.tableRows ? scene.tableGrey : scene.wallGrey;
            if (inside(x, y, scene.patchLeft, scene.patchColumns, scene.patchBottom,
                       scene.patchRows))
                grey = scene.patchGrey;
            if (inside(x, y, scene.objectLeft, scene.objectColumns, scene.objectBottom,
                       scene.objectRows))
                grey = scene.objectGrey;
            grey += scene.noiseSigma * noise.normal();
            const BYTE level = static_cast<BYTE>(std::clamp(std::lround(grey), 0L, 255L));
            std::fill_n(pixel, 3, level);
        }
    }
    if (scene.lightFalloff > 0.0 || scene.grainGrey > 0.0) roughen(scene, seed, dib.get());
    return dib;
}

}  // namespace lathmark::samplegen
