#include "cli/report_html.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <numbers>
#include <system_error>

#include "cli/texts.h"
#include "engine/preparation.h"

namespace lathmark {
namespace {

namespace fs = std::filesystem;

// The colour of each pass's stripes, and of the band's edges.
constexpr const char* kPassColours[kPassCount] = {"#1565c0", "#ef6c00", "#2e7d32", "#8e24aa"};
constexpr const char* kEdgeColour = "#d50000";

// The margin left of each photograph, for the board numbers, as a share of its width.
constexpr double kMarginShare = 0.08;

const char* kStyle = R"(
body{font:15px/1.45 system-ui,sans-serif;margin:1.5em;color:#1a1a1a;background:#fff}
h1{font-size:1.5em;margin:0 0 .4em}
h2{font-size:1.15em;margin:1.8em 0 .2em;overflow-wrap:anywhere}
dl{display:grid;grid-template-columns:max-content 1fr;gap:.1em 1em;margin:.3em 0}
dt{font-weight:600}
dd{margin:0;overflow-wrap:anywhere}
p{margin:.2em 0}
.figure{position:relative;width:100%;margin:.5em 0}
.figure img{display:block;height:auto}
.figure .turned{position:relative;overflow:hidden}
.figure .turned img{position:absolute;left:50%;top:50%;image-orientation:from-image}
.figure svg{position:absolute;left:0;top:0;width:100%;height:100%;overflow:visible}
.edge{stroke-width:2px;vector-effect:non-scaling-stroke}
.joint{fill-opacity:.45}
.board{fill:#1a1a1a;font-family:system-ui,sans-serif;text-anchor:end;dominant-baseline:central}
.legend{list-style:none;padding:0;margin:.3em 0;display:flex;flex-wrap:wrap;gap:.2em 1.4em}
.swatch{display:inline-block;width:1.1em;height:.8em;margin-right:.4em;vertical-align:-.05em;opacity:.75}
.swatch.edge{height:0;border-top-width:2px;border-top-style:solid;opacity:1;vertical-align:.25em}
.warning{background:#fff3cd;padding:.2em .5em}
.uncertain{background:#ffe0b2;border-left:.4em solid #e65100;padding:.3em .6em;font-weight:600}
section.uncertain h2{color:#e65100}
.region{fill:none;stroke:#ffd600;stroke-width:2px;stroke-dasharray:8 4;vector-effect:non-scaling-stroke}
.error{color:#a00000;font-weight:600}
)";

// The style sheet, with each pass's colour and the edges'.
std::string styleSheet() {
    std::string css = kStyle;
    for (int pass = 0; pass < kPassCount; ++pass) {
        const std::string colour = kPassColours[pass];
        css += ".pass" + std::to_string(pass + 1) + "{fill:" + colour + ";background:" + colour +
               "}\n";
    }
    css += std::string(".edge{stroke:") + kEdgeColour + ";border-color:" + kEdgeColour + "}\n";
    return css;
}

// Appends the code point `c` as UTF-8.
void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The code point that starts at text[i] and its length in bytes, or nothing for a byte that
// starts no valid UTF-8 sequence (overlong forms, surrogates and values past U+10FFFF too).
std::optional<std::pair<std::uint32_t, std::size_t>> decodeUtf8(std::string_view text,
                                                                std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return std::pair{std::uint32_t{lead}, std::size_t{1}};
    std::size_t length = 0;
    std::uint32_t c = 0;
    std::uint32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1Fu, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0Fu, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07u, least = 0x10000;
    } else {
        return std::nullopt;
    }
    if (i + length > text.size()) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (byte(i + k) & 0x3Fu);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    return std::pair{c, length};
}

// Characters a page may not hold as text: controls, and the noncharacters.
bool unfitForPage(std::uint32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xFDD0 && c <= 0xFDEF) ||
           (c & 0xFFFE) == 0xFFFE;
}

std::string number(double value, const char* format = "%.4g") {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string attribute(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + value + "\"";
}

std::string attribute(const char* name, long long value) {
    return attribute(name, std::to_string(value));
}

std::string localTime(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) return "an unknown time";
    char text[64];
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local) == 0)
        return "an unknown time";
    return text;
}

std::string plural(long long count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// "12 boards, lines 11 + 0 + 0 + 0, 8.1 ms" and, with a THICKNESS, the thickness count, and with
// its stability ranges, what they are.
std::string factsText(const PhotographOutcome& outcome) {
    const auto& p = outcome.passLines;
    return plural(outcome.boards(), "board", "boards") + ", lines " + std::to_string(p[0]) + " + " +
           std::to_string(p[1]) + " + " + std::to_string(p[2]) + " + " + std::to_string(p[3]) +
           ", " + tenthsText(outcome.milliseconds) + " ms" +
           certaintySentence(outcome.certainty, outcome.stable);
}

// The photograph's <img> in a figure `share` percent wide after a margin of `margin` percent. A
// browser turns a photograph as its Exif orientation says (`image-orientation` cannot stop it
// for an image of another origin, as every file is to a page opened from disk), but the overlay
// is drawn to the stored pixels: so a turned photograph is laid out turned in a box of the
// stored proportions, then turned back, and shows as stored.
std::string photographImage(const std::string& attributes, int width, int height, int orientation,
                            double margin, double share) {
    const std::string place =
        "margin-left:" + number(margin, "%.4f") + "%;width:" + number(share, "%.4f") + "%";
    if (orientation == 1) return "<img" + attributes + attribute("style", place) + "/>\n";
    // The transform that undoes each orientation (5 and 7 swap the axes, as 6 and 8 turn them).
    static const char* const kUndo[9] = {"",
                                         "",
                                         "scaleX(-1)",
                                         "rotate(180deg)",
                                         "scaleY(-1)",
                                         "rotate(90deg) scaleY(-1)",
                                         "rotate(-90deg)",
                                         "rotate(90deg) scaleX(-1)",
                                         "rotate(90deg)"};
    const bool across = orientation >= 5;
    const double boxWidth = across ? 100.0 * height / width : 100.0;
    const double boxHeight = across ? 100.0 * width / height : 100.0;
    return "<div class=\"turned\"" +
           attribute("style", place + ";aspect-ratio:" + std::to_string(width) + "/" +
                                  std::to_string(height)) +
           "><img" + attributes +
           attribute("style", "width:" + number(boxWidth, "%.4f") +
                                  "%;height:" + number(boxHeight, "%.4f") +
                                  "%;transform:translate(-50%,-50%) " + kUndo[orientation]) +
           "/></div>\n";
}

// The overlay of one counted photograph, in its pixel grid with the margin left of it.
// `name` and `url` are ready for the page.
std::string overlay(const PhotographOutcome& outcome, const std::string& name,
                    const std::string& url) {
    const int width = outcome.photographWidth;
    const int height = outcome.photographHeight;
    const int margin = std::max(24, static_cast<int>(std::ceil(width * kMarginShare)));
    const int whole = width + margin;
    const int firstRow = std::min(outcome.band.top, outcome.band.bottom);
    const int endRow = std::max(outcome.band.top, outcome.band.bottom);
    // With STRETCH, rows are the stretched photograph's: drawn over the photograph itself.
    const double stretch = std::max(1, outcome.stretch);
    auto at = [stretch](double row) {
        const double shown = row / stretch;
        return shown == std::floor(shown) ? std::to_string(static_cast<long long>(shown))
                                          : number(shown, "%.2f");
    };

    // Board i lies between joint i - 1 (or the band's top) and joint i (or its bottom).
    std::vector<std::pair<int, int>> boards;  // first row and end row of each
    int upper = firstRow;
    for (const Joint& joint : outcome.joints) {
        boards.emplace_back(upper, joint.top);
        upper = joint.bottom + 1;
    }
    boards.emplace_back(upper, endRow);
    // Numbers of one size, that of a board of middling thickness; a thinner board's smaller,
    // so that each stays between its joints.
    std::vector<int> thickness;
    for (const auto& [from, to] : boards) thickness.push_back(std::max(1, to - from));
    std::nth_element(thickness.begin(), thickness.begin() + thickness.size() / 2, thickness.end());
    const double fontSize =
        std::clamp(0.8 * thickness[thickness.size() / 2] / stretch, 4.0, 0.4 * margin);

    // Joints and band edges lie across the counted part: the region, or the whole width.
    const Region part = outcome.region.value_or(Region{0, 0, width, height});
    const double imageShare = 100.0 * width / whole;
    std::string html = "<div class=\"figure\"" +
                       attribute("style", "max-width:" + std::to_string(whole) + "px") + ">\n";
    html += photographImage(
        attribute("src", url) + attribute("width", width) + attribute("height", height) +
            attribute("alt", "photograph " + name) + attribute("loading", "lazy"),
        width, height, exifOrientation(outcome.file), 100.0 - imageShare, imageShare);
    html += "<svg xmlns=\"http://www.w3.org/2000/svg\"" +
            attribute("viewBox", std::to_string(-margin) + " 0 " + std::to_string(whole) + " " +
                                     std::to_string(height)) +
            attribute("data-width", width) + attribute("data-height", height) + ">\n";
    const int left = outcome.region ? part.left : -margin;
    const int right = part.left + part.width;
    const std::string regionBox =
        outcome.region ? "<rect" + attribute("class", "region") + attribute("x", part.left) +
                             attribute("y", part.top) + attribute("width", part.width) +
                             attribute("height", part.height) + "/>\n"
                       : std::string();
    // Along a slope the rows were read along lines of that slope through the counted part, each
    // column moved up or down from its middle (of the whole photograph, where the stack was
    // found in it, and the region found is one along the slope too): the joints, edges and
    // numbers are drawn so.
    if (!outcome.regionFound) html += regionBox;
    if (outcome.angleHundredths && *outcome.angleHundredths != 0) {
        const double slope = std::tan(*outcome.angleHundredths / 100.0 * std::numbers::pi / 180.0);
        const double middle =
            outcome.regionFound ? (width - 1) / 2.0 : part.left + (part.width - 1) / 2.0;
        html += "<g" +
                attribute("transform", "matrix(1 " + number(-slope, "%.6f") + " 0 1 0 " +
                                           number(slope * middle, "%.3f") + ")") +
                ">\n";
    }
    if (outcome.regionFound) html += regionBox;
    for (const Joint& joint : outcome.joints)
        html += "<rect" + attribute("class", "joint pass" + std::to_string(joint.pass)) +
                attribute("data-pass", joint.pass) + attribute("data-top", joint.top) +
                attribute("data-bottom", joint.bottom) + attribute("x", left) +
                attribute("y", at(joint.top)) + attribute("width", right - left) +
                attribute("height", at(joint.bottom - joint.top + 1)) + "/>\n";
    for (const auto& [edge, row] : {std::pair{"top", firstRow}, std::pair{"bottom", endRow}})
        html += "<line" + attribute("class", std::string("edge ") + edge) + attribute("x1", left) +
                attribute("x2", right) + attribute("y1", at(row)) + attribute("y2", at(row)) +
                "/>\n";
    html += "<g class=\"board\">";
    for (std::size_t i = 0; i < boards.size(); ++i)
        html += "<text" + attribute("x", number(-0.12 * margin, "%.1f")) +
                attribute("font-size",
                          number(std::clamp(0.8 * (boards[i].second - boards[i].first) / stretch,
                                            4.0, fontSize),
                                 "%.1f")) +
                attribute("y", at((boards[i].first + boards[i].second) / 2.0)) + ">" +
                std::to_string(i + 1) + "</text>";
    html += "</g>\n";
    if (outcome.angleHundredths && *outcome.angleHundredths != 0) html += "</g>\n";
    html += "</svg>\n</div>\n";

    html += "<ul class=\"legend\">";
    for (int pass = 1; pass <= kPassCount; ++pass)
        html += "<li><span class=\"swatch pass" + std::to_string(pass) + "\"></span>pass " +
                std::to_string(pass) + ": " +
                plural(outcome.passLines[static_cast<std::size_t>(pass - 1)], "line", "lines") +
                "</li>";
    html += "<li><span class=\"swatch edge\"></span>band edges: rows " + std::to_string(firstRow) +
            " to " + std::to_string(endRow - 1) +
            (outcome.stretch > 1 ? " of the photograph with each row taken " +
                                       std::to_string(outcome.stretch) + " times (STRETCH)"
                                 : std::string()) +
            "</li></ul>\n";
    return html;
}

}  // namespace

std::string htmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto decoded = decodeUtf8(text, i);
        if (!decoded || unfitForPage(decoded->first)) {
            appendUtf8(out, 0xFFFD);
            i += decoded ? decoded->second : 1;
            continue;
        }
        switch (decoded->first) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out.append(text.substr(i, decoded->second));
        }
        i += decoded->second;
    }
    return out;
}

std::string relativeUrl(const fs::path& file, const fs::path& pageFolder) {
    std::error_code error;
    fs::path absolute = fs::absolute(file, error);
    if (error) absolute = file;
    fs::path relative = absolute.lexically_normal().lexically_relative(pageFolder);
    if (relative.empty()) relative = absolute.lexically_normal();
    static const char* kHex = "0123456789ABCDEF";
    std::string url;
    for (const char c : relative.generic_string()) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            url += c;
        } else {
            url += '%';
            url += kHex[b >> 4];
            url += kHex[b & 0xF];
        }
    }
    return url;
}

HtmlReport::HtmlReport(fs::path file, std::vector<ReportSetting> settings)
    : file_(std::move(file)),
      settings_(std::move(settings)),
      started_(std::chrono::system_clock::now()),
      startedSteady_(std::chrono::steady_clock::now()) {
    std::error_code error;
    const fs::path absolute = fs::absolute(file_, error);
    folder_ = (error ? file_ : absolute).lexically_normal().parent_path();
}

void HtmlReport::add(const PhotographOutcome& outcome) {
    const int index = counted_ + failed_ + 1;
    const std::string name = htmlText(outcome.file);
    std::string& html = sections_;
    const char* kind = outcome.error                 ? "photograph failed"
                       : outcome.certainty.uncertain ? "photograph uncertain"
                                                     : "photograph";
    html += "<section" + attribute("class", kind) +
            attribute("id", "photograph-" + std::to_string(index)) + attribute("data-file", name) +
            ">\n<h2>" + std::to_string(index) + ". " + name + "</h2>\n";
    if (outcome.error) {
        ++failed_;
        html += "<p class=\"error\">Not counted: " + htmlText(*outcome.error) + "</p>\n";
        if (!outcome.warning.empty())
            html += "<p class=\"warning\">Warning: " + htmlText(outcome.warning) + "</p>\n";
        html += "</section>\n";
        return;
    }
    ++counted_;
    boards_ += outcome.boards();
    if (outcome.certainty.uncertain) {
        uncertain_.push_back(index);
        html += "<p class=\"uncertain\">Uncertain: " + htmlText(outcome.certainty.why) +
                ". Look at the stripes below; recalibrate with this photograph in the TRUTH "
                "file if the count is wrong.</p>\n";
    }
    html += "<p class=\"facts\"" + attribute("data-boards", outcome.boards()) + ">" +
            htmlText(factsText(outcome)) + "</p>\n";
    if (!outcome.warning.empty())
        html += "<p class=\"warning\">Warning: " + htmlText(outcome.warning) + "</p>\n";
    html += overlay(outcome, name, htmlText(relativeUrl(outcome.file, folder_)));
    html += "</section>\n";
}

std::string HtmlReport::page() const {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - startedSteady_).count();
    const std::string book =
        plural(boards_, "board", "boards") + " in " + plural(counted_, "photograph", "photographs");
    std::string html =
        "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n"
        "<meta charset=\"utf-8\"/>\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"/>\n"
        "<title>Lathmark: " +
        book + "</title>\n<style>" + styleSheet() + "</style>\n</head>\n<body>\n<header>\n";
    html += "<h1>Lathmark: " + book + "</h1>\n<dl>\n";
    html += "<dt>Book</dt><dd id=\"book\"" + attribute("data-boards", boards_) +
            attribute("data-photographs", counted_) + attribute("data-failed", failed_) + ">" +
            book + (failed_ > 0 ? "; " + std::to_string(failed_) + " could not be counted" : "") +
            "</dd>\n";
    if (!uncertain_.empty()) {
        html += "<dt>Uncertain</dt><dd id=\"uncertain\" class=\"uncertain\">" +
                std::to_string(uncertain_.size()) + " of " + std::to_string(counted_) +
                " photographs uncertain:";
        for (const int index : uncertain_)
            html += " <a" + attribute("href", "#photograph-" + std::to_string(index)) + ">" +
                    std::to_string(index) + "</a>";
        html += "</dd>\n";
    }
    html += "<dt>Counted</dt><dd id=\"time\">" + htmlText(localTime(started_)) + ", in " +
            number(seconds, seconds < 10 ? "%.2f" : "%.1f") + " s</dd>\n";
    for (const ReportSetting& setting : settings_)
        html += "<dt>" + htmlText(setting.name) + "</dt><dd class=\"setting\">" +
                htmlText(setting.value) + "</dd>\n";
    html +=
        "</dl>\n<p>Each photograph below shows the band the stack was found in between its "
        "edges, every counted joint as a stripe in the colour of the pass that found it, "
        "and its boards numbered from the top in the margin.</p>\n</header>\n<main>\n";
    html += sections_;
    html += "</main>\n</body>\n</html>\n";
    return html;
}

}  // namespace lathmark
