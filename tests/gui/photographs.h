#pragma once
// Photographs for the window's tests, written as JPEG files into the test's working folder:
// stacks with a known number of boards, and the broken ones a count must refuse.

#include <filesystem>

namespace lathmark::test {

// A stack seen edge on, drawn in grey: `floorRows` dark rows at the bottom, `boards` light
// boards of 30 rows parted by dark joints of 5 rows, and `wallRows` dark rows at the top.
struct StackPhoto {
    int width = 320;
    int boards = 4;
    int floorRows = 30;
    int wallRows = 50;

    int height() const {
        return floorRows + boards * kBoardRows + (boards - 1) * kJointRows + wallRows;
    }
    // The board band the count cuts out: from the lowest stack row up to, not including, the
    // highest, and from column 4 to the right edge.
    int bandWidth() const { return width - 4; }
    int bandHeight() const { return boards * kBoardRows + (boards - 1) * kJointRows - 1; }

    static constexpr int kBoardRows = 30;
    static constexpr int kJointRows = 5;
    static constexpr int kDarkGrey = 35;
    static constexpr int kBoardGrey = 205;
};

void writeStack(const std::filesystem::path& file, const StackPhoto& photo);

// Every row dark background except one light row: the band between them has no rows.
void writeOneLightRow(const std::filesystem::path& file);

// A proper stack photograph only 4 pixels wide: nothing is left right of the excluded columns.
void writeTooNarrow(const std::filesystem::path& file);

// A file with a .jpg name that holds text.
void writeText(const std::filesystem::path& file);

}  // namespace lathmark::test
