#pragma once
// The counting routine: from a photograph's file to its boards, pass counts, band and result
// image. Each call is independent, so several photographs can be counted at once on different
// threads.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/bitmap.h"
#include "engine/error.h"
#include "engine/landscape.h"
#include "engine/passes.h"

namespace lathmark {

struct BandBox {
    int top = 0;  // band edges as found, rows counted from the top of the photograph
    int bottom = 0;
    int width = 0;  // the band's size in pixels
    int height = 0;
};

// One counted line: a run of line rows of one pass, rows counted from the top of the photograph.
struct Joint {
    int pass = 0;    // 1 to 4
    int top = 0;     // its first row
    int bottom = 0;  // its last row
};

struct CountOptions {
    bool keepPhotograph = false;  // hand back the decoded photograph, for a face to show it
    bool stability = false;       // find the stability ranges around the settings too
    int stretch = 1;  // STRETCH: each photograph row is repeated this many times (1 to 4)
};

struct CountResult {
    std::string file;  // the photograph as the caller named it
    std::optional<CountError> error;
    std::array<int, kPassCount> passLines{};
    BandBox band;               // with STRETCH above 1, in rows of the stretched photograph
    std::vector<Joint> joints;  // one per counted line, from the top down (in the same rows)
    int photographWidth = 0;    // the photograph's size in pixels, before any STRETCH
    int photographHeight = 0;
    Bitmap marked;        // the result image: the band, black where a line row was found
    Bitmap photograph;    // the decoded photograph, if asked for
    std::string warning;  // what the decoder noted about a photograph it could still decode
    std::optional<StabilityRanges> stable;  // if asked for, and they could be found
    std::string stabilityProblem;           // why they could not

    bool ok() const { return !error.has_value(); }
    int lines() const { return passLines[0] + passLines[1] + passLines[2] + passLines[3]; }
    int boards() const { return lines() + 1; }
};

// Why a THRESHOLD cannot be used for counting, or nothing if it can (0 to 245).
std::optional<std::string> thresholdProblem(int thresholdLevel);

// Why a STRETCH cannot be used for counting, or nothing if it can (1 to 4).
std::optional<std::string> stretchProblem(int stretch);

// Counts the boards in a JPEG photograph.
CountResult countBoards(const std::filesystem::path& file, std::int16_t bdLine,
                        std::int16_t thresholdLevel, const CountOptions& options = {});

// Counts the boards in a JPEG photograph held in memory; `name` names it in errors.
CountResult countJpegInMemory(const std::uint8_t* data, std::size_t size, const std::string& name,
                              std::int16_t bdLine, std::int16_t thresholdLevel,
                              const CountOptions& options = {});

// A JPEG photograph decoded as a count decodes it, for searches over its settings; `warning`
// as in CountResult.
struct DecodedPhotograph {
    std::optional<CountError> error;
    Bitmap photograph;
    std::string warning;
};
DecodedPhotograph decodeJpeg(const std::filesystem::path& file);

// Counts the boards in a photograph already decoded; `name` names it in errors.
CountResult countDecoded(Bitmap photograph, const std::string& name, std::int16_t bdLine,
                         std::int16_t thresholdLevel, const CountOptions& options = {});

}  // namespace lathmark
