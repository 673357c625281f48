// Reader of Lathmark.ini: lines of key=value, the keys of one table, no sections.
//
// The reader is strict about the keys and forgiving about everything else: a line that is not
// one of the keys is skipped, but a recognised key whose value cannot be used is reported with
// the file, the line and the reason, and the key keeps what it had. Reading always goes on to
// the end of the file, so one bad line never hides the problems of the lines after it. What
// makes a file likely not to say what was meant is a warning, not a problem: a skipped line
// whose key is close to one of the keys, a file without BDLINE or THRESHOLD, and a file that is
// not single-byte text. Lines that start with "#" are comments, skipped without a word.

#include "engine/settings_file.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <utility>

#include "engine/files.h"
#include "engine/text.h"

namespace lathmark {
namespace {

// A settings file is a few short lines; anything bigger is some other file.
constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;

// A key longer than this is no key mistyped.
constexpr std::size_t kMaxQuotedBytes = 40;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// What a key's value is checked against beyond being a 16-bit whole number: why counting
// would refuse it, in words that follow the value, or nothing.
using ValueCheck = std::optional<std::string> (*)(int value);

std::optional<std::string> thresholdUnusable(int value) {
    if (!thresholdProblem(value)) return std::nullopt;
    return "the passes at THRESHOLD + 10 need a grey level 0..255, so THRESHOLD must be " +
           std::to_string(Settings::kMinThreshold) + ".." + std::to_string(Settings::kMaxThreshold);
}

std::optional<std::string> stretchUnusable(int value) {
    if (!stretchProblem(value)) return std::nullopt;
    return "each photograph row is repeated STRETCH times, " +
           std::to_string(Settings::kMinStretch) + " to " + std::to_string(Settings::kMaxStretch);
}

// Keys whose value is no whole number: reading one sets the settings or says why it cannot (the
// setting then keeps what it had); writing one gives its text, or nothing where it is what a file
// without it gives.
struct ValueRules {
    std::optional<std::string> (*read)(std::string_view value, Settings& settings);
    std::optional<std::string> (*text)(const Settings& settings);
};

constexpr ValueRules kRegionRules{
    [](std::string_view value, Settings& settings) -> std::optional<std::string> {
        if (value == kFoundRegionText) {
            settings.region.reset();
            settings.regionFound = true;
            return std::nullopt;
        }
        const RegionParsed parsed = parseRegion(value);
        if (!parsed.region) return parsed.problem;
        settings.region = parsed.region;
        settings.regionFound = false;
        return std::nullopt;
    },
    [](const Settings& settings) -> std::optional<std::string> {
        if (settings.regionFound) return std::string(kFoundRegionText);
        if (!settings.region) return std::nullopt;
        return regionText(*settings.region);
    }};

constexpr ValueRules kThicknessRules{
    [](std::string_view value, Settings& settings) -> std::optional<std::string> {
        const ThicknessParsed parsed = parseThickness(value);
        if (!parsed.hundredths) return parsed.problem;
        settings.thicknessHundredths = *parsed.hundredths;
        return std::nullopt;
    },
    [](const Settings& settings) -> std::optional<std::string> {
        if (settings.thicknessHundredths == 0) return std::nullopt;
        return hundredthsText(settings.thicknessHundredths);
    }};

constexpr ValueRules kAngleRules{
    [](std::string_view value, Settings& settings) -> std::optional<std::string> {
        const AngleParsed parsed = parseAngle(value);
        if (!parsed.angle) return parsed.problem;
        settings.angle = *parsed.angle;
        return std::nullopt;
    },
    [](const Settings& settings) -> std::optional<std::string> {
        if (settings.angle.level()) return std::nullopt;
        return angleText(settings.angle);
    }};

constexpr ValueRules kWatchRules{
    [](std::string_view value, Settings& settings) -> std::optional<std::string> {
        if (value != "0" && value != "1") return quoted(value) + " is neither 0 (off) nor 1 (on)";
        settings.watch = value == "1";
        return std::nullopt;
    },
    [](const Settings& settings) -> std::optional<std::string> {
        if (!settings.watch) return std::nullopt;
        return "1";
    }};

// Every key a settings file may hold: the setting it sets (a whole number, or one with rules of
// its own), whether a file without it gets a warning (the setting then stays 0), and the check of
// its value. The reader, its warnings and the writer take the keys from here, so a new key is one
// more line.
struct Key {
    std::string_view name;
    int Settings::*field;
    bool expected;
    ValueCheck unusable;
    const ValueRules* rules = nullptr;
};

constexpr Key kKeys[] = {
    {"BDLINE", &Settings::bdLine, true, nullptr},
    {"THRESHOLD", &Settings::threshold, true, thresholdUnusable},
    {"STRETCH", &Settings::stretch, false, stretchUnusable},
    {"REGION", nullptr, false, nullptr, &kRegionRules},
    {"THICKNESS", nullptr, false, nullptr, &kThicknessRules},
    {"ANGLE", nullptr, false, nullptr, &kAngleRules},
    {"WATCH", nullptr, false, nullptr, &kWatchRules},
};

// Byte-order marks of encodings other than single-byte text, longest first where one begins
// another. A UTF-8 one is a problem of its own (it hides the first key).
constexpr std::pair<std::string_view, std::string_view> kOtherByteOrderMarks[] = {
    {std::string_view("\xFF\xFE\x00\x00", 4), "UTF-32"},
    {std::string_view("\x00\x00\xFE\xFF", 4), "UTF-32"},
    {"\xFF\xFE", "UTF-16"},
    {"\xFE\xFF", "UTF-16"},
    {"+/v8", "UTF-7"},
    {"+/v9", "UTF-7"},
    {"+/v+", "UTF-7"},
    {"+/v/", "UTF-7"},
    {"\xF7\x64\x4C", "UTF-1"},
    {"\xDD\x73\x66\x73", "UTF-EBCDIC"},
    {"\x0E\xFE\xFF", "SCSU"},
    {"\xFB\xEE\x28", "BOCU-1"},
    {"\x84\x31\x95\x33", "GB 18030"},
};

// The edits (a byte put in, left out, changed, or two neighbours swapped) that turn `a` into
// `b`, counted up to `most` + 1.
std::size_t editsBetween(std::string_view a, std::string_view b, std::size_t most) {
    if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > most) return most + 1;
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return std::min(d[a.size()][b.size()], most + 1);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Upper-cases ASCII letters only: the keys are ASCII, and the bytes of any other code page
// must not be touched by a locale-dependent mapping.
std::string asciiUpper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

enum class ValueStatus { Ok, Empty, NotANumber, OutOfRange };

struct ParsedValue {
    ValueStatus status = ValueStatus::Empty;
    int value = 0;
};

// Every key holds a 16-bit signed whole number, as BDLINE does.
constexpr int kSmallestValue = Settings::kMinBdLine;
constexpr int kLargestValue = Settings::kMaxBdLine;

// Reads a value as a 16-bit signed whole number: blanks around it, an optional sign, digits
// with an optional fractional part ("12.", ".5" and "12.5" all count, "." alone does not).
// The fraction is rounded to the nearest integer, halves to even, by looking at the decimal
// digits themselves, so no binary floating point can shift a half. The range is checked after
// rounding.
ParsedValue parseValue(std::string_view raw) {
    std::string_view text = trimBlanks(raw);
    if (text.empty()) return {ValueStatus::Empty, 0};

    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }

    std::size_t pos = 0;
    while (pos < text.size() && isDigit(text[pos])) ++pos;
    std::string_view whole = text.substr(0, pos);
    std::string_view fraction;
    if (pos < text.size() && text[pos] == '.') {
        const std::size_t start = ++pos;
        while (pos < text.size() && isDigit(text[pos])) ++pos;
        fraction = text.substr(start, pos - start);
    }
    if (pos != text.size() || (whole.empty() && fraction.empty())) {
        return {ValueStatus::NotANumber, 0};
    }

    // Leading zeros say nothing; past five significant digits the number is at least 100000,
    // far outside the range whatever the rounding, and is never converted (so a line of a
    // million digits cannot overflow anything).
    while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
    if (whole.size() > 5) return {ValueStatus::OutOfRange, 0};
    std::int32_t magnitude = 0;
    for (char c : whole) magnitude = magnitude * 10 + (c - '0');

    if (!fraction.empty()) {
        const char first = fraction.front();
        const bool restIsZero = fraction.substr(1).find_first_not_of('0') == std::string_view::npos;
        const bool roundUp = first > '5' || (first == '5' && !restIsZero) ||
                             (first == '5' && restIsZero && magnitude % 2 == 1);
        if (roundUp) ++magnitude;
    }

    const std::int32_t value = negative ? -magnitude : magnitude;
    if (value < kSmallestValue || value > kLargestValue) return {ValueStatus::OutOfRange, 0};
    return {ValueStatus::Ok, value};
}

// Cuts the text into lines at LF, dropping one CR before it. A line break after the last line
// does not start another line, so "A\n" is one line and "A\n\n" is two, the second empty.
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
    }
    return lines;
}

class Parser {
  public:
    explicit Parser(const std::string& fileName) : fileName_(fileName) {}

    void line(std::size_t number, std::string_view text) {
        const bool byteOrderMark = number == 1 && text.starts_with(kByteOrderMark);
        if (byteOrderMark) {
            problem(number,
                    "the file begins with a UTF-8 byte-order mark, so the key of line 1 is not "
                    "recognised; save the file without it",
                    {});
        }
        if (!nulSeen_ && text.find('\0') != std::string_view::npos) {
            nulSeen_ = true;
            if (!encodingWarned_)
                warning(":" + std::to_string(number) +
                            ": the line holds a NUL byte, so the file is not single-byte text "
                            "(UTF-16 or UTF-32?) and its lines are not read as meant; save it as "
                            "plain text",
                        {});
        }

        // Key is the text before the first "="; value runs to the second "=" or the line end.
        const std::size_t firstEq = text.find('=');
        const std::string_view written = text.substr(0, firstEq);
        const std::string key = asciiUpper(written);
        const Key* found = nullptr;
        for (const Key& candidate : kKeys)
            if (key == candidate.name) found = &candidate;
        if (found == nullptr) {
            // Not one of ours: skipped, with a word where it looks like one mistyped.
            if (!byteOrderMark && !text.starts_with('#')) nearMiss(number, written);
            return;
        }
        seen_[static_cast<std::size_t>(found - kKeys)] = true;
        const std::string name(found->name);

        if (firstEq == std::string_view::npos) {
            problem(number, name + " has no \"=\" and no value", name);
            return;
        }
        const std::string_view rest = text.substr(firstEq + 1);
        const std::string_view value = rest.substr(0, rest.find('='));

        if (found->rules) {
            if (trimBlanks(value).empty())
                problem(number, name + " has an empty value", name);
            else if (auto why = found->rules->read(trimBlanks(value), result_.settings))
                problem(number, name + " " + *why, name);
            return;
        }
        const ParsedValue parsed = parseValue(value);
        switch (parsed.status) {
            case ValueStatus::Empty:
                problem(number, name + " has an empty value", name);
                return;
            case ValueStatus::NotANumber:
                problem(number, name + " value " + quoted(value) + " is not a number", name);
                return;
            case ValueStatus::OutOfRange:
                problem(number,
                        name + " value " + quoted(value) + " is outside " +
                            std::to_string(kSmallestValue) + ".." + std::to_string(kLargestValue),
                        name);
                return;
            case ValueStatus::Ok:
                break;
        }
        result_.settings.*found->field = parsed.value;

        // The value is kept, so the program runs with what the file says, but counting will
        // refuse it; better to say why now than to let the operator wonder later.
        if (found->unusable)
            if (auto why = found->unusable(parsed.value))
                problem(number, name + " " + std::to_string(parsed.value) + ": " + *why, name);
    }

    // A file in another encoding than single-byte text, known by its byte-order mark.
    void encoding(std::string_view text) {
        for (const auto& [mark, name] : kOtherByteOrderMarks) {
            if (!text.starts_with(mark)) continue;
            encodingWarned_ = true;
            warning(": the file begins with a " + std::string(name) +
                        " byte-order mark, so it is not single-byte text and its lines are not "
                        "read as meant; save it as plain text",
                    {});
            return;
        }
    }

    SettingsRead take() {
        for (std::size_t i = 0; i < std::size(kKeys); ++i)
            if (kKeys[i].expected && !seen_[i] && kKeys[i].field)
                warning(": no line sets " + std::string(kKeys[i].name) + ", so it is " +
                            std::to_string(result_.settings.*kKeys[i].field),
                        std::string(kKeys[i].name));
        return std::move(result_);
    }

  private:
    // `key`: the setting the mistake concerns; empty for the whole file.
    void problem(std::size_t number, const std::string& what, const std::string& key) {
        result_.problems.push_back(fileName_ + ":" + std::to_string(number) + ": " + what);
        result_.mistakes.push_back({key, result_.problems.back()});
    }

    // `what` starts with ":" and a line number, or with ": " for the whole file.
    void warning(const std::string& what, const std::string& key) {
        result_.warnings.push_back(fileName_ + what);
        result_.mistakes.push_back({key, result_.warnings.back()});
    }

    // Warns of a skipped line whose key is one of ours with blanks around it or a letter or
    // two amiss ("TRESHOLD"), or one of ours followed by something other than "=".
    void nearMiss(std::size_t number, std::string_view written) {
        const std::string key = asciiUpper(trimBlanks(written));
        if (key.empty() || key.size() > 2 * kMaxQuotedBytes) return;
        for (const Key& candidate : kKeys) {
            const std::size_t allowed = candidate.name.size() >= 7 ? 2 : 1;
            const bool close =
                key == candidate.name || editsBetween(key, candidate.name, allowed) <= allowed ||
                (key.starts_with(candidate.name) &&
                 !std::isalnum(static_cast<unsigned char>(key[candidate.name.size()])));
            if (!close) continue;
            std::string what = quoted(written) + " is not a setting";
            if (key == candidate.name) what += " (blanks around a key make it another key)";
            warning(":" + std::to_string(number) + ": " + what +
                        ", so the line is skipped; did you mean " + std::string(candidate.name) +
                        "?",
                    std::string(candidate.name));
            return;
        }
    }

    const std::string& fileName_;
    SettingsRead result_;
    bool seen_[std::size(kKeys)] = {};
    bool nulSeen_ = false;
    bool encodingWarned_ = false;
};

}  // namespace

SettingsRead parseSettings(std::string_view text, const std::string& fileName) {
    Parser parser(fileName);
    parser.encoding(text);
    const std::vector<std::string_view> lines = splitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) parser.line(i + 1, lines[i]);
    return parser.take();
}

SettingsRead readSettings(const std::filesystem::path& file) {
    std::string text;
    if (auto failure = readWholeFile(file, kMaxFileBytes, text)) {
        SettingsRead read;
        const bool tooLarge = failure->kind == ReadFailure::Kind::TooLarge;
        read.problems.push_back(file.string() + ": " + textFileFailure(*failure, kMaxFileBytes) +
                                (tooLarge ? "; not a settings file" : ""));
        read.mistakes.push_back({{}, read.problems.back()});
        read.unreadable = true;
        return read;
    }
    return parseSettings(text, file.string());
}

std::string settingsDoubt(const SettingsRead& read, const std::vector<std::string>& replacedKeys) {
    std::vector<const std::string*> left;
    for (const SettingsRead::Mistake& mistake : read.mistakes)
        if (mistake.key.empty() ||
            std::find(replacedKeys.begin(), replacedKeys.end(), mistake.key) == replacedKeys.end())
            left.push_back(&mistake.text);
    if (left.empty()) return {};
    std::string doubt = "the settings file has a mistake: " + *left.front();
    if (left.size() > 1) doubt += " (and " + std::to_string(left.size() - 1) + " more)";
    return doubt;
}

std::string settingsText(const Settings& settings) {
    // The keys a file needs, and the others where they are not what a file without them gives.
    std::string text;
    for (const Key& key : kKeys) {
        if (key.rules) {
            if (auto value = key.rules->text(settings))
                text += std::string(key.name) + "=" + *value + "\n";
        } else if (key.expected || settings.*key.field != Settings{}.*key.field) {
            text += std::string(key.name) + "=" + std::to_string(settings.*key.field) + "\n";
        }
    }
    return text;
}

std::optional<std::string> writeSettings(const std::filesystem::path& file,
                                         const Settings& settings) {
    // A value the file cannot hold would be read back as another, or as none.
    if (auto problem = bdLineProblem(settings.bdLine))
        return file.string() + " could not be written: " + *problem;
    // Through a link, such as the one beside the installed programs, to the file it leads to:
    // the link stays, and the settings the programs read are the ones written.
    if (auto failure = writeWholeFile(followLinks(file), settingsText(settings)))
        return file.string() + " could not be written (" + *failure + ")";
    return std::nullopt;
}

std::filesystem::path executableFolder() {
    // The kernel's link to the running executable; unlike argv[0] it does not depend on how
    // or from where the program was started. Should /proc be missing, the folder is empty and
    // the settings path becomes the bare file name, relative to the working directory.
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return exe.parent_path();
}

std::filesystem::path followLinks(const std::filesystem::path& file) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::is_symlink(file, error)) return file;
    const fs::path target = fs::read_symlink(file, error);
    if (error) return file;
    // Resolves the rest of the way, through further links and "..", as far as the folders
    // exist; a link to a missing file still names where that file should be. A loop of links
    // gives an error here and is left to the reader, whose message then names the loop.
    const fs::path resolved = fs::weakly_canonical(file.parent_path() / target, error);
    return error || resolved.empty() ? file : resolved;
}

std::filesystem::path settingsPathIn(const std::filesystem::path& folder) {
    return followLinks(folder / "Lathmark.ini");
}

}  // namespace lathmark
