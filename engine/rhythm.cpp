#include "engine/rhythm.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace lathmark {
namespace {

// A rhythm needs a few repeats to be one, each of a few rows.
constexpr double kFewestRepeats = 3;
constexpr double kFewestRowsPerBoard = 2;
// How alike a profile must be to itself one board on to have a rhythm: a stack's is 0.6 or
// more, noise's a few hundredths.
constexpr double kClearAlike = 0.3;
// Of the peaks of alikeness (at the thickness and its multiples), the first at least this share
// of the highest is the thickness: one at half of it is far lower.
constexpr double kShareOfHighest = 0.6;
// Lags are tried at quarter rows below this, whole rows above.
constexpr double kFineLagsBelow = 16;
// Places within a board that a joint's rows are measured in, at the fewest.
constexpr int kFewestPlaces = 8;
// The exact search, in boards over the whole profile, either side of a peak.
constexpr double kBoardStep = 0.01;
constexpr double kCoarseStep = 0.5;
constexpr double kMiddleStep = 0.1;

double hundredthsOf(double value) {
    return std::round(value * 100.0) / 100.0;
}

// The profile less its straight-line trend (light falling off across the stack), so that only
// the joints' repeat is left.
std::vector<double> detrended(const std::vector<double>& profile) {
    const auto n = static_cast<double>(profile.size());
    double sumY = 0, sumXY = 0;
    for (std::size_t i = 0; i < profile.size(); ++i) {
        sumY += profile[i];
        sumXY += static_cast<double>(i) * profile[i];
    }
    const double meanX = (n - 1) / 2.0;
    const double meanY = sumY / n;
    const double varianceX = (n * n - 1) / 12.0;
    const double slope = varianceX > 0 ? (sumXY / n - meanX * meanY) / varianceX : 0.0;
    std::vector<double> left(profile.size());
    for (std::size_t i = 0; i < profile.size(); ++i)
        left[i] = profile[i] - meanY - slope * (static_cast<double>(i) - meanX);
    return left;
}

// How alike the profile is to itself `lag` rows on (a fraction of a row read between two rows):
// its correlation over the rows both share.
double alikeness(const std::vector<double>& q, double lag) {
    const auto whole = static_cast<std::size_t>(lag);
    const double part = lag - static_cast<double>(whole);
    double both = 0, first = 0, second = 0;
    for (std::size_t i = 0; i + whole + 1 < q.size(); ++i) {
        const double a = q[i];
        const double b = q[i + whole] * (1 - part) + q[i + whole + 1] * part;
        both += a * b;
        first += a * a;
        second += b * b;
    }
    return first > 0 && second > 0 ? both / std::sqrt(first * second) : 0.0;
}

// The strength of a repeat of `periods` periods over the whole profile: its Fourier power, with
// the sum of squares of the profile it is a share of when divided by the profile's rows.
double power(const std::vector<double>& q, double periods) {
    const double step = 2.0 * std::numbers::pi * periods / static_cast<double>(q.size());
    // The angle turned one row at a time, so that only the first row needs the library.
    const std::complex<double> turn = std::polar(1.0, step);
    std::complex<double> at = 1.0;
    std::complex<double> sum = 0.0;
    for (std::size_t i = 0; i < q.size(); ++i) {
        sum += q[i] * at;
        at *= turn;
    }
    return std::norm(sum);
}

// The rows of a joint: the profile folded onto one board (each row at its place within its
// board), and the rows of that mean board darker than halfway between its lightest and
// darkest.
double jointRows(const std::vector<double>& q, double thickness) {
    const int places = std::max(kFewestPlaces, static_cast<int>(std::lround(thickness)));
    std::vector<double> sum(static_cast<std::size_t>(places), 0.0);
    std::vector<int> rows(static_cast<std::size_t>(places), 0);
    for (std::size_t i = 0; i < q.size(); ++i) {
        const double within = std::fmod(static_cast<double>(i), thickness) / thickness;
        const auto place = std::min(static_cast<std::size_t>(within * places), sum.size() - 1);
        sum[place] += q[i];
        ++rows[place];
    }
    double lightest = -1e300, darkest = 1e300;
    for (std::size_t p = 0; p < sum.size(); ++p) {
        if (rows[p] == 0) continue;
        sum[p] /= rows[p];
        lightest = std::max(lightest, sum[p]);
        darkest = std::min(darkest, sum[p]);
    }
    int dark = 0;
    for (std::size_t p = 0; p < sum.size(); ++p)
        if (rows[p] > 0 && sum[p] < (lightest + darkest) / 2) ++dark;
    return thickness * dark / places;
}

struct Peak {
    double periods = 0;
    double power = 0;
};

// The strongest repeat of `from` to `to` periods over the whole profile, to hundredths: first
// every half period (a peak of the profile's power is a period wide), then finer around the
// strongest.
Peak refined(const std::vector<double>& q, double from, double to) {
    Peak best{from, power(q, from)};
    auto consider = [&](double periods) {
        const double found = power(q, periods);
        if (found > best.power) best = {periods, found};
    };
    for (double at = from + kCoarseStep; at <= to; at += kCoarseStep) consider(at);
    consider(to);
    // Within a peak the power rises and falls once: tenths around the best half, then
    // hundredths around the best tenth.
    for (const double step : {kMiddleStep, kBoardStep}) {
        const double around = best.periods;
        const double reach = step == kBoardStep ? kMiddleStep : kCoarseStep;
        for (double at = std::max(from, around - reach); at <= std::min(to, around + reach);
             at += step)
            consider(at);
    }
    return best;
}

}  // namespace

std::optional<Rhythm> rhythmOf(const std::vector<double>& profile, ProfileEnds ends) {
    const auto rows = static_cast<double>(profile.size());
    const double longest = rows / kFewestRepeats;
    if (longest < kFewestRowsPerBoard) return std::nullopt;
    const std::vector<double> q = detrended(profile);

    // How alike the profile is to itself from one board's rows on, at quarter rows where a
    // board is thin (a thickness of 3.5 rows has no peak at 3 or 4), whole rows above.
    struct Lag {
        double rows;
        double alike;
    };
    std::vector<Lag> lags;
    for (double lag = kFewestRowsPerBoard; lag <= longest + 1;
         lag += lag < kFineLagsBelow ? 0.25 : 1.0)
        lags.push_back({lag, alikeness(q, lag)});
    // Its peaks: at the thickness and at every multiple of it, the highest perhaps at a multiple;
    // the thickness is the first that is nearly as high as the highest.
    auto isPeak = [&](std::size_t i) {
        return i > 0 && i + 1 < lags.size() && lags[i].alike > lags[i - 1].alike &&
               lags[i].alike >= lags[i + 1].alike && lags[i].rows <= longest;
    };
    double highest = 0;
    for (std::size_t i = 0; i < lags.size(); ++i)
        if (isPeak(i)) highest = std::max(highest, lags[i].alike);
    if (highest < kClearAlike) return std::nullopt;
    std::size_t first = 1;
    while (!(isPeak(first) && lags[first].alike >= kShareOfHighest * highest)) ++first;

    // Exact: the repeat over the whole profile, between the lags beside the peak, whose Fourier
    // power is highest.
    const Peak repeats = refined(q, rows / lags[first + 1].rows, rows / lags[first - 1].rows);
    const double thickness = rows / repeats.periods;
    // A band holds its boards and the joints between them, one joint fewer than boards, so its
    // rows over the thickness fall short of the boards by a joint's share of a board.
    const double boards = ends == ProfileEnds::BoardEdges
                              ? (rows + jointRows(q, thickness)) / thickness
                              : rows / thickness;
    return Rhythm{hundredthsOf(thickness), hundredthsOf(boards), lags[first].alike};
}

bool rhythmAgrees(const Rhythm& rhythm, int boards) {
    return std::abs(rhythm.boards - boards) <= 0.5;
}

}  // namespace lathmark
