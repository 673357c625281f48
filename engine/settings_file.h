#pragma once
// The settings file, Lathmark.ini: lines of key=value read into Settings, and Settings written
// back as such a file. Both faces read it by these rules.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/settings.h"

namespace lathmark {

// What reading the file gave: the settings as far as they could be read, every problem found
// on the way, each naming the file, the line and what is wrong, and the warnings: what makes
// the file likely not to say what was meant, though nothing in it is wrong by the rules (a
// skipped line whose key is close to a setting's, no BDLINE or no THRESHOLD, a file that is not
// single-byte text), each naming the file and, where there is one, the line. The reader never
// stops at a problem; a key whose value is refused keeps its earlier value. Warnings are for
// the operator to read; a program goes on after them.
struct SettingsRead {
    Settings settings;
    std::vector<std::string> problems;
    std::vector<std::string> warnings;
    // Each problem and warning again, with the key it concerns ("THRESHOLD" for a line
    // "TRESHOLD=117" as for "THRESHOLD=abc"), or none where it concerns the whole file: every one
    // is a mistake that may make a count with these settings wrong.
    struct Mistake {
        std::string key;
        std::string text;
    };
    std::vector<Mistake> mistakes;
    bool unreadable = false;  // the file could not be read at all

    bool ok() const { return problems.empty(); }
};

// Why every count made with what was read may be wrong, in words that name the file and the
// line: the first mistake that does not concern one of `replacedKeys` (keys given some other
// way, as the batch counter's options give them), and how many more there are; empty where
// there is none.
std::string settingsDoubt(const SettingsRead& read, const std::vector<std::string>& replacedKeys);

// Reads `file`. A file that cannot be opened gives one problem and the initial settings.
SettingsRead readSettings(const std::filesystem::path& file);

// Reads settings from text already in memory; `fileName` is only used in the problems.
SettingsRead parseSettings(std::string_view text, const std::string& fileName);

// The settings as a settings file: a line BDLINE=..., a line THRESHOLD=..., and a line
// STRETCH=... where it is not 1; LF line ends.
std::string settingsText(const Settings& settings);

// Writes `settings` to `file`, whole or not at all, or to the file it leads to where `file` is a
// symbolic link; says why it could not, if it could not (a BDLINE no settings file holds among
// the reasons).
std::optional<std::string> writeSettings(const std::filesystem::path& file,
                                         const Settings& settings);

// The folder of the running executable, whatever the working directory.
std::filesystem::path executableFolder();

// `file`, or where it is a symbolic link, the file the link leads to in the end.
std::filesystem::path followLinks(const std::filesystem::path& file);

// "Lathmark.ini" in `folder`. Where that is a symbolic link, as the Debian package makes it
// (the file itself is a conffile in /etc/lathmark/), the file the link leads to, so that every
// message names the file the operator edits.
std::filesystem::path settingsPathIn(const std::filesystem::path& folder);

}  // namespace lathmark
