#pragma once
// Reading the small text files a user gives us, and writing files whole or not at all.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace lathmark {

// Reads a regular file of at most `maxBytes` into `text`. Says why not otherwise, in words that
// follow the file's name; a pipe or device is refused without waiting on it.
std::optional<std::string> readTextFile(const std::filesystem::path& file, std::size_t maxBytes,
                                        std::string& text);

// Writes `bytes` to a new file beside `file` and renames it to that name, so that the file
// appears whole or not at all and whatever had the name before is replaced, never written
// through. `replaceFirst` removes a file of that name just before the rename. Says why it
// failed, if it did.
std::optional<std::string> writeWholeFile(const std::filesystem::path& file, std::string_view bytes,
                                          bool replaceFirst = false);

}  // namespace lathmark
