#include "engine/levelling.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "engine/preparation.h"
#include "engine/stack_finding.h"
#include "engine/two_level.h"

namespace lathmark {
namespace {

// Columns in a strip of the slope search: narrow enough that moving a strip as one smears a
// joint by at most a row or two at the steepest slope searched, few enough to be quick.
constexpr int kMostStrips = 64;

double slopeOf(int hundredths) {
    return std::tan(hundredths / 100.0 * std::numbers::pi / 180.0);
}

// The counted part in grey: its own rows where the count reads the photograph's grey levels
// itself, else the library's grey copy of it.
StepResult<Bitmap> greyPart(FIBITMAP* photograph, const std::optional<Region>& region) {
    const StepResult<Region> part = countedPart(photograph, region);
    if (!part.ok()) return Failed{*part.failure};
    const Region& at = part.value;
    Bitmap grey = newGrey(at.width, at.height);
    if (!grey) return Failed{"could not be levelled (out of memory?)"};
    const Scanlines to(grey.get());
    if (hasOwnThreshold(photograph)) {
        GreyRows rows(photograph, at);
        for (int y = 0; y < at.height; ++y) std::copy_n(rows.row(y), at.width, to(y));
        return grey;
    }
    const Bitmap cut = cutOut(photograph, at);
    const Bitmap converted(cut ? FreeImage_ConvertToGreyscale(cut.get()) : nullptr);
    if (!converted) return Failed{"could not be levelled (out of memory?)"};
    const Scanlines from(converted.get());
    for (int y = 0; y < at.height; ++y) std::copy_n(from(y), at.width, to(y));
    return grey;
}

// Which row of the part column `x` reads for the levelled row y.
class Shear {
  public:
    Shear(int hundredths, int width, int height)
        : slope_(slopeOf(hundredths)), middle_((width - 1) / 2.0), height_(height) {}
    int rows(double x) const { return static_cast<int>(std::lround(slope_ * (x - middle_))); }
    int from(int y, int moved) const { return std::clamp(y + moved, 0, height_ - 1); }

  private:
    double slope_;
    double middle_;
    int height_;
};

}  // namespace

int sharpestSlope(FIBITMAP* grey) {
    const int width = static_cast<int>(FreeImage_GetWidth(grey));
    const int height = static_cast<int>(FreeImage_GetHeight(grey));
    const int strips = std::clamp(width / 4, 1, kMostStrips);
    const int stripWidth = (width + strips - 1) / strips;
    // Each strip's grey levels summed along each row, strip after strip.
    std::vector<std::int32_t> sums(static_cast<std::size_t>(strips) * height, 0);
    const Scanlines rows(grey);
    for (int y = 0; y < height; ++y) {
        const BYTE* row = rows(y);
        for (int x = 0; x < width; ++x)
            sums[static_cast<std::size_t>(x / stripWidth) * height + y] += row[x];
    }
    std::vector<double> profile(static_cast<std::size_t>(height));
    auto sharpness = [&](int hundredths) {
        const Shear shear(hundredths, width, height);
        std::fill(profile.begin(), profile.end(), 0.0);
        for (int s = 0; s < strips; ++s) {
            const double middle = std::min(width, s * stripWidth + stripWidth / 2);
            const int moved = shear.rows(middle);
            const std::int32_t* strip = &sums[static_cast<std::size_t>(s) * height];
            for (int y = 0; y < height; ++y) profile[y] += strip[shear.from(y, moved)];
        }
        double sum = 0;
        for (int y = 1; y < height; ++y)
            sum += (profile[y] - profile[y - 1]) * (profile[y] - profile[y - 1]);
        return sum;
    };
    // Every tenth of a degree, the level one first and then outwards, so that of equally sharp
    // slopes the least steep is kept; then the twentieths beside the best.
    int best = 0;
    double bestSharpness = sharpness(0);
    auto consider = [&](int hundredths) {
        const double found = sharpness(hundredths);
        if (found > bestSharpness) {
            best = hundredths;
            bestSharpness = found;
        }
    };
    for (int step = 10; step <= kMostFoundSlopeHundredths; step += 10) {
        consider(step);
        consider(-step);
    }
    const int coarse = best;
    for (int hundredths : {coarse - kFoundSlopeStepHundredths, coarse + kFoundSlopeStepHundredths})
        if (std::abs(hundredths) <= kMostFoundSlopeHundredths) consider(hundredths);
    return best;
}

namespace {

Bitmap levelledGrey(FIBITMAP* grey, int hundredths) {
    const int width = static_cast<int>(FreeImage_GetWidth(grey));
    const int height = static_cast<int>(FreeImage_GetHeight(grey));
    Bitmap levelled = newGrey(width, height);
    if (!levelled) return levelled;
    // Each column is moved by a fraction of a row, read between the two rows around it. Moved
    // by whole rows, a joint's edge would still cross a row at a slant between two moves, and
    // the row beside it would be dark in one stretch of columns and light in the next, which the
    // passes take for a faint line of its own; read between rows, that row is one grey all
    // along, as it is in a level stack.
    const double slope = slopeOf(hundredths);
    const double middle = (width - 1) / 2.0;
    constexpr int kOne = 256;  // a whole row, in the weights' fixed point
    std::vector<int> whole(static_cast<std::size_t>(width));
    std::vector<int> below(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) {
        const double moved = slope * (x - middle);
        const double rows = std::floor(moved);
        whole[x] = static_cast<int>(rows);
        below[x] = static_cast<int>(std::lround((moved - rows) * kOne));
    }
    const Scanlines from(grey);
    const Scanlines to(levelled.get());
    for (int y = 0; y < height; ++y) {
        BYTE* row = to(y);
        for (int x = 0; x < width; ++x) {
            const int first = std::clamp(y + whole[x], 0, height - 1);
            const int second = std::clamp(y + whole[x] + 1, 0, height - 1);
            const int mixed =
                from(first)[x] * (kOne - below[x]) + from(second)[x] * below[x] + kOne / 2;
            row[x] = static_cast<BYTE>(mixed / kOne);
        }
    }
    return levelled;
}

}  // namespace

StepResult<Levelled> levelled(FIBITMAP* photograph, const Settings& settings) {
    const std::optional<Region> region = settings.regionFound ? std::nullopt : settings.region;
    StepResult<Bitmap> grey = greyPart(photograph, region);
    if (!grey.ok()) return Failed{*grey.failure};
    Levelled result;
    const Angle& angle = settings.angle;
    result.hundredths = angle.automatic ? sharpestSlope(grey.value.get()) : angle.hundredths;
    result.part = result.hundredths == 0 ? std::move(grey.value)
                                         : levelledGrey(grey.value.get(), result.hundredths);
    if (!result.part) return Failed{"could not be levelled (out of memory?)"};
    if (!settings.regionFound) return result;
    const StepResult<FoundStack> found = findStack(result.part.get());
    if (!found.ok()) return Failed{*found.failure};
    result.found = found.value.region;
    result.doubt = found.value.doubt;
    const Region& at = found.value.region;
    result.part = Bitmap(
        FreeImage_Copy(result.part.get(), at.left, at.top, at.left + at.width, at.top + at.height));
    if (!result.part) return Failed{"could not be cut to its stack (out of memory?)"};
    return result;
}

}  // namespace lathmark
