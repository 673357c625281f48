// Photographs of a stack in a yard, taken by hand. The scene is drawn in a level frame, the
// picture turned back by the camera's roll, where the stack's ends stand upright and all its long
// lines run towards one vanishing point on the horizon. Each pixel is turned into that frame and
// asks what lies there: a sheet's edge (with the joints beside it), the top face, a bearer, the
// ground, another stack, the wall or the sky.

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/samplegen.h"
#include "tools/samplegen_internal.h"

namespace lathmark::samplegen {
namespace {

using detail::kTwoPi;
using detail::makeTint;
using detail::Random;
using detail::refuse;
using detail::Sampled;
using detail::streamSeed;
using detail::Tint;
using detail::toByte;
using detail::Wobble;

constexpr double kDegree = std::numbers::pi / 180.0;

struct Rgb {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
};

Rgb paint(double grey, const Tint& tint) {
    return {grey * tint.r, grey * tint.g, grey * tint.b};
}

Rgb scaled(const Rgb& c, double factor) {
    return {c.r * factor, c.g * factor, c.b * factor};
}

Rgb mix(const Rgb& a, const Rgb& b, double t) {
    return {a.r + t * (b.r - a.r), a.g + t * (b.g - a.g), a.b + t * (b.b - a.b)};
}

double smoothstep(double t) {
    t = std::clamp(t, 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Length of the overlap of [a0, a1) and [b0, b1).
double overlap(double a0, double a1, double b0, double b1) {
    return std::max(0.0, std::min(a1, b1) - std::max(a0, b0));
}

// Smooth random blotches over a rectangle: random values on a grid of cells, blended smoothly
// between the grid points. Cells longer one way than the other give streaks.
class Blotches {
  public:
    Blotches(Random& rnd, double x0, double y0, double x1, double y1, double cellX, double cellY)
        : x0_(x0),
          y0_(y0),
          cellX_(cellX),
          cellY_(cellY),
          nx_(static_cast<int>(std::ceil((x1 - x0) / cellX)) + 2),
          ny_(static_cast<int>(std::ceil((y1 - y0) / cellY)) + 2) {
        values_.reserve(static_cast<std::size_t>(nx_) * ny_);
        for (int i = 0; i < nx_ * ny_; ++i) values_.push_back(rnd.uniform(-1.0, 1.0));
    }
    // In -1..1.
    double at(double x, double y) const {
        const double fx = std::clamp((x - x0_) / cellX_, 0.0, nx_ - 1.001);
        const double fy = std::clamp((y - y0_) / cellY_, 0.0, ny_ - 1.001);
        const int i = static_cast<int>(fx);
        const int j = static_cast<int>(fy);
        const double u = smoothstep(fx - i);
        const double v = smoothstep(fy - j);
        const double* row = &values_[static_cast<std::size_t>(j) * nx_ + i];
        const double low = row[0] + u * (row[1] - row[0]);
        const double high = row[nx_] + u * (row[nx_ + 1] - row[nx_]);
        return low + v * (high - low);
    }

  private:
    double x0_, y0_, cellX_, cellY_;
    int nx_, ny_;
    std::vector<double> values_;
};

// The turn between the picture and the level frame, and the perspective within the level frame.
class Geometry {
  public:
    explicit Geometry(const YardScene& s)
        : cx_(0.5 * s.width),
          cy_(0.5 * s.height),
          cos_(std::cos(s.rollDegrees * kDegree)),
          sin_(std::sin(s.rollDegrees * kDegree)),
          middle_(0.5 * (s.left + s.right)),
          horizon_(s.horizon),
          convergence_(s.convergence) {}

    // The level point under a point of the picture, and back.
    YardPoint toLevel(double x, double y) const {
        const double dx = x - cx_;
        const double dy = y - cy_;
        return {cx_ + dx * cos_ + dy * sin_, cy_ - dx * sin_ + dy * cos_};
    }
    YardPoint toPicture(const YardPoint& p) const {
        const double dx = p.x - cx_;
        const double dy = p.y - cy_;
        return {cx_ + dx * cos_ - dy * sin_, cy_ + dx * sin_ + dy * cos_};
    }
    // How much larger things at level column x look than the same things halfway along.
    double scale(double x) const { return 1.0 / (1.0 - (x - middle_) * convergence_); }
    // The level row halfway along of the long line through a level point.
    double rowHalfway(const YardPoint& p) const { return horizon_ + (p.y - horizon_) * scale(p.x); }
    // The level point at column x of the long line through level row `row` halfway along.
    YardPoint onLine(double x, double row) const {
        return {x, horizon_ + (row - horizon_) / scale(x)};
    }

  private:
    double cx_, cy_, cos_, sin_, middle_, horizon_, convergence_;
};

void requireGrey(const std::string& what, double grey) {
    if (!(grey >= 0.0 && grey <= 255.0)) refuse(what, "grey level outside 0 to 255");
}

void validate(const YardScene& s) {
    const std::string what = "yard scene";
    if (s.width < 16 || s.width > 16384 || s.height < 16 || s.height > 16384)
        refuse(what, "width and height must lie between 16 and 16384");
    if (s.boards < 1) refuse(what, "boards must be at least 1");
    if (static_cast<int>(s.sheets.size()) != s.boards)
        refuse(what, std::to_string(s.boards) + " boards but " + std::to_string(s.sheets.size()) +
                         " sheets");
    if (s.joints.size() + 1 != s.sheets.size())
        refuse(what, std::to_string(s.sheets.size()) + " sheets need " +
                         std::to_string(s.sheets.size() - 1) + " joints, not " +
                         std::to_string(s.joints.size()));
    if (!(s.sheetRows >= 1.0)) refuse(what, "sheetRows must be at least 1");
    if (!(s.right > s.left)) refuse(what, "the stack's right end lies left of its left end");
    if (!(std::fabs(s.rollDegrees) <= 45.0)) refuse(what, "rollDegrees is outside -45 to 45");
    // The vanishing point must lie well outside the picture.
    if (!(std::fabs(s.convergence) * (s.width + s.height) < 0.5))
        refuse(what, "convergence puts the vanishing point inside the picture");
    if (!(s.topRows >= 0.0 && s.bearerRows >= 0.0)) refuse(what, "negative rows");
    if (s.ridges < 1 || s.bearers < 1) refuse(what, "ridges and bearers must be at least 1");
    for (const YardSheet& sheet : s.sheets) {
        requireGrey(what + ", sheet", sheet.grey);
        if (!std::isfinite(sheet.endLeft) || !std::isfinite(sheet.endRight))
            refuse(what, "a sheet's ends must be finite");
    }
    double below = 0.0;
    for (const YardJoint& joint : s.joints) {
        if (!(joint.up > below && joint.up < 1.0))
            refuse(what, "joints must lie between 0 and 1, bottom first");
        below = joint.up;
        if (!(joint.rows > 0.0 && joint.rows < s.sheetRows))
            refuse(what, "a joint must be thinner than a sheet");
        requireGrey(what + ", joint", joint.grey);
        if (!(joint.fade >= 0.0 && joint.fade <= 1.0)) refuse(what, "a joint's fade is not 0 to 1");
    }
    for (const YardStackBehind& b : s.behind)
        if (!(b.sheetRows >= 1.0 && b.rows >= 0.0)) refuse(what, "a stack behind has no rows");
    for (double grey : {s.topGrey, s.bearerGrey, s.groundGrey, s.wallGrey, s.skyGrey})
        requireGrey(what, grey);
    if (!(s.noiseSigma >= 0.0 && s.noiseSigma <= 50.0))
        refuse(what, "noiseSigma is outside 0 to 50");
    if (!(s.shadowDepth >= 0.0 && s.shadowDepth < 1.0 && s.shadowSoftness > 0.0))
        refuse(what, "the shadow's depth must be 0 to 1 and its edge wider than 0");
}

// Everything the drawing of one photograph reads, worked out once.
class YardPainter {
  public:
    YardPainter(const YardScene& s, std::uint32_t seed)
        : s_(s),
          geo_(s),
          edgeRows_(s.boards * s.sheetRows),
          length_(s.right - s.left),
          sheetTint_(makeTint(1.0 + 0.03 * s.sheetWarmth, 1.0, 1.0 - 0.05 * s.sheetWarmth)),
          groundTint_(makeTint(1.03, 1.0, 0.93)),
          timberTint_(makeTint(1.18, 0.98, 0.74)),
          wallTint_(makeTint(1.0 + 0.04 * s.wallWarmth, 1.0, 1.0 - 0.07 * s.wallWarmth)),
          skyTint_(makeTint(0.93, 0.99, 1.07)) {
        // The level columns the picture reaches, with room for sheets standing out.
        const double turn = std::fabs(s.rollDegrees * kDegree);
        const double reach = 0.5 * (s.width * std::cos(turn) + s.height * std::sin(turn)) + 4.0;
        first_ = static_cast<int>(std::floor(0.5 * s.width - reach)) - 2;
        last_ = static_cast<int>(std::ceil(0.5 * s.width + reach)) + 2;
        double outermost = 0.0;
        for (const YardSheet& sheet : s.sheets)
            outermost = std::max({outermost, std::fabs(sheet.endLeft), std::fabs(sheet.endRight)});
        endReach_ = outermost + 2.0;

        Random looks(streamSeed(seed, 22));
        // Where each sheet starts, in mean sheets from the bottom: at the joint below it.
        shareEnds_.push_back(0.0);
        for (const YardJoint& joint : s.joints) shareEnds_.push_back(joint.up * s.boards);
        shareEnds_.push_back(s.boards);
        const auto sampled = [&](double shortest, double longest, int from, int to) {
            const Wobble wobble(looks, shortest, longest);
            return Sampled(from, to, [&](double t) { return wobble.at(t); });
        };
        for (int i = 0; i < s.boards; ++i) drift_.push_back(sampled(80.0, 700.0, first_, last_));
        for (std::size_t j = 0; j < s.joints.size(); ++j)
            wander_.push_back(sampled(30.0, 500.0, first_, last_));
        fine_ = std::make_unique<Sampled>(sampled(3.0, 17.0, first_, last_ + 131 * s.boards));
        // Blotches cover the level rows the picture reaches, halfway along, with room to spare.
        double low = 1e300;
        double high = -1e300;
        for (double x : {0.0, 1.0 * s.width}) {
            for (double y : {0.0, 1.0 * s.height}) {
                const double row = geo_.rowHalfway(geo_.toLevel(x, y));
                low = std::min(low, row);
                high = std::max(high, row);
            }
        }
        const double spare = 0.1 * (s.width + s.height);
        low -= spare;
        high += spare;
        auto blotches = [&](double cellX, double cellY) {
            return Blotches(looks, first_, low, last_, high, cellX, cellY);
        };
        const double size = s.width / 1280.0;
        // In the order of Patch.
        patches_.push_back(blotches(110.0 * size, 60.0 * size));
        patches_.push_back(blotches(24.0 * size, 9.0 * size));
        patches_.push_back(blotches(3.0, 2.0));
        patches_.push_back(blotches(160.0 * size, 40.0 * size));
        patches_.push_back(blotches(70.0 * size, 25.0 * size));
        patches_.push_back(blotches(18.0 * size, 140.0 * size));
        patches_.push_back(blotches(300.0 * size, 120.0 * size));
    }

    // The colour of the scene at a point of the picture, before daylight and noise. Near an
    // outline the pixel is the mean of four points within it.
    Rgb pixel(int x, int y) const {
        const YardPoint centre = geo_.toLevel(x + 0.5, y + 0.5);
        if (!nearOutline(centre)) return at(centre);
        Rgb sum;
        for (double dy : {-0.25, 0.25}) {
            for (double dx : {-0.25, 0.25}) {
                const Rgb c = at(geo_.toLevel(x + 0.5 + dx, y + 0.5 + dy));
                sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
            }
        }
        return {0.25 * sum.r, 0.25 * sum.g, 0.25 * sum.b};
    }

    // Daylight at a point of the picture: a gradient across it, and darker corners.
    double light(double x, double y) const {
        const double u = 2.0 * x / s_.width - 1.0;
        const double v = 2.0 * y / s_.height - 1.0;
        return (1.0 + s_.gradientX * u + s_.gradientY * v) *
               (1.0 - s_.vignette * 0.5 * (u * u + v * v));
    }

  private:
    // The share of daylight a level point gets under the shadow of a building (not the sky).
    double shade(const YardPoint& p) const {
        if (s_.shadowDepth <= 0.0) return 1.0;
        const double into = (p.x - 0.5 * s_.width) * std::cos(s_.shadowAngle) +
                            (p.y - 0.5 * s_.height) * std::sin(s_.shadowAngle) - s_.shadowOffset;
        return 1.0 - s_.shadowDepth * smoothstep(into / s_.shadowSoftness + 0.5);
    }

    enum Patch { kWetAndDry, kGrit, kGravel, kDust, kEdgeDust, kGrime, kCloud };

    double patch(Patch which, double x, double row) const { return patches_[which].at(x, row); }

    bool nearOutline(const YardPoint& p) const {
        const double k = geo_.scale(p.x);
        const double row = geo_.rowHalfway(p);
        const double margin = 1.5 * k;
        for (double line : {s_.bottom - s_.bearerRows, s_.bottom, s_.bottom + edgeRows_,
                            s_.bottom + edgeRows_ + s_.topRows, s_.farEdge, s_.wallTop})
            if (std::fabs(row - line) < margin) return true;
        if (std::fabs(p.x - s_.left) < endReach_ || std::fabs(p.x - s_.right) < endReach_)
            return true;
        if (row < s_.bottom && row > s_.bottom - s_.bearerRows - margin) {
            for (int b = 0; b < s_.bearers; ++b)
                if (std::fabs(std::fabs(p.x - bearerCentre(b)) - 0.5 * s_.bearerColumns) < 2.0)
                    return true;
        }
        return false;
    }

    double bearerCentre(int b) const { return s_.left + length_ * (b + 0.5) / s_.bearers; }

    Rgb at(const YardPoint& p) const {
        const double row = geo_.rowHalfway(p);
        const double k = geo_.scale(p.x);
        const double edgeTop = s_.bottom + edgeRows_;
        const double light = shade(p);
        if (row >= s_.bottom && row < edgeTop) {
            const double units = (row - s_.bottom) / s_.sheetRows;
            const auto after = std::upper_bound(shareEnds_.begin(), shareEnds_.end(), units);
            const int i =
                std::clamp(static_cast<int>(after - shareEnds_.begin()) - 1, 0, s_.boards - 1);
            if (withinSheet(p.x, i)) return scaled(edge(p.x, units, i, k), light);
        } else if (row >= edgeTop && row < edgeTop + s_.topRows) {
            if (withinSheet(p.x, s_.boards - 1))
                return scaled(top(p.x, (row - edgeTop) / s_.topRows, k), light);
        } else if (row < s_.bottom && row >= s_.bottom - s_.bearerRows && p.x >= s_.left &&
                   p.x < s_.right) {
            return scaled(underneath(p.x, (s_.bottom - row) / s_.bearerRows), light);
        }
        return behind(p.x, row, light);
    }

    bool withinSheet(double x, int i) const {
        const YardSheet& sheet = s_.sheets[i];
        return x >= s_.left - sheet.endLeft && x < s_.right + sheet.endRight;
    }

    // A sheet's edge at `units` sheets up from the stack's bottom, with the joints beside it. A
    // joint darkens the share of a window 1.3 rows high that it covers: the pixel and a little
    // blur of lens and reduction.
    Rgb edge(double x, double units, int i, double k) const {
        const YardSheet& sheet = s_.sheets[i];
        const double row = s_.bottom + units * s_.sheetRows;
        double grey =
            sheet.grey * (1.0 + 0.03 * drift_[i].at(x) + 0.03 * patch(kEdgeDust, x, row)) +
            3.0 * fine_->at(x + 131.0 * i);
        const double rowsPerUnit = s_.sheetRows / k;
        const double half = 0.65 / rowsPerUnit;
        for (int j : {i - 1, i}) {
            if (j < 0 || j >= static_cast<int>(s_.joints.size())) continue;
            const YardJoint& joint = s_.joints[j];
            const double centre = shareEnds_[j + 1];
            const double width = joint.rows / s_.sheetRows;
            // Sheet edges are a little rounded and catch less light next to a joint.
            const double away = (std::fabs(units - centre) - 0.5 * width) * rowsPerUnit;
            grey *= 1.0 - 0.07 * std::exp(-std::max(0.0, away) / 1.2);
            const double cover =
                overlap(units - half, units + half, centre - 0.5 * width, centre + 0.5 * width) /
                (2.0 * half);
            const double dark = cover * (1.0 - joint.fade * std::max(0.0, wander_[j].at(x)));
            grey = grey * (1.0 - dark) + joint.grey * dark;
        }
        return paint(grey, sheetTint_);
    }

    // The top face, `depth` of the way from its front to its back.
    Rgb top(double x, double depth, double k) const {
        double grey = 0.0;
        if (s_.corrugated) {
            // Ridges along the stack, nearer ones wider: the flank facing the sky lighter.
            const double phase = s_.ridges * std::pow(depth, 1.25) + s_.ridgePhase;
            grey = s_.topGrey * (1.0 + 0.15 * std::sin(kTwoPi * phase) +
                                 0.05 * std::sin(2.0 * kTwoPi * phase + 1.3));
        } else {
            grey = s_.topGrey * (1.0 - 0.05 * depth);
        }
        grey *= 1.0 + 0.035 * patch(kDust, x, depth * s_.topRows);
        // The front arris catches the light.
        const double rows = depth * s_.topRows / k;
        if (rows < 2.0) grey += 14.0 * (1.0 - 0.5 * rows);
        return paint(grey, sheetTint_);
    }

    // Under the stack, `down` of the way from the bottom sheet to the ground: the ends of the
    // timber bearers, and the shade between them.
    Rgb underneath(double x, double down) const {
        for (int b = 0; b < s_.bearers; ++b) {
            if (std::fabs(x - bearerCentre(b)) < 0.5 * s_.bearerColumns) {
                const double grey =
                    s_.bearerGrey * (1.0 + 0.06 * fine_->at(3.0 * x + 40.0 * down + 17.0 * b));
                return paint(grey, timberTint_);
            }
        }
        return paint(s_.groundGrey * (0.14 + 0.3 * down), groundTint_);
    }

    Rgb behind(double x, double row, double light) const {
        if (row < s_.farEdge) {
            double grey =
                s_.groundGrey * (1.0 + 0.07 * patch(kWetAndDry, x, row) +
                                 0.04 * patch(kGrit, x, row) + 0.035 * patch(kGravel, x, row));
            // The stack's shade on the ground in front of its foot, softer past its ends.
            const double foot = s_.bottom - s_.bearerRows;
            if (row < foot) {
                const double inside = std::min(x - s_.left, s_.right - x);
                const double along =
                    smoothstep((inside + 0.3 * s_.bearerRows) / (0.6 * s_.bearerRows + 1.0));
                grey *= 1.0 - 0.35 * along * std::exp(-(foot - row) / (0.35 * s_.bearerRows + 1.0));
            }
            return paint(grey * light, groundTint_);
        }
        Rgb back;
        if (row < s_.wallTop) {
            // Cladding with upright ribs, a little grimier towards the ground.
            const double rib = kTwoPi * x / s_.ribColumns;
            const double rise = (row - s_.farEdge) / std::max(1.0, s_.wallTop - s_.farEdge);
            const double grey = s_.wallGrey *
                                (1.0 + 0.07 * std::sin(rib) + 0.025 * std::sin(2.0 * rib + 0.8)) *
                                (0.92 + 0.08 * rise);
            back = paint(grey * light, wallTint_);
        } else {
            const double grey = std::min(250.0, s_.skyGrey * (1.0 + 0.04 * patch(kCloud, x, row)));
            back = paint(grey, skyTint_);
        }
        // The other stacks, nearest last; out of focus, so their outlines are soft.
        for (const YardStackBehind& b : s_.behind) {
            const double topRows = 0.07 * b.rows;
            const double inX = std::min(x - b.left, b.right - x);
            const double inY = std::min(row - b.bottom, b.bottom + b.rows + topRows - row);
            const double alpha = smoothstep(std::min(inX, inY) / 3.0 + 0.5);
            if (alpha <= 0.0) continue;
            double grey = 0.0;
            if (row < b.bottom + b.rows) {
                const double t = std::fmod((row - b.bottom) / b.sheetRows, 1.0) - 0.5;
                const double off = t * b.sheetRows / 1.6;
                grey = b.grey - b.contrast * std::exp(-0.5 * off * off);
            } else {
                grey = 1.12 * b.grey;
            }
            back = mix(back, paint(grey * light, sheetTint_), alpha);
        }
        return back;
    }

    const YardScene& s_;
    Geometry geo_;
    double edgeRows_, length_;
    Tint sheetTint_, groundTint_, timberTint_, wallTint_, skyTint_;
    int first_ = 0;
    int last_ = 0;
    double endReach_ = 2.0;
    std::vector<double> shareEnds_;  // where each sheet starts, in mean sheets; the last the top
    std::vector<Sampled> drift_, wander_;
    std::unique_ptr<Sampled> fine_;
    std::vector<Blotches> patches_;
};

}  // namespace

YardScene planYard(const YardPlan& plan, std::uint32_t seed) {
    const std::string what = "yard plan";
    if (plan.width < 16 || plan.width > 16384 || plan.height < 16 || plan.height > 16384)
        refuse(what, "width and height must lie between 16 and 16384");
    if (plan.boards < 1) refuse(what, "boards must be at least 1");
    if (!(plan.sheetRows >= 2.0)) refuse(what, "sheetRows must be at least 2");
    if (!(std::fabs(plan.slopeDegrees) <= 30.0)) refuse(what, "slopeDegrees is outside -30 to 30");
    if (!(std::fabs(plan.taper) <= 0.3)) refuse(what, "taper is outside -0.3 to 0.3");
    if (!(plan.right > plan.left)) refuse(what, "right must lie right of left");
    if (!(plan.bottom >= 0.0 && plan.bottom < 1.0)) refuse(what, "bottom is outside 0 to 1");
    const double edgeRows = plan.boards * plan.sheetRows;
    if (plan.bottom * plan.height + edgeRows > plan.height)
        refuse(what, std::to_string(plan.boards) + " sheets of " + std::to_string(plan.sheetRows) +
                         " rows do not fit above the bottom");

    YardScene scene;
    scene.width = plan.width;
    scene.height = plan.height;
    scene.boards = plan.boards;
    scene.sheetRows = plan.sheetRows;
    scene.corrugated = plan.corrugated;

    // The stack: the same sheets and joints in every photograph of it, whatever the framing.
    Random stack(streamSeed(plan.stackSeed, 20));
    const double stackGrey =
        plan.corrugated ? stack.uniform(165.0, 195.0) : stack.uniform(150.0, 190.0);
    const double jointShare = stack.uniform(0.2, 0.3);
    const double jointGrey = stack.uniform(40.0, 75.0);
    scene.ridges = stack.integer(8, 13);
    scene.sheetWarmth = stack.uniform(-1.0, 1.0);
    // Sheets stacked by hand: most ends line up within half a sheet's thickness, a few stand
    // out or back by up to two and a half.
    auto end = [&stack]() {
        double standsOut = stack.uniform(-0.5, 0.5);
        if (stack.unit() < 0.08)
            standsOut = (stack.unit() < 0.5 ? -1.0 : 1.0) * stack.uniform(0.8, 2.5);
        return standsOut;
    };
    std::vector<double> shares;
    double units = 0.0;
    for (int i = 0; i < plan.boards; ++i) {
        shares.push_back(1.0 + stack.uniform(-0.04, 0.04));
        units += shares.back();
        YardSheet sheet;
        sheet.grey = stackGrey + stack.uniform(-5.0, 5.0);
        if (stack.unit() < 0.1) sheet.grey += stack.uniform(-12.0, 8.0);
        sheet.endLeft = end() * plan.sheetRows;
        sheet.endRight = end() * plan.sheetRows;
        scene.sheets.push_back(sheet);
    }
    double up = 0.0;
    double jointRows = 0.0;
    for (int i = 0; i + 1 < plan.boards; ++i) {
        up += shares[i] / units;
        YardJoint joint;
        joint.up = up;
        joint.rows = std::clamp(jointShare * stack.uniform(0.8, 1.25) * plan.sheetRows, 1.0,
                                std::max(1.0, std::min(3.0, 0.45 * plan.sheetRows)));
        joint.grey = std::clamp(jointGrey + stack.uniform(-15.0, 15.0), 25.0, 110.0);
        joint.fade = stack.uniform(0.1, 0.5);
        jointRows += joint.rows;
        scene.joints.push_back(joint);
    }
    scene.jointRows = plan.boards > 1 ? jointRows / (plan.boards - 1) : 0.0;

    // The framing: the edge halfway along as the plan puts it, the ends converging on a point of
    // the horizon far off on the shorter end's side, and the camera turned so that the line
    // halfway up the edge slopes as planned.
    Random frame(streamSeed(seed, 21));
    scene.left = plan.left * plan.width;
    scene.right = plan.right * plan.width;
    scene.bottom = plan.bottom * plan.height;
    const double length = scene.right - scene.left;
    // Heights shrink in proportion to the distance from the vanishing point; with the left end
    // (1 + taper) times as tall as the right, that point lies length / taper right of the right
    // end (left of the left end when taper is negative).
    scene.convergence = 2.0 * plan.taper / (length * (2.0 + plan.taper));
    scene.topRows = edgeRows * frame.uniform(0.22, 0.45);
    scene.horizon = scene.bottom + edgeRows + scene.topRows + plan.height * frame.uniform(0.3, 0.8);
    const double halfway = scene.bottom + 0.5 * edgeRows;
    const double levelSlope = std::atan((scene.horizon - halfway) * scene.convergence) / kDegree;
    scene.rollDegrees = plan.slopeDegrees - levelSlope;

    scene.bearerRows = plan.sheetRows * frame.uniform(3.5, 6.0);
    scene.bearers = frame.integer(3, 5);
    scene.bearerColumns = length * frame.uniform(0.03, 0.05);
    scene.bearerGrey = frame.uniform(85.0, 125.0);
    scene.groundGrey = frame.uniform(120.0, 160.0);
    scene.farEdge = scene.bottom + edgeRows * frame.uniform(0.25, 0.9);
    scene.wallGrey = frame.uniform(140.0, 190.0);
    scene.wallWarmth = frame.uniform(-1.0, 1.0);
    scene.ribColumns = frame.uniform(22.0, 44.0) * plan.width / 1280.0;
    // Sheds are tall beside a stack: the wall reaches most of the way up the picture, or out of it.
    scene.wallTop = std::max(scene.bottom + edgeRows + scene.topRows + 0.05 * plan.height,
                             plan.height * frame.uniform(0.7, 1.15));
    scene.skyGrey = frame.uniform(205.0, 235.0);
    scene.topGrey = std::min(235.0, stackGrey * frame.uniform(1.06, 1.2));
    scene.ridgePhase = frame.unit();
    const int others = frame.integer(2, 4);
    for (int i = 0; i < others; ++i) {
        YardStackBehind b;
        const double columns = plan.width * frame.uniform(0.2, 0.5);
        b.left = frame.uniform(-0.2, 1.0) * plan.width;
        b.right = b.left + columns;
        b.bottom = scene.bottom + (scene.farEdge - scene.bottom) * frame.uniform(0.5, 1.0);
        // Tall enough to show above the stack in front.
        b.rows =
            scene.bottom + edgeRows + scene.topRows - b.bottom + edgeRows * frame.uniform(0.1, 0.6);
        b.sheetRows = plan.sheetRows * frame.uniform(0.45, 0.75);
        b.grey = frame.uniform(125.0, 180.0);
        b.contrast = frame.uniform(18.0, 40.0);
        if (plan.stacksBehind) scene.behind.push_back(b);
    }

    // Daylight from one side, and on some photographs the soft shadow of a building.
    scene.gradientX = (frame.unit() < 0.5 ? -1.0 : 1.0) * frame.uniform(0.08, 0.18);
    scene.gradientY = frame.uniform(-0.08, 0.08);
    scene.vignette = frame.uniform(0.06, 0.15);
    const bool shadow = frame.unit() < 0.5;
    const double shadowDepth = frame.uniform(0.25, 0.45);
    scene.shadowAngle = frame.uniform(0.0, kTwoPi);
    const double halfExtent = 0.5 * (plan.width * std::fabs(std::cos(scene.shadowAngle)) +
                                     plan.height * std::fabs(std::sin(scene.shadowAngle)));
    scene.shadowOffset = halfExtent * frame.uniform(0.1, 0.6);
    scene.shadowSoftness = frame.uniform(25.0, 80.0) * plan.width / 1280.0;
    scene.shadowDepth = shadow ? shadowDepth : 0.0;
    scene.noiseSigma = frame.uniform(1.8, 2.8);

    // Where the edge lies in the picture.
    const Geometry geo(scene);
    const double edgeTop = scene.bottom + edgeRows;
    scene.corners[0] = geo.toPicture(geo.onLine(scene.left, scene.bottom));
    scene.corners[1] = geo.toPicture(geo.onLine(scene.right, scene.bottom));
    scene.corners[2] = geo.toPicture(geo.onLine(scene.right, edgeTop));
    scene.corners[3] = geo.toPicture(geo.onLine(scene.left, edgeTop));
    const YardPoint leftMiddle = {0.5 * (scene.corners[0].x + scene.corners[3].x),
                                  0.5 * (scene.corners[0].y + scene.corners[3].y)};
    const YardPoint rightMiddle = {0.5 * (scene.corners[1].x + scene.corners[2].x),
                                   0.5 * (scene.corners[1].y + scene.corners[2].y)};
    scene.slopeDegrees =
        std::atan2(rightMiddle.y - leftMiddle.y, rightMiddle.x - leftMiddle.x) / kDegree;
    return scene;
}

BitmapPtr renderYard(const YardScene& scene, std::uint32_t seed) {
    validate(scene);
    BitmapPtr dib(FreeImage_Allocate(scene.width, scene.height, 24, FI_RGBA_RED_MASK,
                                     FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
    if (!dib) throw std::runtime_error("cannot allocate the yard photograph's bitmap");
    const YardPainter painter(scene, seed);
    Random noise(streamSeed(seed, 23));
    for (int y = 0; y < scene.height; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib.get(), y);
        for (int x = 0; x < scene.width; ++x) {
            const Rgb c = painter.pixel(x, y);
            const double light = painter.light(x + 0.5, y + 0.5);
            const double grain = scene.noiseSigma * noise.normal();
            line[3 * x + FI_RGBA_RED] = toByte(c.r * light + grain);
            line[3 * x + FI_RGBA_GREEN] = toByte(c.g * light + grain);
            line[3 * x + FI_RGBA_BLUE] = toByte(c.b * light + grain);
        }
    }
    return dib;
}

}  // namespace lathmark::samplegen
