#pragma once
// Leaves out of a JPEG file the segments that carry only metadata (Exif, XMP, IPTC, ICC
// profiles, comments: APP1 to APP13, APP15 and COM) before the decoder sees it. The library
// parses those segments while it loads a photograph, and its Exif reader reads far past a
// damaged segment, so a 1 KB file could crash the program. None of them changes a pixel or
// the resolution the result image carries; JFIF (APP0, the resolution) and Adobe (APP14, the
// colour transform) segments are kept.

#include <cstdint>
#include <vector>

namespace lathmark {

// The JPEG data without its metadata segments before the first scan (everything from the
// first scan on is kept as it is), and the picture size its frame header claims. The size is
// read here, not by the library, because the library may set aside memory for the whole
// picture just to read its header: a 2 KB progressive JPEG claiming 65000 x 65000 pixels would
// take many gigabytes.
struct JpegWithoutMetadata {
    std::vector<std::uint8_t> data;  // unchanged if it does not begin like a JPEG, for the
                                     // decoder to refuse; cut where a segment runs past the end
    bool hasFrame = false;           // whether a frame header was found before the first scan
    int width = 0;
    int height = 0;
};
JpegWithoutMetadata withoutMetadataSegments(const std::uint8_t* data, std::size_t size);

}  // namespace lathmark
