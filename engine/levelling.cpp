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
    if (hasOwnThreshold(photograph)) {
        Bitmap grey = newGrey(at.width, at.height);
        if (!grey) return Failed{"could not be levelled (out of memory?)"};
        const Scanlines to(grey.get());
        GreyRows rows(photograph, at);
        for (int y = 0; y < at.height; ++y) rows.rowInto(y, to(y));
        return grey;
    }
    // The library's grey copy has a grey palette of its own: the whole photograph's is the part.
    const bool whole = at.width == static_cast<int>(FreeImage_GetWidth(photograph)) &&
                       at.height == static_cast<int>(FreeImage_GetHeight(photograph));
    const Bitmap cut = whole ? Bitmap() : cutOut(photograph, at);
    Bitmap converted(FreeImage_ConvertToGreyscale(whole ? photograph : cut.get()));
    if (!converted) return Failed{"could not be levelled (out of memory?)"};
    if (whole && FreeImage_GetBPP(converted.get()) == 8) return converted;
    Bitmap grey = newGrey(at.width, at.height);
    if (!grey) return Failed{"could not be levelled (out of memory?)"};
    const Scanlines to(grey.get());
    const Scanlines from(converted.get());
    for (int y = 0; y < at.height; ++y) std::copy_n(from(y), at.width, to(y));
    return grey;
}

// How many rows column `x` of the part moves at a slope, about the part's middle column.
class Shear {
  public:
    Shear(int hundredths, int width) : slope_(slopeOf(hundredths)), middle_((width - 1) / 2.0) {}
    int rows(double x) const { return static_cast<int>(std::lround(slope_ * (x - middle_))); }

  private:
    double slope_;
    double middle_;
};

}  // namespace

int sharpestSlope(FIBITMAP* grey) {
    const int width = static_cast<int>(FreeImage_GetWidth(grey));
    const int height = static_cast<int>(FreeImage_GetHeight(grey));
    const int strips = std::clamp(width / 4, 1, kMostStrips);
    const int stripWidth = (width + strips - 1) / strips;
    // Each strip's grey levels summed along each row, strip after strip.
    std::vector<std::int64_t> sums(static_cast<std::size_t>(strips) * height, 0);
    const Scanlines rows(grey);
    for (int y = 0; y < height; ++y) {
        const BYTE* row = rows(y);
        for (int s = 0; s < strips; ++s) {
            const int end = std::min(width, (s + 1) * stripWidth);
            std::int64_t sum = 0;
            for (int x = s * stripWidth; x < end; ++x) sum += row[x];
            sums[static_cast<std::size_t>(s) * height + y] = sum;
        }
    }
    std::vector<std::int64_t> profile(static_cast<std::size_t>(height));
    auto sharpness = [&](int hundredths) {
        const Shear shear(hundredths, width);
        std::fill(profile.begin(), profile.end(), 0);
        for (int s = 0; s < strips; ++s) {
            const double middle = std::min(width, s * stripWidth + stripWidth / 2);
            const int moved = shear.rows(middle);
            const std::int64_t* strip = &sums[static_cast<std::size_t>(s) * height];
            // Rows that would come from beyond the part repeat its edge rows.
            const int first = std::clamp(-moved, 0, height);
            const int end = std::clamp(height - moved, first, height);
            for (int y = 0; y < first; ++y) profile[y] += strip[0];
            for (int y = first; y < end; ++y) profile[y] += strip[y + moved];
            for (int y = end; y < height; ++y) profile[y] += strip[height - 1];
        }
        double sum = 0;
        for (int y = 1; y < height; ++y) {
            const auto change = static_cast<double>(profile[y] - profile[y - 1]);
            sum += change * change;
        }
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

// Each byte of `to` read between `first` and `second`, `weights` of 256 towards the second: a
// loop of plain arrays that the compiler makes wide.
void mixRows(const BYTE* __restrict first, const BYTE* __restrict second,
             const std::uint16_t* __restrict weights, BYTE* __restrict to, int count) {
    for (int x = 0; x < count; ++x) {
        const std::uint16_t weight = weights[x];
        to[x] = static_cast<BYTE>(
            static_cast<std::uint16_t>(first[x] * (256 - weight) + second[x] * weight + 128) >> 8);
    }
}

// Levels a grey bitmap in place. Moved by whole rows, a joint's edge would still cross a row
// at a slant between two moves, and the row beside it would be dark in one stretch of columns
// and light in the next, which the passes take for a faint line of its own; so each column is
// moved by a fraction of a row, read between the two rows around it, and that row is one grey
// all along, as it is in a level stack.
void levelGrey(FIBITMAP* grey, int hundredths) {
    const int width = static_cast<int>(FreeImage_GetWidth(grey));
    const int height = static_cast<int>(FreeImage_GetHeight(grey));
    const double slope = slopeOf(hundredths);
    const double middle = (width - 1) / 2.0;
    constexpr std::uint16_t kOne = 256;  // a whole row, in the weights' fixed point
    std::vector<int> whole(static_cast<std::size_t>(width));
    std::vector<std::uint16_t> below(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) {
        const double moved = slope * (x - middle);
        const double rows = std::floor(moved);
        whole[x] = static_cast<int>(rows);
        below[x] = static_cast<std::uint16_t>(std::lround((moved - rows) * kOne));
    }
    const Scanlines rows(grey);
    // Columns moved by the same whole rows lie side by side: a run of them reads two rows one
    // after the other, a loop the compiler makes wide. A row is written once the rows it reads
    // are read: upwards where columns read the rows above, downwards where they read those
    // below, so that no row is read after it was written.
    // Runs of columns moved by the same whole rows, found once for all rows.
    struct Run {
        int start;
        int end;
        int whole;
    };
    std::vector<Run> runs;
    for (int start = 0; start < width;) {
        int end = start + 1;
        while (end < width && whole[end] == whole[start]) ++end;
        runs.push_back({start, end, whole[start]});
        start = end;
    }
    // A run that reads the row it writes (moved by 0 or -1 rows) is made in a line of its own
    // and then copied in, so that no write touches what is still to be read.
    std::vector<BYTE> line(static_cast<std::size_t>(width));
    auto levelRun = [&](const Run& run, int y) {
        const BYTE* first = rows(std::clamp(y + run.whole, 0, height - 1)) + run.start;
        const BYTE* second = rows(std::clamp(y + run.whole + 1, 0, height - 1)) + run.start;
        BYTE* to = rows(y) + run.start;
        const int count = run.end - run.start;
        if (run.whole == 0 || run.whole == -1) {
            mixRows(first, second, &below[run.start], line.data(), count);
            std::copy_n(line.data(), count, to);
        } else {
            mixRows(first, second, &below[run.start], to, count);
        }
    };
    // Runs reading the rows above (moved by 0 or more) are made upwards, row by row; those
    // reading the rows below, downwards.
    for (int y = 0; y < height; ++y)
        for (const Run& run : runs)
            if (run.whole >= 0) levelRun(run, y);
    for (int y = height - 1; y >= 0; --y)
        for (const Run& run : runs)
            if (run.whole < 0) levelRun(run, y);
}

}  // namespace

StepResult<Levelled> levelled(FIBITMAP* photograph, const Settings& settings) {
    const std::optional<Region> region = settings.regionFound ? std::nullopt : settings.region;
    StepResult<Bitmap> grey = greyPart(photograph, region);
    if (!grey.ok()) return Failed{*grey.failure};
    Levelled result;
    const Angle& angle = settings.angle;
    result.hundredths = angle.automatic ? sharpestSlope(grey.value.get()) : angle.hundredths;
    result.part = std::move(grey.value);
    if (result.hundredths != 0) levelGrey(result.part.get(), result.hundredths);
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

std::vector<double> rowProfile(FIBITMAP* grey, int first, int end, int fromColumn) {
    const int height = static_cast<int>(FreeImage_GetHeight(grey));
    const int width = static_cast<int>(FreeImage_GetWidth(grey));
    std::vector<double> profile;
    const Scanlines rows(grey);
    for (int y = first; y < end; ++y) {
        const BYTE* row = rows(height - 1 - y);
        std::uint32_t sum = 0;  // 65535 columns of 255 at most
        for (int x = fromColumn; x < width; ++x) sum += row[x];
        profile.push_back(static_cast<double>(sum));
    }
    return profile;
}

}  // namespace lathmark
