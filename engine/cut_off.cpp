#include "engine/cut_off.h"

#include <algorithm>
#include <string_view>

namespace lathmark {
namespace {

constexpr std::string_view kCutOff = "the file ends before the picture does: it is cut off";

bool mentions(const std::string& text, std::string_view words) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return std::search(text.begin(), text.end(), words.begin(), words.end(),
                       [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

// The decoder's words for data that stops before the picture is complete: the file ran out
// ("Premature end of JPEG file"), a scan's data stopped at a marker ("premature end of data
// segment"), or the end-of-image marker stood where a restart marker should have been.
bool saysDataRanOut(const std::string& said) {
    return mentions(said, "premature end of") || mentions(said, "found marker 0xd9 instead of rst");
}

std::string withWords(std::string_view reason, const std::string& said) {
    std::string text(reason);
    if (!said.empty()) text += " (" + said + ")";
    return text;
}

}  // namespace

std::optional<std::string> cutOffReason(const JpegWithoutMetadata& jpeg, bool decoded,
                                        const std::string& said,
                                        const std::function<std::string()>& saidOfBareData) {
    switch (jpeg.ending) {
        case JpegEnding::InHeader:
            return withWords(kCutOff, said);
        case JpegEnding::Unmarked: {
            // The scans that are there leave part of every block unfinished: a progressive
            // file that ends between two scans.
            if (jpeg.hasFrame && !jpeg.scansComplete)
                return withWords(std::string(kCutOff) + " before its last scan", said);
            if (saysDataRanOut(said)) return withWords(kCutOff, said);
            if (!decoded || said.empty()) return std::nullopt;
            const std::string bare = saidOfBareData();
            if (saysDataRanOut(bare)) return withWords(kCutOff, bare);
            if (bare.empty()) return std::nullopt;  // whole; the header's warnings stand
            return withWords(
                "the file ends without an end-of-image marker and the decoder found its picture "
                "data damaged, so it may be cut off",
                said);
        }
        case JpegEnding::Marked:
        case JpegEnding::Unknown: {
            constexpr std::string_view kMissing = "part of the picture data is missing";
            if (saysDataRanOut(said)) return withWords(kMissing, said);
            // A warning about the header hides one about a scan that stops short.
            if (!decoded || said.empty()) return std::nullopt;
            const std::string bare = saidOfBareData();
            if (saysDataRanOut(bare)) return withWords(kMissing, bare);
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace lathmark
