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
// The photograph is also written to a file and counted from there, as the batch counter does:
// both ways must give the same count, or the same refusal. A counted photograph is decoded once
// more on its own, hearing every word of the decoder: none may be one for which the engine's
// verdict refuses a photograph (engine/decode_verdict.h).
//
// Only small photographs are counted: a frame header that claims more than 8192 pixels, but no
// more than the engine accepts, is skipped. The fuzzer soon learns to write headers of a few
// megapixels, each of which decodes for most of a second under the sanitizers; it would spend
// its time decoding grey instead of running the code. Nothing in the engine depends on the size
// beyond what small photographs reach; large ones are counted by the tests and benchmarks.
// Claims over the engine's limit are counted, to check that they are refused before any pixel
// is decoded: nothing near the photograph's size may be allocated on the way.
//
// With LATHMARK_FUZZ_PRINT set, each input's settings and outcome are printed, which helps to
// see what a seed or a crash input does: LATHMARK_FUZZ_PRINT=1 ./fuzz_count corpus/count/*

#include <FreeImage.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/counting.h"
#include "engine/decode_verdict.h"
#include "engine/jpeg_segments.h"
#include "engine/jpeg_warnings.h"
#include "engine/library_messages.h"
#include "engine/preparation.h"
#include "fuzz/allocations.h"
#include "fuzz/pace.h"

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

// Photographs above this size, up to the engine's limit, are not counted at all. The seeds are
// 96 x 72 (6912 pixels); a count of one takes about half a millisecond here.
constexpr std::uint64_t kMaxPixelsCounted = 1 << 13;

// Width times height from the first frame header (SOFn) of the JPEG, found by walking its
// marker segments as a decoder does; 0 if there is none before the first scan or the data
// ends. Done here without the library, so that a fault in the library is still reported from
// inside the engine.
std::uint64_t framePixels(const std::uint8_t* data, std::size_t size) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return 0;
    std::size_t at = 2;
    while (at < size) {
        while (at < size && data[at] != 0xFF) ++at;  // a decoder skips stray bytes too
        while (at < size && data[at] == 0xFF) ++at;
        if (at >= size) return 0;
        const std::uint8_t marker = data[at++];
        if (marker == 0xD9 || marker == 0xDA) return 0;  // end of image or first scan
        // Frames, tables, application data and comments have a length. The decoder takes any
        // other marker as one without (after a message), so the walk does too.
        const bool hasLength = (marker >= 0xC0 && marker <= 0xCF) || marker == 0xDB ||
                               marker == 0xDC || marker == 0xDD ||
                               (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
        if (!hasLength) continue;
        if (at + 2 > size) return 0;
        const std::size_t length =
            std::max<std::size_t>(2, static_cast<std::size_t>(data[at] << 8 | data[at + 1]));
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (at + 7 > size) return 0;
            const std::uint64_t height =
                static_cast<std::uint64_t>(data[at + 3] << 8 | data[at + 4]);
            const std::uint64_t width =
                static_cast<std::uint64_t>(data[at + 5] << 8 | data[at + 6]);
            return width * height;
        }
        at += length;
    }
    return 0;
}

// One file per process, so that parallel jobs do not count each other's photographs.
const std::string& photographFile() {
    static const std::string file = [] {
        const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(folder) + "/lathmark-fuzz-" + std::to_string(getpid()) + ".jpg";
    }();
    return file;
}

bool writeFile(const std::string& file, const std::uint8_t* data, std::size_t size) {
    std::FILE* stream = std::fopen(file.c_str(), "wb");
    if (!stream) return false;
    const bool written = std::fwrite(data, 1, size, stream) == size;
    return std::fclose(stream) == 0 && written;
}

void print(const lathmark::CountResult& result, const lathmark::Settings& settings) {
    static const bool wanted = std::getenv("LATHMARK_FUZZ_PRINT") != nullptr;
    if (!wanted) return;
    std::fprintf(stderr, "BDLINE=%d THRESHOLD=%d: ", settings.bdLine, settings.threshold);
    if (!result.ok()) {
        std::fprintf(stderr, "%s\n", result.error->message().c_str());
        return;
    }
    std::fprintf(stderr, "%d boards (lines %d + %d + %d + %d), band %d..%d, %d x %d%s%s\n",
                 result.boards(), result.passLines[0], result.passLines[1], result.passLines[2],
                 result.passLines[3], result.band.top, result.band.bottom, result.band.width,
                 result.band.height,
                 result.warning.empty() ? "" : ", warning: ", result.warning.c_str());
}

// What any result must be like, whatever the photograph.
void checkResult(const lathmark::CountResult& result) {
    // The faces print one line per photograph: file, reason or warning, nothing that breaks it.
    if (hasLineBreak(result.warning)) broken("the warning has a line break");
    if (result.file != kName) broken("the result names another file");
    if (!result.ok()) {
        if (result.error->file != kName) broken("the error names another file");
        if (result.error->reason.empty()) broken("the error gives no reason");
        if (hasLineBreak(result.error->reason)) broken("the error reason has a line break");
        sink = static_cast<unsigned>(result.error->reason.size());
        return;
    }

    for (int lines : result.passLines)
        if (lines < 0) broken("a pass found a negative number of lines");
    const lathmark::BandBox& band = result.band;
    if (band.width <= 0 || band.height <= 0) broken("the band is empty but counting went on");
    if (!result.marked) broken("a counted photograph has no result image");
    if (result.marked.width() != band.width || result.marked.height() != band.height)
        broken("the result image is not the band's size");
    if (FreeImage_GetBPP(result.marked.get()) != 1) broken("the result image is not two-level");

    if (!result.photograph) broken("the photograph was asked for but not handed back");
    if (result.photograph.width() != band.width + lathmark::kBandLeftColumn)
        broken("the band is not as wide as the photograph less its left columns");
    if (band.height > result.photograph.height()) broken("the band is higher than the photograph");

    sink = checksum(result.marked) + static_cast<unsigned>(result.boards()) +
           static_cast<unsigned>(band.top + band.bottom) +
           static_cast<unsigned>(result.warning.size());
}

// Counts the photograph again from a file and stops if the two counts differ.
void compareWithFile(const std::uint8_t* jpeg, std::size_t size,
                     const lathmark::CountResult& inMemory, const lathmark::Settings& settings) {
    const std::string& file = photographFile();
    if (!writeFile(file, jpeg, size)) return;  // no room to write: nothing to compare
    const lathmark::CountResult fromFile = lathmark::countBoards(file, settings);
    // Removed at once: libFuzzer ends its processes in ways that skip atexit handlers.
    std::remove(file.c_str());
    if (fromFile.ok() != inMemory.ok())
        broken("counted in memory and from a file, only one failed");
    if (!inMemory.ok()) {
        if (fromFile.error->reason != inMemory.error->reason)
            broken("counted in memory and from a file, refused for different reasons");
        return;
    }
    if (fromFile.passLines != inMemory.passLines || fromFile.band.top != inMemory.band.top ||
        fromFile.band.bottom != inMemory.band.bottom ||
        fromFile.band.width != inMemory.band.width ||
        fromFile.band.height != inMemory.band.height || fromFile.warning != inMemory.warning ||
        checksum(fromFile.marked) != checksum(inMemory.marked))
        broken("counted in memory and from a file, the results differ");
}

// What the frame headers claim: the larger of what this file's walk finds and what the
// engine's own walk, whose size it checks against its limit, finds.
std::uint64_t claimedPixels(const std::uint8_t* jpeg, std::size_t size,
                            const lathmark::JpegWithoutMetadata& walked) {
    const std::uint64_t engine = walked.hasFrame ? static_cast<std::uint64_t>(walked.width) *
                                                       static_cast<std::uint64_t>(walked.height)
                                                 : 0;
    return std::max(framePixels(jpeg, size), engine);
}

// A photograph that claims more than the engine accepts: refused, for that reason, and before
// any pixel is decoded. The smallest picture of that size the decoder could make, one bit a
// pixel, is pixels / 8 bytes; nothing that large may have been allocated.
void checkRefusedUnseen(const lathmark::CountResult& result, std::uint64_t pixels,
                        std::size_t largestAllocation, bool engineSawIt) {
    if (result.ok()) broken("a photograph over the pixel limit was counted");
    if (largestAllocation >= pixels / 8)
        broken("a photograph over the pixel limit was decoded before it was refused");
    if (engineSawIt &&
        result.error->reason.find("megapixels a photograph may have") == std::string::npos)
        broken("a photograph over the pixel limit was refused for another reason");
}

// Everything the decoder says of the JPEG data as the engine gives it to the decoder, without
// its metadata (the engine's own runs after arithmetic-coded scans left out).
std::vector<std::string> decoderWords(const lathmark::JpegWithoutMetadata& walked) {
    const lathmark::LibraryMessages messages;
    FIMEMORY* memory = FreeImage_OpenMemory(const_cast<BYTE*>(walked.data.data()),
                                            static_cast<DWORD>(walked.data.size()));
    const lathmark::Bitmap picture(FreeImage_LoadFromMemory(FIF_JPEG, memory, 0));
    FreeImage_CloseMemory(memory);
    return messages.said();
}

// A counted photograph must be one of which the decoder said nothing that refuses it.
void checkCountedWhole(const lathmark::CountResult& result,
                       const lathmark::JpegWithoutMetadata& walked) {
    if (!result.ok()) return;
    for (const std::string& word : decoderWords(walked)) {
        if (lathmark::meaningOf(word) == lathmark::MessageMeaning::Harmless) continue;
        std::fprintf(stderr, "the decoder said: %s\n", word.c_str());
        broken("a photograph was counted though the decoder said something that refuses it");
    }
}

}  // namespace

// The engine hears every warning of the decoder only where the JPEG library finds the engine's
// stand-in for jpeg_std_error (engine/jpeg_warnings.h) in the program, as it must in this one
// too: an error manager set up for a JPEG load must be counted by the stand-in.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const lathmark::LibraryMessages quiet;
    const unsigned long before = lathmark::jpegWarningTally().managers;
    std::uint8_t empty[] = {0xFF, 0xD8, 0xFF, 0xD9};
    FIMEMORY* memory = FreeImage_OpenMemory(empty, sizeof empty);
    const lathmark::Bitmap picture(FreeImage_LoadFromMemory(FIF_JPEG, memory, 0));
    FreeImage_CloseMemory(memory);
    if (lathmark::jpegWarningTally().managers == before)
        broken("the JPEG library does not use the engine's stand-in for jpeg_std_error");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lathmark::fuzz::countExecution();
    if (size < kSettingsBytes) return 0;
    const lathmark::Settings settings{
        .threshold = data[2] % (lathmark::Settings::kMaxThreshold + 1),
        .bdLine = bdLineFrom(data[0], data[1])};

    const std::uint8_t* jpeg = data + kSettingsBytes;
    const std::size_t jpegSize = size - kSettingsBytes;
    const lathmark::JpegWithoutMetadata walked = lathmark::withoutMetadataSegments(jpeg, jpegSize);
    const std::uint64_t pixels = claimedPixels(jpeg, jpegSize, walked);
    const bool overLimit = pixels > lathmark::kMaxPhotographPixels;
    if (pixels > kMaxPixelsCounted && !overLimit) {
        if (std::getenv("LATHMARK_FUZZ_PRINT"))
            std::fprintf(stderr, "not counted: the frame header claims %llu pixels\n",
                         static_cast<unsigned long long>(pixels));
        return -1;
    }
    lathmark::fuzz::LargestAllocation largest;
    const lathmark::CountResult result =
        lathmark::countJpegInMemory(jpeg, jpegSize, kName, settings, {.keepPhotograph = true});
    const std::size_t largestAllocation = largest.bytes();
    print(result, settings);
    if (std::getenv("LATHMARK_FUZZ_PRINT"))
        std::fprintf(stderr, "largest allocation: %zu bytes\n", largestAllocation);
    checkResult(result);
    if (overLimit) {
        const bool engineSawIt =
            walked.hasFrame &&
            static_cast<std::uint64_t>(walked.width) * static_cast<std::uint64_t>(walked.height) ==
                pixels;
        checkRefusedUnseen(result, pixels, largestAllocation, engineSawIt);
        return 0;
    }
    checkCountedWhole(result, walked);
    compareWithFile(jpeg, jpegSize, result, settings);
    return 0;
}
