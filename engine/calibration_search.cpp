#include "engine/calibration_search.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <ctime>
#include <map>
#include <tuple>

#include "engine/counting.h"
#include "engine/in_order.h"
#include "engine/landscape.h"
#include "engine/levelling.h"
#include "engine/pixel_budget.h"
#include "engine/preparation.h"
#include "engine/two_level.h"

namespace lathmark {
namespace {

// A photograph of TRUTH as the search keeps it: with a search for the region, decoded and turned
// grey once, as every window searched is read from it; otherwise only which settings count it
// right within the region in effect.
struct Photograph {
    const TruthRow* row = nullptr;
    PhotographSearch search;
    Bitmap grey;  // 8-bit grey, or the photograph itself where the library must threshold it
    PhotographRight inEffect;
    // Where the settings in effect count stacks photographed by hand: which settings count it
    // right along the slope found and within the stack found, and the width of that stack.
    PhotographRight handHeld;
    int handHeldWidth = 0;
    int width = 0;  // of the part counted
    int height = 0;
    bool currentRight = false;  // whether the current settings count it right
};

// The photograph as 8-bit grey levels, which the row counts read as they read the photograph.
Bitmap greyCopy(Bitmap photograph) {
    if (!hasOwnThreshold(photograph.get()) || FreeImage_GetBPP(photograph.get()) == 8)
        return photograph;
    const int width = photograph.width();
    const int height = photograph.height();
    Bitmap grey = newGrey(width, height);
    if (!grey) return photograph;
    GreyRows rows(photograph.get(), {0, 0, width, height});
    const Scanlines to(grey.get());
    for (int y = 0; y < height; ++y) std::copy_n(rows.row(y), width, to(y));
    return grey;
}

// What one region gives over all photographs: each one's right settings, their sum per
// STRETCH, the choice on them, and for each photograph the choice without it.
struct RegionResult {
    std::optional<Region> region;  // none: each photograph whole
    bool stackFound = false;       // each photograph along its slope, within its stack found
    int width = 0;                 // of the region; BDLINE is searched from 0 to this
    std::vector<PhotographRight> photographs;
    std::vector<RightCounts> counts;
    SettingsChoice choice;
    std::vector<SettingsChoice> without;  // per photograph, the choice from the others
    std::vector<bool> rightWithout;       // whether that choice counts the photograph right
    // Whether the THICKNESS fitted to the others at that choice gives its true boards.
    std::vector<bool> thicknessWithout;

    // Drops what only the chosen region needs kept: each photograph's right settings and their
    // sums.
    void release() {
        photographs = {};
        counts = {};
    }
};

// Whether a photograph's right settings hold `settings`.
bool rightAt(const PhotographRight& photograph, const Settings& settings) {
    return photograph.ok() && photograph.right[static_cast<std::size_t>(settings.stretch - 1)].at(
                                  settings.threshold, settings.bdLine);
}

// The THICKNESS fitted to the photographs of `result` that `settings` count right, all but
// `without` (none: all), and on how many of them it agrees.
ThicknessFit fitThicknessTo(const RegionResult& result, const std::vector<Photograph*>& photographs,
                            const Settings& settings, std::size_t without = SIZE_MAX) {
    ThicknessFit fit;
    std::vector<std::pair<int, int>> heights;
    std::vector<std::size_t> right;
    for (std::size_t i = 0; i < photographs.size(); ++i)
        if (i != without && rightAt(result.photographs[i], settings)) {
            heights.emplace_back(bandRowsAt(result.photographs[i], settings),
                                 photographs[i]->row->boards);
            right.push_back(i);
        }
    fit.hundredths = fitThickness(heights);
    fit.of = static_cast<int>(heights.size());
    for (std::size_t k = 0; k < heights.size(); ++k) {
        const auto [rows, boards] = heights[k];
        if (fit.hundredths > 0 && thicknessCount(rows, fit.hundredths, boards).agrees)
            ++fit.agrees;
        else
            fit.disagreeing.emplace_back(photographs[right[k]]->row->file,
                                         static_cast<double>(rows) / boards);
    }
    return fit;
}

class Search {
  public:
    Search(std::vector<Photograph*> photographs, const Settings& current, int jobs, MarginRule rule)
        : photographs_(std::move(photographs)), current_(current), jobs_(jobs), rule_(rule) {}

    RegionResult evaluate(const std::optional<Region>& region, int bdLineMax) const {
        RegionResult result;
        result.region = region;
        result.width = bdLineMax;
        inOrder(
            photographs_.size(), jobs_,
            [&](std::size_t i) {
                const Photograph& photograph = *photographs_[i];
                const StepResult<ThresholdTable> table =
                    ThresholdTable::build(photograph.grey.get(), region);
                if (!table.ok()) {
                    PhotographRight none;
                    none.failure = table.failure;
                    return none;
                }
                return rightSettings(table.value, photograph.row->boards, bdLineMax,
                                     /*nearestWanted=*/false);
            },
            [&](PhotographRight& right) { result.photographs.push_back(std::move(right)); });
        return result;
    }

    // The choice on the photographs that count at all in `result`, and the choice without each:
    // each on its own copy of the sums, `jobs` at a time.
    void choose(RegionResult& result) const {
        result.counts.assign(Settings::kMaxStretch, RightCounts(result.width));
        for (const PhotographRight& photograph : result.photographs)
            if (photograph.ok()) addRight(result.counts, photograph);
        result.without.clear();
        result.rightWithout.clear();
        result.thicknessWithout.clear();
        struct Without {
            SettingsChoice choice;
            bool right = false;
            bool thickness = false;
        };
        // Item 0 is the choice from all of them, item i + 1 the choice without photograph i.
        bool first = true;
        inOrder(
            result.photographs.size() + 1, jobs_,
            [&](std::size_t item) {
                Without without;
                if (item == 0) {
                    without.choice = chooseSettings(result.counts, current_, rule_);
                    return without;
                }
                const std::size_t i = item - 1;
                const PhotographRight& photograph = result.photographs[i];
                if (!photograph.ok()) return without;
                std::vector<RightCounts> others = result.counts;
                addRight(others, photograph, -1);
                without.choice = chooseSettings(others, current_, rule_);
                const Settings& chosen = without.choice.settings;
                without.right = rightAt(photograph, chosen);
                const ThicknessFit fit = fitThicknessTo(result, photographs_, chosen, i);
                without.thickness = fit.hundredths > 0 &&
                                    thicknessCount(bandRowsAt(photograph, chosen), fit.hundredths,
                                                   photographs_[i]->row->boards)
                                        .agrees;
                return without;
            },
            [&](Without& without) {
                if (first) {
                    first = false;
                    result.choice = without.choice;
                    return;
                }
                result.without.push_back(without.choice);
                result.rightWithout.push_back(without.right);
                result.thicknessWithout.push_back(without.thickness);
            });
        // A photograph that counts nowhere leaves the choice as it is.
        for (std::size_t i = 0; i < result.photographs.size(); ++i)
            if (!result.photographs[i].ok()) result.without[i] = result.choice;
    }

    const Settings& current() const { return current_; }

  private:
    std::vector<Photograph*> photographs_;
    Settings current_;
    int jobs_;
    MarginRule rule_;
};

// Column windows of the narrowest photograph's width `width`, their edges at k / parts of it,
// over rows `top` to `top + height`.
Region window(int left, int right, int parts, int width, int top, int height) {
    auto edge = [&](int k) {
        return static_cast<int>((static_cast<long long>(k) * width + parts / 2) / parts);
    };
    return {edge(left), top, edge(right) - edge(left), height};
}

// The finest grid: edges at 1/32 of the width, windows from 1/8 of it to the whole.
constexpr int kFinestParts = 32;
constexpr int kNarrowestParts = 4;  // of the finest grid: 1/8 of the width
// Windows kept from one grid to the next, finer one.
constexpr std::size_t kKeptWindows = 4;

// Thrown out of the search for the region when it is to end early.
struct Stopped {};

// Searches column windows coarse to fine: every window of the grid of eighths, then around the
// best few windows at sixteenths and at thirty-seconds, then from each of those one edge step at
// a time while a step finds a better window; or, with `everyWindow`, every window of the
// thirty-seconds grid. Gives the results of every window searched; only the best keeps what
// each photograph's search found in it.
std::vector<RegionResult> searchWindows(const Search& search, int width, int top, int height,
                                        bool everyWindow, const std::atomic<bool>* stop,
                                        const std::function<void(std::size_t)>& searched) {
    std::vector<RegionResult> results;
    std::map<std::pair<int, int>, std::size_t> done;  // by pixel edges
    std::optional<std::size_t> bestSoFar;
    auto evaluate = [&](int left, int right, int parts) -> std::size_t {
        const Region region = window(left, right, parts, width, top, height);
        const auto key = std::pair{region.left, region.width};
        if (auto found = done.find(key); found != done.end()) return found->second;
        if (stop && *stop) throw Stopped{};
        RegionResult result = search.evaluate(region, region.width);
        search.choose(result);
        results.push_back(std::move(result));
        const std::size_t index = results.size() - 1;
        searched(results.size());
        done.emplace(key, index);
        const RegionResult& added = results[index];
        if (!bestSoFar || betterChoice(added.choice, added.width, results[*bestSoFar].choice,
                                       results[*bestSoFar].width, search.current())) {
            if (bestSoFar) results[*bestSoFar].release();
            bestSoFar = index;
        } else {
            results[index].release();
        }
        return index;
    };
    auto best = [&](std::vector<std::pair<int, int>> edges, int parts) {
        std::vector<std::pair<std::size_t, std::pair<int, int>>> found;
        for (const auto& [left, right] : edges)
            found.push_back({evaluate(left, right, parts), {left, right}});
        std::sort(found.begin(), found.end(), [&](const auto& a, const auto& b) {
            const RegionResult& x = results[a.first];
            const RegionResult& y = results[b.first];
            return betterChoice(x.choice, x.width, y.choice, y.width, search.current());
        });
        std::vector<std::pair<int, int>> kept;
        for (std::size_t i = 0; i < found.size() && kept.size() < kKeptWindows; ++i)
            if (std::find(kept.begin(), kept.end(), found[i].second) == kept.end())
                kept.push_back(found[i].second);
        return kept;
    };

    int parts = everyWindow ? kFinestParts : kFinestParts / 4;
    std::vector<std::pair<int, int>> edges;
    for (int left = 0; left < parts; ++left)
        for (int right = left + 1; right <= parts; ++right)
            if ((right - left) * kFinestParts >= kNarrowestParts * parts)
                edges.push_back({left, right});
    std::vector<std::pair<int, int>> kept = best(edges, parts);
    while (parts < kFinestParts) {
        parts *= 2;
        edges.clear();
        for (const auto& [left, right] : kept)
            for (int dl = -1; dl <= 1; ++dl)
                for (int dr = -1; dr <= 1; ++dr) {
                    const int l = 2 * left + dl;
                    const int r = 2 * right + dr;
                    if (l >= 0 && r <= parts && (r - l) * kFinestParts >= kNarrowestParts * parts)
                        edges.push_back({l, r});
                }
        kept = best(edges, parts);
    }
    if (!everyWindow)
        for (const std::pair<int, int>& at : kept)
            climbWindows(
                at, parts, kNarrowestParts,
                [&](const std::vector<std::pair<int, int>>& e) { return best(e, parts).front(); });
    return results;
}

}  // namespace

std::pair<int, int> climbWindows(
    std::pair<int, int> at, int parts, int narrowest,
    const std::function<std::pair<int, int>(const std::vector<std::pair<int, int>>&)>& bestOf) {
    std::vector<std::pair<int, int>> stoodOn{at};
    std::vector<std::pair<int, int>> edges;
    for (bool moved = true; moved;) {
        edges.clear();
        for (const auto& [dl, dr] :
             {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}, {-1, 1}, {1, -1}, {-1, -1}, {1, 1}}) {
            const int l = at.first + dl;
            const int r = at.second + dr;
            if (l >= 0 && r <= parts && r - l >= narrowest) edges.push_back({l, r});
        }
        edges.push_back(at);
        at = bestOf(edges);
        moved = std::find(stoodOn.begin(), stoodOn.end(), at) == stoodOn.end();
        stoodOn.push_back(at);
    }
    return at;
}

std::optional<Calibration> calibrate(const std::vector<TruthRow>& truth, const Settings& current,
                                     const CalibrationOptions& options,
                                     const std::function<void(const PhotographSearch&)>& report) {
    // Each photograph decoded, and without a search for the region, searched at once: then only
    // which settings count it right is kept of it. Where the settings in effect count stacks
    // photographed by hand (an ANGLE, or REGION=auto), each is also searched along the slope
    // found and within the stack found, and the choice is between the two ways of counting.
    const bool currentIsHandHeld = !current.angle.level() || current.regionFound;
    const bool handHeld = currentIsHandHeld;
    std::vector<Photograph> all;
    PixelBudget budget(kMaxPhotographPixels);
    inOrder(
        truth.size(), options.jobs,
        [&](std::size_t i) {
            Photograph photograph;
            photograph.row = &truth[i];
            PhotographSearch& search = photograph.search;
            search.file = truth[i].file;
            search.boards = truth[i].boards;
            if (options.stop && *options.stop) {
                search.error = "not searched: the search was ended";
                return photograph;
            }
            PixelBudget::Share share(&budget);
            StepResult<Bitmap> decoded = decodeJpegFile(truth[i].file, &share);
            if (!decoded.ok()) {
                search.error = decoded.failure;
                return photograph;
            }
            search.warning = decoded.warning;
            StepResult<ThresholdTable> table =
                ThresholdTable::build(decoded.value.get(), current.region);
            if (!table.ok()) {
                search.error = table.failure;
                return photograph;
            }
            photograph.width = table.value.width();
            photograph.height = table.value.height();
            PassWork work;
            if (const auto lines = countAt(table.value, current, work))
                photograph.currentRight = boardsOf(*lines) == truth[i].boards;
            if (handHeld) {
                // Counted along the slope found, within the stack found, as ANGLE=auto and
                // REGION=auto count it.
                Settings found = current;
                found.angle = Angle{0, true};
                found.regionFound = true;
                const StepResult<Levelled> part = levelled(decoded.value.get(), found);
                const StepResult<ThresholdTable> stack =
                    part.ok() ? ThresholdTable::build(part.value.part.get(), std::nullopt)
                              : StepResult<ThresholdTable>{Failed{*part.failure}};
                if (!stack.ok()) {
                    photograph.handHeld.failure = stack.failure;
                } else {
                    photograph.handHeldWidth = stack.value.width();
                    photograph.handHeld =
                        rightSettings(stack.value, truth[i].boards, stack.value.width());
                    if (const auto lines = countAt(stack.value, current, work);
                        lines && currentIsHandHeld)
                        photograph.currentRight = boardsOf(*lines) == truth[i].boards;
                }
            }
            if (options.findRegion) {
                photograph.grey = greyCopy(std::move(decoded.value));
                return photograph;
            }
            decoded.value.reset();  // the table holds all the search needs of it
            share.giveBack();
            photograph.inEffect = rightSettings(table.value, truth[i].boards, photograph.width);
            if (!photograph.inEffect.ok()) search.error = photograph.inEffect.failure;
            return photograph;
        },
        [&](Photograph& photograph) {
            report(photograph.search);
            all.push_back(std::move(photograph));
            if (options.progress) options.progress({false, all.size(), truth.size()});
        });

    if (options.stop && *options.stop) return std::nullopt;
    std::vector<Photograph*> searched;
    for (Photograph& photograph : all)
        if (!photograph.search.error) searched.push_back(&photograph);
    if (searched.empty()) return std::nullopt;
    int narrowest = INT_MAX;
    int lowest = INT_MAX;
    for (const Photograph* photograph : searched) {
        narrowest = std::min(narrowest, photograph->width);
        lowest = std::min(lowest, photograph->height);
    }

    const Search search(searched, current, options.jobs, options.rule);
    std::vector<RegionResult> windows;
    if (options.findRegion) {
        // Column windows across the narrowest photograph, over the rows of the region in effect.
        int across = INT_MAX;
        for (const Photograph* photograph : searched)
            across = std::min(across, photograph->grey.width());
        const int top = current.region ? current.region->top : 0;
        // How many windows the search takes is known only at its end: the grid of eighths, and
        // around the best windows two finer grids (which share many windows) and a short climb
        // is what it mostly takes; a longer climb makes the total grow as it goes.
        const std::size_t eighths = 8 * 9 / 2;
        std::size_t expected = options.everyWindow ? 29 * 30 / 2 : eighths + kKeptWindows * 9;
        try {
            windows = searchWindows(search, across, top, lowest, options.everyWindow, options.stop,
                                    [&](std::size_t done) {
                                        if (!options.progress) return;
                                        if (done >= expected) expected = done + 9;
                                        options.progress({true, done, expected});
                                    });
        } catch (const Stopped&) {
            return std::nullopt;
        }
    } else {
        RegionResult& inEffect = windows.emplace_back();
        inEffect.region = current.region;
        inEffect.width = narrowest;
        for (Photograph* photograph : searched)
            inEffect.photographs.push_back(std::move(photograph->inEffect));
        search.choose(inEffect);
    }

    if (handHeld) {
        RegionResult& found = windows.emplace_back();
        found.stackFound = true;
        found.width = INT_MAX;
        for (Photograph* photograph : searched) {
            if (photograph->handHeld.ok())
                found.width = std::min(found.width, photograph->handHeldWidth);
            found.photographs.push_back(std::move(photograph->handHeld));
        }
        if (found.width == INT_MAX) found.width = narrowest;
        search.choose(found);
    }

    std::size_t best = 0;
    for (std::size_t w = 1; w < windows.size(); ++w)
        if (betterChoice(windows[w].choice, windows[w].width, windows[best].choice,
                         windows[best].width, current))
            best = w;

    Calibration calibration;
    calibration.photographs = static_cast<int>(searched.size());
    calibration.regionSearched = options.findRegion;
    calibration.windowsSearched = static_cast<int>(windows.size());
    calibration.current = current;
    for (const Photograph* photograph : searched)
        if (photograph->currentRight) ++calibration.currentRight;
    // Each photograph chosen without: the best region for the others, its verdict, and whether
    // the THICKNESS fitted to the others gives its true boards.
    calibration.leaveOneOut.of = calibration.photographs;
    for (std::size_t i = 0; i < searched.size(); ++i) {
        std::size_t bestWithout = 0;
        for (std::size_t w = 1; w < windows.size(); ++w)
            if (betterChoice(windows[w].without[i], windows[w].width,
                             windows[bestWithout].without[i], windows[bestWithout].width, current))
                bestWithout = w;
        if (windows[bestWithout].rightWithout[i]) ++calibration.leaveOneOut.right;
        if (windows[bestWithout].thicknessWithout[i]) ++calibration.leaveOneOut.thicknessAgreed;
    }

    RegionResult& result = windows[best];
    calibration.handHeldSearched = handHeld;
    // A stack photographed by hand has the rhythm of its boards for a second opinion, and no
    // one thickness.
    if (!result.stackFound)
        calibration.thickness = fitThicknessTo(result, searched, result.choice.settings);
    calibration.bdLineMax = result.width;
    calibration.counts = std::move(result.counts);
    calibration.choice = result.choice;
    calibration.choice.settings.region = result.region;
    calibration.choice.settings.thicknessHundredths =
        calibration.thickness.usable() ? calibration.thickness.hundredths : 0;
    // How the window keeps its list is no part of the counting; a station's settings written
    // again keep it.
    calibration.choice.settings.watch = current.watch;
    calibration.choice.settings.angle = result.stackFound ? Angle{0, true} : Angle{};
    calibration.choice.settings.regionFound = result.stackFound;
    // A region that is every photograph whole is no region.
    if (const std::optional<Region>& region = result.region)
        if (std::all_of(searched.begin(), searched.end(), [&](const Photograph* p) {
                return *region == Region{0, 0, p->grey.width(), p->grey.height()};
            }))
            calibration.choice.settings.region.reset();
    for (std::size_t i = 0; i < searched.size(); ++i) {
        const int boards = searched[i]->row->boards;
        int nearest = nearestCount(result.photographs[i], boards, result.width);
        // The windows searched know the nearest count only where it is right; a photograph that
        // no setting counts right there is searched again for it.
        if (nearest != boards && options.findRegion && !result.stackFound) {
            const StepResult<ThresholdTable> table =
                ThresholdTable::build(searched[i]->grey.get(), result.region);
            if (table.ok())
                nearest = nearestCount(rightSettings(table.value, boards, result.width), boards,
                                       result.width);
        }
        if (nearest != boards)
            calibration.neverRight.push_back({searched[i]->row->file, boards, nearest});
    }
    return calibration;
}

std::string settingsHeader(const Calibration& calibration, const std::string& writtenFrom) {
    char date[32] = "an unknown day";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local)) std::strftime(date, sizeof date, "%Y-%m-%d", &local);
    std::string margin = "unbounded";
    if (calibration.choice.margin) {
        char digits[32];
        std::snprintf(digits, sizeof digits, "%.2f", *calibration.choice.margin);
        margin = digits;
    }
    const LeaveOneOut& loo = calibration.leaveOneOut;
    return "# Written by " + writtenFrom + " on " + date + "\n" + "# " +
           std::to_string(calibration.choice.right) + " of " +
           std::to_string(calibration.photographs) + " photographs counted right, margin " +
           margin + "; chosen without it, each counted right in " + std::to_string(loo.right) +
           " of " + std::to_string(loo.of) + " cases\n";
}

}  // namespace lathmark
