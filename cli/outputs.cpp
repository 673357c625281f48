#include "cli/outputs.h"

#include <sys/stat.h>

#include <cerrno>
#include <map>
#include <system_error>
#include <utility>

#include "engine/files.h"

namespace lathmark {
namespace {

namespace fs = std::filesystem;

// Who is known under a file's device and inode, and under its absolute path (for a file that
// does not exist yet, or cannot be looked at).
class Known {
  public:
    const std::string* find(const fs::path& file) const {
        if (const auto identity = identityOf(file)) {
            const auto found = byIdentity_.find(*identity);
            if (found != byIdentity_.end()) return &found->second;
        }
        const auto found = byPath_.find(absolute(file));
        return found == byPath_.end() ? nullptr : &found->second;
    }

    void add(const fs::path& file, const std::string& who) {
        if (const auto identity = identityOf(file)) byIdentity_.emplace(*identity, who);
        byPath_.emplace(absolute(file), who);
    }

  private:
    using Identity = std::pair<dev_t, ino_t>;

    static std::optional<Identity> identityOf(const fs::path& file) {
        struct stat info {};
        if (::stat(file.c_str(), &info) != 0) return std::nullopt;
        return Identity{info.st_dev, info.st_ino};
    }

    static fs::path absolute(const fs::path& file) {
        std::error_code error;
        const fs::path path = fs::absolute(file, error);
        return (error ? file : path).lexically_normal();
    }

    std::map<Identity, std::string> byIdentity_;
    std::map<fs::path, std::string> byPath_;
};

// Why `file` cannot be made in its folder, if that folder is missing or not a folder.
std::optional<std::string> folderProblem(const fs::path& file) {
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0)
        return errno == ENOENT ? "there is no folder " + folder.string()
                               : "its folder " + folder.string() + " " +
                                     std::string(errno == EACCES ? "cannot be reached: "
                                                                 : "cannot be looked at: ") +
                                     errnoText(errno);
    if (!S_ISDIR(info.st_mode)) return folder.string() + " is not a folder";
    return std::nullopt;
}

}  // namespace

std::optional<std::string> outputsProblem(const std::vector<OutputFile>& outputs,
                                          const std::vector<InputFile>& inputs) {
    Known read;
    for (const InputFile& input : inputs) read.add(input.file, input.what);
    Known written;
    for (const OutputFile& output : outputs) {
        const std::string named = output.what + " " + output.file.string();
        if (auto refused = notReplaceable(output.file))
            return named + " " + *refused + ", and is never replaced";
        if (const std::string* input = read.find(output.file))
            return named + " would replace " + *input;
        if (!output.folderMade)
            if (auto missing = folderProblem(output.file))
                return named + " cannot be written: " + *missing;
        if (const std::string* other = written.find(output.file))
            return *other + " and " + output.what + " would both be " + output.file.string();
        written.add(output.file, output.what);
    }
    return std::nullopt;
}

}  // namespace lathmark
