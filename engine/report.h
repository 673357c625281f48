#pragma once
// The end of a count: the joints it found, the result image drawn from the passes' line rows, and
// the result image written as a BMP file.

#include <FreeImage.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/bitmap.h"
#include "engine/counting_state.h"
#include "engine/passes.h"

namespace lathmark {

// Every run of each pass's line rows, each a counted line, in rows from the top of the
// photograph, from the top down (a pass's before a later pass's where two start on one row).
std::vector<Joint> jointsOf(const PassWork& work, const BandEdges& edges);

// The result image: a two-level image of the band's size, every row black across its width where
// any pass found a line row and white everywhere else, with the resolution of `like` (the
// photograph). Empty when out of memory.
Bitmap resultImage(const PassWork& work, const BandCounts& band, FIBITMAP* like);

// Writes a bitmap as an uncompressed BMP, whole or not at all, through a FileWriter (files.h): an
// earlier file of that name is removed just before the new one is renamed to its name, and its
// permissions kept; a pipe, device or folder of that name is refused. Returns why it failed, if it
// did: "<file> could not be written (why)".
std::optional<std::string> writeBmp(FIBITMAP* dib, const std::filesystem::path& file);

}  // namespace lathmark
