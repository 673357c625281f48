#include "tests/support/files.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace lathmark::test {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder(const std::string& prefix) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    path_ = fs::temp_directory_path() / (prefix + "-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(path_);
    fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code error;
    fs::remove_all(path_, error);
}

}  // namespace lathmark::test
