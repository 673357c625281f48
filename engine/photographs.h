#pragma once
// Which photographs a folder offers: its "*.jpg" entries (letter case ignored) that are regular
// files or links to them, sorted by name ignoring case. The window's file list shows these; the
// batch counter takes every "*.jpg" entry of a folder argument, in the same order, and says of
// each one that is not a photograph why.

#include <filesystem>
#include <string>
#include <vector>

namespace lathmark {

std::vector<std::string> listPhotographs(const std::filesystem::path& folder);

// Every "*.jpg" entry of a folder, whatever it is (a link to nothing among them), in the same
// order: what a watched folder offers to be looked at.
std::vector<std::string> jpgEntries(const std::filesystem::path& folder);

// Why a name cannot be a photograph where the count's own words would mislead: a symbolic link
// whose target does not exist would be "a file that does not exist", though the name is there.
// Empty for anything else.
std::string brokenLink(const std::filesystem::path& file);

// Why a photograph is not counted in a book that holds its image: "already counted as FILE".
std::string alreadyCountedReason(const std::string& file);

// Whether a file name ends in ".jpg", letter case ignored.
bool isJpgName(const std::string& name);

// Sorts file names as the lists above are sorted: ignoring case, and by their bytes where only
// case tells them apart.
void sortPhotographNames(std::vector<std::string>& names);

// Whether `a` comes before `b` in that order: for a name to join a sorted list in its place.
bool photographNameBefore(const std::string& a, const std::string& b);

}  // namespace lathmark
