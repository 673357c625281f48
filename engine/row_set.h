#pragma once
// A set of band rows, one bit per row: the rows a pass whitens, trims or finds as line rows.
// Rows outside 0 to rows()-1 are never members, so every scan ends at the band's top.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

namespace lathmark {

class RowSet {
  public:
    RowSet() = default;
    explicit RowSet(int rows) { reset(rows); }

    // Makes the set empty, with room for `rows` rows.
    void reset(int rows) {
        rows_ = rows > 0 ? rows : 0;
        words_.assign(static_cast<std::size_t>((rows_ + 63) / 64), 0);
    }
    // Makes every row a member.
    void fill() {
        clear();
        insert(0, rows_);
    }
    void clear() { words_.assign(words_.size(), 0); }

    int rows() const { return rows_; }
    bool contains(int y) const { return y >= 0 && y < rows_ && ((word(y) >> (y & 63)) & 1u) != 0; }
    void insert(int y) {
        if (y >= 0 && y < rows_) word(y) |= bit(y);
    }
    void erase(int y) {
        if (y >= 0 && y < rows_) word(y) &= ~bit(y);
    }
    // Rows [from, to), leaving out those outside the set's rows.
    void insert(int from, int to) { setRange(from, to, true); }
    void erase(int from, int to) { setRange(from, to, false); }

    // The first member at or above `from`, or rows() if there is none.
    int nextMember(int from) const { return next(from, 0); }
    // The first row at or above `from` that is no member, or rows() if there is none.
    int nextNonMember(int from) const { return next(from, ~std::uint64_t{0}); }

    // Members of `flags` outside `others`, and the rows of `others` as well where `othersToo`.
    void assignBlend(const RowSet& flags, const RowSet& others, bool othersToo) {
        const std::uint64_t keep = othersToo ? ~std::uint64_t{0} : 0;
        for (std::size_t i = 0; i < words_.size(); ++i)
            words_[i] = (flags.words_[i] & ~others.words_[i]) | (others.words_[i] & keep);
    }
    bool operator==(const RowSet& other) const = default;

  private:
    static std::uint64_t bit(int y) { return std::uint64_t{1} << (y & 63); }
    std::uint64_t& word(int y) { return words_[static_cast<std::size_t>(y >> 6)]; }
    std::uint64_t word(int y) const { return words_[static_cast<std::size_t>(y >> 6)]; }

    // The first row at or above `from` whose bit, flipped by `flip`, is set; rows() if none.
    int next(int from, std::uint64_t flip) const {
        if (from < 0) from = 0;
        if (from >= rows_) return rows_;
        std::size_t i = static_cast<std::size_t>(from >> 6);
        std::uint64_t bits = (words_[i] ^ flip) & (~std::uint64_t{0} << (from & 63));
        while (bits == 0) {
            if (++i == words_.size()) return rows_;
            bits = words_[i] ^ flip;
        }
        const int y = static_cast<int>(i * 64) + std::countr_zero(bits);
        return y < rows_ ? y : rows_;
    }

    void setRange(int from, int to, bool member) {
        if (from < 0) from = 0;
        if (to > rows_) to = rows_;
        for (int y = from; y < to;) {
            const int end = std::min(to, (y | 63) + 1);
            const std::uint64_t span = end - y == 64
                                           ? ~std::uint64_t{0}
                                           : ((std::uint64_t{1} << (end - y)) - 1) << (y & 63);
            if (member)
                word(y) |= span;
            else
                word(y) &= ~span;
            y = end;
        }
    }

    std::vector<std::uint64_t> words_;
    int rows_ = 0;
};

}  // namespace lathmark
