#include "cli/landscape_svg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace lathmark {
namespace {

// Page layout, in SVG user units (pixels): one panel per STRETCH, two to a row, the legend on
// the right.
constexpr double kPlotWidth = 480;
constexpr double kRowHeight = 1.5;  // per grey level of THRESHOLD
constexpr double kPlotHeight = kRowHeight * kThresholds;
constexpr double kLeft = 80;    // page edge to the first panel's plot
constexpr double kTop = 50;     // page edge to the first row of panels
constexpr double kAcross = 90;  // between the panels of a row
constexpr double kDown = 100;   // between the rows of panels
constexpr double kRight = 220;  // room for the legend
constexpr double kBottom = 60;
constexpr int kPanelsPerRow = 2;

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string out = text;
    while (out.back() == '0') out.pop_back();
    if (out.back() == '.') out.pop_back();
    return out;
}

// A dark blue for settings that count none right, through green to yellow for those that count
// all but one; the settings that count every photograph right stand out in white.
std::string colourOf(int right, int photographs) {
    if (right >= photographs) return "#ffffff";
    static constexpr std::array<std::array<double, 3>, 5> kRamp{
        {{48, 18, 59}, {40, 90, 160}, {30, 155, 138}, {120, 200, 70}, {250, 220, 40}}};
    const double at = photographs <= 1 ? 0 : static_cast<double>(right) / (photographs - 1);
    const double scaled = at * (kRamp.size() - 1);
    const auto low =
        static_cast<std::size_t>(std::min<double>(std::floor(scaled), kRamp.size() - 2));
    const double part = scaled - static_cast<double>(low);
    char text[8];
    std::snprintf(
        text, sizeof text, "#%02x%02x%02x",
        static_cast<int>(std::lround(kRamp[low][0] + part * (kRamp[low + 1][0] - kRamp[low][0]))),
        static_cast<int>(std::lround(kRamp[low][1] + part * (kRamp[low + 1][1] - kRamp[low][1]))),
        static_cast<int>(std::lround(kRamp[low][2] + part * (kRamp[low + 1][2] - kRamp[low][2]))));
    return text;
}

// A step between ticks that gives at most about ten of them.
int tickStep(int span) {
    for (int step : {1, 2, 5, 10, 20, 25, 50, 100, 200, 250, 500, 1000, 2000, 5000, 10000})
        if (span / step <= 10) return step;
    return 20000;
}

class Page {
  public:
    explicit Page(const Calibration& calibration)
        : calibration_(calibration),
          columnWidth_(kPlotWidth / (calibration.bdLineMax + 1)),
          panelRows_((static_cast<int>(calibration.counts.size()) + kPanelsPerRow - 1) /
                     kPanelsPerRow) {}

    std::string draw() {
        const int columns =
            std::min<int>(kPanelsPerRow, static_cast<int>(calibration_.counts.size()));
        const double width = kLeft + columns * kPlotWidth + (columns - 1) * kAcross + kRight;
        const double height = kTop + panelRows_ * kPlotHeight + (panelRows_ - 1) * kDown + kBottom;
        out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        out_ += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(width) +
                "\" height=\"" + number(height) + "\" viewBox=\"0 0 " + number(width) + " " +
                number(height) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
        out_ += "<title>Photographs counted right at each setting</title>\n";
        out_ += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
        text(kLeft, 24,
             "Photographs of known count (" + std::to_string(calibration_.photographs) +
                 ") counted right at each setting",
             "start", "font-size=\"15\" font-weight=\"bold\"");
        for (int stretch = 1; stretch <= static_cast<int>(calibration_.counts.size()); ++stretch) {
            panel_ = stretch - 1;
            out_ += "<g id=\"stretch-" + std::to_string(stretch) + "\">\n";
            text(x(0), topOf() - 8, "STRETCH " + std::to_string(stretch), "start",
                 "font-weight=\"bold\"");
            cells(calibration_.counts[static_cast<std::size_t>(panel_)]);
            axes();
            if (calibration_.current.stretch == stretch)
                mark("current", calibration_.current.threshold, calibration_.current.bdLine,
                     "#d00000");
            if (calibration_.choice.settings.stretch == stretch)
                mark("chosen", calibration_.choice.settings.threshold,
                     calibration_.choice.settings.bdLine, "#000000");
            out_ += "</g>\n";
        }
        legend(kLeft + columns * (kPlotWidth + kAcross) - kAcross + 24);
        out_ += "</svg>\n";
        return std::move(out_);
    }

  private:
    // The current panel's plot: its left and top edges, and where a setting lies in it.
    double leftOf() const { return kLeft + (panel_ % kPanelsPerRow) * (kPlotWidth + kAcross); }
    double topOf() const { return kTop + (panel_ / kPanelsPerRow) * (kPlotHeight + kDown); }
    double x(double bdLine) const { return leftOf() + bdLine * columnWidth_; }
    // The top of the row of `threshold`.
    double y(double threshold) const {
        return topOf() + kPlotHeight - (threshold + 1) * kRowHeight;
    }

    void text(double atX, double atY, const std::string& words, const char* anchor,
              const std::string& extra = "") {
        out_ += "<text x=\"" + number(atX) + "\" y=\"" + number(atY) + "\" text-anchor=\"" +
                anchor + "\"" + (extra.empty() ? "" : " " + extra) + ">" + words + "</text>\n";
    }

    // One rectangle for each run of settings along a THRESHOLD row that count as many right.
    void cells(const RightCounts& counts) {
        out_ += "<g shape-rendering=\"crispEdges\">\n";
        for (int threshold = 0; threshold < kThresholds; ++threshold) {
            for (int from = 0; from <= counts.bdLineMax();) {
                const int right = counts.at(threshold, from);
                int to = from + 1;
                while (to <= counts.bdLineMax() && counts.at(threshold, to) == right) ++to;
                out_ += "<rect x=\"" + number(x(from)) + "\" y=\"" + number(y(threshold)) +
                        "\" width=\"" + number(x(to) - x(from)) + "\" height=\"" +
                        number(kRowHeight) + "\" fill=\"" +
                        colourOf(right, calibration_.photographs) + "\"/>\n";
                from = to;
            }
        }
        out_ += "</g>\n";
    }

    void axes() {
        const double bottom = topOf() + kPlotHeight;
        out_ += "<rect x=\"" + number(leftOf()) + "\" y=\"" + number(topOf()) + "\" width=\"" +
                number(kPlotWidth) + "\" height=\"" + number(kPlotHeight) +
                "\" fill=\"none\" stroke=\"#000000\"/>\n";
        const int bdLineMax = calibration_.bdLineMax;
        const int bdLineStep = tickStep(bdLineMax);
        for (int bdLine = 0; bdLine <= bdLineMax; bdLine += bdLineStep) {
            const double at = x(bdLine + 0.5);
            line(at, bottom, at, bottom + 5);
            text(at, bottom + 18, std::to_string(bdLine), "middle");
        }
        for (int threshold = 0; threshold <= Settings::kMaxThreshold; threshold += 25) {
            const double at = y(threshold) + kRowHeight / 2;
            line(leftOf() - 5, at, leftOf(), at);
            text(leftOf() - 8, at + 4, std::to_string(threshold), "end");
        }
        text(leftOf() + kPlotWidth / 2, bottom + 38, "BDLINE", "middle", "font-weight=\"bold\"");
        const double middle = topOf() + kPlotHeight / 2;
        const double labelX = leftOf() - 52;
        text(labelX, middle, "THRESHOLD", "middle",
             "font-weight=\"bold\" transform=\"rotate(-90 " + number(labelX) + " " +
                 number(middle) + ")\"");
    }

    void line(double x1, double y1, double x2, double y2) {
        out_ += "<line x1=\"" + number(x1) + "\" y1=\"" + number(y1) + "\" x2=\"" + number(x2) +
                "\" y2=\"" + number(y2) + "\" stroke=\"#000000\"/>\n";
    }

    // Swatches from every photograph right down to none; with many photographs, some counts
    // are left out between.
    void legend(double left) {
        const int photographs = calibration_.photographs;
        out_ += "<g id=\"legend\">\n";
        text(left, kTop + 4, "Counted right", "start", "font-weight=\"bold\"");
        const int step = std::max(1, (photographs + 11) / 12);
        double at = kTop + 16;
        for (int right = photographs; right >= 0; right -= step) {
            out_ += "<rect x=\"" + number(left) + "\" y=\"" + number(at) +
                    "\" width=\"16\" height=\"12\" stroke=\"#000000\" fill=\"" +
                    colourOf(right, photographs) + "\"/>\n";
            text(left + 22, at + 10, std::to_string(right) + " of " + std::to_string(photographs),
                 "start");
            at += 18;
        }
        at += 12;
        legendMark(left, at, "#000000", "chosen");
        legendMark(left, at + 18, "#d00000", "current");
        out_ += "</g>\n";
    }

    void legendMark(double left, double at, const char* colour, const char* what) {
        out_ += "<circle cx=\"" + number(left + 8) + "\" cy=\"" + number(at + 6) +
                "\" r=\"5\" fill=\"none\" stroke-width=\"2\" stroke=\"" + colour + "\"/>\n";
        text(left + 22, at + 10, std::string(what) + " settings", "start");
    }

    // A ring round a setting, with its values beside it; a setting beyond the BDLINE searched
    // is marked at the edge.
    void mark(const char* id, int threshold, int bdLine, const char* colour) {
        const int shownBdLine = std::clamp(bdLine, 0, calibration_.bdLineMax);
        const double cx = x(shownBdLine + 0.5);
        const double cy = y(threshold) + kRowHeight / 2;
        out_ += "<g id=\"" + std::string(id) + "\" data-threshold=\"" + std::to_string(threshold) +
                "\" data-bdline=\"" + std::to_string(bdLine) + "\">\n";
        out_ += "<circle cx=\"" + number(cx) + "\" cy=\"" + number(cy) +
                "\" r=\"7\" fill=\"none\" stroke=\"#ffffff\" stroke-width=\"4\"/>\n";
        out_ += "<circle cx=\"" + number(cx) + "\" cy=\"" + number(cy) +
                "\" r=\"7\" fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"2\"/>\n";
        const bool right = cx < leftOf() + kPlotWidth - 150;
        text(cx + (right ? 11 : -11), cy - 9,
             std::string(id) + ": THRESHOLD " + std::to_string(threshold) + ", BDLINE " +
                 std::to_string(bdLine),
             right ? "start" : "end",
             "fill=\"" + std::string(colour) +
                 "\" stroke=\"#ffffff\" stroke-width=\"3\" paint-order=\"stroke\"");
        out_ += "</g>\n";
    }

    const Calibration& calibration_;
    double columnWidth_;
    int panelRows_;
    int panel_ = 0;  // the panel being drawn: its STRETCH less 1
    std::string out_;
};

}  // namespace

std::string landscapeSvg(const Calibration& calibration) {
    return Page(calibration).draw();
}

}  // namespace lathmark
