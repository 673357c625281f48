#pragma once
// What lathmark-count --calibrate prints: a few lines of text, or one JSON object.

#include <optional>
#include <ostream>
#include <string>

#include "engine/calibration_search.h"

namespace lathmark {

// `countsFrom` names where the true counts came from, as weakChoice does.
void printCalibration(const Calibration& calibration, std::ostream& out,
                      const std::string& countsFrom = "the TRUTH file");

// "choice is weak: ..." in plain words, or nothing: a margin under 1, or photographs that the
// settings chosen without them count wrong. `countsFrom` names where the true counts came from
// ("the TRUTH file", "the journal"), as a wrong one there is the usual cause.
std::optional<std::string> weakChoice(const Calibration& calibration,
                                      const std::string& countsFrom = "the TRUTH file");

// Why no THICKNESS is written, in plain words, or nothing where one is.
std::optional<std::string> noThicknessWhy(const Calibration& calibration);

// {"calibration": {...}, "current": {...}, "neverRight": [...]}, on one line.
std::string calibrationJson(const Calibration& calibration);

}  // namespace lathmark
