#include "engine/preparation.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include "engine/cut_off.h"
#include "engine/jpeg_segments.h"
#include "engine/library_messages.h"
#include "engine/rows.h"
#include "engine/two_level.h"

namespace lathmark {
namespace {

// A row with more dark pixels than this share of the width is background (floor or wall).
constexpr double kBackgroundRatio = 0.7;

StepFailure checkReadable(const std::filesystem::path& file) {
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (status.type() == std::filesystem::file_type::not_found) return "the file does not exist";
    if (status.type() == std::filesystem::file_type::directory)
        return "is a directory, not a photograph";
    // A pipe or device could block the reader forever, or never end.
    if (status.type() != std::filesystem::file_type::regular)
        return "is not a regular file, not a photograph";
    return std::nullopt;
}

StepFailure checkPixelBudget(int width, int height) {
    const auto pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (pixels <= kMaxPhotographPixels) return std::nullopt;
    return "is " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, more than the " + std::to_string(kMaxPhotographPixels / 1'000'000) +
           " megapixels a photograph may have";
}

// The whole file, or why it cannot be read. A photograph's file is a few megabytes at most.
// It is read in one go into a buffer of its size; a file that grows meanwhile is read on.
StepFailure readWholeFile(const std::filesystem::path& file, std::vector<std::uint8_t>& bytes) {
    std::unique_ptr<std::FILE, decltype(&std::fclose)> stream(std::fopen(file.c_str(), "rb"),
                                                              &std::fclose);
    if (!stream) return std::string("cannot be read: ") + std::strerror(errno);
    std::error_code error;
    const std::uintmax_t expected = std::filesystem::file_size(file, error);
    if (!error && expected > kMaxPhotographBytes) return "is too large to be a photograph";
    bytes.resize(error ? std::size_t{1} << 16 : static_cast<std::size_t>(expected) + 1);
    std::size_t got = 0;
    while (std::size_t n = std::fread(bytes.data() + got, 1, bytes.size() - got, stream.get())) {
        got += n;
        if (got > kMaxPhotographBytes) return "is too large to be a photograph";
        if (got == bytes.size()) bytes.resize(2 * got);
    }
    if (std::ferror(stream.get())) return std::string("cannot be read: ") + std::strerror(errno);
    bytes.resize(got);
    return std::nullopt;
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
    const LibraryMessagesApart apart;
    constexpr int kSmallest = 1 << 16;  // the size asked for, in the flags' upper half
    const Bitmap picture(loadJpeg(bare.data, JPEG_GREYSCALE | kSmallest));
    return apart.messages();
}

}  // namespace

StepFailure decodePhotograph(CountingState& state, const std::filesystem::path& file) {
    if (auto failure = checkReadable(file)) return failure;
    std::vector<std::uint8_t> bytes;
    if (auto failure = readWholeFile(file, bytes)) return failure;
    return decodePhotographFromMemory(state, bytes.data(), bytes.size());
}

StepFailure decodePhotographFromMemory(CountingState& state, const std::uint8_t* data,
                                       std::size_t size) {
    if (size == 0) return "cannot be decoded as a JPEG photograph (the file is empty)";
    if (size > kMaxPhotographBytes) return "is too large to be a photograph";
    const JpegWithoutMetadata jpeg = withoutMetadataSegments(data, size);
    if (jpeg.hasFrame)
        if (auto failure = checkPixelBudget(jpeg.width, jpeg.height)) return failure;

    // First the header alone, to refuse a photograph over the pixel budget before any pixel is
    // decoded, then the whole photograph. What the decoder says on the way is kept: it explains
    // a failure, or becomes the warning of a photograph it still decoded.
    listenToLibraryMessages();
    clearLibraryMessages();
    Bitmap picture(loadJpeg(jpeg.data, FIF_LOAD_NOPIXELS));
    if (picture) {
        if (auto failure = checkPixelBudget(picture.width(), picture.height())) return failure;
        picture.reset(loadJpeg(jpeg.data, 0));
    }
    const std::string said = libraryMessages();
    if (auto cut = cutOffReason(jpeg, static_cast<bool>(picture), said,
                                [data, size] { return saidOfBareData(data, size); }))
        return cut;
    if (!picture)
        return "cannot be decoded as a JPEG photograph" + (said.empty() ? "" : " (" + said + ")");
    state.dibSource = std::move(picture);
    return std::nullopt;
}

StepFailure thresholdPhotograph(CountingState& state, int threshold, int laterThreshold,
                                Bitmap& later) {
    for (int level : {threshold, laterThreshold})
        if (level < 0 || level > 255)
            return "threshold " + std::to_string(level) + " is not a grey level (0 to 255)";
    TwoLevelPair pair = thresholdTwice(state.dibSource.get(), static_cast<BYTE>(threshold),
                                       static_cast<BYTE>(laterThreshold));
    if (!pair.low || !pair.high) return "its pixel format cannot be turned into black and white";
    state.dibBinary = std::move(pair.low);
    later = std::move(pair.high);
    return std::nullopt;
}

StepFailure thresholdPhotograph(CountingState& state, int threshold) {
    Bitmap unused;
    return thresholdPhotograph(state, threshold, threshold, unused);
}

void countRows(FIBITMAP* binary, RowCounts& counts) {
    const TwoLevelRows rows(binary);
    const auto height = static_cast<std::size_t>(rows.height());
    counts.fromColumn4.resize(height);
    counts.fromColumn8.resize(height);
    for (std::size_t y = 0; y < height; ++y) {
        const int row = static_cast<int>(y);
        const int edge = countDarkPixels(rows, row, kBandLeftColumn,
                                         std::min(2 * kBandLeftColumn, rows.width()));
        counts.fromColumn8[y] = countDarkPixels(rows, row, 2 * kBandLeftColumn, rows.width());
        counts.fromColumn4[y] = edge + counts.fromColumn8[y];
    }
}

bool isBackgroundRow(int darkFromColumn4, int width) {
    return darkFromColumn4 > kBackgroundRatio * width;
}

BandEdges findBandEdges(const int* darkFromColumn4, int width, int height) {
    // Walk in from each edge over background rows. The bottom walk may end past the top row;
    // the top walk stops at row 0 at the latest.
    BandEdges edges;
    int y = 0;
    while (y < height && isBackgroundRow(darkFromColumn4[y], width)) ++y;
    edges.bottom = height - y;
    y = height - 1;
    while (y > 0 && isBackgroundRow(darkFromColumn4[y], width)) --y;
    edges.top = height - y;
    return edges;
}

StepFailure bandProblem(int width, const BandEdges& edges) {
    if (width <= kBandLeftColumn)
        return "is too narrow: " + std::to_string(width) + (width == 1 ? " pixel" : " pixels") +
               " wide, but the board band needs at least " + std::to_string(kBandLeftColumn + 1);
    if (edges.height() == 0)
        return "has no board band: only one of its rows is not dark background";
    return std::nullopt;
}

void stretchRows(std::vector<int>& rows, int stretch) {
    if (stretch <= 1) return;
    const std::size_t height = rows.size();
    rows.resize(height * static_cast<std::size_t>(stretch));
    // From the top down, so that no count is overwritten before it is copied.
    for (std::size_t y = height; y-- > 0;)
        std::fill_n(rows.begin() + static_cast<std::ptrdiff_t>(y * stretch), stretch, rows[y]);
}

void findBandEdges(CountingState& state) {
    state.width = state.dibBinary.width();
    state.height = state.dibBinary.height();
    countRows(state.dibBinary.get(), state.rowsAtThreshold);
    findBandEdgesInRows(state);
}

void findBandEdgesInRows(CountingState& state) {
    const std::vector<int>& dark = state.rowsAtThreshold.fromColumn4;
    fitProfile(state.bandProfile, state.height);
    for (std::size_t y = 0; y < dark.size(); ++y)
        state.bandProfile[y] = isBackgroundRow(dark[y], state.width) ? state.width : dark[y];
    const BandEdges edges = findBandEdges(dark.data(), state.width, state.height);
    state.bandTop = edges.top;
    state.bandBottom = edges.bottom;
}

Bitmap cutBand(const CountingState& state, FIBITMAP* binary) {
    const BandEdges edges{state.bandTop, state.bandBottom};
    return copyTwoLevel(binary, kBandLeftColumn, edges.firstRow(),
                        static_cast<int>(FreeImage_GetWidth(binary)), edges.endRow());
}

StepFailure cutBandFromBinary(CountingState& state) {
    if (auto problem = bandProblem(state.width, {state.bandTop, state.bandBottom})) return problem;
    state.dibBand = cutBand(state, state.dibBinary.get());
    if (!state.dibBand) return "the board band could not be cut out (out of memory?)";
    state.width = state.dibBand.width();
    state.height = state.dibBand.height();
    return std::nullopt;
}

BandCounts bandCounts(const BandEdges& edges, int photographWidth, int photographHeight,
                      const BandRowCounts& atThreshold, const BandRowCounts& atLaterThreshold) {
    const int lowest = photographHeight - edges.endRow();
    auto bandRows = [lowest](const BandRowCounts& rows) {
        return BandRowCounts{rows.trim + lowest, rows.line + lowest};
    };
    return {photographWidth - kBandLeftColumn, edges.height(), bandRows(atThreshold),
            bandRows(atLaterThreshold)};
}

}  // namespace lathmark
