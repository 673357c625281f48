#pragma once
// Small helpers for the text Lathmark reads: the settings file, the TRUTH file and what the
// operator types.

#include <string_view>

namespace lathmark {

// `text` without the blanks (spaces and tabs) at either end.
inline std::string_view trimBlanks(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace lathmark
