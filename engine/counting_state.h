#pragma once
// The data a count hands from stage to stage (see engine/README.md): what it sees of a photograph,
// each row's dark pixels at two thresholds; the band of rows the stack occupies; and the joints it
// found. Rows count from the bottom row of the photograph up, as the library's scanlines do, except
// where a comment says "from the top".

#include <algorithm>
#include <vector>

namespace lathmark {

// Dark pixels of consecutive rows, the lowest first: from photograph column 4 on (the band's whole
// width) and from column 8 on (the band's columns where the passes look for line pixels).
struct DarkPixels {
    const int* fromColumn4 = nullptr;
    const int* fromColumn8 = nullptr;

    // The same rows from `rows` rows higher up.
    DarkPixels above(int rows) const { return {fromColumn4 + rows, fromColumn8 + rows}; }
};

// All that a count sees of a photograph: each row's dark pixels at THRESHOLD and at THRESHOLD + 10.
// With STRETCH above 1 every photograph row appears STRETCH times in a row. The counts are held
// here, or borrowed from a table of them that outlives this (see landscape.h); either way a
// RowCounts is moved, never copied, as its pointers may lead into its own storage.
struct RowCounts {
    int width = 0;   // of the photograph
    int height = 0;  // rows, each photograph row counted STRETCH times
    DarkPixels atThreshold;
    DarkPixels atLaterThreshold;

    RowCounts() = default;
    RowCounts(RowCounts&&) = default;
    RowCounts& operator=(RowCounts&&) = default;
    RowCounts(const RowCounts&) = delete;
    RowCounts& operator=(const RowCounts&) = delete;

    // Room for the counts of `height` rows, held here; `fill` gives the four arrays to write:
    // at THRESHOLD from columns 4 and 8, then at THRESHOLD + 10 from columns 4 and 8.
    static RowCounts held(int width, int height) {
        RowCounts rows;
        rows.width = width;
        rows.height = height;
        const auto size = static_cast<std::size_t>(std::max(0, height));
        rows.storage_.assign(4 * size, 0);
        int* base = rows.storage_.data();
        rows.atThreshold = {base, base + size};
        rows.atLaterThreshold = {base + 2 * size, base + 3 * size};
        return rows;
    }
    // The held array `which` (0 to 3, in the order above), for filling.
    int* fill(int which) {
        return storage_.data() +
               static_cast<std::size_t>(which) * static_cast<std::size_t>(std::max(0, height));
    }

  private:
    std::vector<int> storage_;
};

// The band's edges, counted from the top of the photograph: the band is the rows from firstRow()
// to endRow() - 1 (the edges may be found in either order).
struct BandEdges {
    int top = 0;
    int bottom = 0;
    int firstRow() const { return std::min(top, bottom); }
    int endRow() const { return std::max(top, bottom); }
    int height() const { return endRow() - firstRow(); }
};

// What the passes see of the band: its size, and its rows' dark pixels at both thresholds (band
// row 0 is its lowest row).
struct BandCounts {
    int width = 0;  // W: the photograph's width less the 4 columns left of the band
    int height = 0;
    DarkPixels atThreshold;       // pass 1
    DarkPixels atLaterThreshold;  // passes 2 to 4
};

// The band of rows the stack occupies. Its counts point into the RowCounts it was found in.
struct Band {
    BandEdges edges;
    BandCounts counts;
};

// One counted line: a run of line rows of one pass, in rows from the top of the photograph.
struct Joint {
    int pass = 0;    // 1 to 4
    int top = 0;     // its first row
    int bottom = 0;  // its last row
};

}  // namespace lathmark
