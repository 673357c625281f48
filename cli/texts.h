#pragma once
// Words the batch counter's text output and its report say alike.

#include <string>
#include <string_view>

#include "engine/counting.h"
#include "engine/landscape.h"

namespace lathmark {

// `text` for a terminal, as the text output and every message print names: control characters
// escaped ("\n", "\t", "\x1b", and the two bytes of a UTF-8 C1 control as "\xc2\x9b"), so that a
// file's name can neither break a line nor send a terminal commands. All else is left as it is.
std::string terminalText(std::string_view text);

// A number to one decimal, as "8.1".
std::string tenthsText(double value);

// A number to two decimals, as "19.96".
std::string hundredthsOf(double value);

// "; the same boards at THRESHOLD 120 to 135 and BDLINE 31 to 52".
std::string stabilitySentence(const StabilityRanges& stable);

// "; by thickness 19.96 boards" with a THICKNESS, and the stability ranges where there are
// some: what follows a count's time in its text line and report.
std::string certaintySentence(const Certainty& certainty,
                              const std::optional<StabilityRanges>& stable);

}  // namespace lathmark
