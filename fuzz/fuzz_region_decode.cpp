// Fuzz target: a region decoded alone (through the JPEG library directly) against the same region
// of the whole photograph decoded by FreeImage, and a count within the region both ways. Input
// layout:
//
//   byte 0-3  the region, as shares of the photograph's width and height in 256ths: left, top,
//             width, height (a width or height share of 0 is one pixel)
//   byte 4    THRESHOLD, taken modulo 246 so that counting never refuses it
//   byte 5-   the JPEG
//
// Wherever the region is decoded alone, the whole decode must succeed, with the same warning, the
// same size, and the region's pixels, resolution and pixel format the same to the bit; and a count
// within the region (which decodes it alone where it can) must come to exactly what a count of the
// whole decode within that region comes to. A region that is not decoded alone is fine: the whole
// photograph is then decoded as before.
//
// Only photographs of up to 16384 pixels are looked at, as fuzz_count explains for its 8192.

#include <FreeImage.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "engine/counting.h"
#include "engine/preparation.h"

namespace {

constexpr std::size_t kHeaderBytes = 5;
constexpr std::uint64_t kMaxPixels = 1 << 14;
const std::string kName = "fuzz.jpg";

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "broken result: %s\n", what);
    std::abort();
}

// A share of `size` in 256ths, at least `least`.
int share(std::uint8_t byte, int size, int least) {
    return std::max(least, static_cast<int>(static_cast<long>(byte) * size / 256));
}

bool sameCount(const lathmark::CountResult& a, const lathmark::CountResult& b) {
    if (a.ok() != b.ok()) return false;
    if (!a.ok()) return a.error->reason == b.error->reason;
    return a.passLines == b.passLines && a.band.top == b.band.top &&
           a.band.bottom == b.band.bottom && a.band.width == b.band.width &&
           a.band.height == b.band.height && a.joints.size() == b.joints.size() &&
           a.warning == b.warning && a.photographWidth == b.photographWidth &&
           a.photographHeight == b.photographHeight && a.dependsOnSettings == b.dependsOnSettings &&
           a.certainty.why == b.certainty.why &&
           lathmark::samePicture(a.marked.get(), b.marked.get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size <= kHeaderBytes) return 0;
    const std::uint8_t* jpegData = data + kHeaderBytes;
    const std::size_t jpegSize = size - kHeaderBytes;
    const lathmark::StepResult<lathmark::JpegPhotograph> read =
        lathmark::readJpegData(jpegData, jpegSize);
    if (!read.ok()) return 0;
    const lathmark::JpegWithoutMetadata& jpeg = read.value.jpeg;
    const auto pixels =
        static_cast<std::uint64_t>(jpeg.width) * static_cast<std::uint64_t>(jpeg.height);
    if (!jpeg.hasFrame || pixels == 0 || pixels > kMaxPixels) return 0;

    lathmark::Region region;
    region.left = share(data[0], jpeg.width, 0);
    region.top = share(data[1], jpeg.height, 0);
    region.width = std::min(share(data[2], jpeg.width, 1), jpeg.width - region.left);
    region.height = std::min(share(data[3], jpeg.height, 1), jpeg.height - region.top);
    if (region.width <= 0 || region.height <= 0) return 0;

    const std::optional<lathmark::DecodedRegion> alone =
        lathmark::decodeJpegRegion(read.value, region);
    if (alone) {
        const lathmark::StepResult<lathmark::Bitmap> whole = lathmark::decodeJpeg(read.value);
        if (!whole.ok()) broken("a region was decoded alone of a photograph refused whole");
        if (alone->warning != whole.warning) broken("the warnings differ");
        if (alone->photographWidth != whole.value.width() ||
            alone->photographHeight != whole.value.height())
            broken("the photograph's size differs");
        const lathmark::Bitmap cut = lathmark::cutOut(whole.value.get(), region);
        if (!cut || !lathmark::samePicture(
                        lathmark::cutOut(alone->picture.get(), alone->region).get(), cut.get()))
            broken("the region's pixels differ from the whole decode's");
    }

    // A count within the region, decoded alone where it can be, and the same count of the whole
    // decode: the self-check reads the region at other thresholds too.
    lathmark::Settings settings{.threshold = data[4] % 246, .bdLine = 40};
    settings.region = region;
    const lathmark::CountResult counted =
        lathmark::countJpeg(read.value, kName, settings, {.selfCheck = true});
    lathmark::StepResult<lathmark::Bitmap> whole = lathmark::decodeJpeg(read.value);
    if (whole.ok()) {
        lathmark::CountResult fromWhole =
            lathmark::countDecoded(std::move(whole.value), kName, settings, {.selfCheck = true});
        fromWhole.warning = whole.warning;
        if (!sameCount(counted, fromWhole)) broken("the count within the region differs");
    } else if (counted.ok() || counted.error->reason != *whole.failure) {
        broken("a photograph refused whole was counted, or refused for another reason");
    }
    return 0;
}
