#pragma once
// A fresh folder under the system's temporary folder, for the tests and benchmarks, removed with
// everything in it when the object goes.

#include <filesystem>
#include <string>

namespace lathmark {

class ScratchFolder {
  public:
    // Named `prefix` and a few random characters. Throws std::runtime_error when it cannot be
    // made.
    explicit ScratchFolder(const std::string& prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace lathmark
