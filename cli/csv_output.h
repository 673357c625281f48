#pragma once
// The batch counter's CSV output (RFC 4180): a header line, then one record per photograph in
// argument order, every line ended by CR LF, for spreadsheets and scripts.

#include <string>
#include <string_view>

#include "cli/batch.h"
#include "engine/csv.h"

namespace lathmark {

// "file,boards,lines1,lines2,lines3,lines4,band_top,band_bottom,band_width,band_height,ms,
// warning,error,by_thickness,uncertain,uncertain_why" and CR LF.
std::string csvHeader();

// One photograph's record and CR LF. A photograph that could not be counted has its file, its
// error and any warning, with every number empty; one that was counted has an empty error, its
// thickness count (empty without a THICKNESS) and whether it is uncertain (true or false).
std::string csvRecord(const PhotographOutcome& outcome);

}  // namespace lathmark
