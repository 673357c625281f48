// Reader of Lathmark.ini: lines of key=value, three keys, no sections or comments.
//
// The reader is strict about the keys and forgiving about everything else: an unknown line is
// skipped without a word, but a recognised key whose value cannot be used is reported with the
// file, the line and the reason, and the key keeps what it had. Reading always goes on to the
// end of the file, so one bad line never hides the problems of the lines after it.

#include "engine/settings_file.h"

#include <cstddef>
#include <cstdint>
#include <optional>

#include "engine/files.h"

namespace lathmark {
namespace {

// A settings file is a few short lines; anything bigger is some other file.
constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;

// A value quoted in a problem is cut to this many bytes so that a runaway line does not turn
// into a runaway message.
constexpr std::size_t kMaxQuotedBytes = 40;

constexpr std::string_view kBdLineKey = "BDLINE";
constexpr std::string_view kThresholdKey = "THRESHOLD";
constexpr std::string_view kStretchKey = "STRETCH";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
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

// The text between double quotes, safe to print: backslash and quote are escaped, control
// bytes and bytes above 0x7E become \xNN, and a long text is cut with "...".
std::string quoted(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    const bool cut = text.size() > kMaxQuotedBytes;
    for (char c : text.substr(0, kMaxQuotedBytes)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte > 0x7E) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    if (cut) out += "...";
    out += '"';
    return out;
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
        if (number == 1 && text.starts_with(kByteOrderMark)) {
            problem(number,
                    "the file begins with a UTF-8 byte-order mark, so the key of line 1 is not "
                    "recognised; save the file without it");
        }

        // Key is the text before the first "="; value runs to the second "=" or the line end.
        const std::size_t firstEq = text.find('=');
        const std::string key = asciiUpper(text.substr(0, firstEq));
        int* field = nullptr;
        std::string_view name;
        if (key == kBdLineKey) {
            field = &result_.settings.bdLine;
            name = kBdLineKey;
        } else if (key == kThresholdKey) {
            field = &result_.settings.threshold;
            name = kThresholdKey;
        } else if (key == kStretchKey) {
            field = &result_.settings.stretch;
            name = kStretchKey;
        } else {
            return;  // not one of ours: skipped without a word
        }

        if (firstEq == std::string_view::npos) {
            problem(number, std::string(name) + " has no \"=\" and no value");
            return;
        }
        const std::string_view rest = text.substr(firstEq + 1);
        const std::string_view value = rest.substr(0, rest.find('='));

        const ParsedValue parsed = parseValue(value);
        switch (parsed.status) {
            case ValueStatus::Empty:
                problem(number, std::string(name) + " has an empty value");
                return;
            case ValueStatus::NotANumber:
                problem(number, std::string(name) + " value " + quoted(value) + " is not a number");
                return;
            case ValueStatus::OutOfRange:
                problem(number, std::string(name) + " value " + quoted(value) + " is outside " +
                                    std::to_string(kSmallestValue) + ".." +
                                    std::to_string(kLargestValue));
                return;
            case ValueStatus::Ok:
                break;
        }
        *field = parsed.value;

        // The value is kept, so the program runs with what the file says, but counting will
        // refuse it; better to say why now than to let the operator wonder later.
        if (field == &result_.settings.threshold && thresholdProblem(parsed.value)) {
            problem(number, "THRESHOLD " + std::to_string(parsed.value) +
                                ": the passes at THRESHOLD + 10 need a grey level 0..255, so "
                                "THRESHOLD must be " +
                                std::to_string(Settings::kMinThreshold) + ".." +
                                std::to_string(Settings::kMaxThreshold));
        }
        if (field == &result_.settings.stretch && stretchProblem(parsed.value)) {
            problem(number, "STRETCH " + std::to_string(parsed.value) +
                                ": each photograph row is repeated STRETCH times, " +
                                std::to_string(Settings::kMinStretch) + " to " +
                                std::to_string(Settings::kMaxStretch));
        }
    }

    SettingsRead take() { return std::move(result_); }

  private:
    void problem(std::size_t number, const std::string& what) {
        result_.problems.push_back(fileName_ + ":" + std::to_string(number) + ": " + what);
    }

    const std::string& fileName_;
    SettingsRead result_;
};

}  // namespace

SettingsRead parseSettings(std::string_view text, const std::string& fileName) {
    Parser parser(fileName);
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
        return read;
    }
    return parseSettings(text, file.string());
}

std::string settingsText(const Settings& settings) {
    std::string text = std::string(kBdLineKey) + "=" + std::to_string(settings.bdLine) + "\n" +
                       std::string(kThresholdKey) + "=" + std::to_string(settings.threshold) + "\n";
    if (settings.stretch != 1)
        text += std::string(kStretchKey) + "=" + std::to_string(settings.stretch) + "\n";
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
