// Decoding a JPEG photograph through the library, with the checks that keep a damaged or hostile
// file from costing unbounded memory or time, or passing for a whole photograph. Whether the
// picture the decoder made may be counted is judged in one place, decode_verdict.h, from how the
// file ends, its scans and every word the decoder said; arithmetic-coded scans get a run of zero
// bytes after their data for that, as told there.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/decode_verdict.h"
#include "engine/files.h"
#include "engine/jpeg_segments.h"
#include "engine/jpeg_warnings.h"
#include "engine/library_messages.h"
#include "engine/preparation.h"

namespace lathmark {
namespace {

StepFailure checkPixelBudget(int width, int height) {
    const auto pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (pixels <= kMaxPhotographPixels) return std::nullopt;
    return "is " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, more than the " + std::to_string(kMaxPhotographPixels / 1'000'000) +
           " megapixels a photograph may have";
}

// A photograph file's read failure in words that follow its name.
std::string photographReadFailure(const ReadFailure& failure) {
    using Kind = ReadFailure::Kind;
    switch (failure.kind) {
        case Kind::CannotOpen:
            if (failure.error == ENOENT) return "the file does not exist";
            return "cannot be read: " + errnoText(failure.error);
        case Kind::Directory:
            return "is a directory, not a photograph";
        case Kind::NotRegular:
            return "is not a regular file, not a photograph";
        case Kind::TooLarge:
            return "is too large to be a photograph";
        case Kind::CannotRead:
            return "cannot be read: " + errnoText(failure.error);
    }
    return "cannot be read";
}

// JPEG data in memory, read by the decoder through its own input calls. The library's memory
// stream copies a byte at a time when the decoder asks for a buffer's worth of single bytes,
// as its JPEG reader does; this one copies each request at once.
struct MemoryInput {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    static unsigned read(void* buffer, unsigned size, unsigned count, fi_handle handle) {
        auto& input = *static_cast<MemoryInput*>(handle);
        if (size == 0 || input.at >= input.size) return 0;
        const std::size_t items = std::min<std::size_t>(count, (input.size - input.at) / size);
        std::memcpy(buffer, input.data + input.at, items * size);
        input.at += items * size;
        return static_cast<unsigned>(items);
    }
    static int seek(fi_handle handle, long offset, int origin) {
        auto& input = *static_cast<MemoryInput*>(handle);
        const long long base = origin == SEEK_SET   ? 0
                               : origin == SEEK_CUR ? static_cast<long long>(input.at)
                               : origin == SEEK_END ? static_cast<long long>(input.size)
                                                    : -1;
        if (base < 0 || base + offset < 0) return -1;
        input.at = static_cast<std::size_t>(base + offset);
        return 0;
    }
    static long tell(fi_handle handle) {
        return static_cast<long>(static_cast<MemoryInput*>(handle)->at);
    }
    // The decoder never writes.
    static unsigned write(void*, unsigned, unsigned, fi_handle) { return 0; }
};

// Loads JPEG data held in memory.
FIBITMAP* loadJpeg(const std::vector<std::uint8_t>& jpeg, int flags) {
    FreeImageIO io{&MemoryInput::read, &MemoryInput::write, &MemoryInput::seek, &MemoryInput::tell};
    MemoryInput input{jpeg.data(), jpeg.size()};
    return FreeImage_LoadFromHandle(FIF_JPEG, &io, &input, flags);
}

StepFailure checkScans(int scans) {
    if (scans <= kMaxScans) return std::nullopt;
    return "has " + std::to_string(scans) + " scans, more than the " + std::to_string(kMaxScans) +
           " a photograph may have: decoding it would take far too long";
}

// The zero bytes put after arithmetic-coded scan `scan` (decode_verdict.h).
std::vector<std::uint8_t> zeroRun(int scan) {
    return std::vector<std::uint8_t>(zeroRunLength(scan));
}

// As many bytes as the zero run, all 0xFF (written 0xFF 0x00 in picture data).
std::vector<std::uint8_t> highRun(int scan) {
    std::vector<std::uint8_t> run(zeroRunLength(scan));
    for (std::size_t i = 0; i < run.size(); i += 2) run[i] = 0xFF;
    return run;
}

// The JPEG data with a run of bytes after the picture data of each scan: `run(scan)` gives those
// after scan `scan` (0 first). The marker that follows each run is put in `markers`.
template <typename Run>
std::vector<std::uint8_t> withRuns(const JpegWithoutMetadata& jpeg, Run run,
                                   std::vector<unsigned>& markers) {
    const std::vector<std::uint8_t>& data = jpeg.data;
    std::vector<std::uint8_t> out;
    std::size_t from = 0;
    for (std::size_t scan = 0; scan < jpeg.scanEnds.size(); ++scan) {
        const std::size_t end = jpeg.scanEnds[scan];
        out.insert(out.end(), data.begin() + static_cast<long>(from),
                   data.begin() + static_cast<long>(end));
        const std::vector<std::uint8_t> bytes = run(static_cast<int>(scan));
        out.insert(out.end(), bytes.begin(), bytes.end());
        std::size_t marker = end;
        while (marker < data.size() && data[marker] == 0xFF) ++marker;
        // Where the data ends, the library's reader makes up an end-of-image marker.
        markers.push_back(marker < data.size() ? data[marker] : 0xD9);
        from = end;
    }
    out.insert(out.end(), data.begin() + static_cast<long>(from), data.end());
    return out;
}

// The decodes of one photograph: the data the decoder gets (with a zero run after each
// arithmetic-coded scan), what it said at the last decode, and the verdict on it.
class PhotographDecode {
  public:
    explicit PhotographDecode(const JpegWithoutMetadata& jpeg) : jpeg_(jpeg) {
        facts_.ending = jpeg.ending;
        facts_.hasFrame = jpeg.hasFrame;
        facts_.scansComplete = jpeg.scansComplete;
        if (jpeg.arithmetic) withZeroRuns_ = withRuns(jpeg, zeroRun, facts_.zeroRunMarkers);
    }

    // Decodes the data with FreeImage's `flags`, hearing every word the decoder says.
    Bitmap decode(int flags) {
        Heard heard = decodeHeard(jpeg_.arithmetic ? withZeroRuns_ : jpeg_.data, flags);
        facts_.decoded = static_cast<bool>(heard.picture);
        facts_.said = std::move(heard.said);
        facts_.everyWarningHeard = heard.everyWarningHeard;
        return std::move(heard.picture);
    }

    // The picture of the last decode, or why it may not be counted; its warning says what the
    // decoder noted and how the photograph is tagged to be shown.
    StepResult<Bitmap> judged(Bitmap picture) {
        DecodeVerdict verdict = judgeDecode(facts_);
        // An arithmetic-coded file without an end-of-image marker may lack the last few bytes
        // of its data, which no word of the decoder shows: decoded once more with the highest
        // bytes after its data instead of zero bytes, it must come out the same.
        if (!verdict.refusal && jpeg_.arithmetic && jpeg_.ending == JpegEnding::Unmarked) {
            const int last = jpeg_.scans - 1;
            std::vector<unsigned> markers;
            const std::vector<std::uint8_t> withHighEnd = withRuns(
                jpeg_, [last](int scan) { return scan < last ? zeroRun(scan) : highRun(scan); },
                markers);
            facts_.pictureDependsOnMissingEnd =
                !samePicture(picture.get(), decodeHeard(withHighEnd, 0).picture.get());
            verdict = judgeDecode(facts_);
        }
        if (verdict.refusal) return Failed{*verdict.refusal};
        std::string warning = orientationWarning(jpeg_.orientation);
        if (!warning.empty() && !verdict.warning.empty()) warning += "; ";
        return {std::move(picture), warning + verdict.warning};
    }

  private:
    // A decode, with everything the decoder said on the way.
    struct Heard {
        Bitmap picture;
        std::vector<std::string> said;
        bool everyWarningHeard = true;
    };

    static Heard decodeHeard(const std::vector<std::uint8_t>& data, int flags) {
        const LibraryMessages messages;
        const JpegWarningTally before = jpegWarningTally();
        Heard heard{Bitmap(loadJpeg(data, flags)), messages.said(), true};
        const JpegWarningTally after = jpegWarningTally();
        // Without the engine's error manager, the library says its first warning only.
        const bool everyWarningPassedOn = after.managers > before.managers;
        heard.everyWarningHeard =
            everyWarningPassedOn && after.withheld == before.withheld && !messages.overflowed();
        return heard;
    }

    const JpegWithoutMetadata& jpeg_;
    std::vector<std::uint8_t> withZeroRuns_;
    DecodeFacts facts_;
};

}  // namespace

StepResult<JpegPhotograph> readJpegFile(const std::filesystem::path& file) {
    std::string bytes;
    if (auto failure = readWholeFile(file, kMaxPhotographBytes, bytes))
        return Failed{photographReadFailure(*failure)};
    return readJpegData(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

StepResult<JpegPhotograph> readJpegData(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return Failed{std::string(kEmptyFile)};
    if (size > kMaxPhotographBytes) return Failed{"is too large to be a photograph"};
    JpegPhotograph photograph;
    photograph.jpeg = withoutMetadataSegments(data, size);
    photograph.digest = digestOf(photograph.jpeg);
    return photograph;
}

StepResult<Bitmap> decodeJpegFile(const std::filesystem::path& file, PixelBudget::Share* share) {
    const StepResult<JpegPhotograph> read = readJpegFile(file);
    if (!read.ok()) return Failed{*read.failure};
    return decodeJpeg(read.value, share);
}

int exifOrientation(const std::filesystem::path& file) {
    std::string bytes;
    if (readWholeFile(file, kMaxPhotographBytes, bytes)) return 1;
    const int orientation =
        withoutMetadataSegments(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())
            .orientation;
    return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

StepResult<Bitmap> decodeJpegData(const std::uint8_t* data, std::size_t size,
                                  PixelBudget::Share* share) {
    const StepResult<JpegPhotograph> read = readJpegData(data, size);
    if (!read.ok()) return Failed{*read.failure};
    return decodeJpeg(read.value, share);
}

StepResult<Bitmap> decodeJpeg(const JpegPhotograph& photograph, PixelBudget::Share* share) {
    const JpegWithoutMetadata& jpeg = photograph.jpeg;
    // The size first: a photograph too large to count is refused as that, whatever else is
    // wrong with it.
    if (jpeg.hasFrame)
        if (auto failure = checkPixelBudget(jpeg.width, jpeg.height)) return Failed{*failure};
    if (auto failure = checkScans(jpeg.scans)) return Failed{*failure};
    if (jpeg.hasFrame && share) share->take(jpeg.width, jpeg.height);

    // First the header alone, to refuse a photograph over the pixel budget before any pixel is
    // decoded, then the whole photograph. What the decoder says on the way is judged: it
    // explains a failure, refuses a picture the decoder had to make up, or becomes the warning
    // of a photograph it decoded whole.
    PhotographDecode decode(jpeg);
    Bitmap picture = decode.decode(FIF_LOAD_NOPIXELS);
    if (picture) {
        if (auto failure = checkPixelBudget(picture.width(), picture.height()))
            return Failed{*failure};
        if (share) share->take(picture.width(), picture.height());
        picture = decode.decode(0);
    }
    return decode.judged(std::move(picture));
}

bool samePicture(FIBITMAP* a, FIBITMAP* b) {
    if (!a || !b || FreeImage_GetWidth(a) != FreeImage_GetWidth(b) ||
        FreeImage_GetHeight(a) != FreeImage_GetHeight(b) ||
        FreeImage_GetBPP(a) != FreeImage_GetBPP(b) ||
        FreeImage_GetColorType(a) != FreeImage_GetColorType(b) ||
        FreeImage_GetDotsPerMeterX(a) != FreeImage_GetDotsPerMeterX(b) ||
        FreeImage_GetDotsPerMeterY(a) != FreeImage_GetDotsPerMeterY(b))
        return false;
    const Scanlines rowsOfA(a);
    const Scanlines rowsOfB(b);
    const unsigned rowBytes = FreeImage_GetLine(a);
    for (int y = 0; y < static_cast<int>(FreeImage_GetHeight(a)); ++y)
        if (std::memcmp(rowsOfA(y), rowsOfB(y), rowBytes) != 0) return false;
    return true;
}

}  // namespace lathmark
