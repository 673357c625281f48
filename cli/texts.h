#pragma once
// Words the batch counter's text output and its report say alike.

#include <string>

#include "engine/landscape.h"

namespace lathmark {

// A number to one decimal, as "8.1".
std::string tenthsText(double value);

// "; the same boards at THRESHOLD 120 to 135 and BDLINE 31 to 52", and ", uncertain" when a range
// is short.
std::string stabilitySentence(const StabilityRanges& stable);

}  // namespace lathmark
