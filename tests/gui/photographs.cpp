#include "tests/gui/photographs.h"

#include <FreeImage.h>

#include <fstream>
#include <stdexcept>
#include <vector>

#include "tests/support/bitmaps.h"

namespace lathmark::test {
namespace {

void writeJpeg(const Bitmap& photo, const std::filesystem::path& file) {
    // Best quality, so the grey levels stay well clear of the threshold.
    if (!photo || !FreeImage_Save(FIF_JPEG, photo.get(), file.c_str(), JPEG_QUALITYSUPERB))
        throw std::runtime_error("cannot write the test photograph " + file.string());
}

std::vector<int> stackRows(const StackPhoto& photo) {
    std::vector<int> grey(static_cast<std::size_t>(photo.floorRows), StackPhoto::kDarkGrey);
    for (int board = 0; board < photo.boards; ++board) {
        if (board > 0) grey.insert(grey.end(), StackPhoto::kJointRows, StackPhoto::kDarkGrey);
        grey.insert(grey.end(), StackPhoto::kBoardRows, StackPhoto::kBoardGrey);
    }
    grey.insert(grey.end(), static_cast<std::size_t>(photo.wallRows), StackPhoto::kDarkGrey);
    return grey;
}

}  // namespace

void writeStack(const std::filesystem::path& file, const StackPhoto& photo) {
    writeJpeg(greyPhotograph(photo.width, stackRows(photo)), file);
}

void writeOneLightRow(const std::filesystem::path& file) {
    std::vector<int> grey(64, StackPhoto::kDarkGrey);
    grey[40] = 250;
    writeJpeg(greyPhotograph(64, grey), file);
}

void writeTooNarrow(const std::filesystem::path& file) {
    StackPhoto narrow;
    narrow.width = 4;
    writeJpeg(greyPhotograph(narrow.width, stackRows(narrow)), file);
}

void writeText(const std::filesystem::path& file) {
    std::ofstream(file) << "This is a shopping list, not a photograph.\n";
}

}  // namespace lathmark::test
