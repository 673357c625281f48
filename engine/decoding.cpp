// Decoding a JPEG photograph through the library, with the checks that keep a damaged or hostile
// file from costing unbounded memory or passing for a whole photograph.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/cut_off.h"
#include "engine/files.h"
#include "engine/jpeg_segments.h"
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

// What the decoder says of the photograph's data with a bare header, apart from what it said
// before. The picture is made small and grey, as only the words are wanted: the decoder still
// reads every scan through.
std::string saidOfBareData(const std::uint8_t* data, std::size_t size) {
    const JpegWithoutMetadata bare = withoutMetadataSegments(data, size, HeaderKept::Bare);
    const LibraryMessages messages;
    constexpr int kSmallest = 1 << 16;  // the size asked for, in the flags' upper half
    const Bitmap picture(loadJpeg(bare.data, JPEG_GREYSCALE | kSmallest));
    return messages.text();
}

}  // namespace

StepResult<Bitmap> decodeJpegFile(const std::filesystem::path& file, PixelBudget::Share* share) {
    std::string bytes;
    if (auto failure = readWholeFile(file, kMaxPhotographBytes, bytes))
        return Failed{photographReadFailure(*failure)};
    return decodeJpegData(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), share);
}

StepResult<Bitmap> decodeJpegData(const std::uint8_t* data, std::size_t size,
                                  PixelBudget::Share* share) {
    if (size == 0) return Failed{"cannot be decoded as a JPEG photograph (the file is empty)"};
    if (size > kMaxPhotographBytes) return Failed{"is too large to be a photograph"};
    const JpegWithoutMetadata jpeg = withoutMetadataSegments(data, size);
    if (jpeg.hasFrame) {
        if (auto failure = checkPixelBudget(jpeg.width, jpeg.height)) return Failed{*failure};
        if (share) share->take(jpeg.width, jpeg.height);
    }

    // First the header alone, to refuse a photograph over the pixel budget before any pixel is
    // decoded, then the whole photograph. What the decoder says on the way is kept: it explains
    // a failure, or becomes the warning of a photograph it still decoded.
    const LibraryMessages messages;
    Bitmap picture(loadJpeg(jpeg.data, FIF_LOAD_NOPIXELS));
    if (picture) {
        if (auto failure = checkPixelBudget(picture.width(), picture.height()))
            return Failed{*failure};
        if (share) share->take(picture.width(), picture.height());
        picture.reset(loadJpeg(jpeg.data, 0));
    }
    std::string said = messages.text();
    if (auto cut = cutOffReason(jpeg, static_cast<bool>(picture), said,
                                [data, size] { return saidOfBareData(data, size); }))
        return Failed{*cut};
    if (!picture)
        return Failed{"cannot be decoded as a JPEG photograph" +
                      (said.empty() ? "" : " (" + said + ")")};
    return {std::move(picture), std::move(said)};
}

}  // namespace lathmark
