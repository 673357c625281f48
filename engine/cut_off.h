#pragma once
// Telling a photograph whose picture data ends early from a whole one. The decoder fills in
// what such a file lacks and makes a picture of it with at most a warning, so a count of it
// would be a count of part of a stack; such a photograph is refused instead. A file that lacks
// only its end-of-image marker is whole: the marker is added before decoding (jpeg_segments.h),
// so it decodes as if the marker were there.

#include <functional>
#include <optional>
#include <string>

#include "engine/jpeg_segments.h"

namespace lathmark {

// Why the photograph whose data is `jpeg` cannot be counted as whole, or nothing if it can.
// `decoded`: whether the decoder made a picture of it; `said`: what the decoder said meanwhile.
//
// The decoder reports only the first of its warnings, so a warning about the header (stray
// bytes, say) can hide the one about a cut scan or a scan that stops short. For a photograph
// the decoder made a picture of with a warning that does not already say so, `saidOfBareData`
// is called: it decodes the data again with a bare header (HeaderKept::Bare) and gives what the
// decoder said then.
std::optional<std::string> cutOffReason(const JpegWithoutMetadata& jpeg, bool decoded,
                                        const std::string& said,
                                        const std::function<std::string()>& saidOfBareData);

}  // namespace lathmark
