#pragma once
// REGION=auto: the stack found in each photograph. A photograph taken by hand has the stack
// anywhere in it, with ground, a wall, sky or other stacks around; its edge is where the rows
// repeat with the rhythm of its boards. Free of Qt.

#include <FreeImage.h>

#include <string>

#include "engine/error.h"
#include "engine/settings.h"

namespace lathmark {

// The rectangle of a grey photograph (already levelled along its joints) where the stack's
// joints are: its rows from the stack's top edge to its bottom edge, found where a profile
// across the middle of the photograph repeats with one rhythm and its stretches look like the
// stack's boards, so that neither what lies above nor below the stack is counted; its columns
// those over which the joints lie along the same rows as in the middle. With it, why the
// count may be wrong (an end of the stack that is unclear), or nothing. Fails where no rows
// have a clear rhythm.
struct FoundStack {
    Region region;
    std::string doubt;
};
StepResult<FoundStack> findStack(FIBITMAP* grey);

}  // namespace lathmark
