// Drawing a described photograph into a 24-bit bitmap, and the grey copies and JPEG files made
// from bitmaps. How a description is laid out from a plan's few numbers is in samplegen_plan.cpp.

#include "tools/samplegen.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "tools/samplegen_internal.h"

namespace lathmark::samplegen {
namespace {

using detail::makeTint;
using detail::Random;
using detail::refuse;
using detail::Sampled;
using detail::streamSeed;
using detail::Tint;
using detail::toByte;
using detail::Wobble;

std::string str(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

void requireGrey(const std::string& what, double grey) {
    if (!(grey >= 0.0 && grey <= 255.0))
        refuse(what, "grey level " + str(grey) + " is outside 0 to 255");
}

void validate(const StackPhoto& p) {
    const std::string what = "stack photo";
    if (p.width < 1 || p.width > 65535)
        refuse(what, "width " + std::to_string(p.width) + " is outside 1 to 65535");
    if (p.height < 1 || p.height > 65535)
        refuse(what, "height " + std::to_string(p.height) + " is outside 1 to 65535");
    if (p.floorRows < 0) refuse(what, "floorRows is negative");
    if (p.wallRows < 0) refuse(what, "wallRows is negative");
    const long space = static_cast<long>(p.height) - p.floorRows - p.wallRows;
    if (space < 0)
        refuse(what, "floorRows + wallRows (" + std::to_string(p.floorRows + p.wallRows) +
                         ") exceed the height " + std::to_string(p.height));
    if (p.boards.empty()) {
        if (!p.joints.empty()) refuse(what, "joints given but no boards");
        if (space != 0)
            refuse(what,
                   "no boards, but " + std::to_string(space) + " rows lie between floor and wall");
    } else if (p.joints.size() + 1 != p.boards.size()) {
        refuse(what, std::to_string(p.boards.size()) + " boards need " +
                         std::to_string(p.boards.size() - 1) + " joints, not " +
                         std::to_string(p.joints.size()));
    }
    long filled = 0;
    for (std::size_t i = 0; i < p.boards.size(); ++i) {
        const std::string name = "board " + std::to_string(i);
        if (p.boards[i].rows < 1)
            refuse(what, name + " has " + std::to_string(p.boards[i].rows) + " rows");
        requireGrey(what + ", " + name, p.boards[i].grey);
        filled += p.boards[i].rows;
    }
    for (std::size_t i = 0; i < p.joints.size(); ++i) {
        const Joint& j = p.joints[i];
        const std::string name = what + ", joint " + std::to_string(i);
        if (j.rows < 1) refuse(name, std::to_string(j.rows) + " rows");
        requireGrey(name, j.grey);
        requireGrey(name + " gap", j.gapGrey);
        if (!(j.greyWander >= 0.0)) refuse(name, "greyWander must not be negative");
        if (!std::isfinite(j.tilt) || !std::isfinite(j.wave))
            refuse(name, "tilt and wave must be finite");
        if (j.gapLength < 0 || j.gapStart < 0 || j.gapStart + j.gapLength > p.width)
            refuse(name, "gap columns " + std::to_string(j.gapStart) + " + " +
                             std::to_string(j.gapLength) + " do not fit the width " +
                             std::to_string(p.width));
        filled += j.rows;
    }
    if (!p.boards.empty() && filled != space)
        refuse(what, "boards and joints fill " + std::to_string(filled) + " rows, but " +
                         std::to_string(space) + " rows lie between floor and wall");
    requireGrey(what + ", floor", p.floorGrey);
    requireGrey(what + ", wall", p.wallGrey);
    requireGrey(what + ", wall strip", p.wallStripGrey);
    if (p.wallStripColumns < 0 || p.wallStripStart < 0)
        refuse(what, "wall strip columns are negative");
    if (!(p.grain >= 0.0 && p.grain <= 100.0))
        refuse(what, "grain " + str(p.grain) + " is outside 0 to 100");
    if (!(p.fibres >= 0.0 && p.fibres <= 100.0))
        refuse(what, "fibres " + str(p.fibres) + " is outside 0 to 100");
    if (!(p.edgeShade >= 0.0 && p.edgeShade <= 1.0))
        refuse(what, "edgeShade " + str(p.edgeShade) + " is outside 0 to 1");
    if (!(std::fabs(p.gradientX) <= 1.0) || !(std::fabs(p.gradientY) <= 1.0))
        refuse(what, "gradients must lie between -1 and 1");
    if (!(p.noiseSigma >= 0.0 && p.noiseSigma <= 100.0))
        refuse(what, "noiseSigma " + str(p.noiseSigma) + " is outside 0 to 100");
}

// The random look of one board face: grain streaks along the board, a faint layering across it,
// and a slow drift in brightness from one end to the other.
struct FaceLook {
    Wobble coarse, fine, layers;
    double slant = 0;  // columns the coarse grain shifts per row, so streaks are not quite vertical
    double drift = 0;  // grey levels from the left end to the right end

    FaceLook(Random& rnd, int width)
        : coarse(rnd, 40.0, 240.0),
          fine(rnd, 6.0, 30.0),
          layers(rnd, 3.0, 11.0),
          slant(rnd.uniform(-2.5, 2.5)),
          drift(rnd.uniform(-4.0, 4.0) * std::min(1.0, width / 200.0)) {}
};

// The grain of one board face, sampled once per column (and its layering once per row). The coarse
// grain is read at x shifted by the slant times the row within the board, so it is sampled over
// that wider span; the rows reach a little past the board, into the joints beside it.
struct FaceGrain {
    Sampled coarse, fine, layers;
    FaceGrain(const FaceLook& look, int width, int rows)
        : coarse(-reach(look, rows), width + reach(look, rows),
                 [&](double t) { return look.coarse.at(t); }),
          fine(0, width - 1, [&](double t) { return look.fine.at(t); }),
          layers(-16, rows + 16, [&](double t) { return look.layers.at(t); }) {}
    static int reach(const FaceLook& look, int rows) {
        return static_cast<int>(std::ceil(std::fabs(look.slant) * rows)) + 1;
    }
};

// Where one joint lies along the picture, column by column: its nominal bottom row, the offset of
// its core from there (tilt and bend), and the core's grey level (wander and gap).
struct JointPath {
    int start = 0;
    std::vector<double> offset;
    std::vector<double> grey;
};

// Fraction of the pixel row [y, y+1) covered by the span [low, high).
double coverage(double y, double low, double high) {
    const double covered = std::min(y + 1.0, high) - std::max(y, low);
    return std::clamp(covered, 0.0, 1.0);
}

}  // namespace

BitmapPtr renderStack(const StackPhoto& p, std::uint32_t seed) {
    validate(p);
    BitmapPtr dib(FreeImage_Allocate(p.width, p.height, 24, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK,
                                     FI_RGBA_BLUE_MASK));
    if (!dib)
        throw std::runtime_error("cannot allocate a " + std::to_string(p.width) + " x " +
                                 std::to_string(p.height) + " bitmap");

    Random looks(streamSeed(seed, 0));
    Random noise(streamSeed(seed, 1));
    Random fibres(streamSeed(seed, 3));

    const int boardCount = static_cast<int>(p.boards.size());
    const int jointCount = static_cast<int>(p.joints.size());
    const int stackBottom = p.floorRows;
    const int stackTop = p.height - p.wallRows;  // first wall row

    const double widthSpan = p.width > 1 ? p.width - 1.0 : 1.0;
    const double heightSpan = p.height > 1 ? p.height - 1.0 : 1.0;
    auto across = [&](int x) { return p.width > 1 ? x / widthSpan : 0.5; };

    // Bottom row of every board and joint, and the random look of each.
    std::vector<int> boardStart(p.boards.size());
    std::vector<JointPath> paths(p.joints.size());
    std::vector<FaceLook> faces;
    std::vector<FaceGrain> grains;
    faces.reserve(p.boards.size());
    grains.reserve(p.boards.size());
    int row = stackBottom;
    for (int i = 0; i < boardCount; ++i) {
        boardStart[i] = row;
        row += p.boards[i].rows;
        faces.emplace_back(looks, p.width);
        grains.emplace_back(faces.back(), p.width, p.boards[i].rows);
        if (i < jointCount) {
            const Joint& joint = p.joints[i];
            const Wobble bend(looks, 0.6 * p.width + 1.0, 1.5 * p.width + 2.0);
            const Wobble wander(looks, 30.0, 0.5 * p.width + 31.0);
            JointPath& path = paths[i];
            path.start = row;
            for (int x = 0; x < p.width; ++x) {
                path.offset.push_back(joint.tilt * (across(x) - 0.5) + joint.wave * bend.at(x));
                const bool inGap = x >= joint.gapStart && x - joint.gapStart < joint.gapLength;
                path.grey.push_back(inGap ? joint.gapGrey
                                          : joint.grey + joint.greyWander * wander.at(x));
            }
            row += joint.rows;
        }
    }
    const Wobble floorWobble(looks, 25.0, 140.0);
    const Wobble floorBlotchY(looks, 6.0, 40.0);
    const Wobble wallWobble(looks, 60.0, 300.0);
    const Sampled floorBlotch(0, p.width + p.floorRows,
                              [&](double t) { return floorWobble.at(t); });
    const Sampled wallBlotch(-p.height / 3 - 1, p.width,
                             [&](double t) { return wallWobble.at(t); });

    // For each stack row, the joint whose centre lies nearest: only that joint can cover or
    // shade the row, since joints are far apart compared to their thickness.
    std::vector<int> nearestJoint(p.height, -1);
    for (int y = stackBottom; y < stackTop; ++y) {
        double best = 1e300;
        for (int j = 0; j < jointCount; ++j) {
            const double centre = paths[j].start + 0.5 * p.joints[j].rows;
            const double distance = std::fabs(y + 0.5 - centre);
            if (distance < best) {
                best = distance;
                nearestJoint[y] = j;
            }
            if (centre > y + 0.5) break;
        }
    }

    const Tint woodTint = p.colour ? makeTint(1.15, 0.98, 0.70) : Tint{1, 1, 1};
    const Tint floorTint = p.colour ? makeTint(0.97, 1.0, 1.05) : Tint{1, 1, 1};
    const Tint wallTint = p.colour ? makeTint(1.03, 1.0, 0.93) : Tint{1, 1, 1};
    // Fibre flecks of the current row: short streaks along the board, a few grey levels darker or
    // lighter than the face around them, as the pressed fibres of a board's edge look close up.
    std::vector<double> fleck(p.width, 0.0);
    const int flecksPerRow = p.width / 24 + 1;

    for (int y = 0; y < p.height; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib.get(), y);
        const double v = p.height > 1 ? y / heightSpan : 0.5;
        std::fill(fleck.begin(), fleck.end(), 0.0);
        if (y >= stackBottom && y < stackTop && p.fibres > 0.0) {
            for (int k = 0; k < flecksPerRow; ++k) {
                const int start = fibres.integer(0, p.width - 1);
                const int length = fibres.integer(3, 14);
                const double depth =
                    p.fibres * fibres.uniform(0.3, 1.0) * (fibres.unit() < 0.7 ? -1.0 : 0.6);
                for (int x = start; x < std::min(p.width, start + length); ++x) fleck[x] = depth;
            }
        }
        const double floorAcross = floorBlotchY.at(y);
        const double wallStrip = wallWobble.at(y);
        for (int x = 0; x < p.width; ++x) {
            const double u = across(x);
            double grey = 0.0;
            Tint tint = woodTint;
            if (y < stackBottom) {
                // Concrete floor: blotchy, a little lighter towards the camera.
                const double nearness = 1.0 - static_cast<double>(y) / std::max(1, p.floorRows);
                grey =
                    p.floorGrey + 7.0 * floorBlotch.at(x + 0.8 * y) * floorAcross + 6.0 * nearness;
                tint = floorTint;
            } else if (y >= stackTop) {
                grey = p.wallGrey + 4.0 * wallBlotch.at(x - 0.3 * y);
                if (x >= p.wallStripStart && x - p.wallStripStart < p.wallStripColumns)
                    grey = p.wallStripGrey + 2.0 * wallStrip;
                tint = wallTint;
            } else {
                const int j = nearestJoint[y];
                int board = 0;
                double face = 0.0;
                double low = 0.0;
                double high = 0.0;
                if (j >= 0) {
                    low = paths[j].start + paths[j].offset[x];
                    high = low + p.joints[j].rows;
                    board = (y + 0.5 < 0.5 * (low + high)) ? j : j + 1;
                }
                const FaceLook& look = faces[board];
                const FaceGrain& grain = grains[board];
                const double along = y - boardStart[board];
                face = p.boards[board].grey +
                       p.grain * (0.6 * grain.coarse.at(x + look.slant * along) +
                                  0.4 * grain.fine.at(x)) +
                       0.3 * p.grain * grain.layers.at(along) + look.drift * (u - 0.5) + fleck[x];
                if (j >= 0) {
                    // Rounded board edges catch less light next to a joint.
                    const double away = std::max(0.0, std::max(low - (y + 1.0), y - high));
                    if (away < 12.0) face *= 1.0 - p.edgeShade * std::exp(-away / 1.5);
                    const double c = coverage(y, low, high);
                    if (c > 0.0) face = face * (1.0 - c) + paths[j].grey[x] * c;
                }
                grey = face;
            }
            const double light =
                1.0 + p.gradientX * (2.0 * u - 1.0) + p.gradientY * (2.0 * v - 1.0);
            grey = grey * light + p.noiseSigma * noise.normal();
            line[x * 3 + FI_RGBA_RED] = toByte(grey * tint.r);
            line[x * 3 + FI_RGBA_GREEN] = toByte(grey * tint.g);
            line[x * 3 + FI_RGBA_BLUE] = toByte(grey * tint.b);
        }
    }
    return dib;
}

BitmapPtr toGreyscale(FIBITMAP* dib) {
    if (dib == nullptr) throw std::invalid_argument("toGreyscale: no bitmap");
    BitmapPtr grey(FreeImage_ConvertToGreyscale(dib));
    if (!grey) throw std::runtime_error("toGreyscale: the bitmap cannot be converted to grey");
    return grey;
}

namespace {

void writeJpeg(FIBITMAP* dib, const std::string& path, int quality, int flags) {
    if (dib == nullptr) throw std::invalid_argument(path + ": no bitmap to write");
    const unsigned bpp = FreeImage_GetBPP(dib);
    if (bpp != 8 && bpp != 24)
        throw std::invalid_argument(path + ": a JPEG needs an 8-bit or 24-bit bitmap, not " +
                                    std::to_string(bpp) + "-bit");
    if (quality < 1 || quality > 100)
        throw std::invalid_argument(path + ": JPEG quality " + std::to_string(quality) +
                                    " is outside 1 to 100");
    // The low bits of the flags carry the quality directly.
    if (!FreeImage_Save(FIF_JPEG, dib, path.c_str(), quality | flags))
        throw std::runtime_error(path + ": cannot write the JPEG file");
}

}  // namespace

void saveJpeg(FIBITMAP* dib, const std::string& path, int quality) {
    writeJpeg(dib, path, quality, JPEG_SUBSAMPLING_444 | JPEG_OPTIMIZE);
}

void savePhoneJpeg(FIBITMAP* dib, const std::string& path, int quality) {
    writeJpeg(dib, path, quality, JPEG_SUBSAMPLING_420);
}

}  // namespace lathmark::samplegen
