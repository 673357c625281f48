#pragma once
// Words the batch counter's text output and its report say alike.

#include <string>
#include <string_view>

#include "engine/landscape.h"

namespace lathmark {

// `text` for a terminal, as the text output and every message print names: control characters
// escaped ("\n", "\t", "\x1b", and the two bytes of a UTF-8 C1 control as "\xc2\x9b"), so that a
// file's name can neither break a line nor send a terminal commands. All else is left as it is.
std::string terminalText(std::string_view text);

// A number to one decimal, as "8.1".
std::string tenthsText(double value);

// "; the same boards at THRESHOLD 120 to 135 and BDLINE 31 to 52", and ", uncertain" when a range
// is short.
std::string stabilitySentence(const StabilityRanges& stable);

}  // namespace lathmark
