#include "engine/decode_verdict.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "engine/library_messages.h"

namespace lathmark {
namespace {

constexpr std::string_view kCutOff = "the file ends before the picture does: it is cut off";
constexpr std::string_view kMissing = "part of the picture data is missing";

// One message of the decoder (libjpeg-turbo's texts in jerror.h, FreeImage's own in its JPEG
// plugin), as its format, and what it means for the count; for a refusal, why in plain words.
struct KnownMessage {
    std::string_view format;
    MessageMeaning meaning;
    std::string_view words = {};
    unsigned harmlessUpTo = 0;  // if not 0: harmless while its first number is at most this
};

using M = MessageMeaning;
constexpr std::array kKnownMessages{
    // The data of a scan or the file ran out, or restart markers are missing where data was
    // lost: the decoder filled in the rest.
    KnownMessage{"Corrupt JPEG data: premature end of data segment", M::DataLost},
    KnownMessage{"Premature end of JPEG file", M::DataLost},
    KnownMessage{"Corrupt JPEG data: found marker 0x%02x instead of RST%d", M::DataLost},
    // Corrupt picture data: the decoder decoded something other than was coded.
    KnownMessage{"Corrupt JPEG data: bad Huffman code", M::Refuses, "the picture data is damaged"},
    KnownMessage{"Corrupt JPEG data: bad arithmetic code", M::Refuses,
                 "the picture data is damaged"},
    KnownMessage{"Inconsistent progression sequence for component %d coefficient %d", M::Refuses,
                 "the picture's scans do not fit together"},
    // Bytes skipped before a marker: padding, or data the decoder did not use, such as the rows
    // beyond those a damaged frame header claims.
    KnownMessage{"Corrupt JPEG data: %u extraneous bytes before marker 0x%02x", M::Refuses,
                 "the decoder left part of the data unused, so part of the picture may be missing",
                 kMostPaddingBytes},
    KnownMessage{"Unknown Adobe color transform code %d", M::Refuses,
                 "the decoder had to guess how the photograph's colours are coded"},
    KnownMessage{"Application transferred too many scanlines", M::Refuses,
                 "the library read the picture's rows wrongly"},
    KnownMessage{"DIB allocation failed, maybe caused by an invalid image size or by a lack of "
                 "memory",
                 M::Refuses, "there is not enough memory to decode it"},
    // About the header only: the picture is decoded whole.
    KnownMessage{"Warning: unknown JFIF revision number %d.%02d", M::Harmless},
    KnownMessage{"Invalid SOS parameters for sequential JPEG", M::Harmless},
    KnownMessage{"Corrupt JPEG data: bad ICC marker", M::Harmless},
    KnownMessage{"Warning: non-standard JFXX segment", M::Harmless},
    // An error FreeImage lets the decoder go on past: it skips the marker and looks for the next
    // one, and whatever it skips on the way is stray bytes, judged as such.
    KnownMessage{"Unsupported marker type 0x%02x", M::Harmless},
};

// The numbers in a message, the first two of them.
using Numbers = std::array<unsigned long, 2>;

// Whether `text` is `format` with numbers in place of its conversions (%d, %u, %x, with flags
// and widths); the numbers are stored in `numbers`.
bool matches(std::string_view format, std::string_view text, Numbers& numbers) {
    std::size_t found = 0;
    std::size_t t = 0;
    for (std::size_t f = 0; f < format.size(); ++f) {
        if (format[f] != '%') {
            if (t >= text.size() || text[t] != format[f]) return false;
            ++t;
            continue;
        }
        while (++f < format.size() && std::isdigit(static_cast<unsigned char>(format[f]))) {
        }
        if (f >= format.size()) return false;
        const bool hex = format[f] == 'x';
        if (!hex && t < text.size() && text[t] == '-') ++t;
        const std::size_t digits = t;
        unsigned long value = 0;
        for (; t < text.size(); ++t) {
            const auto c = static_cast<unsigned char>(text[t]);
            if (!(hex ? std::isxdigit(c) : std::isdigit(c))) break;
            const auto digit =
                static_cast<unsigned long>(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
            value = std::min(value * (hex ? 16 : 10) + digit, 0xFFFFFFFFul);
        }
        if (t == digits) return false;
        if (found < numbers.size()) numbers[found++] = value;
    }
    return t == text.size();
}

const KnownMessage* knownAs(std::string_view message, Numbers& numbers) {
    for (const KnownMessage& known : kKnownMessages)
        if (matches(known.format, message, numbers)) return &known;
    return nullptr;
}

// Which zero run a message about stray bytes is about, by the bytes it says were left and the
// marker they were left before; -1 if none.
int zeroRunOf(const KnownMessage* known, const Numbers& numbers, const DecodeFacts& facts) {
    if (!known || known->harmlessUpTo == 0) return -1;
    // Run n is 2 (n + 1) times the most a scan may take, so the bytes left of it, less what
    // the scan took (0 up to that most) or more by what the file had there, fall into a
    // window of its own.
    const unsigned long window = 2 * kMostZeroBytesTaken;
    const auto run = static_cast<long>((numbers[0] + kMostZeroBytesTaken) / window) - 1;
    if (run < 0 || run >= static_cast<long>(facts.zeroRunMarkers.size())) return -1;
    if (numbers[1] != facts.zeroRunMarkers[static_cast<std::size_t>(run)]) return -1;
    return static_cast<int>(run);
}

MessageMeaning meaningOf(const KnownMessage* known, const Numbers& numbers) {
    if (!known) return MessageMeaning::Unknown;
    if (known->harmlessUpTo != 0 && numbers[0] <= known->harmlessUpTo)
        return MessageMeaning::Harmless;
    return known->meaning;
}

std::string withWords(std::string_view reason, const std::vector<std::string>& said) {
    std::string text(reason);
    if (!said.empty()) text += " (" + joinedForAPerson(said) + ")";
    return text;
}

}  // namespace

MessageMeaning meaningOf(std::string_view message) {
    Numbers numbers{};
    const KnownMessage* known = knownAs(message, numbers);
    return meaningOf(known, numbers);
}

std::size_t zeroRunLength(int scan) {
    return (static_cast<std::size_t>(scan) + 1) * 2 * kMostZeroBytesTaken;
}

DecodeVerdict judgeDecode(const DecodeFacts& facts) {
    const bool unmarked = facts.ending == JpegEnding::Unmarked;
    const std::string_view lost = unmarked ? kCutOff : kMissing;

    // The zero runs the decode put in: each says how much of it the decoder took.
    std::vector<std::string> said;  // the decoder's words less those about the runs
    std::vector<bool> runSeen(facts.zeroRunMarkers.size(), false);
    std::optional<std::string> runRefusal;
    for (const std::string& message : facts.said) {
        Numbers numbers{};
        const KnownMessage* known = knownAs(message, numbers);
        const int run = zeroRunOf(known, numbers, facts);
        if (run < 0 || runSeen[static_cast<std::size_t>(run)]) {
            said.push_back(message);
            continue;
        }
        runSeen[static_cast<std::size_t>(run)] = true;
        const long beyond = static_cast<long>(numbers[0]) - static_cast<long>(zeroRunLength(run));
        if (beyond > static_cast<long>(kMostPaddingBytes) && !runRefusal)
            runRefusal = "the decoder left " + std::to_string(beyond) +
                         " bytes of the picture data unused, so part of the picture may be missing";
    }
    const bool runTakenWhole = std::find(runSeen.begin(), runSeen.end(), false) != runSeen.end();

    if (facts.ending == JpegEnding::InHeader) return {withWords(kCutOff, said), {}};
    if (unmarked && facts.hasFrame && !facts.scansComplete)
        return {withWords(std::string(kCutOff) + " before its last scan", said), {}};

    // The first words of each kind; a loss of data is named before anything else.
    std::vector<std::string> harmless;
    std::optional<std::string> dataLost;
    std::optional<std::string> refused;
    for (const std::string& message : said) {
        Numbers numbers{};
        const KnownMessage* known = knownAs(message, numbers);
        const MessageMeaning meaning = meaningOf(known, numbers);
        if (meaning == MessageMeaning::Harmless) harmless.push_back(message);
        if (meaning == MessageMeaning::DataLost && !dataLost) dataLost = withWords(lost, said);
        if (meaning == MessageMeaning::Refuses && !refused) refused = withWords(known->words, said);
        if (meaning == MessageMeaning::Unknown && !refused)
            refused = withWords(
                "the decoder said something about the picture that the count cannot judge", said);
    }
    if (dataLost) return {dataLost, {}};
    if (!facts.decoded) return {withWords("cannot be decoded as a JPEG photograph", said), {}};
    // The segment walk must have seen what the decoder decoded, or its other facts say nothing.
    if (!facts.hasFrame)
        return {withWords("the decoder found a picture where the file's segments show none", said),
                {}};
    if (!facts.scansComplete)
        return {
            withWords(std::string(kMissing) + ": its scans do not code the whole picture", said),
            {}};
    if (refused) return {refused, {}};
    if (runTakenWhole)
        return {withWords(std::string(lost) +
                              " (the decoder had to make up the end of an arithmetic-coded scan)",
                          said),
                {}};
    if (runRefusal) return {withWords(*runRefusal, said), {}};
    if (!facts.everyWarningHeard && !facts.said.empty())
        return {withWords("the decoder may have found more faults in the picture data than it "
                          "could pass on",
                          said),
                {}};
    if (facts.pictureDependsOnMissingEnd)
        return {std::string(kCutOff) + " (the end of its arithmetic-coded picture data is missing)",
                {}};
    return {std::nullopt, joinedForAPerson(harmless)};
}

std::string orientationWarning(int orientation) {
    // The turn is clockwise, as the tag's values 2 to 8 are named: first mirrored left to right
    // where it says so, then turned.
    static constexpr std::array<std::string_view, 9> kTagged{"",
                                                             "",
                                                             "mirrored",
                                                             "turned 180°",
                                                             "mirrored and turned 180°",
                                                             "mirrored and turned 270°",
                                                             "turned 90°",
                                                             "mirrored and turned 90°",
                                                             "turned 270°"};
    if (orientation < 0 || orientation >= static_cast<int>(kTagged.size()) ||
        kTagged[static_cast<std::size_t>(orientation)].empty())
        return {};
    return "the photograph is tagged as " +
           std::string(kTagged[static_cast<std::size_t>(orientation)]) +
           "; it is counted as stored";
}

}  // namespace lathmark

namespace lathmark {

bool refusedAsUnfinished(std::string_view reason) {
    return reason == kEmptyFile || reason.find(kCutOff) != std::string_view::npos;
}

}  // namespace lathmark
