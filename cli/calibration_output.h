#pragma once
// What lathmark-count --calibrate prints: a few lines of text, or one JSON object.

#include <ostream>
#include <string>

#include "cli/calibrate.h"

namespace lathmark {

void printCalibration(const Calibration& calibration, std::ostream& out);

// {"calibration": {...}, "current": {...}, "neverRight": [...]}, on one line.
std::string calibrationJson(const Calibration& calibration);

}  // namespace lathmark
