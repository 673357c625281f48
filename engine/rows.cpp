#include "engine/rows.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace lathmark {

int bitsSetPortable(std::uint64_t word) {
    word = word - ((word >> 1) & 0x5555555555555555ULL);
    word = (word & 0x3333333333333333ULL) + ((word >> 2) & 0x3333333333333333ULL);
    word = (word + (word >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<int>((word * 0x0101010101010101ULL) >> 56);
}

namespace {

// Light pixels (set bits) in columns [from, to) of one scanline; the leftmost column is the
// most significant bit of the first byte. `Popcount` says whether the processor's popcount
// instruction counts the bits of a word.
template <bool Popcount>
inline __attribute__((always_inline)) int countLightBits(const BYTE* line, int from, int to) {
    auto bitsSet = [](std::uint64_t word) {
        if constexpr (Popcount)
            return __builtin_popcountll(word);
        else
            return bitsSetPortable(word);
    };
    const int firstByte = from >> 3;
    const int lastByte = (to - 1) >> 3;
    const unsigned headMask = 0xFFu >> (from & 7);
    const unsigned tailMask = (0xFFu << (7 - ((to - 1) & 7))) & 0xFFu;
    if (firstByte == lastByte) return bitsSet(line[firstByte] & headMask & tailMask);

    int light = bitsSet(line[firstByte] & headMask);
    int byte = firstByte + 1;
    for (; byte + 8 <= lastByte; byte += 8) {
        std::uint64_t word;
        std::memcpy(&word, line + byte, sizeof word);
        light += bitsSet(word);
    }
    for (; byte < lastByte; ++byte) light += bitsSet(line[byte]);
    return light + bitsSet(line[lastByte] & tailMask);
}

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
__attribute__((target("popcnt"))) int countLightBitsByInstruction(const BYTE* line, int from,
                                                                  int to) {
    return countLightBits<true>(line, from, to);
}
bool popcountAvailable() {
    static const bool available = __builtin_cpu_supports("popcnt");
    return available;
}
#else
int countLightBitsByInstruction(const BYTE* line, int from, int to) {
    return countLightBits<false>(line, from, to);
}
bool popcountAvailable() {
    return false;
}
#endif

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
    const BYTE* line = rows.row(y);
    const int light = popcountAvailable() ? countLightBitsByInstruction(line, fromColumn, toColumn)
                                          : countLightBits<false>(line, fromColumn, toColumn);
    return (toColumn - fromColumn) - light;
}

void whitenRow(const TwoLevelRows& rows, int y) {
    fillRow(rows, y, true);
}
void blackenRow(const TwoLevelRows& rows, int y) {
    fillRow(rows, y, false);
}

}  // namespace lathmark
