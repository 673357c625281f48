#pragma once
// A folder of the test's own under the temporary folder, removed with everything in it when the
// test ends.

#include <filesystem>
#include <string>

namespace lathmark::test {

class ScratchFolder {
  public:
    // Named after `prefix`, the process and the running test, and empty to begin with.
    explicit ScratchFolder(const std::string& prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace lathmark::test
