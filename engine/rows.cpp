#include "engine/rows.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace lathmark {

namespace {

void fillRow(const TwoLevelRows& rows, int y, bool light) {
    if (!rows.contains(y)) return;
    BYTE* line = rows.row(y);
    const int wholeBytes = rows.width() >> 3;
    std::memset(line, light ? 0xFF : 0x00, static_cast<std::size_t>(wholeBytes));
    if (const int rest = rows.width() & 7) {
        const auto mask = static_cast<BYTE>(0xFFu << (8 - rest));
        line[wholeBytes] = light ? static_cast<BYTE>(line[wholeBytes] | mask)
                                 : static_cast<BYTE>(line[wholeBytes] & ~mask);
    }
}

}  // namespace

int countDarkPixels(const TwoLevelRows& rows, int y, int fromColumn, int toColumn) {
    if (!rows.contains(y) || fromColumn >= toColumn) return 0;
    // Light pixels are set bits; the leftmost column is the most significant bit of a byte.
    const BYTE* line = rows.row(y);
    const int firstByte = fromColumn >> 3;
    const int lastByte = (toColumn - 1) >> 3;
    const unsigned headMask = 0xFFu >> (fromColumn & 7);
    const unsigned tailMask = (0xFFu << (7 - ((toColumn - 1) & 7))) & 0xFFu;
    int light = 0;
    if (firstByte == lastByte) {
        light = std::popcount(line[firstByte] & headMask & tailMask);
    } else {
        light =
            std::popcount(line[firstByte] & headMask) + std::popcount(line[lastByte] & tailMask);
        for (int byte = firstByte + 1; byte < lastByte; ++byte) light += std::popcount(line[byte]);
    }
    return (toColumn - fromColumn) - light;
}

void countDarkRows(const TwoLevelRows& rows, int* fromColumn4, int* fromColumn8) {
    const int width = rows.width();
    for (int y = 0; y < rows.height(); ++y) {
        fromColumn8[y] = countDarkPixels(rows, y, 8, width);
        fromColumn4[y] = countDarkPixels(rows, y, 4, std::min(8, width)) + fromColumn8[y];
    }
}

void whitenRow(const TwoLevelRows& rows, int y) {
    fillRow(rows, y, true);
}
void blackenRow(const TwoLevelRows& rows, int y) {
    fillRow(rows, y, false);
}

}  // namespace lathmark
