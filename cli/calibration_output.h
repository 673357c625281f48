#pragma once
// What lathmark-count --calibrate prints: a few lines of text, or one JSON object.

#include <optional>
#include <ostream>
#include <string>

#include "engine/calibration_search.h"

namespace lathmark {

void printCalibration(const Calibration& calibration, std::ostream& out);

// "choice is weak: ..." in plain words, or nothing: a margin under 1, or photographs that the
// settings chosen without them count wrong.
std::optional<std::string> weakChoice(const Calibration& calibration);

// Why no THICKNESS is written, in plain words, or nothing where one is.
std::optional<std::string> noThicknessWhy(const Calibration& calibration);

// The comment lines a settings file written from a calibration starts with: the TRUTH file, the
// date, the photographs counted right, the margin and the leave-one-out figure.
std::string settingsHeader(const Calibration& calibration, const std::string& truthFile);

// {"calibration": {...}, "current": {...}, "neverRight": [...]}, on one line.
std::string calibrationJson(const Calibration& calibration);

}  // namespace lathmark
