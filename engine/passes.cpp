#include "engine/passes.h"

namespace lathmark {
namespace {

// A trim-profile row above this share of the width is full, in every pass.
constexpr double kTrimFullRowRatio = 0.7;

// Rows lightened below the row where the scan meets a found line, and above its end.
constexpr int kMarginBelow = 9;
constexpr int kMarginAbove = 10;

// Smallest run of line rows that counts, wherever it lies; shorter runs count only when they
// start at row 0 or 1, or reach the band's top row.
constexpr int kShortestRun = 4;
constexpr int kLowestRemovedRun = 2;

}  // namespace

PassRules::PassRules(const PassParameters& parameters, int bandWidth, int bdLine)
    : width_(bandWidth),
      bdLine_(bdLine),
      trimMinimum_(parameters.trimProfileLineMinimum),
      fullTrimLimit_(kTrimFullRowRatio * bandWidth),
      trimLimit_(parameters.trimRatio * bdLine),
      fullRowLimit_(parameters.fullRowRatio * bandWidth),
      lineMinimum_(parameters.lineMinimumRatio * bdLine) {}

void flagRows(const PassRules& rules, const DarkPixels& rows, int height, PassRowFlags& flags) {
    flags.trims.reset(height);
    flags.lineRows.reset(height);
    for (int y = 0; y < height; ++y) {
        if (rules.trims(rows.fromColumn4[y])) flags.trims.insert(y);
        if (rules.isLineRow(rows.fromColumn8[y])) flags.lineRows.insert(y);
    }
    flags.blankTrims = rules.trims(0);
    flags.blankIsLine = rules.isLineRow(0);
}

void PassWork::reset(int height) {
    for (RowSet& rows : lineRows) rows.reset(height);
    lines = {};
    whitened.reset(height);
    trimmable.reset(height);
}

void lightenFoundLines(const PassWork& work, int pass, RowSet& whitened) {
    const int height = whitened.rows();
    whitened.clear();
    // Each earlier pass's first line row at or above the cursor, looked for again only once the
    // cursor has passed it: there is none between.
    std::array<int, kPassCount> nextOf{};
    nextOf.fill(-1);
    int y = 0;
    while (true) {
        // Rows where no earlier pass found a line only move the cursor on.
        int nextLine = height;
        for (int earlier = 0; earlier < pass; ++earlier) {
            int& next = nextOf[static_cast<std::size_t>(earlier)];
            if (next < y) next = work.lineRows[static_cast<std::size_t>(earlier)].nextMember(y);
            nextLine = std::min(nextLine, next);
        }
        y = nextLine;
        if (y >= height) return;
        for (int earlier = 0; earlier < pass; ++earlier) {
            const RowSet& found = work.lineRows[static_cast<std::size_t>(earlier)];
            if (!found.contains(y)) continue;
            const int end = found.nextNonMember(y);
            // The line's met rows, the margin below them and the margin from its end upwards.
            whitened.insert(y - kMarginBelow, end + kMarginAbove);
            // The later passes' rows are tested at this new row within the same step.
            y = end + kMarginAbove;
        }
        ++y;
    }
}

int removeShortRunsAndCount(RowSet& lineRows, int enough, int* rowsRead) {
    const int height = lineRows.rows();
    int runs = 0;
    for (int start = lineRows.nextMember(0); start < height;) {
        const int end = lineRows.nextNonMember(start);
        if (end - start < kShortestRun && start >= kLowestRemovedRun && end < height)
            lineRows.erase(start, end);
        else
            ++runs;
        if (runs > enough) {
            // The runs so far, and so the count, depend on no row above the one that ends the
            // last.
            if (rowsRead) *rowsRead = end;
            return runs;
        }
        start = lineRows.nextMember(end);
    }
    if (rowsRead) *rowsRead = height;
    return runs;
}

int runPass(int pass, const PassRowFlags& flags, PassWork& work) {
    RowSet& whitened = work.whitened;
    lightenFoundLines(work, pass, whitened);

    // The edge trims whiten the unbroken stacks of dark rows at the band's bottom and top, so
    // that a line touching an edge is never counted. The top trim never reaches row 0.
    work.trimmable.assignBlend(flags.trims, whitened, flags.blankTrims);
    const int height = whitened.rows();
    const int bottomEnd = work.trimmable.nextNonMember(0);
    int topStart = height - 1;
    while (topStart > 0 && work.trimmable.contains(topStart)) --topStart;
    whitened.insert(0, bottomEnd);
    whitened.insert(topStart + 1, height);

    RowSet& lineRows = work.lineRows[static_cast<std::size_t>(pass)];
    lineRows.assignBlend(flags.lineRows, whitened, flags.blankIsLine);
    const int lines = removeShortRunsAndCount(lineRows);
    work.lines[static_cast<std::size_t>(pass)] = lines;
    return lines;
}

PassLines countLines(const BandCounts& band, int bdLine, PassWork& work) {
    work.reset(band.height);
    PassRowFlags flags;
    for (int pass = 0; pass < kPassCount; ++pass) {
        const PassRules rules(kPasses[static_cast<std::size_t>(pass)], band.width, bdLine);
        flagRows(rules, passRows(band, pass), band.height, flags);
        runPass(pass, flags, work);
    }
    return work.lines;
}

}  // namespace lathmark
