#include "engine/report.h"

#include <algorithm>
#include <memory>
#include <string_view>

#include "engine/files.h"
#include "engine/library_messages.h"
#include "engine/rows.h"
#include "engine/two_level.h"

namespace lathmark {

std::vector<Joint> jointsOf(const PassWork& work, const BandEdges& edges) {
    // Band row y, counted from the band's bottom row, is photograph row endRow - 1 - y.
    std::vector<Joint> joints;
    for (int pass = 0; pass < kPassCount; ++pass) {
        const RowSet& rows = work.lineRows[static_cast<std::size_t>(pass)];
        for (int start = rows.nextMember(0); start < rows.rows();) {
            const int end = rows.nextNonMember(start);
            joints.push_back({pass + 1, edges.endRow() - end, edges.endRow() - 1 - start});
            start = rows.nextMember(end);
        }
    }
    std::sort(joints.begin(), joints.end(), [](const Joint& a, const Joint& b) {
        return a.top != b.top ? a.top < b.top : a.pass < b.pass;
    });
    return joints;
}

Bitmap resultImage(const PassWork& work, const BandCounts& band, FIBITMAP* like) {
    Bitmap image = newTwoLevel(band.width, band.height, like);
    if (!image) return image;
    const TwoLevelRows rows(image.get());
    for (int y = 0; y < band.height; ++y) {
        const bool lineRow = std::any_of(work.lineRows.begin(), work.lineRows.end(),
                                         [y](const RowSet& found) { return found.contains(y); });
        if (lineRow)
            blackenRow(rows, y);
        else
            whitenRow(rows, y);
    }
    return image;
}

std::optional<std::string> writeBmp(FIBITMAP* dib, const std::filesystem::path& file) {
    namespace fs = std::filesystem;
    auto notWritten = [&file](const std::string& why) {
        return file.string() + " could not be written (" + why + ")";
    };
    // A pipe or device in the way would hold the writer up for ever, and a folder cannot be
    // overwritten; neither is replaced.
    std::error_code error;
    const fs::file_type type = fs::status(file, error).type();
    if (type != fs::file_type::regular && type != fs::file_type::not_found &&
        type != fs::file_type::none)
        return notWritten(type == fs::file_type::directory ? "a directory has that name"
                                                           : "it is not a regular file");

    const LibraryMessages messages;
    std::unique_ptr<FIMEMORY, decltype(&FreeImage_CloseMemory)> memory(FreeImage_OpenMemory(),
                                                                       &FreeImage_CloseMemory);
    BYTE* data = nullptr;
    DWORD size = 0;
    if (!memory || !FreeImage_SaveToMemory(FIF_BMP, dib, memory.get(), 0) ||
        !FreeImage_AcquireMemory(memory.get(), &data, &size)) {
        const std::string why = messages.text();
        return notWritten(why.empty() ? "the library could not make a BMP of it" : why);
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // An earlier result image is written over in place; writing a new file and renaming it
    // over the old one would cost a new inode, and the file system would push the new file to
    // disk at once. A reader at that moment, or a failure part way, can leave a half-written
    // file; the failure is reported.
    if (type == fs::file_type::regular)
        if (const std::optional<int> inPlace = writeInPlace(file, bytes))
            return *inPlace == 0 ? std::nullopt
                                 : std::optional<std::string>(notWritten(errnoText(*inPlace)));

    // A new file is written beside the target and renamed to its name, so that it appears
    // whole. Something else with the name (a symbolic link, a file with other names) is removed
    // just before the rename and so replaced, not written through.
    if (auto failure = writeWholeFile(file, bytes, type == fs::file_type::regular))
        return notWritten(*failure);
    return std::nullopt;
}

}  // namespace lathmark
