#pragma once
// Counting a folder as a camera fills it: the photographs already there, then each one that
// arrives, until SIGINT or SIGTERM.

#include <filesystem>

#include "cli/batch.h"
#include "cli/session.h"

namespace lathmark {

// Counts the photographs in `folder`, then each that arrives (written and closed, or moved in),
// handing every outcome to `session` at once. Never the same file twice: a photograph is
// counted again only when its file has changed (written again, or another moved in under its
// name). One refused as unfinished (empty or cut off) is held back and counted again when it
// changes; if it never does, its refusal is given at the end. Returns at SIGINT or SIGTERM;
// false, with a message, if the folder cannot be watched.
bool watchFolder(const std::filesystem::path& folder, const BatchOptions& options,
                 Session& session);

}  // namespace lathmark
