#include "tests/support/files.h"

#include <gtest/gtest.h>

namespace lathmark::test {

ScratchFolder scratchFolderForThisTest(const std::string& prefix) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = prefix + "-" + info->test_suite_name() + "-" + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    return ScratchFolder(name);
}

}  // namespace lathmark::test
