// Laying out a photograph from the few numbers of a plan: board and joint thicknesses, grey
// levels, and which joints are faint or gapped, all drawn from the seed.

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/samplegen.h"
#include "tools/samplegen_internal.h"

namespace lathmark::samplegen {

using detail::Random;
using detail::refuse;
using detail::streamSeed;

StackPhoto planStack(const StackPlan& plan, std::uint32_t seed) {
    const std::string what = "stack plan";
    if (plan.width < 1 || plan.height < 1) refuse(what, "width and height must be at least 1");
    if (plan.floorRows < 0 || plan.wallRows < 0)
        refuse(what, "floorRows and wallRows must not be negative");
    if (plan.boards < 0) refuse(what, "boards is negative");
    if (plan.jointRowsMin < 1 || plan.jointRowsMax < plan.jointRowsMin)
        refuse(what, "joint rows " + std::to_string(plan.jointRowsMin) + " to " +
                         std::to_string(plan.jointRowsMax) + " is not a range of at least 1");
    if (plan.boardJitterRows < 0) refuse(what, "boardJitterRows is negative");
    const int jointCount = std::max(0, plan.boards - 1);
    if (plan.faintJoints < 0) refuse(what, "faintJoints is negative");
    if (plan.faintJoints + static_cast<long>(plan.gapLengths.size()) > jointCount)
        refuse(what, std::to_string(plan.faintJoints) + " faint and " +
                         std::to_string(plan.gapLengths.size()) +
                         " gapped joints do not fit among " + std::to_string(jointCount) +
                         " joints");
    for (int length : plan.gapLengths)
        if (length < 1 || length > plan.width)
            refuse(what, "gap length " + std::to_string(length) + " is outside 1 to the width");
    if (plan.boardGreyMax < plan.boardGreyMin || plan.darkJointGreyMax < plan.darkJointGreyMin)
        refuse(what, "a grey range has its maximum below its minimum");

    Random rnd(streamSeed(seed, 2));
    StackPhoto photo;
    photo.width = plan.width;
    photo.height = plan.height;
    photo.floorRows = plan.floorRows;
    photo.wallRows = plan.wallRows;
    const long space = static_cast<long>(plan.height) - plan.floorRows - plan.wallRows;
    if (space < 0) refuse(what, "floorRows + wallRows exceed the height");
    if (plan.boards == 0) {
        if (space != 0)
            refuse(what,
                   "no boards, but " + std::to_string(space) + " rows lie between floor and wall");
    }

    // Which joints are faint or gapped: the first entries of a shuffled list of joint numbers.
    enum class Kind { kDark, kFaint, kGap };
    std::vector<int> order(jointCount);
    for (int i = 0; i < jointCount; ++i) order[i] = i;
    for (int i = jointCount - 1; i > 0; --i) std::swap(order[i], order[rnd.integer(0, i)]);
    std::vector<Kind> kinds(jointCount, Kind::kDark);
    std::vector<int> gapLength(jointCount, 0);
    int next = 0;
    for (int k = 0; k < plan.faintJoints; ++k) kinds[order[next++]] = Kind::kFaint;
    for (int length : plan.gapLengths) {
        kinds[order[next]] = Kind::kGap;
        gapLength[order[next++]] = length;
    }

    long jointRows = 0;
    for (int i = 0; i < jointCount; ++i) {
        Joint j;
        j.rows = rnd.integer(plan.jointRowsMin, plan.jointRowsMax);
        // Only the loose passes can find a faint or gapped joint, and they need four line rows:
        // a fifth row keeps it countable when JPEG blur lightens one of its edge rows.
        if (kinds[i] != Kind::kDark) j.rows = std::max(j.rows, std::min(5, plan.jointRowsMax));
        switch (kinds[i]) {
            case Kind::kDark:
                j.grey = rnd.uniform(plan.darkJointGreyMin, plan.darkJointGreyMax);
                j.greyWander = rnd.uniform(2.0, 8.0);
                j.tilt = rnd.uniform(-0.6, 0.6);
                j.wave = rnd.uniform(0.0, 0.3);
                break;
            case Kind::kFaint:
                // Straight, so every core row is fully covered and stays below 138.
                j.grey = plan.faintJointGrey;
                j.greyWander = 0.4;
                break;
            case Kind::kGap: {
                j.grey = plan.gapJointGrey;
                j.greyWander = 1.0;
                j.gapLength = gapLength[i];
                const int margin = plan.width / 20;
                j.gapStart =
                    rnd.integer(margin, std::max(margin, plan.width - gapLength[i] - margin));
                j.gapStart = std::clamp(j.gapStart, 0, plan.width - gapLength[i]);
                j.gapGrey = rnd.uniform(70.0, 95.0);
                break;
            }
        }
        jointRows += j.rows;
        photo.joints.push_back(j);
    }

    if (plan.boards > 0) {
        const long boardRows = space - jointRows;
        if (boardRows < plan.boards)
            refuse(what, std::to_string(plan.boards) + " boards and their joints (" +
                             std::to_string(jointRows) + " rows) do not fit in the " +
                             std::to_string(space) + " rows between floor and wall");
        const int mean = static_cast<int>(boardRows / plan.boards);
        const int extra = static_cast<int>(boardRows % plan.boards);
        std::vector<int> rows(plan.boards);
        for (int i = 0; i < plan.boards; ++i) rows[i] = mean + (i < extra ? 1 : 0);
        // Move rows between random pairs of boards, keeping the total and each board within the
        // jitter of the mean.
        for (int i = 0; i < plan.boards && plan.boards > 1; ++i) {
            const int shift = rnd.integer(-plan.boardJitterRows, plan.boardJitterRows);
            const int other = (i + rnd.integer(1, plan.boards - 1)) % plan.boards;
            const int a = rows[i] + shift;
            const int b = rows[other] - shift;
            if (a >= 1 && b >= 1 && std::abs(a - mean) <= plan.boardJitterRows &&
                std::abs(b - mean) <= plan.boardJitterRows) {
                rows[i] = a;
                rows[other] = b;
            }
        }
        // Boards of one stack come from one batch: similar shades around a common one.
        const double stackGrey = rnd.uniform(plan.boardGreyMin, plan.boardGreyMax);
        for (int i = 0; i < plan.boards; ++i) {
            Board board;
            board.rows = rows[i];
            board.grey = std::clamp(stackGrey + rnd.uniform(-6.0, 6.0), plan.boardGreyMin,
                                    plan.boardGreyMax);
            photo.boards.push_back(board);
        }
    }

    photo.floorGrey = rnd.uniform(40.0, 70.0);
    photo.wallGrey = rnd.uniform(35.0, 65.0);
    if (rnd.unit() < 0.5) {
        photo.wallStripColumns = static_cast<int>(plan.width * rnd.uniform(0.04, 0.12));
        photo.wallStripStart = rnd.integer(0, std::max(0, plan.width - photo.wallStripColumns));
        photo.wallStripGrey = rnd.uniform(120.0, 170.0);
    }
    return photo;
}

}  // namespace lathmark::samplegen
