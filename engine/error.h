#pragma once
// Failures and warnings travel as values up to the face (batch counter or window), which reports
// them once: no engine step prints, throws or leaves a word behind for a later call to pick up.

#include <optional>
#include <string>
#include <utility>

namespace lathmark {

// Why a step could not be done, in words that follow the photograph's name; nothing if it could.
using StepFailure = std::optional<std::string>;

// A step's failure on its way back: `return Failed{"is too narrow"};`.
struct Failed {
    std::string reason;
};

// What an engine step gives back: its value, or why it could not make one; and anything it
// noted on the way that the face should pass on as a warning.
template <typename T>
struct StepResult {
    T value{};
    StepFailure failure;
    std::string warning;

    StepResult() = default;
    StepResult(T made, std::string noted = {})
        : value(std::move(made)), warning(std::move(noted)) {}
    StepResult(Failed failed) : failure(std::move(failed.reason)) {}

    bool ok() const { return !failure.has_value(); }
};

// A failure of a whole count: the file it concerns and why the work could not go on.
struct CountError {
    std::string file;    // the photograph as the caller named it
    std::string reason;  // what is wrong, in plain words

    std::string message() const { return file + ": " + reason; }
};

}  // namespace lathmark
