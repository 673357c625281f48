#include "engine/jpeg_segments.h"

namespace lathmark {
namespace {

constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kStartOfImage = 0xD8;
constexpr std::uint8_t kEndOfImage = 0xD9;
constexpr std::uint8_t kStartOfScan = 0xDA;
constexpr std::uint8_t kApp0 = 0xE0;
constexpr std::uint8_t kApp14 = 0xEE;
constexpr std::uint8_t kApp15 = 0xEF;
constexpr std::uint8_t kComment = 0xFE;

bool isMetadataOnly(std::uint8_t marker) {
    const bool application = marker >= kApp0 && marker <= kApp15;
    return marker == kComment || (application && marker != kApp0 && marker != kApp14);
}

// Start-of-frame markers of every coding process (0xC4, 0xC8 and 0xCC are other segments).
bool isFrameHeader(std::uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers that stand alone, with no length after them. (0xFF 0x00 is no marker at all, and is
// passed on like one of these.)
bool standsAlone(std::uint8_t marker) {
    return marker == 0x01 || (marker >= 0xD0 && marker <= kEndOfImage);
}

}  // namespace

JpegWithoutMetadata withoutMetadataSegments(const std::uint8_t* data, std::size_t size) {
    JpegWithoutMetadata result;
    std::vector<std::uint8_t>& kept = result.data;
    if (size < 2 || data[0] != kMarkerPrefix || data[1] != kStartOfImage) {
        kept.assign(data, data + size);
        return result;
    }
    kept.assign(data, data + 2);
    kept.reserve(size);
    std::size_t at = 2;
    while (at < size) {
        if (data[at] != kMarkerPrefix) {
            // Stray bytes between segments: kept, since the decoder only warns about them.
            std::size_t next = at;
            while (next < size && data[next] != kMarkerPrefix) ++next;
            kept.insert(kept.end(), data + at, data + next);
            at = next;
            continue;
        }
        std::size_t markerAt = at;
        while (markerAt + 1 < size && data[markerAt + 1] == kMarkerPrefix) ++markerAt;  // fill
        if (markerAt + 1 >= size) break;
        const std::uint8_t marker = data[markerAt + 1];
        const std::size_t segmentAt = markerAt + 2;
        if (marker == kStartOfScan) {
            // The scans and whatever follows them are the picture itself.
            kept.insert(kept.end(), data + at, data + size);
            return result;
        }
        if (marker == 0x00 || standsAlone(marker)) {
            kept.insert(kept.end(), data + at, data + segmentAt);
            at = segmentAt;
            if (marker == kEndOfImage) break;
            continue;
        }
        if (segmentAt + 2 > size) break;
        const std::size_t length = (std::size_t{data[segmentAt]} << 8) | data[segmentAt + 1];
        if (length < 2 || segmentAt + length > size) break;
        // A frame header: length, precision, height, width, ...
        if (isFrameHeader(marker) && !result.hasFrame && length >= 7) {
            result.hasFrame = true;
            result.height = (data[segmentAt + 3] << 8) | data[segmentAt + 4];
            result.width = (data[segmentAt + 5] << 8) | data[segmentAt + 6];
        }
        if (!isMetadataOnly(marker)) kept.insert(kept.end(), data + at, data + segmentAt + length);
        at = segmentAt + length;
    }
    return result;
}

}  // namespace lathmark
