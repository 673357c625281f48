#pragma once
// What a photograph is, whatever its file: a digest of the image data the count decodes (the
// JPEG data without its metadata segments, from its start to the end of its last scan's data).
// The same picture copied, linked, renamed, touched, given metadata or a trailer, or given its
// end-of-image marker late has the same digest; a different picture has another.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/jpeg_segments.h"

namespace lathmark {

struct PhotographDigest {
    std::array<std::uint8_t, 16> bytes{};

    bool operator==(const PhotographDigest&) const = default;
    auto operator<=>(const PhotographDigest&) const = default;

    // 32 lower-case hexadecimal digits, as the journal holds it.
    std::string hex() const;
    // The digest of 32 hexadecimal digits; nothing for anything else.
    static std::optional<PhotographDigest> fromHex(std::string_view text);
};

// The digest of walked JPEG data; nothing for data without a scan, which is no photograph.
std::optional<PhotographDigest> digestOf(const JpegWithoutMetadata& jpeg);

}  // namespace lathmark
