#include "engine/report.h"

#include <chrono>

#include "engine/library_messages.h"
#include "engine/passes.h"
#include "engine/rows.h"

namespace lathmark {

void drawResultImage(CountingState& state) {
    const TwoLevelRows marked(state.dibBand.get());
    for (int y = 0; y < state.height; ++y) {
        bool lineRow = false;
        for (const PassParameters& pass : kPasses)
            lineRow = lineRow || entryAt(state.*pass.profile, y, state.height) > 0;
        if (lineRow)
            blackenRow(marked, y);
        else
            whitenRow(marked, y);
    }
}

std::optional<std::string> writeBmp(FIBITMAP* dib, const std::filesystem::path& file) {
    listenToLibraryMessages();
    clearLibraryMessages();
    if (FreeImage_Save(FIF_BMP, dib, file.c_str(), 0)) return std::nullopt;
    const std::string why = libraryMessages();
    return file.string() + " could not be written" + (why.empty() ? "" : " (" + why + ")");
}

std::string detectionMessage(long long boards) {
    return "Detected " + std::to_string(boards) + " obvious lines.";
}

std::string secondsText(std::uint32_t milliseconds, const std::string& separator) {
    // Hundredths of a second, rounded half up, in whole numbers so nothing is lost to floats.
    const std::uint64_t hundredths = (std::uint64_t{milliseconds} + 5) / 10;
    const std::uint64_t whole = hundredths / 100;
    const auto fraction = static_cast<unsigned>(hundredths % 100);
    std::string text = std::to_string(whole);
    if (fraction == 0) return text;
    text += separator;
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
    return text;
}

std::string processTimeCaption(std::uint32_t milliseconds, const std::string& separator) {
    return "Process Time: " + secondsText(milliseconds, separator) + " sec.";
}

std::uint32_t tickCount() {
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

}  // namespace lathmark
