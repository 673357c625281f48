#include "tools/samplegen.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <sstream>
#include <stdexcept>

namespace lathmark::samplegen {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Random numbers with hand-written distributions on top of std::mt19937, whose raw output the
// standard fixes, so that a seed gives the same photograph with every standard library.
class Random {
  public:
    explicit Random(std::uint32_t seed) : engine_(seed) {}

    // Uniform in the open interval (0, 1).
    double unit() { return (static_cast<double>(engine_()) + 0.5) / 4294967296.0; }

    double uniform(double low, double high) { return low + (high - low) * unit(); }

    // Uniform integer in [low, high]; low when high < low.
    int integer(int low, int high) {
        if (high <= low) return low;
        const double span = static_cast<double>(high) - static_cast<double>(low) + 1.0;
        const int step = static_cast<int>(std::floor(unit() * span));
        return std::min(high, low + step);
    }

    // Standard normal deviate by the Box-Muller transform; the second value of each pair is kept
    // for the next call.
    double normal() {
        if (hasSpare_) {
            hasSpare_ = false;
            return spare_;
        }
        const double radius = std::sqrt(-2.0 * std::log(unit()));
        const double angle = kTwoPi * unit();
        spare_ = radius * std::sin(angle);
        hasSpare_ = true;
        return radius * std::cos(angle);
    }

  private:
    std::mt19937 engine_;
    double spare_ = 0.0;
    bool hasSpare_ = false;
};

// Derives independent seeds for the separate random streams of one photograph.
std::uint32_t streamSeed(std::uint32_t seed, std::uint32_t stream) {
    std::uint32_t z = seed + 0x9E3779B9u * (stream + 1u);
    z = (z ^ (z >> 16)) * 0x85EBCA6Bu;
    z = (z ^ (z >> 13)) * 0xC2B2AE35u;
    return z ^ (z >> 16);
}

[[noreturn]] void refuse(const std::string& what, const std::string& problem) {
    throw std::invalid_argument(what + ": " + problem);
}

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

// Colour casts, scaled so that the library's luminance (0.2126 r + 0.7152 g + 0.0722 b) of a
// tinted grey level L is L again: the counter then sees exactly the grey levels drawn.
struct Tint {
    double r, g, b;
};

Tint makeTint(double r, double g, double b) {
    const double luma = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    return {r / luma, g / luma, b / luma};
}

// Sum of sines with random wavelengths and phases: a smooth, aperiodic-looking wobble in -1..1.
struct Wobble {
    double wavelength[3] = {1, 1, 1};
    double phase[3] = {0, 0, 0};

    Wobble(Random& rnd, double shortest, double longest) {
        for (int k = 0; k < 3; ++k) {
            wavelength[k] = rnd.uniform(shortest, longest);
            phase[k] = rnd.uniform(0.0, kTwoPi);
        }
    }
    double at(double t) const {
        return 0.5 * std::sin(kTwoPi * t / wavelength[0] + phase[0]) +
               0.3 * std::sin(kTwoPi * t / wavelength[1] + phase[1]) +
               0.2 * std::sin(kTwoPi * t / wavelength[2] + phase[2]);
    }
};

// A function of one variable sampled at the integers first to last, read back with linear
// interpolation: the sines of a large photograph are then computed once per column, not once per
// pixel.
class Sampled {
  public:
    Sampled(int first, int last, const auto& function) : first_(first) {
        values_.reserve(static_cast<std::size_t>(last - first + 1));
        for (int t = first; t <= last; ++t) values_.push_back(function(static_cast<double>(t)));
    }
    double at(double t) const {
        const double position =
            std::clamp(t - first_, 0.0, static_cast<double>(values_.size() - 1));
        const auto index = static_cast<std::size_t>(position);
        if (index + 1 >= values_.size()) return values_.back();
        const double fraction = position - static_cast<double>(index);
        return values_[index] + fraction * (values_[index + 1] - values_[index]);
    }

  private:
    int first_;
    std::vector<double> values_;
};

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

// Rounds to the nearest level, clipping to 0 to 255 as a camera's sensor clips.
BYTE toByte(double value) {
    if (!(value > 0.0)) return 0;
    if (value >= 255.0) return 255;
    return static_cast<BYTE>(value + 0.5);
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

StackPhoto planStack(const StackPlan& plan, std::uint32_t seed) {
    const std::string what = "stack plan";
    if (plan.width < 1 || plan.height < 1) refuse(what, "width and height must be at least 1");
    if (plan.floorRows < 0 || plan.wallRows < 0)
        refuse(what, "floorRows and wallRows must not be negative");
    if (plan.boards < 0) refuse(what, "boards is negative");
    if (plan.jointRowsMin < 1 || plan.jointRowsMax < plan.jointRowsMin)
        refuse(what, "joint rows " + std::to_string(plan.jointRowsMin) + " to " +
                         std::to_string(plan.jointRowsMax) + " is not a range of at least 1");
    if (plan.boardJitterRows < 0) refuse(what, "boardJitterRows is negative");
    const int jointCount = std::max(0, plan.boards - 1);
    if (plan.faintJoints < 0) refuse(what, "faintJoints is negative");
    if (plan.faintJoints + static_cast<long>(plan.gapLengths.size()) > jointCount)
        refuse(what, std::to_string(plan.faintJoints) + " faint and " +
                         std::to_string(plan.gapLengths.size()) +
                         " gapped joints do not fit among " + std::to_string(jointCount) +
                         " joints");
    for (int length : plan.gapLengths)
        if (length < 1 || length > plan.width)
            refuse(what, "gap length " + std::to_string(length) + " is outside 1 to the width");
    if (plan.boardGreyMax < plan.boardGreyMin || plan.darkJointGreyMax < plan.darkJointGreyMin)
        refuse(what, "a grey range has its maximum below its minimum");

    Random rnd(streamSeed(seed, 2));
    StackPhoto photo;
    photo.width = plan.width;
    photo.height = plan.height;
    photo.floorRows = plan.floorRows;
    photo.wallRows = plan.wallRows;
    const long space = static_cast<long>(plan.height) - plan.floorRows - plan.wallRows;
    if (space < 0) refuse(what, "floorRows + wallRows exceed the height");
    if (plan.boards == 0) {
        if (space != 0)
            refuse(what,
                   "no boards, but " + std::to_string(space) + " rows lie between floor and wall");
    }

    // Which joints are faint or gapped: the first entries of a shuffled list of joint numbers.
    enum class Kind { kDark, kFaint, kGap };
    std::vector<int> order(jointCount);
    for (int i = 0; i < jointCount; ++i) order[i] = i;
    for (int i = jointCount - 1; i > 0; --i) std::swap(order[i], order[rnd.integer(0, i)]);
    std::vector<Kind> kinds(jointCount, Kind::kDark);
    std::vector<int> gapLength(jointCount, 0);
    int next = 0;
    for (int k = 0; k < plan.faintJoints; ++k) kinds[order[next++]] = Kind::kFaint;
    for (int length : plan.gapLengths) {
        kinds[order[next]] = Kind::kGap;
        gapLength[order[next++]] = length;
    }

    long jointRows = 0;
    for (int i = 0; i < jointCount; ++i) {
        Joint j;
        j.rows = rnd.integer(plan.jointRowsMin, plan.jointRowsMax);
        // Only the loose passes can find a faint or gapped joint, and they need four line rows:
        // a fifth row keeps it countable when JPEG blur lightens one of its edge rows.
        if (kinds[i] != Kind::kDark) j.rows = std::max(j.rows, std::min(5, plan.jointRowsMax));
        switch (kinds[i]) {
            case Kind::kDark:
                j.grey = rnd.uniform(plan.darkJointGreyMin, plan.darkJointGreyMax);
                j.greyWander = rnd.uniform(2.0, 8.0);
                j.tilt = rnd.uniform(-0.6, 0.6);
                j.wave = rnd.uniform(0.0, 0.3);
                break;
            case Kind::kFaint:
                // Straight, so every core row is fully covered and stays below 138.
                j.grey = plan.faintJointGrey;
                j.greyWander = 0.4;
                break;
            case Kind::kGap: {
                j.grey = plan.gapJointGrey;
                j.greyWander = 1.0;
                j.gapLength = gapLength[i];
                const int margin = plan.width / 20;
                j.gapStart =
                    rnd.integer(margin, std::max(margin, plan.width - gapLength[i] - margin));
                j.gapStart = std::clamp(j.gapStart, 0, plan.width - gapLength[i]);
                j.gapGrey = rnd.uniform(70.0, 95.0);
                break;
            }
        }
        jointRows += j.rows;
        photo.joints.push_back(j);
    }

    if (plan.boards > 0) {
        const long boardRows = space - jointRows;
        if (boardRows < plan.boards)
            refuse(what, std::to_string(plan.boards) + " boards and their joints (" +
                             std::to_string(jointRows) + " rows) do not fit in the " +
                             std::to_string(space) + " rows between floor and wall");
        const int mean = static_cast<int>(boardRows / plan.boards);
        const int extra = static_cast<int>(boardRows % plan.boards);
        std::vector<int> rows(plan.boards);
        for (int i = 0; i < plan.boards; ++i) rows[i] = mean + (i < extra ? 1 : 0);
        // Move rows between random pairs of boards, keeping the total and each board within the
        // jitter of the mean.
        for (int i = 0; i < plan.boards && plan.boards > 1; ++i) {
            const int shift = rnd.integer(-plan.boardJitterRows, plan.boardJitterRows);
            const int other = (i + rnd.integer(1, plan.boards - 1)) % plan.boards;
            const int a = rows[i] + shift;
            const int b = rows[other] - shift;
            if (a >= 1 && b >= 1 && std::abs(a - mean) <= plan.boardJitterRows &&
                std::abs(b - mean) <= plan.boardJitterRows) {
                rows[i] = a;
                rows[other] = b;
            }
        }
        // Boards of one stack come from one batch: similar shades around a common one.
        const double stackGrey = rnd.uniform(plan.boardGreyMin, plan.boardGreyMax);
        for (int i = 0; i < plan.boards; ++i) {
            Board board;
            board.rows = rows[i];
            board.grey = std::clamp(stackGrey + rnd.uniform(-6.0, 6.0), plan.boardGreyMin,
                                    plan.boardGreyMax);
            photo.boards.push_back(board);
        }
    }

    photo.floorGrey = rnd.uniform(40.0, 70.0);
    photo.wallGrey = rnd.uniform(35.0, 65.0);
    if (rnd.unit() < 0.5) {
        photo.wallStripColumns = static_cast<int>(plan.width * rnd.uniform(0.04, 0.12));
        photo.wallStripStart = rnd.integer(0, std::max(0, plan.width - photo.wallStripColumns));
        photo.wallStripGrey = rnd.uniform(120.0, 170.0);
    }
    return photo;
}

BitmapPtr toGreyscale(FIBITMAP* dib) {
    if (dib == nullptr) throw std::invalid_argument("toGreyscale: no bitmap");
    BitmapPtr grey(FreeImage_ConvertToGreyscale(dib));
    if (!grey) throw std::runtime_error("toGreyscale: the bitmap cannot be converted to grey");
    return grey;
}

void saveJpeg(FIBITMAP* dib, const std::string& path, int quality) {
    if (dib == nullptr) throw std::invalid_argument(path + ": no bitmap to write");
    const unsigned bpp = FreeImage_GetBPP(dib);
    if (bpp != 8 && bpp != 24)
        throw std::invalid_argument(path + ": a JPEG needs an 8-bit or 24-bit bitmap, not " +
                                    std::to_string(bpp) + "-bit");
    if (quality < 1 || quality > 100)
        throw std::invalid_argument(path + ": JPEG quality " + std::to_string(quality) +
                                    " is outside 1 to 100");
    // The low bits of the flags carry the quality directly.
    const int flags = quality | JPEG_SUBSAMPLING_444 | JPEG_OPTIMIZE;
    if (!FreeImage_Save(FIF_JPEG, dib, path.c_str(), flags))
        throw std::runtime_error(path + ": cannot write the JPEG file");
}

}  // namespace lathmark::samplegen
