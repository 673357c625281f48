#pragma once
// A folder of the running test's own under the temporary folder, removed with everything in it
// when the test ends.

#include <string>

#include "tools/scratch_folder.h"

namespace lathmark::test {

// Named after `prefix`, the running test and a few random characters, and empty.
ScratchFolder scratchFolderForThisTest(const std::string& prefix);

}  // namespace lathmark::test
