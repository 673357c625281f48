#pragma once
// The batch counter's commands: the options as read, the settings they give, and what it does
// with them: count a batch (or a watched folder), or calibrate. main.cpp reads the options and
// hands them here.

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/session.h"
#include "engine/settings.h"

namespace lathmark {

// Exit statuses.
inline constexpr int kAllCounted = 0;
inline constexpr int kSomeFailed = 1;
inline constexpr int kUsageError = 2;
inline constexpr int kSomeUncertain = 3;  // with --strict

struct Options {
    std::optional<std::string> settingsFile;
    std::optional<int> bdLine;
    std::optional<int> threshold;
    std::optional<int> stretch;
    bool json = false;
    bool csv = false;
    std::optional<std::string> reportFile;
    bool quiet = false;
    std::optional<std::string> markedFolder;
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    bool stability = false;
    bool noSelfCheck = false;
    bool strict = false;
    std::optional<std::string> region;  // WxH+X+Y, or "full"
    std::optional<std::string> thickness;
    std::optional<std::string> angle;
    std::optional<std::string> truth;  // a TRUTH file or a journal
    bool trustCounts = false;
    bool findRegion = false;
    std::optional<std::string> writeSettingsFile;
    std::optional<std::string> landscapeFile;
    std::optional<std::string> journalFile;
    std::optional<std::string> watchFolder;
    std::vector<std::string> arguments;
};

// The settings in effect, and where they came from.
struct SettingsInEffect {
    lathmark::Settings settings;
    std::optional<std::filesystem::path> file;  // the settings file read, if one was
    std::string doubt;  // why every count with them may be wrong (settings_file.h)
};

// The settings file beside the executable, as the window reads it.
std::filesystem::path defaultSettingsPath();

// The settings file's, with each option given over its own key (--bdline, --threshold,
// --stretch, --region, --thickness); the file's other keys are kept. Without the file beside
// the executable, --bdline and --threshold together are enough. What could be read of a file
// with mistakes is used, and every count is then marked uncertain (the doubt), unless each
// mistake concerns a key an option gives. Nothing (after a word) where no file can be read and
// the options do not make settings alone. Problems are always printed; warnings unless --quiet.
std::optional<SettingsInEffect> settingsInEffect(const Options& options);

// Counts the photographs the options name (or, with --watch, those of the folder) and prints
// them; the exit status.
int countBatch(const Options& options, const SettingsInEffect& inEffect, StandardOutput& out);

// Finds the settings that count the photographs of --calibrate's TRUTH file or journal right and
// prints them; the exit status.
int calibrateSettings(const Options& options, const Settings& settings, StandardOutput& out);

// Makes `writer` ready to write `file`, named `named` in messages: its temporary file is made,
// so that a file that cannot be written is known before anything is counted. False, with a
// message, if it cannot be.
bool ready(std::optional<FileWriter>& writer, const std::filesystem::path& file,
           const std::string& named);

}  // namespace lathmark
