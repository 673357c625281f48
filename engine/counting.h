#pragma once
// The driver of a count: from a photograph's file (or its bytes, or the decoded photograph) to its
// boards, pass lines, band, joints and result image, through the stages of preparation.h,
// passes.h and report.h. Every face counts through here. Each call is independent, so several
// photographs can be counted at once on different threads.

#include <array>
#include <cstdint>
#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "engine/bitmap.h"
#include "engine/counting_state.h"
#include "engine/digest.h"
#include "engine/error.h"
#include "engine/landscape.h"
#include "engine/passes.h"
#include "engine/pixel_budget.h"
#include "engine/rhythm.h"
#include "engine/settings.h"

namespace lathmark {

struct CountOptions {
    bool keepPhotograph = false;  // hand back the decoded photograph, for a face to show it
    bool stability = false;       // find the stability ranges around the settings too
    // With `stability`: return as soon as the count is made, while the ranges are still being
    // found on another thread, so that the face can get on with showing the count meanwhile;
    // finishCount() waits for them and gives the count its verdict.
    bool stabilityLater = false;
    // Check, without the ranges, whether they would be short: the count is then uncertain. The
    // stability ranges give this verdict too, so it is only made without them.
    bool selfCheck = false;
    // Why every count with these settings may be wrong, if it may (a mistake in the settings
    // file): the count is then uncertain, for this reason among its others.
    std::string settingsDoubt{};
    // The budget the photograph's pixels are taken from for as long as the count lasts (a
    // photograph kept for the face leaves it when the count returns); none: no budget.
    PixelBudget* budget = nullptr;
};

// The band as a count reports it.
struct BandBox {
    int top = 0;  // band edges as found, rows counted from the top of the photograph (not of
                  // its region)
    int bottom = 0;
    int width = 0;  // the band's size in pixels
    int height = 0;
};

// How sure a count is. It is uncertain when the boards found from the band's height (with a
// THICKNESS) disagree with the count, when no joint at all was found, or when a stability range
// (if asked for) is short or the self-check finds it would be, or when the settings are in
// doubt; `why` says which, in plain words.
struct Certainty {
    std::optional<double> byThickness;  // the band's height over THICKNESS, to two decimals
    bool thicknessAgrees = true;        // it lies within half a board of the count
    std::optional<Rhythm> byRhythm;     // the stack's own rhythm, where it was sought and found
    bool rhythmAgrees = true;           // its boards lie within half a board of the count
    bool uncertain = false;
    std::string why;
};

// The boards the band's height gives at a THICKNESS, exactly, and whether they lie within half a
// board of `boards`: `bandRows` photograph rows (before STRETCH) over `thicknessHundredths`.
struct ThicknessCount {
    double boards = 0;  // rounded to two decimals
    bool agrees = false;
};
ThicknessCount thicknessCount(int bandRows, int thicknessHundredths, int boards);

// The stability ranges around a count's settings, or why they could not be found.
struct StabilityFound {
    std::optional<StabilityRanges> ranges;
    std::string problem;
};

struct CountResult {
    std::string file;  // the photograph as the caller named it
    std::optional<CountError> error;
    Settings settings;  // the settings it was counted with, its region among them
    PassLines passLines{};
    BandBox band;               // with STRETCH above 1, in rows of the stretched photograph
    std::vector<Joint> joints;  // one per counted line, from the top down (in the same rows)
    int photographWidth = 0;    // the photograph's size in pixels, before any STRETCH
    int photographHeight = 0;
    Bitmap marked;        // the result image: the band (of the region), black on line rows
    Bitmap photograph;    // the decoded photograph, if asked for
    std::string warning;  // what the decoder noted about a photograph it could still decode
    // Which photograph this is (digest.h), known for any JPEG data with a scan, counted or not.
    std::optional<PhotographDigest> digest;
    // The joints' slope the rows were read along, in hundredths of a degree, where ANGLE is not
    // level: its own, or the one found (0 where the photograph was counted as it is).
    std::optional<int> angleHundredths;
    // Whether the stack's rhythm was sought as a second opinion (for a count along a slope).
    bool rhythmSought = false;
    std::string stackDoubt;  // with REGION=auto, why the stack's ends are in doubt, if they are
    std::optional<StabilityRanges> stable;  // if asked for, and they could be found
    std::string stabilityProblem;           // why they (or the self-check) could not
    bool dependsOnSettings = false;         // the self-check's verdict, if it was made
    Certainty certainty;  // with ranges still being found, not yet given: see finishCount()
    std::future<StabilityFound> stabilityPending;  // the ranges still being found

    bool ok() const { return !error.has_value(); }
    int lines() const { return passLines[0] + passLines[1] + passLines[2] + passLines[3]; }
    int boards() const { return lines() + 1; }
};

// Waits for the stability ranges of a count made with CountOptions::stabilityLater, if they are
// still being found, and gives the count its verdict; `options` are those it was made with. The
// ranges are found from a table of their own: the photograph handed back need not be kept.
void finishCount(CountResult& result, const CountOptions& options);

// Counts the boards in a JPEG photograph.
CountResult countBoards(const std::filesystem::path& file, const Settings& settings,
                        const CountOptions& options = {});

// Counts the boards in a JPEG photograph held in memory; `name` names it in errors.
CountResult countJpegInMemory(const std::uint8_t* data, std::size_t size, const std::string& name,
                              const Settings& settings, const CountOptions& options = {});

// Counts the boards in a JPEG photograph already read and walked (preparation.h); `name` names it
// in errors.
struct JpegPhotograph;
CountResult countJpeg(const JpegPhotograph& photograph, const std::string& name,
                      const Settings& settings, const CountOptions& options = {});

// Counts the boards in a photograph already decoded; `name` names it in errors.
CountResult countDecoded(Bitmap photograph, const std::string& name, const Settings& settings,
                         const CountOptions& options = {});

}  // namespace lathmark
