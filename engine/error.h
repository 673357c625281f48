#pragma once
// A failure that travels as a value up to the face (batch counter or window), which reports it
// once: the file it concerns and why the work could not go on.

#include <string>

namespace lathmark {

struct CountError {
    std::string file;    // the photograph as the caller named it
    std::string reason;  // what is wrong, in plain words

    std::string message() const { return file + ": " + reason; }
};

}  // namespace lathmark
