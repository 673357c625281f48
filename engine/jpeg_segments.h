#pragma once
// Leaves out of a JPEG file the segments that carry only metadata (Exif, XMP, IPTC, ICC
// profiles, comments: APP1 to APP13, APP15 and COM) before the decoder sees it. The library
// parses those segments while it loads a photograph, and its Exif reader reads far past a
// damaged segment, so a 1 KB file could crash the program. None of them changes a pixel or
// the resolution the result image carries; JFIF (APP0, the resolution) and Adobe (APP14, the
// colour transform) segments are kept.
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

// How the JPEG data ends.
enum class JpegEnding {
    Marked,    // an end-of-image marker follows the scans
    Unmarked,  // the file ends in or after its scans without one; one is added to the data
    InHeader,  // the file ends before its first scan
    Unknown,   // not a JPEG, or broken in a way that leaves its end to the decoder
};

// What the header keeps besides the segments the decoder needs.
enum class HeaderKept {
    AsFound,  // stray bytes, the JFIF and Adobe segments stay, as for decoding the photograph
    Bare,     // nothing else: nothing in the header that the decoder could warn about
};

// The JPEG data without its metadata segments before the first scan (everything from the
// first scan on is kept as it is, up to where the file ends), and the picture size its frame
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
};
JpegWithoutMetadata withoutMetadataSegments(const std::uint8_t* data, std::size_t size,
                                            HeaderKept kept = HeaderKept::AsFound);

}  // namespace lathmark
