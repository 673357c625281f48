// Fuzz target: the walk over JPEG segments that leaves the metadata out before the decoder sees
// a photograph (lathmark::withoutMetadataSegments), on any bytes. It must never change picture
// data. What it gives back is checked without a second walk of our own:
//
// - bytes that do not begin like a JPEG come back unchanged;
// - otherwise the data begins like a JPEG, holds only bytes of the input in their order (and
//   an end-of-image marker at the end where it says it added one, and empty comments where
//   segments between scans were left out), and is no longer than the input and that marker;
// - walking the result again changes nothing: the metadata is all gone the first time, and
//   the frame, the ending (a marker added the first time is found the second), whether the
//   scans are complete, the scans and where their data ends stay the same (the orientation tag
//   goes with its segment); every scan's data ends within the result;
// - a metadata segment put in before the first segment, or after it, is left out again and
//   changes nothing else: everything that is not metadata passes byte for byte;
// - where nothing was left out or cut off, the decoder makes the same picture of the result as of
//   the input (checked for small frames only, as decoding is slow under the sanitizers).

#include <FreeImage.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/bitmap.h"
#include "engine/jpeg_segments.h"
#include "fuzz/pace.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using lathmark::JpegEnding;
using lathmark::JpegWithoutMetadata;

// Frames up to this size are decoded twice; the seeds are 96 x 72.
constexpr std::uint64_t kMaxPixelsDecoded = 1 << 13;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "broken segment walk: %s\n", what);
    std::abort();
}

bool beginsLikeJpeg(const Bytes& data) {
    return data.size() >= 2 && data[0] == 0xFF && data[1] == 0xD8;
}

JpegWithoutMetadata walk(const Bytes& data) {
    return lathmark::withoutMetadataSegments(data.data(), data.size());
}

// Whether `part` is `whole` with bytes taken out (greedily: exact for that question).
bool isSubsequence(const std::uint8_t* part, std::size_t partSize, const Bytes& whole) {
    std::size_t at = 0;
    for (std::uint8_t byte : whole)
        if (at < partSize && part[at] == byte) ++at;
    return at == partSize;
}

bool sameWalk(const JpegWithoutMetadata& a, const JpegWithoutMetadata& b) {
    return a.data == b.data && a.hasFrame == b.hasFrame && a.width == b.width &&
           a.height == b.height && a.ending == b.ending && a.scansComplete == b.scansComplete &&
           a.arithmetic == b.arithmetic && a.scans == b.scans && a.scanEnds == b.scanEnds &&
           a.orientation == b.orientation;
}

bool endsWithEndOfImage(const Bytes& data) {
    return data.size() >= 2 && data[data.size() - 2] == 0xFF && data.back() == 0xD9;
}

// A metadata segment made of the input's own bytes: APP1 to APP13, APP15 or a comment.
Bytes metadataSegment(const Bytes& input) {
    static constexpr std::uint8_t kMarkers[] = {0xE1, 0xE2, 0xE5, 0xEB, 0xED, 0xEF, 0xFE};
    const std::size_t payload = std::min<std::size_t>(input.size(), 40);
    const std::uint8_t marker = kMarkers[input.size() % std::size(kMarkers)];
    Bytes segment{0xFF, marker, 0, static_cast<std::uint8_t>(payload + 2)};
    segment.insert(segment.end(), input.begin(), input.begin() + static_cast<long>(payload));
    return segment;
}

Bytes inserted(const Bytes& data, std::size_t at, const Bytes& piece) {
    Bytes out(data.begin(), data.begin() + static_cast<long>(at));
    out.insert(out.end(), piece.begin(), piece.end());
    out.insert(out.end(), data.begin() + static_cast<long>(at), data.end());
    return out;
}

// Where the segment after the start-of-image marker ends, if one with a length stands there
// whole: a frame or table, application data or a comment (not a scan, which runs on past its
// header, and no marker the decoder takes to stand alone).
std::size_t afterFirstSegment(const Bytes& data) {
    if (data.size() < 6 || data[2] != 0xFF) return 0;
    const std::uint8_t marker = data[3];
    const bool hasLength = (marker >= 0xC0 && marker <= 0xCF) ||
                           (marker >= 0xDB && marker <= 0xDD) ||
                           (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
    if (!hasLength) return 0;
    const std::size_t length = (std::size_t{data[4]} << 8) | data[5];
    if (length < 2 || 4 + length > data.size()) return 0;
    return 4 + length;
}

lathmark::Bitmap decode(const Bytes& data) {
    FIMEMORY* memory =
        FreeImage_OpenMemory(const_cast<BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    lathmark::Bitmap picture(FreeImage_LoadFromMemory(FIF_JPEG, memory, 0));
    FreeImage_CloseMemory(memory);
    return picture;
}

// `data` without its empty comment segments (0xFF 0xFE 0x00 0x02).
Bytes withoutEmptyComments(const Bytes& data) {
    Bytes kept;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i + 4 <= data.size() && data[i] == 0xFF && data[i + 1] == 0xFE && data[i + 2] == 0 &&
            data[i + 3] == 2) {
            i += 3;
            continue;
        }
        kept.push_back(data[i]);
    }
    return kept;
}

bool samePicture(const lathmark::Bitmap& a, const lathmark::Bitmap& b) {
    if (!a || !b) return !a && !b;
    if (a.width() != b.width() || a.height() != b.height() ||
        FreeImage_GetBPP(a.get()) != FreeImage_GetBPP(b.get()))
        return false;
    const unsigned bytes = (FreeImage_GetBPP(a.get()) * static_cast<unsigned>(a.width()) + 7) / 8;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(FreeImage_GetScanLine(a.get(), y), FreeImage_GetScanLine(b.get(), y),
                        bytes) != 0)
            return false;
    return true;
}

void check(const Bytes& input) {
    const JpegWithoutMetadata result = walk(input);
    if (!beginsLikeJpeg(input)) {
        if (result.data != input || result.hasFrame || result.ending != JpegEnding::Unknown)
            broken("bytes that are no JPEG did not come back unchanged");
        return;
    }
    const Bytes& out = result.data;
    if (!beginsLikeJpeg(out)) broken("the result does not begin like a JPEG");
    const bool added = result.ending == JpegEnding::Unmarked;
    if (added && !endsWithEndOfImage(out))
        broken("an end-of-image marker was to be added, but the result does not end in one");
    const std::size_t own = out.size() - (added ? 2 : 0);
    // An empty comment may stand where a segment between scans was left out.
    const Bytes ownBytes = withoutEmptyComments(Bytes(out.begin(), out.begin() + own));
    if (ownBytes.size() > input.size()) broken("the result is longer than the input");
    if (!isSubsequence(ownBytes.data(), ownBytes.size(), input))
        broken("the result holds bytes that are not the input's, or out of order");
    if (!result.hasFrame && result.scansComplete) broken("the scans are complete without a frame");

    if (result.scanEnds.size() !=
            static_cast<std::size_t>(std::min(result.scans, lathmark::kMaxScans)) ||
        !std::is_sorted(result.scanEnds.begin(), result.scanEnds.end()) ||
        (!result.scanEnds.empty() && result.scanEnds.back() > out.size()))
        broken("the ends of the scans' data are not where the scans are");

    const JpegWithoutMetadata again = walk(out);
    if (again.data != out || again.hasFrame != result.hasFrame || again.width != result.width ||
        again.height != result.height || again.scansComplete != result.scansComplete ||
        again.arithmetic != result.arithmetic || again.scans != result.scans ||
        again.scanEnds != result.scanEnds)
        broken("walking the result again changed it");
    const bool endingKept =
        added ? again.ending == JpegEnding::Marked
              : (result.ending != JpegEnding::Marked && result.ending != JpegEnding::InHeader) ||
                    again.ending == result.ending;
    if (!endingKept) broken("walking the result again found another ending");

    const Bytes metadata = metadataSegment(input);
    if (!sameWalk(walk(inserted(input, 2, metadata)), result))
        broken("a metadata segment after the start-of-image marker changed the result");
    if (const std::size_t at = afterFirstSegment(input);
        at != 0 && !sameWalk(walk(inserted(input, at, metadata)), result))
        broken("a metadata segment after the first segment changed the result");

    // The picture, where nothing was left out and the frame is small.
    if (!result.hasFrame ||
        static_cast<std::uint64_t>(result.width) * static_cast<std::uint64_t>(result.height) >
            kMaxPixelsDecoded)
        return;
    // Nothing left out and nothing cut: the input itself, or the input and an added marker.
    const bool nothingLeftOut =
        own == input.size() && std::equal(input.begin(), input.end(), out.begin());
    if (!nothingLeftOut) return;
    if (!samePicture(decode(input), decode(out)))
        broken("the decoder makes another picture of the result than of the input");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lathmark::fuzz::countExecution();
    const Bytes input(data, data + size);
    check(input);
    return 0;
}
