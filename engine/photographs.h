#pragma once
// Which photographs a folder offers: its "*.jpg" entries (letter case ignored) that are regular
// files or links to them, sorted by name ignoring case. The window's file list and the batch
// counter's folder arguments show the same entries.

#include <filesystem>
#include <string>
#include <vector>

namespace lathmark {

std::vector<std::string> listPhotographs(const std::filesystem::path& folder);

}  // namespace lathmark
