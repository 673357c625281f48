#include "cli/landscape_svg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace lathmark {
namespace {

// Page layout, in SVG user units (pixels).
constexpr double kPlotWidth = 768;
constexpr double kRowHeight = 2;  // per grey level of THRESHOLD
constexpr double kPlotHeight = kRowHeight * kThresholds;
constexpr double kLeft = 80;
constexpr double kTop = 50;
constexpr double kRight = 230;
constexpr double kBottom = 60;

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
        : calibration_(calibration), columnWidth_(kPlotWidth / (calibration.bdLineMax + 1)) {}

    double x(double bdLine) const { return kLeft + bdLine * columnWidth_; }
    // The top of the row of `threshold`.
    double y(double threshold) const { return kTop + kPlotHeight - (threshold + 1) * kRowHeight; }

    std::string draw() {
        const double width = kLeft + kPlotWidth + kRight;
        const double height = kTop + kPlotHeight + kBottom;
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
        cells();
        axes();
        legend();
        mark("current", calibration_.currentThreshold, calibration_.currentBdLine, "#d00000");
        mark("chosen", calibration_.choice.threshold, calibration_.choice.bdLine, "#000000");
        out_ += "</svg>\n";
        return std::move(out_);
    }

  private:
    void text(double atX, double atY, const std::string& words, const char* anchor,
              const std::string& extra = "") {
        out_ += "<text x=\"" + number(atX) + "\" y=\"" + number(atY) + "\" text-anchor=\"" +
                anchor + "\"" + (extra.empty() ? "" : " " + extra) + ">" + words + "</text>\n";
    }

    // One rectangle for each run of settings along a THRESHOLD row that count as many right.
    void cells() {
        const RightCounts& counts = calibration_.counts;
        out_ += "<g id=\"settings\" shape-rendering=\"crispEdges\">\n";
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
        const double bottom = kTop + kPlotHeight;
        out_ += "<g id=\"axes\" stroke=\"#000000\" fill=\"none\">\n";
        out_ += "<rect x=\"" + number(kLeft) + "\" y=\"" + number(kTop) + "\" width=\"" +
                number(kPlotWidth) + "\" height=\"" + number(kPlotHeight) + "\"/>\n";
        out_ += "</g>\n<g id=\"ticks\">\n";
        const int bdLineMax = calibration_.bdLineMax;
        const int bdLineStep = tickStep(bdLineMax);
        for (int bdLine = 0; bdLine <= bdLineMax; bdLine += bdLineStep) {
            const double at = x(bdLine + 0.5);
            line(at, bottom, at, bottom + 5);
            text(at, bottom + 18, std::to_string(bdLine), "middle");
        }
        for (int threshold = 0; threshold <= kMaxThreshold; threshold += 25) {
            const double at = y(threshold) + kRowHeight / 2;
            line(kLeft - 5, at, kLeft, at);
            text(kLeft - 8, at + 4, std::to_string(threshold), "end");
        }
        out_ += "</g>\n";
        text(kLeft + kPlotWidth / 2, bottom + 40, "BDLINE", "middle", "font-weight=\"bold\"");
        const double middle = kTop + kPlotHeight / 2;
        text(24, middle, "THRESHOLD", "middle",
             "font-weight=\"bold\" transform=\"rotate(-90 24 " + number(middle) + ")\"");
    }

    void line(double x1, double y1, double x2, double y2) {
        out_ += "<line x1=\"" + number(x1) + "\" y1=\"" + number(y1) + "\" x2=\"" + number(x2) +
                "\" y2=\"" + number(y2) + "\" stroke=\"#000000\"/>\n";
    }

    // Swatches from every photograph right down to none; with many photographs, some counts
    // are left out between.
    void legend() {
        const int photographs = calibration_.photographs;
        const double left = kLeft + kPlotWidth + 24;
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
        const bool right = cx < kLeft + kPlotWidth - 150;
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
    std::string out_;
};

}  // namespace

std::string landscapeSvg(const Calibration& calibration) {
    return Page(calibration).draw();
}

}  // namespace lathmark
