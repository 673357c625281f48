#pragma once
// Whether a decoded photograph may be counted: one decision over what its decode learnt (how the
// file ends, whether its scans finish the picture, and every word the decoder said), with every
// decoder message the engine knows in one table (decode_verdict.cpp). A photograph is counted only
// when its whole picture was decoded from its data. The decoder fills in whatever a file lacks
// and makes a picture of a damaged one with at most a warning, so a count of such a picture would
// be a count of something the decoder made up; it is refused instead, saying why in plain words,
// with the decoder's own words in brackets.
//
// The segment walk's facts count as much: a photograph whose scans do not code every
// coefficient of the picture is refused, and so is one whose frame the walk did not see. A
// message the table does not know refuses the photograph too. So does a decode in which not
// every warning could be heard: the library passes on only its first warning unless the engine
// is in place to pass on every one (jpeg_warnings.h), and more than a few hundred are not passed
// on at all.
//
// Arithmetic-coded data says less: its decoder supplies zero bytes wherever the data stops, as
// the standard has it, since an encoder leaves out the zero bytes its code ends with. To see how
// many it supplied, the decode puts a run of zero bytes of its own after each arithmetic-coded
// scan's data (zeroRunLength): the decoder reads what it needs of the run as it would have made
// it up, and says how many bytes of it were left ("N extraneous bytes before marker"). A whole
// scan needs a few; a scan of a frame that claims more rows than its data holds, or that stops
// short, needs far more and leaves none (only a few rows too many in a very narrow photograph
// may need less and go unseen). At the very end of a cut file that is not enough, where the
// few bytes a whole scan needs and the few a cut one needs overlap: there the decode compares
// the picture it made with one made with the highest bytes in their place (see
// DecodeFacts::pictureDependsOnMissingEnd).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/jpeg_segments.h"

namespace lathmark {

// What a decoder message means for the count.
enum class MessageMeaning {
    Harmless,  // the picture was decoded whole all the same: counted, with the message as warning
    DataLost,  // picture data ran out or was lost, and the decoder made up the rest: refused
    Refuses,   // something else that makes the picture other than the file holds: refused
    Unknown,   // not a message the engine knows: refused
};

// What `message` means by the table. Messages that differ only in their numbers mean the same,
// but for stray bytes before a marker: up to kMostPaddingBytes of them are padding, which some
// encoders write; more are data the decoder could not use.
MessageMeaning meaningOf(std::string_view message);

constexpr unsigned kMostPaddingBytes = 8;

// The length of the zero run put after the data of arithmetic-coded scan `scan` (0 first). Runs
// differ in length, each by more than the decoder can take of it, so that each run's message is
// known by its number whatever the order or number of messages.
std::size_t zeroRunLength(int scan);

// The most bytes of its zero run a whole arithmetic-coded scan may take. Measured over the
// samples and many other pictures coded every way: a whole scan of a photograph takes at most
// 5; a single row of blocks made up at the bottom of a photograph 768 pixels wide takes hundreds.
// Only drawings with large areas of one colour take more, which no photograph has.
constexpr std::size_t kMostZeroBytesTaken = 64;

// Everything a decode is judged on.
struct DecodeFacts {
    JpegEnding ending = JpegEnding::Unknown;
    bool hasFrame = false;
    bool scansComplete = false;
    // The marker after each zero run put after an arithmetic-coded scan's data, one a scan.
    std::vector<unsigned> zeroRunMarkers;
    bool decoded = false;
    std::vector<std::string> said;  // what the decoder said, each message once
    bool everyWarningHeard = true;  // false if a warning may have gone unheard
    // Only for an arithmetic-coded file without an end-of-image marker: whether the picture
    // changes when the bytes that would follow its data are taken as 0xFF instead of zero.
    // The pictures the decoder can make of the data with any bytes after it lie between those
    // two (a code value picks out its symbols by nested intervals), so if both are the same,
    // whatever the file lost at its end cannot have changed the picture.
    bool pictureDependsOnMissingEnd = false;
};

struct DecodeVerdict {
    std::optional<std::string> refusal;  // why the photograph cannot be counted; none: it can
    std::string warning;                 // the harmless words of a photograph that can
};

DecodeVerdict judgeDecode(const DecodeFacts& facts);

// The warning of a photograph whose Exif orientation tag (1 to 8) says it is to be shown turned
// or mirrored, such as "the photograph is tagged as turned 90°; it is counted as stored": the
// count is over the picture as stored, rows from the bottom up. Empty for 1 (shown as stored)
// and 0 (no tag).
std::string orientationWarning(int orientation);

}  // namespace lathmark

namespace lathmark {

// The refusal of a file without a byte.
inline constexpr std::string_view kEmptyFile =
    "cannot be decoded as a JPEG photograph (the file is empty)";

// Whether a refusal's reason says the file is empty or ends before its picture does: what a
// photograph still being written looks like, so that a watcher counts it again when it changes.
bool refusedAsUnfinished(std::string_view reason);

}  // namespace lathmark
