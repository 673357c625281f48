#pragma once
// Files for the tests: a folder of the running test's own under the temporary folder, removed
// with everything in it when the test ends, and whole files read and written as bytes.

#include <filesystem>
#include <string>

#include "tools/scratch_folder.h"

namespace lathmark::test {

// Named after `prefix`, the running test and a few random characters, and empty.
ScratchFolder scratchFolderForThisTest(const std::string& prefix);

// Both throw std::runtime_error naming the file when it cannot be read or written.
std::string readBytes(const std::filesystem::path& file);
void writeBytes(const std::filesystem::path& file, const std::string& bytes);

}  // namespace lathmark::test
