#pragma once
// Leaves out of a JPEG file the segments that carry only metadata (Exif, XMP, IPTC, ICC
// profiles, comments, JFXX thumbnails: APP0 other than JFIF, APP1 to APP13, APP15 and COM)
// before the decoder sees it. The library parses those segments while it loads a photograph: its
// Exif reader reads far past a damaged segment, so a 1 KB file could crash the program, and it
// decodes a JFXX thumbnail as a JPEG of its own, whatever size its frame claims. None of them
// changes a pixel or the resolution the result image carries; JFIF (APP0, the resolution) and
// Adobe (APP14, the colour transform) segments are kept. The Exif orientation tag is read here,
// bounds-checked, before its segment goes.
//
// On the way it finds how the file ends. The decoder fills in whatever a file that ends early
// lacks, and says "Premature end of JPEG file" both when a scan is cut and when only the final
// end-of-image marker is missing. So a file that ends in or after its scans without that marker
// gets one here: then a whole picture decodes without a word, and a cut scan shows as a scan
// whose data stops at a marker ("premature end of data segment"). A progressive file that ends
// between two scans decodes without a word either way, to a coarser picture; the scan headers
// tell whether the scans present finish every coefficient of the picture.

#include <cstdint>
#include <vector>

namespace lathmark {

// The most scans a photograph may have. The decoder makes a pass over the whole picture for each
// scan of a progressive photograph, so a small file of many thousand scans would keep it busy for
// minutes. Encoders write a few: the JPEG library's progressive script has 10 for a colour
// photograph, and at most 6 for each component of any photograph it can write.
constexpr int kMaxScans = 100;

// How the JPEG data ends.
enum class JpegEnding {
    Marked,    // an end-of-image marker follows the scans
    Unmarked,  // the file ends in or after its scans without one; one is added to the data
    InHeader,  // the file ends before its first scan
    Unknown,   // not a JPEG, or broken in a way that leaves its end to the decoder
};

// The JPEG data without its metadata segments, before the first scan and between scans
// (everything else is kept as it is, up to where the file ends), and the picture size its frame
// header claims. The size is read here, not by the library, because the library may set aside
// memory for the whole picture just to read its header: a 2 KB progressive JPEG claiming
// 65000 x 65000 pixels would take many gigabytes.
struct JpegWithoutMetadata {
    std::vector<std::uint8_t> data;  // unchanged if it does not begin like a JPEG, for the
                                     // decoder to refuse; cut where a segment runs past the end
    bool hasFrame = false;           // whether a frame header was found before the first scan
    int width = 0;
    int height = 0;
    JpegEnding ending = JpegEnding::Unknown;
    // Whether the scans present code every coefficient of every component of the frame to its
    // full precision, as a whole photograph's scans do (false without a frame header).
    bool scansComplete = false;
    bool arithmetic = false;  // whether the frame is arithmetic-coded (else Huffman-coded)
    int scans = 0;            // scan headers read whole
    // Where the picture data of each of those scans ends in `data` (where the marker after it
    // begins, or where the data ends), for the first kMaxScans of them.
    std::vector<std::size_t> scanEnds;
    // The Exif orientation tag of the first Exif segment that has one, 1 to 8; 0 if there is
    // none or its value is not one of those.
    int orientation = 0;
};
JpegWithoutMetadata withoutMetadataSegments(const std::uint8_t* data, std::size_t size);

}  // namespace lathmark
