#pragma once
// A second opinion from the stack's own rhythm: the joints of a stack repeat every board, so a
// profile of the band's rows (each row's grey level summed across the band) repeats with the
// boards' thickness. The thickness it gives needs no THICKNESS from calibration, and the band's
// height over it is a count of the boards found without the passes' rules. Free of Qt.

#include <optional>
#include <vector>

namespace lathmark {

struct Rhythm {
    double thickness = 0;   // rows from one joint to the next, to two decimals
    double boards = 0;      // the boards a band of the profile's rows holds, to two decimals
    double regularity = 0;  // how alike the profile is to itself one board on (up to 1)
};

// The rhythm of a profile of rows, or none where it has no clear one: too few rows, or no
// repeat strong enough that its rows could be joints. The repeat is the strongest of the
// profile's spectrum, or the slowest of which that one is an overtone (thin dark joints have
// strong overtones), made exact over the whole profile, so that a count of fifty boards is off
// by less than one.
// The profile's rows run from the outer edge of one board to the outer edge of another (a band
// as the passes find it: its boards hold one joint fewer than boards), or from the middle of
// one joint to the middle of another, the stack's edges counted as joints (a stack found by its
// rhythm: a board's thickness from each joint's middle to the next).
enum class ProfileEnds { BoardEdges, JointMiddles };
std::optional<Rhythm> rhythmOf(const std::vector<double>& profile,
                               ProfileEnds ends = ProfileEnds::BoardEdges);

// Whether a rhythm's boards lie within half a board of a count.
bool rhythmAgrees(const Rhythm& rhythm, int boards);

}  // namespace lathmark
