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
    auto notWritten = [&file](const std::string& why) {
        return file.string() + " could not be written (" + why + ")";
    };
    // Made first, so that a name that cannot be written is known before the image is made: a
    // pipe or device in the way would hold the writer up for ever, and is never replaced. An
    // earlier image is removed just before the new one takes its name: renamed over it, the new
    // one would be written out to disk at once, which costs more than the count that made it.
    FileWriter writer(file, FileWriter::Replacing::RemovingTheOldFirst);
    if (writer.failure()) return notWritten(*writer.failure());

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
    if (auto failure = writer.commit(std::string_view(reinterpret_cast<const char*>(data), size)))
        return notWritten(*failure);
    return std::nullopt;
}

}  // namespace lathmark
