#pragma once
// Template part of batch.h.

#include "engine/in_order.h"

namespace lathmark {

template <typename Report>
void countAll(const std::vector<BatchPhotograph>& photographs, const BatchOptions& options,
              Report report) {
    PixelBudget budget(options.pixelBudget);
    inOrder(
        photographs.size(), options.jobs,
        [&](std::size_t i) { return countOne(photographs[i], options, &budget); }, report);
}

}  // namespace lathmark
