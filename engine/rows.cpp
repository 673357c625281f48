#include "engine/rows.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace lathmark {
namespace {

// Light pixels (set bits) in columns [from, to) of one scanline; the leftmost column is the
// most significant bit of the first byte.
int countLightBits(const BYTE* line, int from, int to) {
    if (from >= to) return 0;
    const int firstByte = from >> 3;
    const int lastByte = (to - 1) >> 3;
    const unsigned headMask = 0xFFu >> (from & 7);
    const unsigned tailMask = (0xFFu << (7 - ((to - 1) & 7))) & 0xFFu;
    if (firstByte == lastByte) return std::popcount(line[firstByte] & headMask & tailMask);

    int light = std::popcount(line[firstByte] & headMask);
    int byte = firstByte + 1;
    for (; byte + 8 <= lastByte; byte += 8) {
        std::uint64_t word;
        std::memcpy(&word, line + byte, sizeof word);
        light += std::popcount(word);
    }
    for (; byte < lastByte; ++byte) light += std::popcount(static_cast<unsigned>(line[byte]));
    return light + std::popcount(line[lastByte] & tailMask);
}

bool isRowInside(FIBITMAP* dib, int y) {
    return y >= 0 && y < static_cast<int>(FreeImage_GetHeight(dib));
}

void fillRow(FIBITMAP* dib, int y, bool light) {
    if (!isRowInside(dib, y)) return;
    BYTE* line = FreeImage_GetScanLine(dib, y);
    const int width = static_cast<int>(FreeImage_GetWidth(dib));
    const int wholeBytes = width >> 3;
    std::memset(line, light ? 0xFF : 0x00, static_cast<std::size_t>(wholeBytes));
    if (const int rest = width & 7) {
        const auto mask = static_cast<BYTE>(0xFFu << (8 - rest));
        line[wholeBytes] = light ? static_cast<BYTE>(line[wholeBytes] | mask)
                                 : static_cast<BYTE>(line[wholeBytes] & ~mask);
    }
}

}  // namespace

int countDarkPixels(FIBITMAP* dib, int y, int fromColumn, int toColumn) {
    if (!isRowInside(dib, y) || fromColumn >= toColumn) return 0;
    return (toColumn - fromColumn) -
           countLightBits(FreeImage_GetScanLine(dib, y), fromColumn, toColumn);
}

void whitenRow(FIBITMAP* dib, int y) {
    fillRow(dib, y, true);
}
void blackenRow(FIBITMAP* dib, int y) {
    fillRow(dib, y, false);
}

void whitenRows(FIBITMAP* dib, int fromRow, int toRow) {
    const int height = static_cast<int>(FreeImage_GetHeight(dib));
    if (fromRow < 0) fromRow = 0;
    if (toRow > height) toRow = height;
    for (int y = fromRow; y < toRow; ++y) whitenRow(dib, y);
}

}  // namespace lathmark
