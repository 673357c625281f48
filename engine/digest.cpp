#include "engine/digest.h"

// xxHash's 128-bit XXH3, compiled in here: it reads the data at memory speed, so the digest
// costs a few microseconds of a count that takes milliseconds. It tells pictures apart; it is no
// guard against a file made on purpose to look like another.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace lathmark {

std::string PhotographDigest::hex() const {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * bytes.size());
    for (const std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

std::optional<PhotographDigest> PhotographDigest::fromHex(std::string_view text) {
    PhotographDigest digest;
    if (text.size() != 2 * digest.bytes.size()) return std::nullopt;
    const auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < digest.bytes.size(); ++i) {
        const int high = value(text[2 * i]);
        const int low = value(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        digest.bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return digest;
}

std::optional<PhotographDigest> digestOf(const JpegWithoutMetadata& jpeg) {
    if (jpeg.scanEnds.empty()) return std::nullopt;
    // Up to the end of the last scan's data: what follows (the end-of-image marker, added here
    // when it is missing, and any trailer) makes no pixel.
    const XXH128_hash_t hash = XXH3_128bits(jpeg.data.data(), jpeg.scanEnds.back());
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, hash);
    PhotographDigest digest;
    static_assert(sizeof canonical.digest == sizeof digest.bytes);
    for (std::size_t i = 0; i < digest.bytes.size(); ++i) digest.bytes[i] = canonical.digest[i];
    return digest;
}

}  // namespace lathmark
