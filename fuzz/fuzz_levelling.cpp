// Fuzz target: the slope and region search of a stack photographed by hand (ANGLE=auto,
// REGION=auto) and the stack's rhythm, on photographs whose grey levels the fuzzer writes
// directly, so that it can shape joints, rhythms and stacks without first learning JPEG.
// Input layout:
//
//   byte 0    width: 8 + 8 × (byte mod 32) pixels
//   byte 1    height: 8 + 8 × (byte mod 32) pixels
//   byte 2    bit 0: ANGLE=auto, else bits 2-7 give a slope of -8 to +7.75 degrees in quarters;
//             bit 1: REGION=auto
//   byte 3    STRETCH 1 to 4; byte 4 THRESHOLD (mod 246); byte 5 BDLINE
//   byte 6-   the grey levels, row after row from the top, repeated to fill the photograph (a
//             short input is a photograph whose rows repeat: a stack to the fuzzer's taste)
//
// A refusal is a fine outcome; a crash, a sanitizer report, a hang or a broken result is not.
// A broken result: a region found that does not fit the photograph, a slope found beyond the
// slopes searched, a rhythm that is no number of rows, a joint outside its band; or a count
// along the slope found that differs from the count along the same slope given.

#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/counting.h"
#include "engine/levelling.h"
#include "engine/rhythm.h"

namespace {

constexpr std::size_t kSettingsBytes = 6;
constexpr std::size_t kMostProfileRows = 1024;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "broken result: %s\n", what);
    std::abort();
}

lathmark::Bitmap photographOf(const std::uint8_t* grey, std::size_t size, int width, int height) {
    lathmark::Bitmap photo(FreeImage_Allocate(width, height, 24));
    if (!photo) return photo;
    std::size_t at = 0;
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(photo.get(), height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const BYTE level = size == 0 ? 128 : grey[at++ % size];
            line[3 * x] = line[3 * x + 1] = line[3 * x + 2] = level;
        }
    }
    return photo;
}

void checkRhythm(const std::optional<lathmark::Rhythm>& rhythm) {
    if (!rhythm) return;
    if (!std::isfinite(rhythm->thickness) || !std::isfinite(rhythm->boards) ||
        rhythm->thickness <= 0 || rhythm->boards <= 0)
        broken("a rhythm that is no number of rows");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kSettingsBytes) return 0;
    const int width = 8 + 8 * (data[0] % 32);
    const int height = 8 + 8 * (data[1] % 32);
    lathmark::Settings settings;
    settings.angle.automatic = (data[2] & 1) != 0;
    if (!settings.angle.automatic) settings.angle.hundredths = (data[2] >> 2) * 25 - 800;
    settings.regionFound = (data[2] & 2) != 0;
    settings.stretch = 1 + data[3] % 4;
    settings.threshold = data[4] % 246;
    settings.bdLine = data[5];
    const std::uint8_t* grey = data + kSettingsBytes;
    const std::size_t greyBytes = size - kSettingsBytes;

    // The rhythm of the grey levels as they come, as a profile of rows (of a few thousand rows
    // at most, as a photograph's band has).
    const std::vector<double> profile(grey, grey + std::min(greyBytes, kMostProfileRows));
    checkRhythm(lathmark::rhythmOf(profile));
    checkRhythm(lathmark::rhythmOf(profile, lathmark::ProfileEnds::JointMiddles));

    const lathmark::CountResult found =
        lathmark::countDecoded(photographOf(grey, greyBytes, width, height), "fuzz.jpg", settings);
    if (!found.ok()) return 0;
    if (const std::optional<lathmark::Region>& region = found.settings.region;
        settings.regionFound && (!region || !region->fits(width, height)))
        broken("a region found that does not fit the photograph");
    if (settings.angle.automatic &&
        (!found.angleHundredths ||
         std::abs(*found.angleHundredths) > lathmark::kMostFoundSlopeHundredths))
        broken("a slope found beyond the slopes searched");
    checkRhythm(found.certainty.byRhythm);
    for (const lathmark::Joint& joint : found.joints)
        if (joint.top < std::min(found.band.top, found.band.bottom) ||
            joint.bottom > std::max(found.band.top, found.band.bottom) || joint.top > joint.bottom)
            broken("a joint outside its band");

    // The slope found, given: the same count.
    if (settings.angle.automatic) {
        lathmark::Settings given = settings;
        given.angle = {*found.angleHundredths, false};
        const lathmark::CountResult again =
            lathmark::countDecoded(photographOf(grey, greyBytes, width, height), "fuzz.jpg", given);
        if (!again.ok() || again.passLines != found.passLines || again.band.top != found.band.top)
            broken("the slope found and the same slope given count differently");
    }
    return 0;
}
