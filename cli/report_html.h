#pragma once
// The batch counter's report: one HTML page for a whole batch, for an operator to check each
// count against its photograph. At the top the settings, the book and the time of the batch;
// then a section per photograph in argument order, with its photograph under an SVG overlay
// drawn to the photograph's pixel grid: the band's edges, each counted joint as a stripe in its
// pass's colour and the boards numbered in the margin. Each photograph shows as stored, as the
// count saw it, whatever orientation its Exif data gives. The page needs nothing but itself and
// the photographs, which it names by paths relative to itself: no scripts, nothing fetched.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/batch.h"

namespace lathmark {

// One line of the settings in effect, as "BDLINE" and "40".
struct ReportSetting {
    std::string name;
    std::string value;
};

class HtmlReport {
  public:
    // A report to be written to `file` (which only places the photographs' paths); the batch's
    // time starts now.
    HtmlReport(std::filesystem::path file, std::vector<ReportSetting> settings);

    // Adds the section of the next photograph.
    void add(const PhotographOutcome& outcome);

    // The whole page, with the book of every photograph added so far.
    std::string page() const;

  private:
    std::filesystem::path file_;
    std::filesystem::path folder_;  // the page's own folder, made absolute
    std::vector<ReportSetting> settings_;
    std::chrono::system_clock::time_point started_;
    std::chrono::steady_clock::time_point startedSteady_;
    std::string sections_;
    long long boards_ = 0;
    int counted_ = 0;
    int failed_ = 0;
    std::vector<int> uncertain_;  // numbers of the uncertain photographs' sections
};

// `text` for an HTML text or attribute: invalid UTF-8 and control characters become U+FFFD,
// and & < > " ' their character references.
std::string htmlText(std::string_view text);

// The URL, relative to a page in `pageFolder` (absolute), of the file `file` (absolute or
// relative to the working folder): every byte other than letters, digits, - . _ ~ and / is
// percent-encoded.
std::string relativeUrl(const std::filesystem::path& file, const std::filesystem::path& pageFolder);

}  // namespace lathmark
