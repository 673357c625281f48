#include "engine/photographs.h"

#include <algorithm>
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

std::vector<std::string> listPhotographs(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (isJpgName(name) && it->is_regular_file(typeError)) names.push_back(name);
    }
    sortPhotographNames(names);
    return names;
}

}  // namespace lathmark
