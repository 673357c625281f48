#include "bench/fixtures.h"

#include <FreeImage.h>

#include <algorithm>
#include <stdexcept>

#include "tools/samplegen.h"

namespace lathmark::bench {
namespace {

// Rows rounded down to a multiple of 8, so that the stack's edges fall on JPEG block edges
// and stay free of ringing, as in the samples.
int blockRows(int rows) {
    return rows / 8 * 8;
}

}  // namespace

BenchPhotograph writeBenchPhotograph(const std::filesystem::path& file, int width, int height,
                                     bool cameraLike) {
    if (width < 64 || height < 64)
        throw std::invalid_argument("a bench photograph needs at least 64 x 64 pixels");
    samplegen::StackPlan plan;
    plan.width = width;
    plan.height = height;
    plan.floorRows = std::max(8, blockRows(height / 9));
    plan.wallRows = height - plan.floorRows - blockRows(height - 2 * plan.floorRows);
    // The first sample's stack of 12 boards, seen at the resolution asked for: boards and
    // joints thicken with the photograph.
    plan.boards = 12;
    const int scale = std::max(1, height / 576);
    plan.jointRowsMin = 4 * scale;
    plan.jointRowsMax = 7 * scale;
    plan.boardJitterRows = 2 * scale;
    samplegen::StackPhoto photo = samplegen::planStack(plan, 101);
    photo.gradientX = 0.02;
    photo.gradientY = 0.015;
    auto dib = samplegen::renderStack(photo, 101);
    if (cameraLike)
        samplegen::savePhoneJpeg(dib.get(), file.string(), 90);
    else
        samplegen::saveJpeg(dib.get(), file.string());
    return {file, width, height, plan.boards};
}

void writeTinyPhotograph(const std::filesystem::path& file) {
    samplegen::BitmapPtr dib(FreeImage_Allocate(1, 1, 24));
    if (!dib) throw std::runtime_error("cannot allocate a 1 x 1 bitmap");
    RGBQUAD grey{128, 128, 128, 0};
    FreeImage_SetPixelColor(dib.get(), 0, 0, &grey);
    samplegen::saveJpeg(dib.get(), file.string());
}

}  // namespace lathmark::bench
