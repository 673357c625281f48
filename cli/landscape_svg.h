#pragma once
// The calibration's search as a picture: a plain SVG document, BDLINE across and THRESHOLD up,
// each setting coloured by how many photographs it counts right, with the chosen and the
// current settings marked, axes and a legend. No scripts, nothing fetched.

#include <string>

#include "engine/calibration_search.h"

namespace lathmark {

std::string landscapeSvg(const Calibration& calibration);

}  // namespace lathmark
