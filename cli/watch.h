#pragma once
// Counting a folder as a camera fills it: the photographs already there, then each one that
// arrives, until SIGINT or SIGTERM.

#include <filesystem>

#include "cli/batch.h"
#include "cli/session.h"

namespace lathmark {

struct WatchEnd {
    bool watched = false;         // false, with a message, if the folder could not be watched
    bool folderWentAway = false;  // photographs written meanwhile may have been missed
};

// Counts the photographs in `folder`, then each that arrives, by the engine's rule of arrivals
// (engine/arrivals.h): each photograph once, however it reaches the folder; one still being
// written when it is whole. Every outcome goes to `session` at once; the refusals of
// photographs that never became whole once they have not changed for a while, or at the end.
// When the folder is removed or renamed, says so and waits for it to be back. Returns at
// SIGINT, SIGTERM or SIGHUP.
WatchEnd watchFolder(const std::filesystem::path& folder, const BatchOptions& options,
                     Session& session);

}  // namespace lathmark
