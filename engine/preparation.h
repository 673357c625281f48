#pragma once
// The stages before the passes: decode the photograph, sweep it once for each row's dark pixels at
// THRESHOLD and THRESHOLD + 10, and find the band of rows the stack occupies.

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "engine/bitmap.h"
#include "engine/counting_state.h"
#include "engine/digest.h"
#include "engine/error.h"
#include "engine/pixel_budget.h"
#include "engine/settings.h"

namespace lathmark {

// Columns 0 to 3 of a photograph never belong to the band.
constexpr int kBandLeftColumn = 4;

// The most pixels a photograph may have. Its size is read from the frame header first, so a file
// that claims more is refused before anything is decoded: no file can make a count allocate more
// than about 300 MB for its pixels (the decoder's own buffers come on top: up to about twice that
// again for a progressive photograph).
constexpr std::uint64_t kMaxPhotographPixels = 100'000'000;

// The largest JPEG file accepted; far more than any photograph within the pixel budget needs.
constexpr std::size_t kMaxPhotographBytes = 256u << 20;

// ---- Decoding ----

// Decodes a JPEG file, without its metadata segments (see jpeg_segments.h). A photograph is
// decoded only if its whole picture comes from its data: one whose data ends early, is damaged or
// is left partly unused is refused, though the decoder could fill in the rest, and so is one of
// more than kMaxScans scans (decode_verdict.h). What the decoder noted on the way about a
// photograph it decoded whole (such as stray bytes before a marker), and an Exif orientation that
// says it is to be shown turned, are the result's warning.
// With a `share` of a pixel budget, the photograph's pixels are taken from it before its picture
// is made (which may wait for room), and held until the share is given back.
StepResult<Bitmap> decodeJpegFile(const std::filesystem::path& file,
                                  PixelBudget::Share* share = nullptr);

// A JPEG photograph read whole and its segments walked, not yet decoded: the data the decoder
// gets, and the digest that tells which photograph it is (digest.h).
struct JpegPhotograph {
    JpegWithoutMetadata jpeg;
    std::optional<PhotographDigest> digest;
};

// The first steps of decodeJpegFile and decodeJpegData: the file read (or the bytes taken) and
// walked; refused as they refuse a file that cannot be read, is empty or is too large.
StepResult<JpegPhotograph> readJpegFile(const std::filesystem::path& file);
StepResult<JpegPhotograph> readJpegData(const std::uint8_t* data, std::size_t size);

// The rest: the walked photograph decoded and judged.
StepResult<Bitmap> decodeJpeg(const JpegPhotograph& photograph,
                              PixelBudget::Share* share = nullptr);

// The Exif orientation tag of a JPEG file, 1 to 8 (1: to be shown as stored); 1 where it has none
// or cannot be read.
int exifOrientation(const std::filesystem::path& file);

// The same for a JPEG photograph held in memory.
StepResult<Bitmap> decodeJpegData(const std::uint8_t* data, std::size_t size,
                                  PixelBudget::Share* share = nullptr);

// A region of a photograph decoded alone (region_decoding.cpp): its pixels exactly as in the
// whole photograph that decodeJpeg gives, the photograph's size, and the warning decodeJpeg would
// give it.
struct DecodedRegion {
    // The region's rows, in columns widened to the decoder's blocks: the region lies within it
    // at `region` (its left column moved, its size the same).
    Bitmap picture;
    Region region;
    int photographWidth = 0;
    int photographHeight = 0;
    std::string warning;
};

// Decodes only `region` of a walked photograph, where that gives exactly what decodeJpeg would:
// a photograph that decodeJpeg would decode whole without a word but its orientation warning,
// and whose pixels the JPEG library can give without FreeImage. Nothing otherwise: the photograph
// is then to be decoded whole, which refuses or warns as it always has. With a `share`, the whole
// photograph's pixels are taken from it, as decodeJpeg takes them.
std::optional<DecodedRegion> decodeJpegRegion(const JpegPhotograph& photograph,
                                              const Region& region,
                                              PixelBudget::Share* share = nullptr);

// Whether two pictures are the same: size, pixel format, colour type, resolution and every byte of
// their rows. False if either is missing.
bool samePicture(FIBITMAP* a, FIBITMAP* b);

// ---- Row counts ----

// The part of a photograph a count sees: the region, if it fits, or the whole photograph.
StepResult<Region> countedPart(FIBITMAP* photograph, const std::optional<Region>& region);

// The library's copy of that part.
Bitmap cutOut(FIBITMAP* photograph, const Region& part);

// Each row's dark pixels in columns 4 and up and in columns 8 and up, at settings.threshold and at
// the later passes' threshold, in one sweep over the counted part of the photograph (its region,
// whose own columns and rows these are), each row repeated settings.stretch times. A pixel is
// dark where its grey level is below the threshold, as in the library's two-level image of the
// part. Fails for a region that does not fit the photograph, or a pixel format that cannot be
// turned into black and white.
StepResult<RowCounts> countRows(FIBITMAP* photograph, const Settings& settings);

// `rows` with each row repeated `stretch` times, as if each photograph row were.
RowCounts stretchRows(RowCounts rows, int stretch);

// ---- The band ----

// A row is background (floor or wall) when more than 0.7 of the photograph's width is dark in
// columns 4 and up.
bool isBackgroundRow(int darkFromColumn4, int width);

// The band's edges: walking in from the bottom and from the top over background rows.
BandEdges findBandEdges(const int* darkFromColumn4, int width, int height);

// The band of `rows` and what the passes see of it. Fails for a photograph too narrow to have
// band columns, or a band of no rows.
StepResult<Band> findBand(const RowCounts& rows);

}  // namespace lathmark
