#include "engine/stack_finding.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "engine/bitmap.h"
#include "engine/rhythm.h"

namespace lathmark {
namespace {

// Columns are looked at in strips: enough of them to find the stack's ends to a fiftieth of
// the width, each wide enough that its profile is not noise.
constexpr int kMostStrips = 48;
constexpr int kFewestStripColumns = 16;
constexpr int kFewestMiddleStrips = 3;
// Rows are looked at in windows that overlap by three quarters; a window of the stack has a
// rhythm at least this regular, and the windows beside it that go on with one nearly as
// regular, of a thickness within this share of its own.
constexpr double kClearStack = 0.5;
constexpr double kStackGoesOn = 0.3;
constexpr double kSameThickness = 0.15;
constexpr int kFewestWindowRows = 24;
// A stretch between two beats is a board where it correlates with the stack's usual board at
// least this much.
constexpr double kBoardLike = 0.6;
// A stretch is sampled at its rows, or at this many places if it has fewer rows: a thin board's
// profile is a shape, not three or four numbers.
constexpr int kFewestSamples = 12;
// A stretch whose contrast is less than this share of the usual board's, or more than its
// inverse, is no board.
constexpr double kLeastContrast = 0.3;
// The outermost board, where its outer edge is light, is like a board on its inner half (at
// least kBoardLike), no more than this share lighter than its neighbour there, and no more than
// this many times as rough in its middle. It is surely a board where it is also this much like
// one, within this share as light and within these times as rough; a stretch is surely none
// where it misses the first limits by the margin, the share or once more as rough.
constexpr double kEndLighter = 0.25;
constexpr double kEndRougher = 2.0;
constexpr double kEndBoardLike = 0.75;
constexpr double kEndBoardLight = 0.12;
constexpr double kEndBoardRougher = 1.5;
constexpr double kEndMargin = 0.15;
// Rows beyond an end that repeat at least this share as strongly as the stack's, for more than
// this many boards, put that end in doubt.
constexpr double kGoesOnStrength = 0.4;
constexpr double kGoesOnBoards = 1.0;
// A strip of columns belongs to the stack where its joints lie along the rows of the middle
// one's: their profiles correlate at least this much.
constexpr double kInStep = 0.5;

using Profile = std::vector<double>;

// Each strip's mean grey level in each row, from the top down, in one sweep of the photograph.
struct Strips {
    int count = 0;
    int columns = 0;  // of each strip (the last may have fewer)
    int width = 0;
    int height = 0;
    std::vector<Profile> profiles;

    explicit Strips(FIBITMAP* grey)
        : width(static_cast<int>(FreeImage_GetWidth(grey))),
          height(static_cast<int>(FreeImage_GetHeight(grey))) {
        count = std::clamp(width / kFewestStripColumns, 1, kMostStrips);
        columns = (width + count - 1) / count;
        count = (width + columns - 1) / columns;
        profiles.assign(static_cast<std::size_t>(count), Profile(height, 0.0));
        const Scanlines rows(grey);
        for (int y = 0; y < height; ++y) {
            const BYTE* row = rows(height - 1 - y);
            for (int s = 0; s < count; ++s) {
                long sum = 0;
                for (int x = s * columns, end = x + stripColumns(s); x < end; ++x) sum += row[x];
                profiles[s][y] = static_cast<double>(sum) / stripColumns(s);
            }
        }
    }
    int stripColumns(int s) const { return std::min(columns, width - s * columns); }
    // The mean of the strips from `first` to `last`.
    Profile mean(int first, int last) const {
        Profile sum(static_cast<std::size_t>(height), 0.0);
        for (int s = first; s <= last; ++s)
            for (int y = 0; y < height; ++y) sum[y] += profiles[s][y];
        for (double& value : sum) value /= last - first + 1;
        return sum;
    }
};

// The mean of `values` over `rows` rows centred on each row (fewer at the ends).
Profile movingMean(const Profile& values, int rows) {
    const int n = static_cast<int>(values.size());
    std::vector<double> sums(values.size() + 1, 0.0);
    for (int y = 0; y < n; ++y) sums[y + 1] = sums[y] + values[y];
    Profile mean(values.size());
    for (int y = 0; y < n; ++y) {
        const int from = std::max(0, y - rows / 2);
        const int to = std::min(n, from + rows);
        mean[y] = (sums[to] - sums[from]) / (to - from);
    }
    return mean;
}

// The profile's repeat alone: each row less the mean of one board's rows around it, so that
// light falling off and whatever changes slowly leave nothing.
Profile repeatOf(const Profile& profile, double thickness) {
    const Profile slow = movingMean(profile, std::max(2, static_cast<int>(std::lround(thickness))));
    Profile left(profile.size());
    for (std::size_t y = 0; y < profile.size(); ++y) left[y] = profile[y] - slow[y];
    return left;
}

Profile rowsOf(const Profile& profile, int from, int to) {
    return Profile(profile.begin() + from, profile.begin() + to);
}

// How far the values spread about their mean (their standard deviation).
double spread(const Profile& values) {
    double sum = 0, squares = 0;
    for (double value : values) {
        sum += value;
        squares += value * value;
    }
    const double mean = sum / static_cast<double>(values.size());
    return std::sqrt(std::max(0.0, squares / static_cast<double>(values.size()) - mean * mean));
}

double correlation(const Profile& a, const Profile& b) {
    double both = 0, first = 0, second = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        both += a[i] * b[i];
        first += a[i] * a[i];
        second += b[i] * b[i];
    }
    return first > 0 && second > 0 ? both / std::sqrt(first * second) : 0.0;
}

// The rows of the stack's edge as the windows of rhythm find them, and its thickness: the most
// regular window and the windows on either side that go on with its rhythm, at the smallest
// window that has one.
struct Rows {
    int top = 0;
    int bottom = 0;  // one past the last
    double thickness = 0;
};

std::optional<Rows> rhythmicRows(const Profile& profile) {
    const int height = static_cast<int>(profile.size());
    for (int window = height / 8; window <= height; window *= 2) {
        if (window < kFewestWindowRows) continue;
        const int step = std::max(1, window / 4);
        std::vector<std::optional<Rhythm>> found;
        for (int start = 0; start + window <= height; start += step)
            found.push_back(rhythmOf(rowsOf(profile, start, start + window)));
        // The stack is the longest and most regular run of windows of one rhythm: a wall or a
        // roof may have a window as regular as the stack's, never so many of them in a row.
        auto goesOn = [&](std::size_t i, double thickness) {
            return found[i] && found[i]->regularity >= kStackGoesOn &&
                   std::abs(found[i]->thickness - thickness) <= kSameThickness * thickness;
        };
        std::size_t first = 0, last = 0;
        double thickness = 0, bestScore = 0;
        for (std::size_t seed = 0; seed < found.size(); ++seed) {
            if (!found[seed] || found[seed]->regularity < kClearStack) continue;
            const double its = found[seed]->thickness;
            std::size_t from = seed, to = seed;
            while (from > 0 && goesOn(from - 1, its)) --from;
            while (to + 1 < found.size() && goesOn(to + 1, its)) ++to;
            double score = 0;
            for (std::size_t i = from; i <= to; ++i) score += found[i]->regularity;
            if (score > bestScore) {
                bestScore = score;
                first = from;
                last = to;
                thickness = its;
            }
        }
        if (bestScore == 0) continue;
        Rows rows{static_cast<int>(first) * step, static_cast<int>(last) * step + window,
                  thickness};
        if (const std::optional<Rhythm> whole = rhythmOf(rowsOf(profile, rows.top, rows.bottom));
            whole && std::abs(whole->thickness - thickness) <= kSameThickness * thickness)
            rows.thickness = whole->thickness;
        return rows;
    }
    return std::nullopt;
}

// Where the stack's edge begins and ends. The joints lie on the beat of the rows' repeat; the
// boards are the stretches between two beats that look like the boards in the middle of the
// stack (a profile of a joint, a board and a joint), and the stack runs from the beat above its
// top board to the beat below its bottom one: its outer edges, which the passes then treat as
// the band's edges. One stretch unlike a board with two like boards beyond it is a flawed
// board; otherwise it ends the stack. An end where the stretch beyond is neither clearly a board
// nor clearly none is in doubt.
struct Edges {
    int top = 0;
    int bottom = 0;  // one past the last row
    std::string doubt;
};

std::optional<Edges> edgesOf(const Profile& profile, const Rows& rows) {
    const int height = static_cast<int>(profile.size());
    const double thickness = rows.thickness;
    const int board = std::max(2, static_cast<int>(std::lround(thickness)));
    const Profile repeat = repeatOf(profile, thickness);

    // The beat: the joints are the dark side of the repeat's own wave.
    std::complex<double> wave = 0.0;
    const double turn = 2.0 * std::numbers::pi / thickness;
    for (int y = rows.top; y < rows.bottom; ++y) wave += repeat[y] * std::polar(1.0, -turn * y);
    if (std::abs(wave) == 0) return std::nullopt;
    const double lightest = -std::arg(wave) / turn;  // a row where the wave is at its lightest
    auto beat = [&](int k) { return lightest + (k + 0.5) * thickness; };

    // Each stretch between beats, sampled, as shares of its own mean grey
    // level (so that shade does not matter) less 1, with that mean.
    struct Stretch {
        Profile samples;
        double mean = 0;
    };
    const int sampled = std::max(kFewestSamples, board);
    auto stretch = [&](int k) -> std::optional<Stretch> {
        const double from = beat(k);
        if (from < 0 || from + thickness > height - 1) return std::nullopt;
        Stretch found{Profile(static_cast<std::size_t>(sampled)), 0.0};
        for (int i = 0; i < sampled; ++i) {
            const double y = from + thickness * (i + 0.5) / sampled;
            const auto row = static_cast<int>(y);
            const double part = y - row;
            found.samples[i] =
                profile[row] * (1 - part) + profile[std::min(row + 1, height - 1)] * part;
            found.mean += found.samples[i];
        }
        found.mean /= sampled;
        for (double& sample : found.samples) sample = sample / std::max(1.0, found.mean) - 1;
        return found;
    };
    // The board of the stack: the mean of the stretches in the rows of rhythm.
    const int first = static_cast<int>(std::ceil((rows.top - lightest) / thickness - 0.5));
    const int last = static_cast<int>(std::floor((rows.bottom - lightest) / thickness - 1.5));
    if (last < first) return std::nullopt;
    Profile usual(static_cast<std::size_t>(sampled), 0.0);
    int stretches = 0;
    for (int k = first; k <= last; ++k)
        if (const std::optional<Stretch> found = stretch(k)) {
            for (int i = 0; i < sampled; ++i) usual[i] += found->samples[i];
            ++stretches;
        }
    for (double& sample : usual) sample /= std::max(1, stretches);
    // How like the usual board a stretch is: all of it, or its half on the side of `side`
    // (-1 the top, 1 the bottom).
    // A stretch of another contrast (the plain top face above the stack, a step from a wall to
    // it) is unlike a board, whatever its shape.
    auto likeness = [&](int k, int side = 0) {
        const std::optional<Stretch> found = stretch(k);
        if (!found) return -1.0;
        const int from = side > 0 ? sampled / 2 : 0;
        const int to = side < 0 ? (sampled + 1) / 2 : sampled;
        const Profile its = rowsOf(found->samples, from, to);
        const Profile typical = rowsOf(usual, from, to);
        const double contrast = spread(its) / std::max(1e-9, spread(typical));
        if (contrast < kLeastContrast || contrast > 1 / kLeastContrast) return 0.0;
        return correlation(its, typical);
    };
    // From the middle outwards over the boards.
    const int middle = (first + last) / 2;
    if (likeness(middle) < kBoardLike) return std::nullopt;
    Edges edges;
    auto outermost = [&](int direction) {
        // A stretch unlike a board is a flawed board only between boards: two like boards
        // follow it.
        int outer = middle;
        for (int k = middle + direction;; k += direction) {
            if (likeness(k) >= kBoardLike || (likeness(k + direction) >= kBoardLike &&
                                              likeness(k + 2 * direction) >= kBoardLike))
                outer = k;
            else
                break;
        }
        // The outermost board is like the others where its outer edge is a dark line (a shadow
        // under the top face, the bearers' shade); where its edge is light it is like them only
        // on its inner half. A stretch beyond the stack (a top face, say) may be like that too,
        // but is lighter, or rougher with ridges; where it is neither clearly a board nor
        // clearly none, the end is in doubt.
        const int beyond = outer + direction;
        const std::optional<Stretch> found = stretch(beyond);
        if (!found) return outer;
        const double halfAlike = likeness(beyond, -direction);
        // Its half towards the stack holds half a joint, as the same half of its neighbour does.
        auto halfLevel = [&](const Stretch& of) {
            const int from = direction < 0 ? sampled / 2 : 0;
            const int to = direction < 0 ? sampled : (sampled + 1) / 2;
            double sum = 0;
            for (int i = from; i < to; ++i) sum += (of.samples[i] + 1) * of.mean;
            return sum / (to - from);
        };
        const double lighter = halfLevel(*found) / std::max(1.0, halfLevel(*stretch(outer))) - 1;
        // The grain of its middle half: the ridges of a corrugated top face are far rougher
        // than a board's edge.
        auto roughness = [&](const Stretch& of) {
            double sum = 0;
            for (int i = sampled / 4 + 1; i < 3 * sampled / 4; ++i)
                sum += std::abs(of.samples[i] - of.samples[i - 1]);
            return sum;
        };
        const double rougher = roughness(*found) / std::max(1e-9, roughness(*stretch(outer)));
        const bool isBoard =
            halfAlike >= kBoardLike && lighter <= kEndLighter && rougher <= kEndRougher;
        const bool sure =
            isBoard ? halfAlike >= kEndBoardLike && std::abs(lighter) <= kEndBoardLight &&
                          rougher <= kEndBoardRougher
                    : halfAlike < kBoardLike - kEndMargin ||
                          lighter > kEndLighter + kEndBoardLight || rougher > kEndRougher + 1;
        if (!sure)
            edges.doubt += std::string(edges.doubt.empty() ? "" : "; ") + "the stack's " +
                           (direction < 0 ? "top" : "bottom") +
                           " end is unclear: the stripe beyond it may be a board or not";
        return isBoard ? beyond : outer;
    };
    const int top = outermost(-1), bottom = outermost(1);
    edges.top = std::clamp(static_cast<int>(std::lround(beat(top))), 0, height - 1);
    edges.bottom = std::clamp(static_cast<int>(std::lround(beat(bottom + 1))) + 1, 1, height);
    if (edges.bottom - edges.top < board) return std::nullopt;

    // What the stretches say, checked against how strongly the rows repeat: where they repeat
    // as strongly as in the stack well past an end (boards that the beat lost, or a top face
    // with ridges), that end may be wrong.
    Profile squares(repeat.size());
    for (std::size_t y = 0; y < repeat.size(); ++y) squares[y] = repeat[y] * repeat[y];
    const Profile strength = movingMean(squares, board);
    Profile inside = rowsOf(strength, edges.top, edges.bottom);
    std::nth_element(inside.begin(), inside.begin() + inside.size() / 2, inside.end());
    const double usualStrength = inside[inside.size() / 2];
    for (const auto& [end, direction, name] :
         {std::tuple{edges.top, -1, "top"}, std::tuple{edges.bottom - 1, 1, "bottom"}}) {
        int strong = 0;
        for (int y = end + direction;
             y >= 0 && y < height && strength[y] >= kGoesOnStrength * usualStrength; y += direction)
            ++strong;
        if (strong > kGoesOnBoards * thickness)
            edges.doubt += std::string(edges.doubt.empty() ? "" : "; ") +
                           "the rows repeat as in the stack beyond its " + name + " end";
    }
    return edges;
}

}  // namespace

StepResult<FoundStack> findStack(FIBITMAP* grey) {
    const Strips strips(grey);
    const Failed none{"has no stack that could be found: no rows repeat with the rhythm of joints"};
    if (strips.height < kFewestWindowRows) return none;
    // Rows first, across the middle eighth of the photograph, where a photograph taken by hand
    // has its stack: no wider, as a stack seen a little from one side has joints that fan out
    // towards a far vanishing point, and along one slope they lie along rows over a few
    // hundred columns only.
    const int middleStrips = std::max(kFewestMiddleStrips, strips.count / 8);
    const int firstMiddle = std::max(0, (strips.count - middleStrips) / 2);
    const int lastMiddle = std::min(strips.count - 1, firstMiddle + middleStrips - 1);
    const Profile middle = strips.mean(firstMiddle, lastMiddle);
    const std::optional<Rows> rows = rhythmicRows(middle);
    if (!rows) return none;
    const std::optional<Edges> edges = edgesOf(middle, *rows);
    if (!edges) return none;
    const int top = edges->top, bottom = edges->bottom;

    // Then the columns: the strips on either side of the middle whose joints keep in step.
    const Profile reference = rowsOf(repeatOf(middle, rows->thickness), top, bottom);
    auto inStep = [&](int s) {
        return correlation(rowsOf(repeatOf(strips.profiles[s], rows->thickness), top, bottom),
                           reference) >= kInStep;
    };
    int centre = (firstMiddle + lastMiddle) / 2;
    int left = centre, right = centre;
    while (left > 0 && inStep(left - 1)) --left;
    while (right + 1 < strips.count && inStep(right + 1)) ++right;
    const int firstColumn = left * strips.columns;
    const int endColumn = std::min(strips.width, (right + 1) * strips.columns);
    return FoundStack{Region{firstColumn, top, endColumn - firstColumn, bottom - top},
                      edges->doubt};
}

}  // namespace lathmark
