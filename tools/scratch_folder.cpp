#include "tools/scratch_folder.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace lathmark {

ScratchFolder::ScratchFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder from " + pattern);
    path_ = name.data();
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace lathmark
