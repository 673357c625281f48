#include "engine/jpeg_segments.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace lathmark {
namespace {

constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kStuffedZero = 0x00;
constexpr std::uint8_t kStartOfImage = 0xD8;
constexpr std::uint8_t kEndOfImage = 0xD9;
constexpr std::uint8_t kStartOfScan = 0xDA;
constexpr std::uint8_t kApp0 = 0xE0;
constexpr std::uint8_t kApp1 = 0xE1;
constexpr std::uint8_t kApp14 = 0xEE;
constexpr std::uint8_t kApp15 = 0xEF;
constexpr std::uint8_t kComment = 0xFE;

bool isApplicationOrComment(std::uint8_t marker) {
    return marker == kComment || (marker >= kApp0 && marker <= kApp15);
}

// Whether a segment carries only metadata. Of the APP0 segments only JFIF's carries something
// the result image keeps (the resolution); a JFXX one holds a thumbnail, which the library would
// decode as a photograph of its own.
bool isMetadataOnly(std::uint8_t marker, const std::uint8_t* payload, std::size_t length) {
    static constexpr std::uint8_t kJfif[] = {'J', 'F', 'I', 'F', 0};
    if (marker == kApp0) return length < sizeof kJfif || std::memcmp(payload, kJfif, 5) != 0;
    return isApplicationOrComment(marker) && marker != kApp14;
}

// Start-of-frame markers of every coding process (0xC4, 0xC8 and 0xCC are other segments).
bool isFrameHeader(std::uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Progressive frames, Huffman or arithmetic coded, on their own or in a hierarchy.
bool isProgressiveFrame(std::uint8_t marker) {
    return marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
}

// Arithmetic-coded frames (0xC8 to 0xCF, less JPG and DAC).
bool isArithmeticFrame(std::uint8_t marker) {
    return marker >= 0xC9 && marker <= 0xCF && marker != 0xCC;
}

// The orientation tag (0x0112) of the first directory of an Exif segment, given its payload; 0
// if there is none or its value is not 1 to 8. Every read is checked against the payload's end.
int exifOrientation(const std::uint8_t* payload, std::size_t length) {
    static constexpr std::uint8_t kExif[] = {'E', 'x', 'i', 'f', 0, 0};
    if (length < sizeof kExif + 8 || std::memcmp(payload, kExif, sizeof kExif) != 0) return 0;
    const std::uint8_t* tiff = payload + sizeof kExif;
    const std::size_t size = length - sizeof kExif;
    const bool intel = tiff[0] == 'I' && tiff[1] == 'I';
    if (!intel && !(tiff[0] == 'M' && tiff[1] == 'M')) return 0;
    const auto u16 = [&](std::size_t at) -> std::uint32_t {
        return intel ? tiff[at] | (tiff[at + 1] << 8) : (tiff[at] << 8) | tiff[at + 1];
    };
    const auto u32 = [&](std::size_t at) -> std::uint32_t {
        return intel ? u16(at) | (u16(at + 2) << 16) : (u16(at) << 16) | u16(at + 2);
    };
    if (u16(2) != 42) return 0;
    const std::size_t directory = u32(4);
    if (directory + 2 > size) return 0;
    constexpr std::uint32_t kOrientation = 0x0112;
    constexpr std::uint32_t kShort = 3;
    for (std::size_t entry = directory + 2, left = u16(directory); left > 0; --left, entry += 12) {
        if (entry + 12 > size) return 0;
        if (u16(entry) != kOrientation) continue;
        const std::uint32_t value = u16(entry + 8);
        const bool valid = u16(entry + 2) == kShort && u32(entry + 4) == 1;
        return valid && value >= 1 && value <= 8 ? static_cast<int>(value) : 0;
    }
    return 0;
}

bool isRestart(std::uint8_t marker) {
    return marker >= 0xD0 && marker <= 0xD7;
}

// Markers the decoder knows nothing of: reserved ones, DHP, EXP and JPG0 to JPG13. The library
// lets the decoder go on past one of them, and the decoder reads no length after it but looks
// for the next marker; so a length there must not be skipped here either, or a frame header
// behind it could escape the pixel budget while the decoder still reads it.
bool isUnknownToDecoder(std::uint8_t marker) {
    return (marker >= 0x02 && marker <= 0xBF) || marker == 0xDE || marker == 0xDF ||
           (marker >= 0xF0 && marker <= 0xFD);
}

// Markers that stand alone, with no length after them, for the decoder. (0xFF 0x00 is no marker
// at all, and is passed on like one of these.)
bool standsAlone(std::uint8_t marker) {
    return marker == 0x01 || (marker >= 0xD0 && marker <= kEndOfImage) ||
           isUnknownToDecoder(marker);
}

std::size_t lengthAt(const std::uint8_t* data, std::size_t at) {
    return (std::size_t{data[at]} << 8) | data[at + 1];
}

// Which coefficients of each component of the frame the scans so far have coded, and down to
// which bit. A sequential scan codes all 64 of its components' coefficients in full. A
// progressive scan codes a band of them (Ss to Se) down to bit Al, and a later scan of the same
// band refines them from bit Ah down to bit Al; a picture is finished when every coefficient is
// known down to bit 0. Segments are given from their two length bytes on.
class ScanCoverage {
  public:
    void readFrame(const std::uint8_t* segment, std::size_t length, bool progressive) {
        if (length < 8) return;
        const std::size_t count = segment[7];
        if (count == 0 || length < 8 + 3 * count) return;
        progressive_ = progressive;
        components_.clear();
        for (std::size_t i = 0; i < count; ++i) {
            Component component{segment[8 + 3 * i], {}};
            component.lowestBit.fill(kUncoded);
            components_.push_back(component);
        }
    }

    void addScan(const std::uint8_t* segment, std::size_t length) {
        if (length < 3) return;
        const std::size_t count = segment[2];
        if (count == 0 || length < 6 + 2 * count) return;
        const std::size_t bandAt = 3 + 2 * count;
        const unsigned first = segment[bandAt];
        const unsigned last = segment[bandAt + 1];
        const unsigned high = segment[bandAt + 2] >> 4;
        const unsigned low = segment[bandAt + 2] & 0x0F;
        if (progressive_ && (first > last || last > 63)) return;
        for (std::size_t j = 0; j < count; ++j) {
            const std::uint8_t id = segment[3 + 2 * j];
            auto component = std::find_if(components_.begin(), components_.end(),
                                          [id](const Component& c) { return c.id == id; });
            if (component == components_.end()) continue;
            auto& bits = component->lowestBit;
            if (!progressive_) {
                bits.fill(0);
                continue;
            }
            for (unsigned k = first; k <= last; ++k) {
                if (high == 0 && bits[k] == kUncoded) bits[k] = static_cast<std::uint8_t>(low);
                if (high != 0 && bits[k] == high && low < high)
                    bits[k] = static_cast<std::uint8_t>(low);
            }
        }
    }

    bool complete() const {
        return !components_.empty() &&
               std::all_of(components_.begin(), components_.end(), [](const Component& c) {
                   return std::all_of(c.lowestBit.begin(), c.lowestBit.end(),
                                      [](std::uint8_t bit) { return bit == 0; });
               });
    }

  private:
    static constexpr std::uint8_t kUncoded = 0xFF;
    struct Component {
        std::uint8_t id;
        std::array<std::uint8_t, 64> lowestBit;
    };
    std::vector<Component> components_;
    bool progressive_ = false;
};

// Where the entropy-coded data from `at` on ends: at the marker after it, or, if none follows,
// where the data ends (without fill bytes at the very end). Stuffed bytes (0xFF 0x00) and
// restart markers belong to it.
std::size_t endOfEntropyData(const std::uint8_t* data, std::size_t size, std::size_t at) {
    while (at < size) {
        const auto* found =
            static_cast<const std::uint8_t*>(std::memchr(data + at, kMarkerPrefix, size - at));
        if (!found) return size;
        const auto prefix = static_cast<std::size_t>(found - data);
        std::size_t next = prefix + 1;
        while (next < size && data[next] == kMarkerPrefix) ++next;
        if (next >= size || (data[next] != kStuffedZero && !isRestart(data[next]))) return prefix;
        at = next + 1;
    }
    return size;
}

// Keeps the scans from `at`, where the first one's marker is, and whatever follows them but the
// metadata segments between them (the decoder reads those as it reads the ones before the first
// scan, and the library parses them), and finds how they end.
void keepScans(const std::uint8_t* data, std::size_t size, std::size_t at, ScanCoverage& coverage,
               JpegWithoutMetadata& result) {
    std::vector<std::uint8_t>& kept = result.data;
    std::size_t copied = at;  // data before this is in `kept`, or left out
    bool scanned = false;     // whether a whole scan header has been read
    const auto keepUpTo = [&](std::size_t end) {
        kept.insert(kept.end(), data + copied, data + end);
        copied = end;
    };
    const auto keepRest = [&](JpegEnding ending) {
        keepUpTo(size);
        result.ending = ending;
    };
    // The file ends at `end`, in the middle of something or after the data of a scan.
    const auto endUnmarked = [&](std::size_t end) {
        if (!scanned) return keepRest(JpegEnding::InHeader);
        keepUpTo(end);
        kept.push_back(kMarkerPrefix);
        kept.push_back(kEndOfImage);
        result.ending = JpegEnding::Unmarked;
    };
    for (;;) {
        // Stray bytes between segments are kept; the decoder warns about them.
        while (at < size && data[at] != kMarkerPrefix) ++at;
        std::size_t markerAt = at;
        while (markerAt + 1 < size && data[markerAt + 1] == kMarkerPrefix) ++markerAt;  // fill
        if (markerAt + 1 >= size) return endUnmarked(at);
        const std::uint8_t marker = data[markerAt + 1];
        const std::size_t segmentAt = markerAt + 2;
        if (marker == kEndOfImage) return keepRest(JpegEnding::Marked);
        if (marker == kStuffedZero || standsAlone(marker)) {
            at = segmentAt;
            continue;
        }
        if (segmentAt + 2 > size) return endUnmarked(at);
        const std::size_t length = lengthAt(data, segmentAt);
        if (length < 2) return keepRest(JpegEnding::Unknown);
        if (segmentAt + length > size) return endUnmarked(at);
        // An empty comment carries nothing; it is what stands in for a segment left out below.
        const bool emptyComment = marker == kComment && length == 2;
        if (!emptyComment && isMetadataOnly(marker, data + segmentAt + 2, length - 2)) {
            keepUpTo(at);
            copied = segmentAt + length;
            // Bytes after it that do not begin with a marker (stray bytes, a stuffed byte, a
            // restart marker) would join the picture data of a scan before it; an empty comment
            // keeps them apart, as the segment did, for the decoder to find and warn about.
            if (copied < size && endOfEntropyData(data, size, copied) != copied)
                kept.insert(kept.end(), {kMarkerPrefix, kComment, 0x00, 0x02});
        }
        at = segmentAt + length;
        if (marker == kStartOfScan) {
            scanned = true;
            coverage.addScan(data + segmentAt, length);
            at = endOfEntropyData(data, size, at);
            if (result.scans++ < kMaxScans) result.scanEnds.push_back(kept.size() + at - copied);
        }
    }
}

}  // namespace

JpegWithoutMetadata withoutMetadataSegments(const std::uint8_t* data, std::size_t size) {
    JpegWithoutMetadata result;
    std::vector<std::uint8_t>& kept = result.data;
    if (size < 2 || data[0] != kMarkerPrefix || data[1] != kStartOfImage) {
        kept.assign(data, data + size);
        return result;
    }
    kept.reserve(size + 2);
    kept.assign(data, data + 2);
    ScanCoverage coverage;
    result.ending = JpegEnding::InHeader;  // unless a scan or something else ends the header
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
            keepScans(data, size, at, coverage, result);
            result.scansComplete = result.hasFrame && coverage.complete();
            return result;
        }
        if (marker == kStuffedZero || standsAlone(marker)) {
            // The decoder takes 0xFF 0x00 for stray bytes.
            kept.insert(kept.end(), data + at, data + segmentAt);
            at = segmentAt;
            if (marker != kEndOfImage) continue;
            result.ending = JpegEnding::Unknown;  // a picture without scans: the decoder says so
            break;
        }
        if (segmentAt + 2 > size) break;
        const std::size_t length = lengthAt(data, segmentAt);
        if (length < 2) result.ending = JpegEnding::Unknown;
        if (length < 2 || segmentAt + length > size) break;
        // A frame header: length, precision, height, width, components, ...
        if (isFrameHeader(marker) && !result.hasFrame && length >= 7) {
            result.hasFrame = true;
            result.height = (data[segmentAt + 3] << 8) | data[segmentAt + 4];
            result.width = (data[segmentAt + 5] << 8) | data[segmentAt + 6];
            result.arithmetic = isArithmeticFrame(marker);
            coverage.readFrame(data + segmentAt, length, isProgressiveFrame(marker));
        }
        const std::uint8_t* payload = data + segmentAt + 2;
        if (marker == kApp1 && result.orientation == 0)
            result.orientation = exifOrientation(payload, length - 2);
        if (!isMetadataOnly(marker, payload, length - 2))
            kept.insert(kept.end(), data + at, data + segmentAt + length);
        at = segmentAt + length;
    }
    return result;
}

}  // namespace lathmark
