#pragma once
// The settings of Lathmark and the reader of the settings file that lies beside the
// executable. Free of Qt: the window and the batch counter share it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lathmark {

struct Settings {
    std::int16_t bdLine = 0;          // BDLINE: dark pixels a row needs to be part of a line
    std::int16_t thresholdLevel = 0;  // THRESHOLD: grey level that separates dark from light
    std::int16_t stretch = 1;         // STRETCH: times each photograph row is repeated, 1 to 4
};

// What reading the file gave: the settings as far as they could be read, and every problem
// found on the way, each naming the file, the line and what is wrong. The reader never stops
// at a problem; a key whose value is refused keeps its earlier value.
struct SettingsRead {
    Settings settings;
    std::vector<std::string> problems;

    bool ok() const { return problems.empty(); }
};

// Reads `file`. A file that cannot be opened gives one problem and the initial settings.
SettingsRead readSettings(const std::filesystem::path& file);

// Reads settings from text already in memory; `fileName` is only used in the problems.
SettingsRead parseSettings(std::string_view text, const std::string& fileName);

// The settings as a settings file: a line BDLINE=..., a line THRESHOLD=..., and a line
// STRETCH=... where it is not 1; LF line ends.
std::string settingsText(const Settings& settings);

// Writes `settings` to `file`, whole or not at all, or to the file it leads to where `file` is a
// symbolic link; says why it could not, if it could not.
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

// The settings file in the folder of the running executable, as settingsPathIn gives it.
std::filesystem::path defaultSettingsPath();

}  // namespace lathmark
