// Fuzz target: counts the boards of a JPEG held in memory, as the batch counter and the window
// do for a file. Input layout:
//
//   byte 0-1  BDLINE, a little-endian int16. Values in -50..200 are taken as they are; those
//             whose high byte is 0x7? or 0x8? (near the int16 limits) too; every other value
//             is folded into -50..200, where the passes' limits do something interesting.
//   byte 2    THRESHOLD, taken modulo 246 so that counting never refuses it.
//   byte 3-   the JPEG.
//
// A refusal is a fine outcome; a crash, a sanitizer report, a hang or a broken result is not.
// With LATHMARK_FUZZ_PRINT set, each input's settings and outcome are printed, which helps to
// see what a seed or a crash input does: LATHMARK_FUZZ_PRINT=1 ./fuzz_count corpus/count/*

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/counting.h"

namespace {

constexpr std::size_t kSettingsBytes = 3;
const std::string kName = "fuzz.jpg";

std::int16_t bdLineFrom(std::uint8_t low, std::uint8_t high) {
    const auto word = static_cast<std::uint16_t>(low | (high << 8));
    const auto raw = static_cast<std::int16_t>(word);
    if (raw >= -50 && raw <= 200) return raw;
    if ((high & 0xF0) == 0x70 || (high & 0xF0) == 0x80) return raw;
    return static_cast<std::int16_t>(-50 + word % 251);
}

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "broken result: %s\n", what);
    std::abort();
}

bool hasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// Reads every byte of the result image's rows, so that a bitmap smaller than it claims shows up
// as an out-of-bounds read, and so that nothing of the count can be optimised away.
unsigned checksum(const lathmark::Bitmap& bitmap) {
    FIBITMAP* dib = bitmap.get();
    const unsigned lineBytes = FreeImage_GetLine(dib);
    unsigned sum = 0;
    for (unsigned y = 0; y < FreeImage_GetHeight(dib); ++y) {
        const BYTE* line = FreeImage_GetScanLine(dib, static_cast<int>(y));
        for (unsigned x = 0; x < lineBytes; ++x) sum = sum * 31 + line[x];
    }
    return sum;
}

volatile unsigned sink;

void print(const lathmark::CountResult& result, int bdLine, int threshold) {
    static const bool wanted = std::getenv("LATHMARK_FUZZ_PRINT") != nullptr;
    if (!wanted) return;
    std::fprintf(stderr, "BDLINE=%d THRESHOLD=%d: ", bdLine, threshold);
    if (!result.ok()) {
        std::fprintf(stderr, "%s\n", result.error->message().c_str());
        return;
    }
    std::fprintf(stderr, "%d boards (lines %d + %d + %d + %d), band %d..%d, %d x %d%s%s\n",
                 result.boards(), result.passLines[0], result.passLines[1], result.passLines[2],
                 result.passLines[3], result.band.top, result.band.bottom, result.band.width,
                 result.band.height, result.warning.empty() ? "" : ", warning: ",
                 result.warning.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kSettingsBytes) return 0;
    const std::int16_t bdLine = bdLineFrom(data[0], data[1]);
    const auto threshold = static_cast<std::int16_t>(data[2] % 246);

    const lathmark::CountResult result = lathmark::countJpegInMemory(
        data + kSettingsBytes, size - kSettingsBytes, kName, bdLine, threshold);
    print(result, bdLine, threshold);

    // The faces print one line per photograph: file, reason or warning, nothing that breaks it.
    if (hasLineBreak(result.warning)) broken("the warning has a line break");
    if (result.file != kName) broken("the result names another file");
    if (!result.ok()) {
        if (result.error->file != kName) broken("the error names another file");
        if (result.error->reason.empty()) broken("the error gives no reason");
        if (hasLineBreak(result.error->reason)) broken("the error reason has a line break");
        sink = static_cast<unsigned>(result.error->reason.size());
        return 0;
    }

    for (int lines : result.passLines)
        if (lines < 0) broken("a pass found a negative number of lines");
    const lathmark::BandBox& band = result.band;
    if (band.width <= 0 || band.height <= 0) broken("the band is empty but counting went on");
    if (!result.marked) broken("a counted photograph has no result image");
    if (result.marked.width() != band.width || result.marked.height() != band.height)
        broken("the result image is not the band's size");
    if (FreeImage_GetBPP(result.marked.get()) != 1) broken("the result image is not two-level");

    sink = checksum(result.marked) + static_cast<unsigned>(result.boards()) +
           static_cast<unsigned>(band.top + band.bottom) +
           static_cast<unsigned>(result.warning.size());
    return 0;
}
