#pragma once
// The batch counter's work, apart from its command line: which photographs an argument names,
// counting them on several threads, and one line of output per photograph.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/counting.h"
#include "engine/preparation.h"

namespace lathmark {

// One photograph of a batch, as the arguments name it.
struct BatchPhotograph {
    std::string file;
    std::string unreadable;  // why it cannot be a photograph, where that is known before counting
    std::string warning;     // what the batch notes of it before counting (named twice)
};

// What the arguments give: the photographs in order, and what went wrong with the folders.
struct BatchArguments {
    std::vector<BatchPhotograph> photographs;
    // "<folder>: <why>" for each folder argument that gives no photograph: an empty one, one
    // without *.jpg entries, one that cannot be read.
    std::vector<std::string> folderProblems;

    std::vector<std::string> files() const;
};

// The photographs that the arguments name, in order: a directory stands for its *.jpg entries
// (letter case ignored, of any kind: those that are not photographs are counted as photographs
// that cannot be), sorted by name ignoring case; anything else stands for itself. A photograph
// that is the same file as one before it, however named, is counted again with a warning.
BatchArguments expandArguments(const std::vector<std::string>& arguments);

struct BatchOptions {
    Settings settings;
    std::optional<std::filesystem::path> markedFolder;  // where result images go, if anywhere
    int jobs = 1;
    bool stability = false;     // find each count's stability ranges
    bool selfCheck = true;      // check each count, without the ranges, for a short one
    std::string settingsDoubt;  // why every count may be wrong (a mistake in the settings file)
    // The pixels the photographs being counted at once may take together (see pixel_budget.h).
    std::uint64_t pixelBudget = kMaxPhotographPixels;
};

// What is kept of one photograph's count once its bitmaps are gone.
struct PhotographOutcome {
    std::string file;
    std::optional<std::string> error;  // why it could not be counted
    std::string warning;
    PassLines passLines{};
    BandBox band;
    std::vector<Joint> joints;  // one per counted line, from the top down
    int photographWidth = 0;    // the photograph's size in pixels
    int photographHeight = 0;
    int stretch = 1;  // rows of the band and joints are the photograph's rows times this
    std::optional<Region> region;  // where it was counted, if not the whole photograph
    // The joints' slope its rows were read along, in hundredths of a degree, where ANGLE is set.
    std::optional<int> angleHundredths;
    bool regionFound = false;  // the region is the stack found in the photograph (REGION=auto)
    std::optional<StabilityRanges> stable;
    Certainty certainty;
    double milliseconds = 0;
    std::optional<PhotographDigest> digest;  // which photograph it is (engine/digest.h)

    int boards() const { return passLines[0] + passLines[1] + passLines[2] + passLines[3] + 1; }
};

// Where the result image of `file` goes in `folder`: its name with the extension .bmp.
std::filesystem::path resultImagePath(const std::filesystem::path& folder, const std::string& file);

// Two different photographs whose result images would go to the same file (photographs of one
// name in different folders): the later would replace the earlier's. Says which, if any.
std::optional<std::string> resultImageClash(const std::vector<std::string>& files,
                                            const std::filesystem::path& folder);

// Counts one photograph and, if asked, writes its result image; from what `read` holds where
// the file was read already.
PhotographOutcome countOne(const BatchPhotograph& photograph, const BatchOptions& options,
                           PixelBudget* budget = nullptr,
                           const StepResult<JpegPhotograph>* read = nullptr);

// Counts every photograph, `options.jobs` at a time within one pixel budget, and hands each
// outcome to `report` in the order of `photographs`, as soon as it and all before it are done.
template <typename Report>
void countAll(const std::vector<BatchPhotograph>& photographs, const BatchOptions& options,
              Report report);

}  // namespace lathmark

#include "cli/batch_impl.h"
