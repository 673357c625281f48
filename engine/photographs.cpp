#include "engine/photographs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace lathmark {
namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

}  // namespace

bool isJpgName(const std::string& name) {
    return name.size() >= 4 && lowerCase(name.substr(name.size() - 4)) == ".jpg";
}

bool photographNameBefore(const std::string& a, const std::string& b) {
    const std::string la = lowerCase(a), lb = lowerCase(b);
    return la != lb ? la < lb : a < b;
}

void sortPhotographNames(std::vector<std::string>& names) {
    std::sort(names.begin(), names.end(), photographNameBefore);
}

namespace {

template <typename Keep>
std::vector<std::string> jpgNames(const std::filesystem::path& folder, Keep keep) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (isJpgName(name) && keep(*it)) names.push_back(name);
    }
    sortPhotographNames(names);
    return names;
}

}  // namespace

std::vector<std::string> listPhotographs(const std::filesystem::path& folder) {
    return jpgNames(folder, [](const std::filesystem::directory_entry& entry) {
        std::error_code typeError;
        return entry.is_regular_file(typeError);
    });
}

std::vector<std::string> jpgEntries(const std::filesystem::path& folder) {
    return jpgNames(folder, [](const std::filesystem::directory_entry&) { return true; });
}

std::string brokenLink(const std::filesystem::path& file) {
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return {};
    if (::stat(file.c_str(), &info) == 0 || errno != ENOENT) return {};
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(file, error);
    return "is a symbolic link to " + (error ? std::string("a file") : target.string()) +
           ", which does not exist";
}

std::string alreadyCountedReason(const std::string& file) {
    return "already counted as " + file;
}

}  // namespace lathmark
