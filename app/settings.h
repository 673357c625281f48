#pragma once
// The window's settings: where its settings file lies, and what the window tells the operator of
// the file's problems. The file's own rules are the engine's (engine/settings_file.h). Free of Qt.

#include <filesystem>
#include <string>

#include "engine/settings_file.h"

namespace lathmark {

// The window's settings file: Lathmark.ini in the folder of the running executable, as
// settingsPathIn gives it.
std::filesystem::path defaultSettingsPath();

// The warning shown when the settings file `file` has problems or warnings: the problems, one a
// line, then the warnings, and the settings the window goes on with.
std::string settingsProblemsText(const std::filesystem::path& file, const SettingsRead& read);

}  // namespace lathmark
